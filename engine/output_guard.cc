#include "engine/output_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace ostrel {

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
  struct stat info {};
  const int rc = path == "-" ? ::fstat(STDIN_FILENO, &info) : ::stat(path.c_str(), &info);
  if (rc != 0) return std::nullopt;
  return FileIdentity{static_cast<unsigned long long>(info.st_dev),
                      static_cast<unsigned long long>(info.st_ino)};
}

std::optional<std::string> OutputIsAnInput(const std::filesystem::path& output,
                                           const std::vector<std::filesystem::path>& inputs) {
  if (output.empty() || output == "-") return std::nullopt;
  const std::optional<FileIdentity> written = IdentityOf(output);
  if (!written) return std::nullopt;
  for (const std::filesystem::path& input : inputs) {
    if (IdentityOf(input) == written) {
      const std::string shown = input == "-" ? std::string("标准输入") : input.string();
      return "输出文件 " + output.string() + " 就是输入文件 " + shown +
             "：写入会先清空它，分析已取消，两个文件都未改动。请换一个输出文件。";
    }
  }
  return std::nullopt;
}

std::size_t DropOutputs(std::vector<std::filesystem::path>& found,
                        const std::vector<std::filesystem::path>& outputs) {
  std::vector<FileIdentity> written;
  for (const std::filesystem::path& output : outputs) {
    if (output.empty() || output == "-") continue;
    if (const std::optional<FileIdentity> identity = IdentityOf(output)) {
      written.push_back(*identity);
    }
  }
  if (written.empty()) return 0;
  const auto before = found.size();
  std::erase_if(found, [&](const std::filesystem::path& path) {
    const std::optional<FileIdentity> identity = IdentityOf(path);
    return identity && std::find(written.begin(), written.end(), *identity) != written.end();
  });
  return before - found.size();
}

}  // namespace ostrel
