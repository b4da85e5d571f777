#pragma once

#include <filesystem>

namespace ostrel {

// The folder of the running executable (from /proc/self/exe). The program keeps its
// files there: QQWry.dat, 1.log, update.ini, tmp.ini and help.html. Falls back to the
// current folder when the link cannot be read.
std::filesystem::path ExecutableDir();

}  // namespace ostrel
