#include "app/main_form.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/about_form.h"
#include "app/desktop_open.h"
#include "app/dialogs.h"
#include "app/file_list_paint.h"
#include "app/hit_table.h"
#include "app/path_text.h"
#include "app/run_notice.h"
#include "app/run_progress.h"
#include "app/update_form.h"
#include "app/workbook.h"
#include "engine/folder_walk.h"
#include "engine/output_guard.h"
#include "export/html_report.h"
#include "export/report_collector.h"

namespace ostrel {
namespace {

constexpr char kCaption[] = "【Varnok】系列五：Ostrel Ver:2.6";
constexpr char kCreditLine[] = "Ostrel 开发组";
constexpr char kFileFilter[] = "IIS W3C /Apache/Ngnix /Tomcat /Weblogic 日志 (*)";
constexpr char kFolderPrompt[] = "请选择文件夹(遍历文件夹下文件)";
constexpr char kAskCaption[] = "询问";
constexpr int kClientWidth = 878;
constexpr int kClientHeight = 415;
constexpr int kFileListStartRows = 998;  // data rows below the header at start-up
constexpr int kHitTableStartColumns = 30;
constexpr int kHitTableStartRows = 8;
constexpr int kProgressIntervalMs = 50;
// Rows of the file list from which the list scrolls along with the run (grid rows > 8).
constexpr int kFollowFromRow = 9;

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The local files and folders among what is dragged.
std::vector<std::filesystem::path> LocalPaths(const QMimeData* mime) {
  std::vector<std::filesystem::path> paths;
  if (mime == nullptr) return paths;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) paths.push_back(QStringToPath(url.toLocalFile()));
  }
  return paths;
}

// A read-only cell; QTableWidget takes ownership of the item.
void SetCell(QTableWidget& grid, int row, int column, const QString& text) {
  if (QTableWidgetItem* item = grid.item(row, column)) {
    item->setText(text);
    return;
  }
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  grid.setItem(row, column, item);
}

void SetUpGrid(QTableWidget& grid) {
  grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid.setSelectionBehavior(QAbstractItemView::SelectRows);
  grid.setShowGrid(true);
  // One line per 30-pixel row, cut at the cell's edge, as a string grid shows it.
  grid.setWordWrap(false);
  grid.verticalHeader()->hide();
  grid.verticalHeader()->setDefaultSectionSize(30);
  grid.verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid.horizontalHeader()->setDefaultSectionSize(70);
  grid.horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid.horizontalHeader()->setHighlightSections(false);
}

QGroupBox* RadioGroup(QWidget* parent, const char* object_name, const QString& caption,
                      const QStringList& items, int columns, QButtonGroup*& buttons) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(QString::fromLatin1(object_name));
  buttons = new QButtonGroup(box);
  auto* layout = new QGridLayout(box);
  layout->setContentsMargins(6, 2, 6, 2);
  layout->setVerticalSpacing(0);
  // Items fill the first column top to bottom before the next one, as a radio group does.
  const int per_column = (static_cast<int>(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* radio = new QRadioButton(items[i], box);
    buttons->addButton(radio, i);
    layout->addWidget(radio, i % per_column, i / per_column);
  }
  buttons->button(0)->setChecked(true);
  return box;
}

}  // namespace

std::unique_ptr<TMainForm> TMainForm::Create(MainFormConfig config, Dialogs& dialogs) {
  auto form = std::make_unique<TMainForm>(std::move(config), dialogs);
  if (!form->OpenIpDatabase()) return nullptr;
  return form;
}

TMainForm::TMainForm(MainFormConfig config, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs), config_(std::move(config)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(Utf8(kCaption));
  // No maximise box until a result is shown.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  dialog_start_dir_ = config_.exe_dir;
  setAcceptDrops(true);
  BuildWidgets();
  SetUpShortcuts();
  resize(kClientWidth, kClientHeight);
  CentreOnScreen();
  progress_timer_.setInterval(kProgressIntervalMs);
  connect(&progress_timer_, &QTimer::timeout, this, &TMainForm::UpdateProgressText);
}

TMainForm::~TMainForm() { StopRunAndWait(); }

