// TRunStatePanel: the main window's panel of live values. It draws a picture of a bicycle with
// its fork and rear shock behind its controls and scales with the window: the picture is drawn
// anew at the panel's size, every control keeps its design rectangle stretched by the panel's
// width and height ratios, and fonts follow the smaller of the two ratios.
#pragma once

#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include "tool/main_window_logic.h"

class QPainter;

namespace qvl {

// Draws the panel picture into a rectangle of the given size.
void DrawBicyclePicture(QPainter& painter, const QSize& size);

class TRunStatePanel : public QWidget {
 public:
  TRunStatePanel(int designWidth, int designHeight, QWidget* parent = nullptr);

  // Remembers every control's design rectangle and font size (after the controls are placed).
  void StoreDesign();
  QSize DesignSize() const { return {designWidth_, designHeight_}; }
  double Scale() const { return PanelScale(designWidth_, designHeight_, width(), height()); }
  QSize sizeHint() const override { return DesignSize(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct TDesign {
    QPointer<QWidget> widget;
    TPanelRect rect;
    qreal pointSize = 0;
  };
  void StoreDesignOf(QWidget* parent);
  void ApplyScale();

  int designWidth_, designHeight_;
  QList<TDesign> designs_;
  QPixmap background_;
};

}  // namespace qvl
