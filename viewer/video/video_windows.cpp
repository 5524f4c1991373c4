#include "viewer/video/video_windows.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "viewer/qt_text.h"
#include "viewer/video/mplayer.h"

namespace qvl {

namespace {

constexpr const char* kSection = "VideoForm";

// Tool windows open centred on the window they belong to.
void CentreOnParent(QWidget* w) {
  QWidget* main = w->parentWidget() ? w->parentWidget()->window() : nullptr;
  if (main) w->move(main->geometry().center() - w->rect().center());
}

}  // namespace

TVideoFormPlacement ReadVideoFormPlacement(const TIniFile& ini, QSize screen, QSize design) {
  TVideoFormPlacement p;
  const int w = int(ini.ReadInteger(kSection, "Width", 0));
  const int h = int(ini.ReadInteger(kSection, "Height", 0));
  if (w != 0 && h != 0) {
    const int left = int(ini.ReadInteger(kSection, "Left", (screen.width() - w) / 2));
    const int top = int(ini.ReadInteger(kSection, "Top", (screen.height() - h) / 2));
    p.rect = QRect(left, top, w, h);
    p.maximized = ini.ReadInteger(kSection, "State", 0) == 2;
  } else {
    p.rect = QRect((screen.width() - design.width()) / 2, (screen.height() - design.height()) / 2,
                   design.width(), design.height());
  }
  return p;
}

TfrmFloatingVideo::TfrmFloatingVideo(TIniFile& ini, const TMPlayer* player, QWidget* parent)
    : QWidget(parent, Qt::Window), ini_(ini), player_(player) {
  setObjectName("frmFloatingVideo");
  setMinimumSize(kMinWidth, kMinHeight);
  QFont f("Tahoma");
  f.setPixelSize(13);
  setFont(f);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  const QSize screen = this->screen() ? this->screen()->size() : QSize(1024, 768);
  const TVideoFormPlacement p = ReadVideoFormPlacement(ini, screen, QSize(640, 400));
  setGeometry(p.rect);
  if (p.maximized) setWindowState(Qt::WindowMaximized);
}

TfrmFloatingVideo::~TfrmFloatingVideo() {
  const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
  ini_.WriteInteger(kSection, "Width", r.width());
  ini_.WriteInteger(kSection, "Height", r.height());
  ini_.WriteInteger(kSection, "Left", r.left());
  ini_.WriteInteger(kSection, "Top", r.top());
  ini_.WriteInteger(kSection, "State", isMaximized() ? 2 : 0);
}

void TfrmFloatingVideo::showEvent(QShowEvent* event) {
  setWindowTitle("QVLView - " + Cp1252ToQString(player_ ? player_->MediaAddr() : std::string()));
  QWidget::showEvent(event);
}

TfrmProp::TfrmProp(QWidget* parent) : QDialog(parent, Qt::Tool) {
  setWindowTitle("Media properties");
  setMinimumSize(100, 200);
  list_ = new QTreeWidget(this);
  list_->setAccessibleName("Media properties");
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({"Name", "Value"});
  list_->setColumnWidth(0, 120);
  list_->setColumnWidth(1, 140);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  auto* close = new QPushButton("&Close", this);
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(close, 0, Qt::AlignRight);
  resize(300, 320);
  CentreOnParent(this);
}

void TfrmProp::Refresh(const TMediaPropList* props) {
  list_->clear();
  if (!props) return;
  for (const TMediaProp& p : props->Items())
    list_->addTopLevelItem(
        new QTreeWidgetItem({Cp1252ToQString(p.name), Cp1252ToQString(p.value)}));
}

TfrmLog::TfrmLog(QWidget* parent) : QDialog(parent, Qt::Tool) {
  setWindowTitle("Log player");
  setMinimumSize(300, 200);
  memo_ = new QPlainTextEdit(this);
  memo_->setAccessibleName("Log player");
  memo_->setReadOnly(true);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setMaximumBlockCount(5000);
  clear_ = new QPushButton("C&lear", this);
  clear_->setEnabled(false);
  auto* close = new QPushButton("&Close", this);
  connect(clear_, &QPushButton::clicked, this, [this] {
    memo_->clear();
    clear_->setEnabled(false);
  });
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(clear_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(memo_);
  layout->addLayout(buttons);
  resize(480, 360);
  CentreOnParent(this);
}

void TfrmLog::AddLine(const QString& text) {
  memo_->appendPlainText(text);
  clear_->setEnabled(true);
}

}  // namespace qvl
