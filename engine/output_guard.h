#pragma once

// Keeps a run from reading what it writes: a result file (or workbook, or any other
// output) that is one of the inputs would be emptied before it is read, and one inside a
// walked folder would be read back while it grows.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// The file a path names when it exists, as its device and inode ("-": standard input).
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// The message when `output` is the same file as `input`, naming both; nullopt when no
// input is the output (or the output does not exist yet, or is standard output "-").
std::optional<std::string> OutputIsAnInput(const std::filesystem::path& output,
                                           const std::vector<std::filesystem::path>& inputs);

// Removes from `found` (files a folder walk gave) every file that is one of `outputs`;
// gives how many were removed.
std::size_t DropOutputs(std::vector<std::filesystem::path>& found,
                        const std::vector<std::filesystem::path>& outputs);

}  // namespace ostrel
