#include "viewer/forms/overlay_manager_form.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "viewer/forms/open_waiter.h"
#include "viewer/overlay_slots.h"
#include "viewer/qt_text.h"
#include "viewer/run_display.h"

namespace qvl {

TfrmOverlayManager::TfrmOverlayManager(TRunDisplay& display, TOverlayHost host, QWidget* parent)
    : QWidget(parent, Qt::Tool), display_(display), host_(std::move(host)) {
  setObjectName("frmOverlayManager");
  setWindowTitle("Overlay manager");
  auto* layout = new QVBoxLayout(this);
  auto* back = new QLabel("Back");
  back->setObjectName("lblBack");
  layout->addWidget(back);
  list_ = new QListWidget;
  list_->setObjectName("lbOverlays");
  list_->setAccessibleName("Overlays");
  layout->addWidget(list_, 1);
  auto* front = new QLabel("Front");
  front->setObjectName("lblFront");
  layout->addWidget(front);
  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    return b;
  };
  btnAdd_ = button("btnAdd", "Add...");
  btnRemove_ = button("btnRemove", "Remove");
  btnNext_ = button("btnNextRun", "Next run");
  btnPrevious_ = button("btnPreviousRun", "Previous run");
  btnClose_ = button("btnClose", "Close");
  auto* row = new QHBoxLayout;
  row->addWidget(btnAdd_);
  row->addWidget(btnRemove_);
  layout->addLayout(row);
  auto* runs = new QHBoxLayout;
  runs->addWidget(btnPrevious_);
  runs->addWidget(btnNext_);
  layout->addLayout(runs);
  layout->addWidget(btnClose_);
  connect(btnAdd_, &QPushButton::clicked, this, &TfrmOverlayManager::Add);
  connect(btnRemove_, &QPushButton::clicked, this, &TfrmOverlayManager::Remove);
  connect(btnNext_, &QPushButton::clicked, this, [this] { StepRun(1); });
  connect(btnPrevious_, &QPushButton::clicked, this, [this] { StepRun(-1); });
  connect(btnClose_, &QPushButton::clicked, this, &QWidget::close);
  connect(list_, &QListWidget::currentRowChanged, this, &TfrmOverlayManager::UpdateButtons);
  resize(300, 260);
  Refill();
}

void TfrmOverlayManager::Refill() {
  list_->blockSignals(true);
  list_->clear();
  // Slot 0 is listed once a main file is open; the overlays follow it.
  if (!display_.MainSlot().path.empty())
    for (int k = 0; k < display_.SlotCount(); ++k)
      list_->addItem(Cp1252ToQString(OverlayListText(display_.Slot(k))));
  list_->setCurrentRow(-1);
  list_->blockSignals(false);
  btnNext_->hide();
  btnPrevious_->hide();
  btnRemove_->setEnabled(false);
}

void TfrmOverlayManager::UpdateButtons() {
  const TOverlayButtons b = OverlayButtons(display_, list_->currentRow());
  btnNext_->setVisible(b.next);
  btnPrevious_->setVisible(b.previous);
  btnRemove_->setEnabled(b.remove);
}

void TfrmOverlayManager::Add() {
  if (list_->count() == 0) {
    QMessageBox::information(this, windowTitle(),
                             "You must have a file loaded in the program before adding an overlay");
    return;
  }
  const QString path = host_.chooseFile ? host_.chooseFile() : QString();
  if (!path.isEmpty()) AddFile(path);
}

void TfrmOverlayManager::AddFile(const QString& path) {
  QString failure;
  {
    // A long ride takes a moment to read and draw: the busy cursor, and after half a second a
    // dialog with its progress and Cancel, which adds nothing.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestoreCursor {
      ~TRestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    TOpenWaiter waiter(window(), window()->windowTitle(),
                       QString("Opening %1 ...").arg(QFileInfo(path).fileName()));
    try {
      waiter.Run(0, 1, [&](const TLoadProgress& progress) {
        LoadOverlay(display_, path.toStdString(), progress);
      });
    } catch (const ELoadStopped&) {
    } catch (const std::exception& e) {
      failure = QString::fromStdString(e.what());
    }
  }
  if (host_.redraw) host_.redraw();
  Refill();
  if (!failure.isEmpty()) QMessageBox::critical(this, windowTitle(), failure);
}

void TfrmOverlayManager::Remove() {
  const int k = list_->currentRow();
  if (k <= 0 || k >= display_.SlotCount()) return;
  display_.RemoveSlot(k);
  if (host_.redraw) host_.redraw();
  Refill();
}

void TfrmOverlayManager::StepRun(int delta) {
  const int k = list_->currentRow();
  if (k <= 0 || k >= display_.SlotCount()) return;
  ShowOverlayRun(display_, k, display_.Slot(k).selection + delta);
  if (host_.redraw) host_.redraw();
  Refill();
  list_->setCurrentRow(k);
  UpdateButtons();
}

}  // namespace qvl
