#include "app/run_notice.h"

#include <QStringList>

#include "app/path_text.h"
#include "engine/reading_hint.h"
#include "engine/run_warnings.h"

namespace ostrel {
namespace {

QString Describe(const RunWarning& warning) {
  const QString file = PathToQString(warning.file.filename());
  const QString layout =
      QString::fromUtf8(LayoutDescription(warning.layout).data(),
                        static_cast<qsizetype>(LayoutDescription(warning.layout).size()));
  switch (warning.kind) {
    case RunWarning::Kind::kFewExamined: {
      QString text =
          QStringLiteral("文件 %1 只检查了 %2/%3 行").arg(file).arg(warning.count).arg(warning.of);
      if (warning.layout == LineLayout::kUnknown)
        return text + QStringLiteral("：不是可识别的访问日志");
      if (warning.auto_reads_it) {
        return text + QStringLiteral("：这些行是%1，请选“自动识别”").arg(layout);
      }
      return text + QStringLiteral("：多数行不是 HTTP 请求或已被截断");
    }
    case RunWarning::Kind::kBinary:
      return QStringLiteral("文件 %1 不是文本日志，已跳过").arg(file);
    case RunWarning::Kind::kShrank:
      return QStringLiteral("文件 %1 在读取时变短，末尾可能缺失").arg(file);
    case RunWarning::Kind::kOtherColumns:
      return QStringLiteral("文件 %1 是%2，列与结果表头不同").arg(file, layout);
    case RunWarning::Kind::kLimited:
      return QStringLiteral("%1 行规则匹配达到上限，按未命中处理").arg(warning.count);
    case RunWarning::Kind::kUnlocated:
      return QStringLiteral("%1 个检中行未插入物理地址（客户端地址出现次数过多）")
          .arg(warning.count);
  }
  return {};
}

}  // namespace

QString RunNoticeText(const RunSummary& summary, LogType log_type) {
  const std::vector<RunWarning> warnings = FindRunWarnings(summary, log_type);
  if (warnings.empty()) return {};
  QString text = QStringLiteral("注意：") + Describe(warnings.front());
  if (warnings.size() > 1) text += QStringLiteral("（另有 %1 条）").arg(warnings.size() - 1);
  return text;
}

QString RunNoticeDetails(const RunSummary& summary, LogType log_type) {
  QStringList lines;
  for (const RunWarning& warning : FindRunWarnings(summary, log_type)) {
    lines << Describe(warning);
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace ostrel
