// TfrmOverlayManager: the list of loaded files (the main file first, then the overlays, from
// back to front), with adding, removing and stepping an overlay through its runs. The main
// window owns the file slots; the manager works on them through viewer/overlay_slots.h and asks
// the main window for a file name and for a redraw.
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

namespace qvl {

class TRunDisplay;

struct TOverlayHost {
  // The open dialog in overlay mode: the chosen file, or an empty text when cancelled.
  std::function<QString()> chooseFile;
  // Draws the display again (strips rebuilt for the slot count, every slot's curves).
  std::function<void()> redraw;
};

class TfrmOverlayManager : public QWidget {
  Q_OBJECT
 public:
  TfrmOverlayManager(TRunDisplay& display, TOverlayHost host, QWidget* parent = nullptr);

  // Lists the slots again; the run buttons are hidden and Remove disabled.
  void Refill();

  // The buttons' work.
  void Add();
  void Remove();
  void StepRun(int delta);

  QListWidget* List() const { return list_; }

 private:
  void UpdateButtons();
  // Loads `path` as a new overlay and draws it; a failure is shown after the redraw.
  void AddFile(const QString& path);

  TRunDisplay& display_;
  TOverlayHost host_;
  QListWidget* list_ = nullptr;
  QPushButton* btnAdd_ = nullptr;
  QPushButton* btnRemove_ = nullptr;
  QPushButton* btnNext_ = nullptr;
  QPushButton* btnPrevious_ = nullptr;
  QPushButton* btnClose_ = nullptr;
};

}  // namespace qvl
