// The windows around the media player: the floating video window that takes the viewer's video
// area, the media properties window and the player log window.
#pragma once

#include <QDialog>
#include <QWidget>

#include "core/util/ini_file.h"
#include "viewer/video/mplayer_logic.h"

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace qvl {

class TMPlayer;

// Where the floating video window opens: the stored size and place, or the design size centred
// on the screen when no size is stored. A stored minimised state opens normal.
struct TVideoFormPlacement {
  QRect rect;
  bool maximized = false;
};
TVideoFormPlacement ReadVideoFormPlacement(const TIniFile& ini, QSize screen, QSize design);

class TfrmFloatingVideo : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinWidth = 625;
  static constexpr int kMinHeight = 100;

  // Reads its placement from section "VideoForm" of `ini`, which it writes back when destroyed.
  TfrmFloatingVideo(TIniFile& ini, const TMPlayer* player, QWidget* parent = nullptr);
  ~TfrmFloatingVideo() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TIniFile& ini_;
  const TMPlayer* player_;
};

// "Media properties": the properties the player reported, in their order.
class TfrmProp : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmProp(QWidget* parent = nullptr);
  void Refresh(const TMediaPropList* props);
  QTreeWidget* List() const { return list_; }

 private:
  QTreeWidget* list_;
};

// "Log player": every command sent to the player and every line it answered.
class TfrmLog : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmLog(QWidget* parent = nullptr);
  void AddLine(const QString& text);
  QPlainTextEdit* Memo() const { return memo_; }
  QPushButton* ClearButton() const { return clear_; }

 private:
  QPlainTextEdit* memo_;
  QPushButton* clear_;
};

}  // namespace qvl