void TMainForm::BuildWidgets() {
  auto* middle_panel = new QWidget(this);
  middle_panel->setObjectName(QStringLiteral("MiddlePanel"));
  setCentralWidget(middle_panel);
  auto* middle_layout = new QVBoxLayout(middle_panel);
  middle_layout->setContentsMargins(0, 0, 0, 0);
  auto* page_control = new QTabWidget(middle_panel);
  page_control->setObjectName(QStringLiteral("PageControl1"));
  middle_layout->addWidget(page_control);
  auto* tab_sheet = new QWidget(page_control);
  tab_sheet->setObjectName(QStringLiteral("TabSheet1"));
  page_control->addTab(tab_sheet, QStringLiteral(" "));
  auto* sheet_layout = new QVBoxLayout(tab_sheet);
  sheet_layout->setContentsMargins(2, 2, 2, 2);

  // The option strip.
  auto* panel2 = new QWidget(tab_sheet);
  panel2->setObjectName(QStringLiteral("Panel2"));
  sheet_layout->addWidget(panel2);
  auto* strip = new QHBoxLayout(panel2);
  strip->setContentsMargins(6, 2, 6, 2);

  auto* path_column = new QVBoxLayout;
  auto* path_row = new QHBoxLayout;
  auto* label1 = new QLabel(QStringLiteral("文件(目录)路径："), panel2);
  label1->setObjectName(QStringLiteral("Label1"));
  read_edit_ = new QLineEdit(panel2);
  read_edit_->setObjectName(QStringLiteral("ReadEdit"));
  read_edit_->setReadOnly(true);
  read_edit_->setToolTip(QStringLiteral("可选取多个日志文件"));
  // Dropped paths belong to the window, not into this box.
  read_edit_->setAcceptDrops(false);
  open_button_ = new QPushButton(QStringLiteral("..."), panel2);
  open_button_->setObjectName(QStringLiteral("OpenButton"));
  open_button_->setFixedWidth(28);
  path_row->addWidget(label1);
  path_row->addWidget(read_edit_, 1);
  path_row->addWidget(open_button_);
  path_column->addLayout(path_row);

  auto* start_row = new QHBoxLayout;
  web_type_radio_group_ = RadioGroup(panel2, "WebTypeRadioGroup", QStringLiteral("日志类型"),
                                     {QStringLiteral("IIS W3c"), QStringLiteral("Tomcat/Weblogic"),
                                      QStringLiteral("Apache/Ngnix"), QStringLiteral("自动识别")},
                                     2, web_type_buttons_);
  web_type_radio_group_->setAutoFillBackground(true);
  QPalette web_type_palette = web_type_radio_group_->palette();
  web_type_palette.setColor(QPalette::Window, web_type_palette.color(QPalette::Light));
  web_type_radio_group_->setPalette(web_type_palette);
  start_button_ = new QPushButton(QStringLiteral("开始"), panel2);
  start_button_->setObjectName(QStringLiteral("StartButton"));
  start_button_->setMinimumWidth(89);
  excel_button_ = new QPushButton(QStringLiteral("生成Excel"), panel2);
  excel_button_->setObjectName(QStringLiteral("ExcelButton"));
  excel_button_->setMinimumWidth(75);
  excel_button_->setEnabled(false);
  report_button_ = new QPushButton(QStringLiteral("报告"), panel2);
  report_button_->setObjectName(QStringLiteral("ReportButton"));
  report_button_->setMinimumWidth(75);
  report_button_->setEnabled(false);
  start_row->addWidget(web_type_radio_group_);
  start_row->addSpacing(12);
  start_row->addWidget(start_button_, 0, Qt::AlignBottom);
  start_row->addSpacing(12);
  // The report button under "生成Excel", in the height of the log type group, so the
  // window keeps its size.
  auto* export_column = new QVBoxLayout;
  export_column->setSpacing(2);
  export_column->addWidget(excel_button_);
  export_column->addWidget(report_button_);
  start_row->addLayout(export_column);
  start_row->addStretch(1);
  path_column->addLayout(start_row);
  strip->addLayout(path_column, 1);

  auto* group_box1 = new QGroupBox(QStringLiteral("参数"), panel2);
  group_box1->setObjectName(QStringLiteral("GroupBox1"));
  auto* filters = new QVBoxLayout(group_box1);
  pic_check_box_ = new QCheckBox(QStringLiteral("去除Picture、Swf、Css 等"), group_box1);
  pic_check_box_->setObjectName(QStringLiteral("PicCheckBox"));
  pic_check_box_->setChecked(true);
  status_check_box_ = new QCheckBox(QStringLiteral("状态码 200 (成功)"), group_box1);
  status_check_box_->setObjectName(QStringLiteral("StatusCheckBox"));
  status_check_box_->setChecked(true);
  filters->addWidget(pic_check_box_);
  filters->addWidget(status_check_box_);
  strip->addWidget(group_box1);

  waf_radio_group_ =
      RadioGroup(panel2, "WafRadioGroup", QStringLiteral("检测规则"),
                 {QStringLiteral("紧凑型"), QStringLiteral("宽泛型")}, 1, waf_buttons_);
  strip->addWidget(waf_radio_group_);
  strip->addSpacing(16);

  auto* side_buttons = new QVBoxLayout;
  side_buttons->setSpacing(1);
  explain_button_ = new QPushButton(QStringLiteral("使用说明"), panel2);
  explain_button_->setObjectName(QStringLiteral("ExplainButton"));
  update_button_ = new QPushButton(QStringLiteral("升级"), panel2);
  update_button_->setObjectName(QStringLiteral("UpdateButton"));
  help_button_ = new QPushButton(QStringLiteral("日志"), panel2);
  help_button_->setObjectName(QStringLiteral("HelpButton"));
  for (QPushButton* button : {explain_button_, update_button_, help_button_}) {
    button->setMinimumWidth(75);
    side_buttons->addWidget(button);
  }
  strip->addLayout(side_buttons);

  // The list area: the file list, or the hit table in its place.
  auto* panel1 = new QWidget(tab_sheet);
  panel1->setObjectName(QStringLiteral("Panel1"));
  sheet_layout->addWidget(panel1, 1);
  auto* list_layout = new QVBoxLayout(panel1);
  list_layout->setContentsMargins(0, 0, 0, 0);

  string_grid1_ = new QTableWidget(kHitTableStartRows, kHitTableStartColumns, panel1);
  string_grid1_->setObjectName(QStringLiteral("StringGrid1"));
  SetUpGrid(*string_grid1_);
  string_grid1_->setSelectionMode(QAbstractItemView::ContiguousSelection);
  hit_table_extras_ = new HitTableExtras(*string_grid1_, dialogs_);
  string_grid1_->hide();
  list_layout->addWidget(string_grid1_);

  string_grid2_ = new QTableWidget(kFileListStartRows, 3, panel1);
  string_grid2_->setObjectName(QStringLiteral("StringGrid2"));
  SetUpGrid(*string_grid2_);
  string_grid2_->setSelectionMode(QAbstractItemView::SingleSelection);
  string_grid2_->setHorizontalHeaderLabels(
      {QStringLiteral("序号"), QStringLiteral("文件名"), QStringLiteral("进度")});
  string_grid2_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignTop);
  string_grid2_->horizontalHeader()->setStyleSheet(FileListHeaderStyleSheet(palette()));
  string_grid2_->setColumnWidth(0, 70);
  string_grid2_->setColumnWidth(1, 562);
  string_grid2_->setColumnWidth(2, 84);
  string_grid2_->setItemDelegate(new FileListDelegate(string_grid2_));
  string_grid2_->setContextMenuPolicy(Qt::CustomContextMenu);
  string_grid2_->installEventFilter(this);
  // The frame follows the current row; repaint both rows it leaves and enters whole.
  connect(string_grid2_->selectionModel(), &QItemSelectionModel::currentRowChanged,
          string_grid2_->viewport(), qOverload<>(&QWidget::update));
  list_layout->addWidget(string_grid2_);

  auto* status_bar = new QStatusBar(this);
  status_bar->setObjectName(QStringLiteral("StatusBar1"));
  setStatusBar(status_bar);
  const QString panel_texts[3] = {QStringLiteral("   【功能】：日志分析，筛选出可疑攻击行为"),
                                  QStringLiteral("使用前，请先行观看【使用说明】！"),
                                  Utf8(kCreditLine)};
  const int panel_widths[3] = {320, 330, 40};
  for (int i = 0; i < 3; ++i) {
    status_panels_[i] = new QLabel(panel_texts[i], status_bar);
    status_panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    status_panels_[i]->setMinimumWidth(panel_widths[i]);
  }
  status_panels_[2]->setAlignment(Qt::AlignCenter);
  status_bar->addWidget(status_panels_[0]);
  status_bar->addWidget(status_panels_[1], 1);
  // What a finished run may have missed; empty and hidden otherwise.
  run_notice_ = new QLabel(status_bar);
  run_notice_->setObjectName(QStringLiteral("RunNotice"));
  run_notice_->setStyleSheet(QStringLiteral("color: #b00000;"));
  run_notice_->hide();
  status_bar->addWidget(run_notice_);
  status_bar->addPermanentWidget(status_panels_[2]);

  open_popup_menu_ = new QMenu(this);
  open_popup_menu_->setObjectName(QStringLiteral("open_PopupMenu"));
  QAction* n1 = open_popup_menu_->addAction(QStringLiteral("文件"));
  n1->setObjectName(QStringLiteral("N1"));
  QAction* n2 = open_popup_menu_->addAction(QStringLiteral("文件夹"));
  n2->setObjectName(QStringLiteral("N2"));
  del_popup_menu_ = new QMenu(this);
  del_popup_menu_->setObjectName(QStringLiteral("Del_PopupMenu"));
  QAction* del = del_popup_menu_->addAction(QStringLiteral("单行删除"));
  del->setObjectName(QStringLiteral("DelSelectedLine"));

  connect(start_button_, &QPushButton::clicked, this, &TMainForm::StartButtonClick);
  connect(open_button_, &QPushButton::clicked, this, &TMainForm::OpenButtonClick);
  connect(excel_button_, &QPushButton::clicked, this, &TMainForm::ExcelButtonClick);
  connect(report_button_, &QPushButton::clicked, this, &TMainForm::ReportButtonClick);
  connect(explain_button_, &QPushButton::clicked, this, &TMainForm::ExplainButtonClick);
  connect(update_button_, &QPushButton::clicked, this, &TMainForm::UpdateButtonClick);
  connect(help_button_, &QPushButton::clicked, this, &TMainForm::HelpButtonClick);
  connect(n1, &QAction::triggered, this, &TMainForm::N1Click);
  connect(n2, &QAction::triggered, this, &TMainForm::N2Click);
  connect(del, &QAction::triggered, this, &TMainForm::DelSelectedLineClick);
  connect(string_grid2_, &QWidget::customContextMenuRequested, this, &TMainForm::ShowFileListMenu);
}

