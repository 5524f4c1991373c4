#include "viewer/video/video_panel.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include "core/util/exceptions.h"
#include "viewer/qt_text.h"
#include "viewer/video/video_windows.h"

namespace qvl {

namespace {

constexpr double kSpeeds[] = {0.33, 1, 3};

QToolButton* Button(QWidget* parent, const QString& text, const QString& hint) {
  auto* b = new QToolButton(parent);
  b->setText(text);
  b->setToolTip(hint);
  b->setAccessibleName(hint);
  return b;
}

}  // namespace

QRect FitPicture(const QRect& area, QSize video) {
  if (video.width() <= 0 || video.height() <= 0 || area.isEmpty()) return area;
  QSize fitted = video.scaled(area.size(), Qt::KeepAspectRatio);
  return QRect(area.left() + (area.width() - fitted.width()) / 2,
               area.top() + (area.height() - fitted.height()) / 2, fitted.width(), fitted.height());
}

TVideoPanel::TVideoPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("VideoPanel");
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor::fromRgb(kPlayerColorKey));
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
  player_ = new TMPlayer(this);
  player_->hide();
  message_ = new QLabel(this);
  message_->setAlignment(Qt::AlignCenter);

  bar_ = new QWidget(this);
  bar_->setObjectName("VideoControls");
  bar_->setAutoFillBackground(true);
  bar_->setPalette(QWidget::style()->standardPalette());
  // Two parts side by side, or one above the other when the panel is too narrow for both.
  transport_ = new QWidget(bar_);
  seekRow_ = new QWidget(bar_);
  auto* row = new QHBoxLayout(transport_);
  auto* seekRow = new QHBoxLayout(seekRow_);
  for (QHBoxLayout* l : {row, seekRow}) {
    l->setContentsMargins(4, 2, 4, 2);
    l->setSpacing(4);
  }
  speeds_ = new QButtonGroup(bar_);
  const char* speedNames[] = {"Slow (1/3)", "Normal", "Fast (x3)"};
  for (int i = 0; i < 3; ++i) {
    auto* r = new QRadioButton(speedNames[i], transport_);
    r->setAccessibleName(speedNames[i]);
    speeds_->addButton(r, i);
    row->addWidget(r);
  }
  speeds_->button(1)->setChecked(true);
  connect(speeds_, &QButtonGroup::idClicked, this, &TVideoPanel::SetSpeedIndex);
  auto* play = Button(transport_, "\u25B6", "Play video");
  auto* pause = Button(transport_, "\u2759\u2759", "Pause video");
  auto* forward = Button(transport_, "\u25B6|", "Advance one frame");
  auto* backward = Button(transport_, "\u25C0\u25C0", "Back up video five seconds");
  for (QWidget* w : std::initializer_list<QWidget*>{play, pause, forward, backward})
    row->addWidget(w);
  slider_ = new QSlider(Qt::Horizontal, seekRow_);
  slider_->setRange(0, 100);
  slider_->setMinimumWidth(120);
  slider_->setToolTip("Set video position");
  slider_->setAccessibleName("Set video position");
  position_ = new QLabel("0.0", seekRow_);
  position_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  position_->setMinimumWidth(position_->fontMetrics().horizontalAdvance("00000.0"));
  position_->setAccessibleName("Video position");
  sound_ = new QToolButton(seekRow_);
  sound_->setText("Sound");
  sound_->setAccessibleName("Sound");
  sound_->setCheckable(true);
  sound_->setChecked(true);
  seekRow->addWidget(slider_, 1);
  seekRow->addWidget(position_);
  seekRow->addWidget(sound_);
  connect(play, &QToolButton::clicked, this, &TVideoPanel::Play);
  connect(pause, &QToolButton::clicked, this, &TVideoPanel::Pause);
  connect(forward, &QToolButton::clicked, this, &TVideoPanel::StepFrame);
  connect(backward, &QToolButton::clicked, this, &TVideoPanel::BackUp);
  connect(sound_, &QToolButton::clicked, this, &TVideoPanel::ToggleSound);
  // Only the user's moves seek; the bar following the player does not.
  connect(slider_, &QSlider::sliderMoved, this, [this](int percent) {
    if (player_->Active()) player_->SeekFromStart(player_->MediaLength() * percent / 100.0);
  });

  timer_ = new QTimer(this);
  timer_->setInterval(kPositionTimerMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    if (player_->Active() && !player_->Paused())
      player_->QueryTimePos();
    else if (!player_->Active())
      timer_->stop();
  });
  connect(player_, &TMPlayer::OnProgress, this, &TVideoPanel::Progress);
  connect(player_, &TMPlayer::OnFailedOpen, this,
          [this] { ShowMessage("Failed to open \r" + Cp1252ToQString(loaded_), false); });
  ShowMessage("No video attached to this run", false);
}

QString TVideoPanel::Message() const {
  return message_->isHidden() ? QString() : message_->text();
}

void TVideoPanel::ShowMessage(const QString& text, bool controls) {
  message_->setText(text);
  message_->setAccessibleName(text);
  message_->setVisible(!text.isEmpty());
  player_->setVisible(text.isEmpty());
  bar_->setVisible(controls);
  FitPlayer();
}

