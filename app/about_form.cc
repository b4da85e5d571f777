#include "app/about_form.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStringList>
#include <QVBoxLayout>

namespace ostrel {
namespace {

constexpr char kContactLine[] = "联系方式：Ostrel 开发组 <ostrel@example.org>";

}  // namespace

QString AboutText() {
  const QString second_line_indent(30, QLatin1Char(' '));
  QStringList lines;
  lines << QString::fromUtf8(kContactLine) << QString(52, QLatin1Char('='))
        << QStringLiteral("升级日志：");
  lines << QStringLiteral("2.6、2018-10-04，加入 行删除；") << QString();
  lines << QStringLiteral("2.5、2018-10-02，拆分为 文件和目录两种方式，加入向下自动滚屏；")
        << QString();
  lines << QStringLiteral("2.4、2018-10-01，支持 目录遍历（将日志放于目录下，全路径遍历）；")
        << QString();
  lines << QStringLiteral("2.2、2018-09-29，修正IIS W3C一处错误；") << QString();
  lines << QStringLiteral("2.1、2018-09-18，重写了apache、tomcat的截取部分代码；") << QString();
  lines << QStringLiteral("2.0、2018-09-18，对日志中字符串异常字符进行处理，防错；") << QString();
  lines << QStringLiteral("1.9、2018-09-17，对日志中字符串不可见字符的判断，执行下一句，防错；")
        << QString();
  lines << QStringLiteral("1.7-1.8、2018-09-16，修正错误、 添加规则；") << QString();
  lines << QStringLiteral("1.6、2017-2-23，加入对 Ngnix 日志 的检测。")
        << second_line_indent + QStringLiteral("对单个大日志的处理，目前最大单个日志议论300M。")
        << QString();
  lines << QStringLiteral("1.5、2017-2-21，对检中数过大时，加强导出处理。") << QString();
  lines << QStringLiteral("1.4、2017-2-19，将【Waf 规则】划分：紧凑型和宽泛型。") << QString();
  lines << QStringLiteral("1.3、2017-2-18，强化【Waf 规则】，提升准确性，")
        << second_line_indent + QStringLiteral("修正处理apache时一处错误。") << QString();
  lines << QStringLiteral("1.2、2017-2-17，改进多个文件界面，修正错误。") << QString();
  lines << QStringLiteral("1.1、2017-2-17，加入状态码判断、程序在线升级 功能。")
        << QStringLiteral(" ");
  lines << QStringLiteral("1.0、2017-2-15，完成基本功能。");
  lines << QString(55, QLatin1Char('=')) << QStringLiteral("功能说明：") << QString()
        << QStringLiteral("程序专为 发现 可疑攻击行为 而设计。") << QString(53, QLatin1Char('='));
  return lines.join(QLatin1Char('\n'));
}

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("日志文档"));
  // Owned by this window through Qt's parent chain.
  auto* memo = new QPlainTextEdit(this);
  memo->setObjectName(QStringLiteral("Memo1"));
  memo->setReadOnly(true);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setPlainText(AboutText());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 8, 22, 8);
  layout->addWidget(memo);
  resize(527, 242);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move((area.width() - width()) / 2, (area.height() - height()) / 2);
  }
}

}  // namespace ostrel