namespace {

// The window's file locations: those configured, else the portable layout in exe_dir.
FileLocations LocationsOf(const MainFormConfig& config) {
  return config.locations ? *config.locations : FileLocations::Portable(config.exe_dir);
}

}  // namespace

bool TMainForm::OpenIpDatabase() {
  const FileLocations locations = LocationsOf(config_);
  const std::optional<std::filesystem::path> path = locations.FindIpDatabase();
  if (!path) {
    QString text = QStringLiteral("在当前目录下没有IP地址库QQWry.dat！");
    // Installed, "the current folder" is several: name them.
    if (!locations.portable()) {
      text += QStringLiteral("\n\n已查找：");
      for (const std::filesystem::path& folder : locations.ipdb_dirs()) {
        text += QStringLiteral("\n") + PathToQString(folder);
      }
    }
    dialogs_.Warn(this, text, QStringLiteral("IP地址库调用失败"));
    return false;
  }
  // A file that exists but holds no usable database is not refused here: the reader
  // then answers every lookup with its own text.
  qqwry_ip_ = std::make_unique<TQQWry>(path->string());
  return true;
}

void TMainForm::CentreOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  move((area.width() - width()) / 2, (area.height() - height()) / 2);
}

void TMainForm::SetUpShortcuts() {
  const std::pair<QPushButton*, QKeyCombination> keys[] = {
      {start_button_, Qt::ALT | Qt::Key_S},   {excel_button_, Qt::ALT | Qt::Key_E},
      {report_button_, Qt::ALT | Qt::Key_R},  {open_button_, Qt::ALT | Qt::Key_O},
      {explain_button_, Qt::ALT | Qt::Key_H}, {update_button_, Qt::ALT | Qt::Key_U},
      {help_button_, Qt::ALT | Qt::Key_L}};
  // Shortcuts rather than "&" mnemonics: the captions stay exactly as they are, and a
  // Chinese caption has no letter to underline.
  for (const auto& [button, key] : keys) {
    button->setShortcut(QKeySequence(key));
    button->setToolTip(QKeySequence(key).toString(QKeySequence::NativeText));
  }
}