bool TVideoPanel::ShowRunVideo(int run, const std::string& path, const std::string& logFolder) {
  run_ = run;
  std::string resolved = path;
  if (!path.empty() && !QFileInfo::exists(Cp1252ToQString(path))) {
    const QString name = QFileInfo(Cp1252ToQString(path)).fileName();
    resolved = QStringToCp1252(Cp1252ToQString(logFolder) + "/" + name);
  }
  if (!path.empty() && resolved == loaded_ && player_->Active()) return true;
  player_->CloseWait();
  loaded_.clear();
  videoSize_ = {};
  if (path.empty()) {
    ShowMessage("No video attached to this run", false);
    return false;
  }
  loaded_ = resolved;
  try {
    player_->SetMediaAddr(resolved);
    player_->SetPaused(true);
    ShowMessage("", true);
    player_->OpenMedia();
    videoSize_ = player_->VideoSize();
  } catch (const EMPlayerExeption&) {
    ShowMessage("Failed to open \r" + Cp1252ToQString(resolved), false);
    return false;
  }
  if (player_->Failed() || !player_->Active()) {
    ShowMessage("Failed to open \r" + Cp1252ToQString(resolved), false);
    return false;
  }
  FitPlayer();
  return true;
}

void TVideoPanel::CursorMovedByUser(double chartTime) {
  if (!syncs_.IsSynced(run_) || !player_->Active()) return;
  echo_.Seeked();
  player_->SeekFromStart(syncs_.Run(run_).VideoTime(chartTime));
  player_->QueryTimePos();
}

bool TVideoPanel::Sync(int run, double chartTime, QString& message) {
  std::string text;
  const bool ok = syncs_.Run(run).Sync(chartTime, player_->PositionFromStart(), text);
  message = QString::fromStdString(text);
  return ok;
}

bool TVideoPanel::Resync(int run, double& chartTime) {
  if (!syncs_.Run(run).Resync()) return false;
  chartTime = syncs_.Run(run).ChartTime(player_->PositionFromStart());
  return true;
}

void TVideoPanel::Activate() {
  if (player_->Active() || loaded_.empty()) return;
  try {
    player_->OpenMedia();
  } catch (const EMPlayerExeption&) {
    ShowMessage("Failed to open \r" + Cp1252ToQString(loaded_), false);
  }
}

void TVideoPanel::AfterButton() {
  if (!player_->Active()) return;
  const double speed = kSpeeds[std::max(0, speeds_->checkedId())];
  if (speed != player_->State().speed) {
    const bool paused = player_->Paused();
    player_->SetSpeed(speed);  // a speed change makes the player play on
    if (paused) player_->SetPaused(true);
  }
  timer_->start();
}

void TVideoPanel::Play() {
  Activate();
  if (!player_->Active()) return;
  player_->SetPaused(false);
  AfterButton();
}

void TVideoPanel::Pause() {
  Activate();
  if (!player_->Active()) return;
  player_->SetPaused(true);
  AfterButton();
}

void TVideoPanel::StepFrame() {
  Activate();
  if (!player_->Active()) return;
  player_->FrameStep();
  AfterButton();
}

void TVideoPanel::BackUp() {
  Activate();
  if (!player_->Active()) return;
  player_->SeekFromStart(player_->PositionFromStart() - 4);
  AfterButton();
}

void TVideoPanel::SetSpeedIndex(int index) {
  if (index < 0 || index > 2) return;
  speeds_->button(index)->setChecked(true);
  if (player_->Active()) AfterButton();
}

void TVideoPanel::ToggleSound() {
  // The sound option is on the player's command line: an active player starts again.
  try {
    player_->Restart([this] { player_->SetSound(!player_->Sound()); });
  } catch (const EMPlayerExeption&) {
    ShowMessage("Failed to open \r" + Cp1252ToQString(loaded_), false);
  }
  sound_->setChecked(player_->Sound());
  if (player_->Active()) {
    videoSize_ = player_->VideoSize();
    FitPlayer();
  } else if (!loaded_.empty() && player_->Failed()) {
    ShowMessage("Failed to open \r" + Cp1252ToQString(loaded_), false);
  }
}

void TVideoPanel::Progress() {
  const double pos = player_->PositionFromStart();
  position_->setText(QString::number(pos, 'f', 1));
  const double length = player_->MediaLength();
  if (!slider_->isSliderDown() && length > 0)
    slider_->setValue(int(std::clamp(pos / length * 100, 0.0, 100.0)));
  if (!echo_.Follow() || !syncs_.IsSynced(run_)) return;
  emit CursorFromVideo(run_, syncs_.Run(run_).ChartTime(pos));
}

void TVideoPanel::FitPlayer() {
  const QSize a = transport_->sizeHint(), b = seekRow_->sizeHint();
  int barWidth, barHeight;
  if (a.width() + b.width() <= width()) {
    barWidth = a.width() + b.width();
    barHeight = std::max(a.height(), b.height());
    transport_->setGeometry(0, (barHeight - a.height()) / 2, a.width(), a.height());
    seekRow_->setGeometry(a.width(), (barHeight - b.height()) / 2, b.width(), b.height());
  } else {
    barWidth = std::min(width(), std::max(a.width(), b.width()));
    barHeight = a.height() + b.height();
    transport_->setGeometry((barWidth - a.width()) / 2, 0, a.width(), a.height());
    seekRow_->setGeometry(0, a.height(), barWidth, b.height());
  }
  if (bar_->isHidden()) barHeight = 0;
  bar_->setGeometry((width() - barWidth) / 2, height() - barHeight, barWidth, barHeight);
  const QRect area(0, 0, width(), std::max(0, height() - barHeight - 2));
  message_->setGeometry(area);
  player_->setGeometry(FitPicture(area, videoSize_));
}

void TVideoPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitPlayer();
}

void TVideoPanel::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction("Media properties", this, [this] {
    player_->PropWindow()->Refresh(&player_->Props());
    player_->PropWindow()->show();
    player_->PropWindow()->raise();
  });
  menu.addAction("Player log", this, [this] {
    player_->LogWindow()->show();
    player_->LogWindow()->raise();
  });
  menu.exec(event->globalPos());
}

}  // namespace qvl
