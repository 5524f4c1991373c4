#include "tool/forms/run_state_panel.h"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <cmath>

namespace qvl {

void DrawBicyclePicture(QPainter& p, const QSize& size) {
  // Drawn on a 640 x 460 grid and stretched to the size, so that it lines up with the controls.
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, size.height());
  sky.setColorAt(0, QColor(236, 242, 248));
  sky.setColorAt(1, QColor(214, 224, 234));
  p.fillRect(QRect(QPoint(0, 0), size), sky);
  p.scale(size.width() / 640.0, size.height() / 460.0);

  const QPointF rearAxle(200, 294), frontAxle(446, 294);
  const double wheel = 56;
  const QPointF bracket(300, 300), seatTop(282, 214), head(402, 222), headLow(410, 248);
  const QPointF pivot(292, 276), shockTop(300, 244);
  const QColor tyre(90, 98, 110), frame(70, 110, 160), fork(60, 60, 70), shock(200, 120, 40);

  // Ground.
  p.setPen(QPen(QColor(180, 190, 200), 2));
  p.drawLine(QPointF(110, 351), QPointF(540, 351));
  // Wheels: tyre, rim and spokes.
  for (const QPointF& axle : {rearAxle, frontAxle}) {
    p.setPen(QPen(tyre, 7));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(axle, wheel - 4, wheel - 4);
    p.setPen(QPen(QColor(160, 166, 176), 1));
    for (int i = 0; i < 16; ++i) {
      const double a = i * M_PI / 8;
      p.drawLine(axle, axle + QPointF(std::cos(a) * (wheel - 9), std::sin(a) * (wheel - 9)));
    }
    p.setBrush(QColor(120, 126, 136));
    p.drawEllipse(axle, 4, 4);
  }
  // Rear triangle: swing arm from the pivot to the axle, seat stay to the shock mount.
  p.setPen(QPen(frame, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(pivot, rearAxle);
  p.drawLine(rearAxle, QPointF(262, 250));
  p.drawLine(QPointF(262, 250), pivot);
  // Main frame: seat tube, top tube, down tube.
  p.setPen(QPen(frame, 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(bracket, seatTop);
  p.drawLine(QPointF(288, 232), head);
  p.drawLine(bracket, headLow);
  p.drawLine(head, headLow);
  // Rear shock: spring between the seat stay and the top tube.
  p.setPen(QPen(shock, 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(262, 250), shockTop);
  p.setPen(QPen(shock.darker(130), 2));
  for (int i = 1; i < 6; ++i) {
    const QPointF c = QPointF(262, 250) + (shockTop - QPointF(262, 250)) * (i / 6.0);
    p.drawLine(c + QPointF(-2, -6), c + QPointF(2, 6));
  }
  // Fork: stanchions from the head tube to the axle.
  p.setPen(QPen(fork, 6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(406, 236), QPointF(426, 270));
  p.setPen(QPen(fork.lighter(160), 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(426, 270), frontAxle);
  // Seat, handlebar, crank.
  p.setPen(QPen(QColor(40, 40, 46), 6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(seatTop, seatTop + QPointF(-2, -6));
  p.drawLine(QPointF(264, 208), QPointF(298, 208));
  p.drawLine(head, head + QPointF(-5, -11));
  p.drawLine(QPointF(384, 211), QPointF(412, 211));
  p.setPen(QPen(QColor(70, 70, 80), 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(bracket, bracket + QPointF(14, 18));
  p.setBrush(QColor(70, 70, 80));
  p.drawEllipse(bracket, 9, 9);
  p.restore();
}

TRunStatePanel::TRunStatePanel(int designWidth, int designHeight, QWidget* parent)
    : QWidget(parent), designWidth_(designWidth), designHeight_(designHeight) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TRunStatePanel::StoreDesign() {
  designs_.clear();
  StoreDesignOf(this);
}

void TRunStatePanel::StoreDesignOf(QWidget* parent) {
  for (QObject* o : parent->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow()) continue;
    const QRect g = w->geometry();
    designs_.append({w, {g.x(), g.y(), g.width(), g.height()}, w->font().pointSizeF()});
    // Children of laid-out containers follow their layout.
    if (!w->layout()) StoreDesignOf(w);
  }
}

void TRunStatePanel::ApplyScale() {
  const double scale = Scale();
  for (const TDesign& d : designs_) {
    if (!d.widget) continue;
    if (d.pointSize > 0) {
      QFont f = d.widget->font();
      f.setPointSizeF(std::max(1.0, d.pointSize * scale));
      d.widget->setFont(f);
    }
    const TPanelRect r = ScaleDesignRect(d.rect, designWidth_, designHeight_, width(), height());
    d.widget->setGeometry(r.left, r.top, r.width, r.height);
  }
}

void TRunStatePanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  background_ = QPixmap(size() * devicePixelRatioF());
  background_.setDevicePixelRatio(devicePixelRatioF());
  QPainter p(&background_);
  DrawBicyclePicture(p, size());
  p.end();
  ApplyScale();
}

void TRunStatePanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (background_.isNull())
    DrawBicyclePicture(p, size());
  else
    p.drawPixmap(0, 0, background_);
}

}  // namespace qvl