void TMainForm::ClearFileList() { string_grid2_->clearContents(); }

void TMainForm::ShowFileList() {
  string_grid1_->hide();
  string_grid2_->show();
}

void TMainForm::FillFileList(const std::vector<std::filesystem::path>& paths) {
  string_grid2_->setRowCount(static_cast<int>(paths.size()));
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const int row = static_cast<int>(i);
    SetCell(*string_grid2_, row, 0, QString::number(row + 1));
    SetCell(*string_grid2_, row, 1, PathToQString(paths[i]));
    // The path's own bytes, so a name that is not valid UTF-8 still opens.
    string_grid2_->item(row, 1)->setData(Qt::UserRole,
                                         QByteArray::fromStdString(paths[i].native()));
    SetCell(*string_grid2_, row, 2, QString());
  }
  const QTableWidgetItem* first = string_grid2_->item(0, 1);
  read_edit_->setText(first != nullptr ? first->text() : QString());
  // A new list starts at its first row, framed, whatever was scrolled to before.
  string_grid2_->scrollToTop();
  if (!paths.empty()) string_grid2_->setCurrentCell(0, 0);
}

void TMainForm::TakeChoice(const std::vector<std::filesystem::path>& paths) {
  ClearFileList();
  ShowFileList();
  read_edit_->clear();
  FillFileList(paths);
}

