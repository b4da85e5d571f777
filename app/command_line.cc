#include "app/command_line.h"

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>

namespace ostrel {

QCommandLineOption AddWindowOptions(QCommandLineParser& parser,
                                    const QString& default_update_server) {
  parser.setApplicationDescription(
      QStringLiteral("Ostrel: finds suspicious attack requests in web-server access logs."));
  parser.addHelpOption();
  parser.addVersionOption();
  // The update server is built in; --update-server points the update window elsewhere
  // (a test server, a mirror).
  QCommandLineOption update_server(
      QStringLiteral("update-server"),
      QStringLiteral("Address of the update manifest (default: the built-in server)."),
      QStringLiteral("URL"), default_update_server);
  parser.addOption(update_server);
  return update_server;
}

std::optional<QString> EarlyAnswerText(const QStringList& arguments, const QString& version) {
  QCommandLineParser parser;
  AddWindowOptions(parser, QString());
  // Qt's own options are single-dash words; read as compacted short options, "-reverse"
  // would be taken for -v.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  // Unknown options are no error yet: Qt's own are unknown to this parser.
  parser.parse(arguments);
  if (parser.isSet(QStringLiteral("help"))) return parser.helpText();
  if (parser.isSet(QStringLiteral("version"))) {
    return QStringLiteral("ostrel %1\n").arg(version);
  }
  return std::nullopt;
}

std::optional<int> AnswerWithoutWindow(int argc, char** argv, const QString& version) {
  std::optional<QString> text;
  {
    int core_argc = argc;
    QCoreApplication core(core_argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    text = EarlyAnswerText(QCoreApplication::arguments(), version);
  }
  if (!text) return std::nullopt;
  const QByteArray bytes = text->toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace ostrel
