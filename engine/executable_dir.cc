#include "engine/executable_dir.h"

#include <system_error>

namespace ostrel {

std::filesystem::path ExecutableDir() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || exe.empty()) return std::filesystem::current_path(error);
  return exe.parent_path();
}

}  // namespace ostrel