std::filesystem::path TMainForm::RowPath(int table_row) const {
  const QTableWidgetItem* item = string_grid2_->item(table_row, 1);
  if (item == nullptr) return {};
  const QVariant raw = item->data(Qt::UserRole);
  if (raw.isValid()) return std::filesystem::path(raw.toByteArray().toStdString());
  return QStringToPath(item->text());
}

void TMainForm::SetRunControlsEnabled(bool enabled) {
  for (QWidget* widget : std::initializer_list<QWidget*>{start_button_, open_button_,
                                                         pic_check_box_, status_check_box_,
                                                         waf_radio_group_, web_type_radio_group_}) {
    widget->setEnabled(enabled);
  }
}

RunOptions TMainForm::CurrentOptions() const {
  RunOptions options;
  options.log_type = static_cast<LogType>(std::max(0, web_type_buttons_->checkedId()));
  options.rule_set = static_cast<RuleSet>(std::max(0, waf_buttons_->checkedId()));
  options.drop_static = pic_check_box_->isChecked();
  options.status_200_only = status_check_box_->isChecked();
  options.encoding = config_.encoding;
  return options;
}

void TMainForm::OpenButtonClick() {
  if (running_) return;
  dialogs_.PopUp(*open_popup_menu_, QCursor::pos());
}

void TMainForm::N1Click() {
  if (running_) return;
  const QStringList files =
      dialogs_.PickFiles(this, PathToQString(dialog_start_dir_), Utf8(kFileFilter));
  if (files.isEmpty()) return;
  std::vector<std::filesystem::path> paths;
  paths.reserve(static_cast<std::size_t>(files.size()));
  for (const QString& file : files) paths.push_back(QStringToPath(file));
  dialog_start_dir_ = paths.front().parent_path();
  TakeChoice(paths);
}

