#pragma once

#include <ostream>

#include <QString>

// GoogleTest prints QStrings in failure messages as their text, not as UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }
