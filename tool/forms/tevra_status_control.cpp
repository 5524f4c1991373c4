#include "tool/forms/tevra_status_control.h"

#include <QMouseEvent>
#include <QPainter>

#include "transport/tevraw_comm.h"

namespace qvl {

TTevraStatusControl::TTevraStatusControl(QWidget* parent) : QWidget(parent) {
  setAccessibleName("Wireless link signal");
  setToolTip(accessibleName());
  setCursor(Qt::PointingHandCursor);
}

void TTevraStatusControl::SetLevel(int level) {
  if (level == level_) return;
  level_ = level;
  setAccessibleDescription(QString("Level %1").arg(level));
  update();
}

void TTevraStatusControl::SetHint(const QString& hint) {
  QString text = hint;
  text.replace('\r', '\n');
  setToolTip(text);
}

void TTevraStatusControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // The image area is 30 x 24 at (0, 1), scaled with the control.
  p.scale(width() / 30.0, height() / 25.0);
  p.translate(0, 1);
  const int image = TevraImageForLevel(level_);
  const QColor on(20, 140, 40), off(190, 190, 190);
  if (image == 6) {
    // No link: grey bars and a red cross.
    for (int i = 0; i < 5; ++i) p.fillRect(QRectF(2 + i * 5.5, 20 - i * 4, 4, 3 + i * 4), off);
    p.setPen(QPen(QColor(200, 30, 30), 2.5));
    p.drawLine(QPointF(6, 4), QPointF(24, 21));
    p.drawLine(QPointF(24, 4), QPointF(6, 21));
    return;
  }
  for (int i = 0; i < 5; ++i)
    p.fillRect(QRectF(2 + i * 5.5, 20 - i * 4, 4, 3 + i * 4), i < image ? on : off);
}

void TTevraStatusControl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
    OnClick();
}

}  // namespace qvl