void TMainForm::N2Click() {
  if (running_) return;
  // Cleared before the dialog: a cancelled folder choice leaves an empty list.
  ClearFileList();
  ShowFileList();
  read_edit_->clear();
  const QString folder =
      dialogs_.PickFolder(this, Utf8(kFolderPrompt), PathToQString(dialog_start_dir_));
  std::vector<std::filesystem::path> paths;
  if (!folder.isEmpty()) {
    dialog_start_dir_ = QStringToPath(folder);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    paths = WalkWithoutOwnFiles(dialog_start_dir_);
    QApplication::restoreOverrideCursor();
  }
  FillFileList(paths);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!running_ && !LocalPaths(event->mimeData()).empty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TMainForm::dropEvent(QDropEvent* event) {
  const std::vector<std::filesystem::path> dropped = LocalPaths(event->mimeData());
  if (running_ || dropped.empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  // Files are taken as they come, folders walked in their place, as the two menu items do.
  std::vector<std::filesystem::path> paths;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (const std::filesystem::path& path : dropped) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      std::vector<std::filesystem::path> found = WalkWithoutOwnFiles(path);
      paths.insert(paths.end(), std::make_move_iterator(found.begin()),
                   std::make_move_iterator(found.end()));
    } else {
      paths.push_back(path);
    }
  }
  QApplication::restoreOverrideCursor();
  std::error_code error;
  dialog_start_dir_ = std::filesystem::is_directory(dropped.front(), error)
                          ? dropped.front()
                          : dropped.front().parent_path();
  TakeChoice(paths);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != string_grid2_) return QMainWindow::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Delete && modifiers == Qt::NoModifier) {
      DelSelectedLineClick();
      return true;
    }
    if ((key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
        (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
      ShowFileListMenuFromKeyboard();
      return true;
    }
  }
  // Some platforms turn the menu key into a context-menu event as well, at the pointer;
  // the key itself has opened the menu at the current row.
  if (event->type() == QEvent::ContextMenu &&
      static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ShowFileListMenu(const QPoint& pos) {
  // Rows are taken out only between runs; the item says so by being greyed.
  del_popup_menu_->actions().front()->setEnabled(!running_);
  dialogs_.PopUp(*del_popup_menu_, string_grid2_->viewport()->mapToGlobal(pos));
}

void TMainForm::ShowFileListMenuFromKeyboard() {
  const QModelIndex current = string_grid2_->currentIndex();
  const QRect row =
      current.isValid() ? string_grid2_->visualRect(current.siblingAtColumn(1)) : QRect();
  ShowFileListMenu(row.isValid() ? row.bottomLeft() : QPoint(0, 0));
}

void TMainForm::DelSelectedLineClick() {
  // During a run the worker holds its own copy of the paths; a deletion now would make
  // the list disagree with what is being analysed.
  if (running_) return;
  QTableWidget& grid = *string_grid2_;
  const int row = grid.currentRow();
  if (grid.rowCount() < 1 || row < 0) return;
  grid.removeRow(row);
  for (int y = 0; y < grid.rowCount(); ++y) SetCell(grid, y, 0, QString::number(y + 1));
  if (grid.rowCount() > 0) {
    grid.setCurrentCell(std::min(row, grid.rowCount() - 1), 0);
  }
  grid.viewport()->update();
}

void TMainForm::StartButtonClick() {
  // The button is disabled during a run; this guards the slot itself as well.
  if (running_ || worker_.joinable() || qqwry_ip_ == nullptr) return;
  if (read_edit_->text().isEmpty()) {
    dialogs_.Warn(this, QStringLiteral("先打开日志文件！"), QStringLiteral("失败"));
    open_button_->setFocus();
    return;
  }
  running_ = true;
  excel_button_->setEnabled(false);
  report_button_->setEnabled(false);
  read_edit_->clear();
  // The last run's figures would otherwise stand until this one's first report.
  status_panels_[0]->clear();
  status_panels_[1]->clear();
  ShowRunNotice({}, {});
  SetRunControlsEnabled(false);

  run_options_ = CurrentOptions();
  run_inputs_.clear();
  run_rows_.clear();
  for (int row = 0; row < string_grid2_->rowCount(); ++row) {
    std::filesystem::path path = RowPath(row);
    if (path.empty()) continue;
    run_inputs_.push_back(std::move(path));
    run_rows_.push_back(row);
  }
  report_ = std::make_unique<ReportCollector>();
  report_started_at_ = LocalTimeText(std::chrono::system_clock::now());
  sink_ = std::make_unique<ProgressSink>(
      this, [this](std::size_t index) { OnFileStarted(index); },
      [this](std::size_t index) { OnFileFinished(index); });
  shown_sequence_ = 0;
  progress_timer_.start();

  worker_ =
      std::jthread([this, run = config_.run, inputs = run_inputs_,
                    result_path = config_.result_path, options = run_options_, &ipdb = *qqwry_ip_,
                    &sink = *sink_, &report = *report_](std::stop_token stop) {
        RunOutcome outcome;
        try {
          RunOutputs outputs(result_path);
          outputs.sinks.push_back(&report);
          outcome.summary = run(inputs, outputs, options, ipdb, sink, stop);
        } catch (const std::exception& error) {
          // RunError names the file and line; anything else still ends the run cleanly.
          outcome.failed = true;
          outcome.error = error.what();
        }
        QMetaObject::invokeMethod(
            this, [this, outcome] { OnRunFinished(outcome); }, Qt::QueuedConnection);
      });
}

void TMainForm::OnFileStarted(std::size_t index) {
  if (closing_ || index >= run_inputs_.size()) return;
  read_edit_->setText(PathToQString(run_inputs_[index]));
  SetBusyCursor(true);
}

void TMainForm::OnFileFinished(std::size_t index) {
  if (closing_ || index >= run_rows_.size()) return;
  SetBusyCursor(false);
  UpdateProgressText();
  const int row = run_rows_[index];
  SetCell(*string_grid2_, row, 2, QStringLiteral("完成"));
  if (row + 1 >= kFollowFromRow) {
    string_grid2_->setCurrentCell(row, 0);
    string_grid2_->scrollToItem(string_grid2_->item(row, 0));
  }
}

void TMainForm::UpdateProgressText() {
  if (sink_ == nullptr) return;
  const ProgressSnapshot progress = sink_->Snapshot();
  if (!progress.any || progress.sequence == shown_sequence_) return;
  shown_sequence_ = progress.sequence;
  status_panels_[0]->setText(
      Utf8(StatusPanel1Text(progress.line_number, progress.line_total, progress.hit_count)));
  if (progress.file_index < run_inputs_.size()) {
    const std::string name = run_inputs_[progress.file_index].filename().string();
    status_panels_[1]->setText(
        Utf8(StatusPanel2Text(name, static_cast<std::size_t>(run_rows_[progress.file_index]) + 1,
                              static_cast<std::size_t>(string_grid2_->rowCount()))));
  }
}

void TMainForm::SetBusyCursor(bool busy) {
  if (busy == busy_cursor_) return;
  busy_cursor_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TMainForm::OnRunFinished(const RunOutcome& outcome) {
  if (closing_) return;
  if (worker_.joinable()) worker_.join();
  progress_timer_.stop();
  UpdateProgressText();
  SetBusyCursor(false);
  running_ = false;
  SetRunControlsEnabled(true);
  report_summary_ = outcome.summary;
  report_error_ = outcome.failed ? outcome.error : std::string();
  // The report shows what was found, also after an error or a stop.
  report_button_->setEnabled(report_ && report_->hits() > 0);
  if (outcome.failed) {
    dialogs_.Error(this, QString::fromStdString(outcome.error), QStringLiteral("错误"));
    return;
  }
  ShowRunNotice(RunNoticeText(outcome.summary, run_options_.log_type),
                RunNoticeDetails(outcome.summary, run_options_.log_type));
  if (outcome.summary.stopped || outcome.summary.hits == 0) return;
  AskAboutHits(outcome.summary.hits);
}

void TMainForm::ShowRunNotice(const QString& text, const QString& details) {
  run_notice_->setText(text);
  run_notice_->setToolTip(details);
  run_notice_->setVisible(!text.isEmpty());
}

std::vector<std::filesystem::path> TMainForm::WalkWithoutOwnFiles(
    const std::filesystem::path& folder) const {
  std::vector<std::filesystem::path> found = WalkFolder(folder);
  // The result file of an earlier run in a chosen folder would be read back while this
  // run writes it.
  DropOutputs(found, {config_.result_path});
  return found;
}

void TMainForm::AskAboutHits(std::uint64_t hit_count) {
  const QString result_path = PathToQString(config_.result_path);
  const QString caption = Utf8(kAskCaption);
  if (dialogs_.AskYesNo(this, result_path + QStringLiteral(" 是否导入到下表中？"), caption)) {
    if (hit_count >= kBulkExportHits) {
      if (dialogs_.AskYesNo(this, QStringLiteral(" 数量过多，存入Excel中？"), caption)) {
        ExportResultFileAndOpen(this, config_.result_path, config_.encoding, hit_count + 1,
                                dialogs_, config_.export_file);
      }
      return;
    }
    ShowHitTable();
    return;
  }
  if (dialogs_.AskYesNo(this, result_path + QStringLiteral(" 是否打开查看吗？"), caption)) {
    OpenWithDesktop(this, dialogs_, config_.result_path);
  }
}

void TMainForm::ShowHitTable() {
  ResultTable table;
  try {
    table = LoadResultFile(config_.result_path, config_.encoding);
  } catch (const std::exception& error) {
    dialogs_.Error(this, QString::fromStdString(error.what()), QStringLiteral("错误"));
    return;
  }
  string_grid2_->hide();
  string_grid1_->show();

  QTableWidget& grid = *string_grid1_;
  grid.setUpdatesEnabled(false);
  grid.clear();
  const int columns = static_cast<int>(table.column_count);
  const int rows = table.rows.empty() ? 0 : static_cast<int>(table.rows.size()) - 1;
  grid.setColumnCount(columns);
  grid.setRowCount(rows);
  if (!table.rows.empty()) {
    QStringList titles;
    for (const std::string& cell : table.rows.front()) titles << Utf8(cell);
    grid.setHorizontalHeaderLabels(titles);
  }
  for (int r = 0; r < rows; ++r) {
    const std::vector<std::string>& cells = table.rows[static_cast<std::size_t>(r) + 1];
    for (int c = 0; c < columns && c < static_cast<int>(cells.size()); ++c) {
      SetCell(grid, r, c, Utf8(cells[static_cast<std::size_t>(c)]));
    }
  }
  grid.setUpdatesEnabled(true);

  // setWindowFlag hides a shown window; show it again with its new maximise box.
  const bool was_visible = isVisible();
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  if (was_visible) show();
  excel_button_->setEnabled(true);
}

void TMainForm::ReportButtonClick() {
  if (running_ || !report_) return;
  const std::filesystem::path path = config_.result_path.parent_path() / "1.html";
  ReportContext context;
  context.options = run_options_;
  context.inputs = run_inputs_;
  context.started_at = report_started_at_;
  context.error = report_error_;
  try {
    WriteReportFile(path, RenderHtmlReport(*report_, report_summary_, context));
  } catch (const std::exception& error) {
    dialogs_.Warn(this, QString::fromStdString(error.what()), QStringLiteral("失败"));
    return;
  }
  OpenWithDesktop(this, dialogs_, path);
}

void TMainForm::ExcelButtonClick() {
  const QTableWidget& grid = *string_grid1_;
  ResultTable table;
  table.column_count = static_cast<std::size_t>(grid.columnCount());
  table.rows.reserve(static_cast<std::size_t>(grid.rowCount()) + 1);
  std::vector<std::string>& header = table.rows.emplace_back();
  for (int c = 0; c < grid.columnCount(); ++c) {
    const QTableWidgetItem* item = grid.horizontalHeaderItem(c);
    header.push_back(item != nullptr ? item->text().toStdString() : std::string());
  }
  for (int r = 0; r < grid.rowCount(); ++r) {
    std::vector<std::string>& row = table.rows.emplace_back();
    for (int c = 0; c < grid.columnCount(); ++c) {
      const QTableWidgetItem* item = grid.item(r, c);
      row.push_back(item != nullptr ? item->text().toStdString() : std::string());
    }
  }
  ExportHitTableAndOpen(this, table, config_.result_path, dialogs_, config_.export_grid);
}

void TMainForm::UpdateButtonClick() {
  TUpdateForm form(config_.update_manifest_url, LocationsOf(config_).data_dir(), this);
  dialogs_.ShowModal(form);
}

void TMainForm::HelpButtonClick() {
  TAboutForm form(this);
  dialogs_.ShowModal(form);
}

void TMainForm::ExplainButtonClick() {
  OpenWithDesktop(this, dialogs_, LocationsOf(config_).HelpFile());
}

void TMainForm::StopRunAndWait() {
  if (!worker_.joinable()) return;
  worker_.request_stop();
  worker_.join();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (worker_.joinable()) {
    closing_ = true;
    // The engine stops at the next line and flushes and closes the result file before
    // RunAnalysis returns, so joining here is what makes the file complete.
    StopRunAndWait();
    progress_timer_.stop();
    SetBusyCursor(false);
    running_ = false;
  }
  event->accept();
}

}  // namespace ostrel
