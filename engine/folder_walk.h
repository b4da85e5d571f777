#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace ostrel {

// Walks `folder` breadth first and gives the path of every file found: the folder's own
// files first in listing order, then those of its subfolders one whole folder at a time in
// the order the subfolders were met, then the next level down. With the ending ".*" every
// file is taken; with any other ending only files whose path ends in it, compared without
// regard to ASCII letter case. Hidden files count. Folders already visited (same device
// and inode, e.g. a link back to an ancestor) are not walked again; a folder that cannot
// be listed contributes nothing. FIFOs, sockets and devices are not files here. Never
// throws except for lack of memory.
std::vector<std::filesystem::path> WalkFolder(const std::filesystem::path& folder,
                                              std::string_view ending = ".*");

}  // namespace ostrel
