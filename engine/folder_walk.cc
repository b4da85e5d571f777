#include "engine/folder_walk.h"

#include <sys/stat.h>

#include <cstdint>
#include <deque>
#include <set>
#include <system_error>
#include <utility>

namespace ostrel {
namespace {

using FolderId = std::pair<std::uint64_t, std::uint64_t>;  // device, inode

bool EndsWithIgnoringCase(std::string_view text, std::string_view ending) {
  if (ending.size() > text.size()) return false;
  text.remove_prefix(text.size() - ending.size());
  for (std::size_t i = 0; i < ending.size(); ++i) {
    char a = text[i];
    char b = ending[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

std::vector<std::filesystem::path> WalkFolder(const std::filesystem::path& folder,
                                              std::string_view ending) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::set<FolderId> visited;
  std::deque<fs::path> queue;
  // Remembers a folder; false when it was seen before or cannot be examined.
  const auto first_visit = [&visited](const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return visited.emplace(info.st_dev, info.st_ino).second;
  };
  if (first_visit(folder)) queue.push_back(folder);
  const bool every_file = ending == ".*";
  while (!queue.empty()) {
    const fs::path current = std::move(queue.front());
    queue.pop_front();
    std::error_code error;
    fs::directory_iterator it(current, error);
    if (error) continue;
    for (; it != fs::directory_iterator(); it.increment(error)) {
      if (error) break;
      const fs::path path = it->path();
      std::error_code status_error;
      // status() follows links, so a link to a folder is walked like the folder itself.
      const fs::file_status status = it->status(status_error);
      if (fs::is_directory(status)) {
        if (first_visit(path)) queue.push_back(path);
        continue;
      }
      // A dangling link is still listed (the run then reports it cannot be read), but
      // FIFOs, sockets and devices are not log files and could block or never end.
      const fs::file_type type = status.type();
      if (type == fs::file_type::fifo || type == fs::file_type::socket ||
          type == fs::file_type::block || type == fs::file_type::character) {
        continue;
      }
      if (every_file || EndsWithIgnoringCase(path.native(), ending)) files.push_back(path);
    }
  }
  return files;
}

}  // namespace ostrel
