#pragma once

#include <filesystem>
#include <string>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ostrel {

// A path as text for the window, decoded the way Qt decodes file names.
inline QString PathToQString(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// A file name typed or picked in the window as a path.
inline std::filesystem::path QStringToPath(const QString& text) {
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

}  // namespace ostrel
