#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel {

// A file that replaces `target` only when it is complete. Bytes go into a temporary file
// in the target's folder (so the final rename stays on one file system and is atomic);
// Commit flushes it to disk and renames it over the target. Destroying the object without
// a successful Commit removes the temporary file, so an interrupted write never leaves a
// partial target or a stray temporary behind.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for `target`. Gives false and sets `error` (naming the
  // target) when it cannot be created.
  bool Open(const std::filesystem::path& target, std::string* error);

  // Appends bytes. Gives false and sets `error` on a write failure.
  bool Write(std::string_view bytes, std::string* error);

  // Flushes, gives the file the old target's permissions (or rw-r--r-- less the umask for
  // a new one) and renames it over the target. Gives false and sets `error` on failure; the
  // temporary file is then removed and the target left as it was.
  bool Commit(std::string* error);

 private:
  void Discard();

  std::filesystem::path target_;
  std::filesystem::path temp_path_;
  int fd_ = -1;
};

}  // namespace ostrel
