#pragma once

#include <optional>

#include <QCommandLineOption>
#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace ostrel {

// Adds the window's own options to `parser` (-h/--help, -v/--version and
// --update-server URL) and gives the --update-server option, whose default is
// `default_update_server`.
QCommandLineOption AddWindowOptions(QCommandLineParser& parser,
                                    const QString& default_update_server);

// The text that --help or --version asks for among `arguments` (program name first),
// or nothing when the window should start. Needs a QCoreApplication but no display;
// other options, Qt's own (-platform, -style, ...) and unknown ones alike, are left for
// the parse that follows once the window system is up.
std::optional<QString> EarlyAnswerText(const QStringList& arguments, const QString& version);

// Answers --help and --version on standard output before any window system is touched,
// so they work without a display; gives the exit status then, or nothing when the window
// should start.
std::optional<int> AnswerWithoutWindow(int argc, char** argv, const QString& version);

}  // namespace ostrel
