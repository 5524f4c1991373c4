#include "viewer/stripchart/strip_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

namespace qvl {
namespace {

const QColor kFace(0xC0, 0xC0, 0xC0);
const QColor kLight(0xFF, 0xFF, 0xFF);
const QColor kShadow(0x80, 0x80, 0x80);
const QColor kDark(0x40, 0x40, 0x40);

enum class TDir { Left, Right, Up, Down };

// A filled triangle with its tip at (tx, ty) pointing in `dir`, `size` pixels long.
void Triangle(QPainter& p, int tx, int ty, TDir dir, int size) {
  QPolygon poly;
  switch (dir) {
    case TDir::Right:
      poly << QPoint(tx, ty) << QPoint(tx - size, ty - size) << QPoint(tx - size, ty + size);
      break;
    case TDir::Left:
      poly << QPoint(tx, ty) << QPoint(tx + size, ty - size) << QPoint(tx + size, ty + size);
      break;
    case TDir::Down:
      poly << QPoint(tx, ty) << QPoint(tx - size, ty - size) << QPoint(tx + size, ty - size);
      break;
    case TDir::Up:
      poly << QPoint(tx, ty) << QPoint(tx - size, ty + size) << QPoint(tx + size, ty + size);
      break;
  }
  p.drawPolygon(poly);
}

}  // namespace

QString HintToToolTip(const QString& hint) {
  QString text = hint;
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

void DrawStripGlyph(QPainter& p, const QRect& r, TStripGlyph glyph, const QColor& colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(colour);
  p.setBrush(colour);
  const int cx = r.left() + r.width() / 2;
  const int cy = r.top() + r.height() / 2;
  // Half sizes of the glyph box: triangles of 3 pixels fit buttons 14 pixels high.
  const int hx = std::max(3, std::min(6, r.width() / 2 - 2));
  const int hy = std::max(3, std::min(6, r.height() / 2 - 2));
  const int t = 3;
  switch (glyph) {
    case TStripGlyph::None:
      break;
    case TStripGlyph::ExpandRight:  // bar on the left, arrow moving away from it
      p.drawLine(cx - hx, cy - hy, cx - hx, cy + hy);
      p.drawLine(cx - hx + 2, cy, cx + hx - t, cy);
      Triangle(p, cx + hx, cy, TDir::Right, t);
      break;
    case TStripGlyph::ContractLeft:  // bar on the left, arrow moving towards it
      p.drawLine(cx - hx, cy - hy, cx - hx, cy + hy);
      p.drawLine(cx - hx + t + 2, cy, cx + hx, cy);
      Triangle(p, cx - hx + 2, cy, TDir::Left, t);
      break;
    case TStripGlyph::ExpandLeft:
      p.drawLine(cx + hx, cy - hy, cx + hx, cy + hy);
      p.drawLine(cx - hx + t, cy, cx + hx - 2, cy);
      Triangle(p, cx - hx, cy, TDir::Left, t);
      break;
    case TStripGlyph::ContractRight:
      p.drawLine(cx + hx, cy - hy, cx + hx, cy + hy);
      p.drawLine(cx - hx, cy, cx + hx - t - 2, cy);
      Triangle(p, cx + hx - 2, cy, TDir::Right, t);
      break;
    case TStripGlyph::ExpandDown:  // bar at the top, arrow moving down from it
      p.drawLine(cx - hx, cy - hy, cx + hx, cy - hy);
      p.drawLine(cx, cy - hy + 2, cx, cy + hy - t);
      Triangle(p, cx, cy + hy, TDir::Down, t);
      break;
    case TStripGlyph::ContractUp:
      p.drawLine(cx - hx, cy - hy, cx + hx, cy - hy);
      p.drawLine(cx, cy - hy + t + 2, cx, cy + hy);
      Triangle(p, cx, cy - hy + 2, TDir::Up, t);
      break;
    case TStripGlyph::ExpandUp:
      p.drawLine(cx - hx, cy + hy, cx + hx, cy + hy);
      p.drawLine(cx, cy - hy + t, cx, cy + hy - 2);
      Triangle(p, cx, cy - hy, TDir::Up, t);
      break;
    case TStripGlyph::ContractDown:
      p.drawLine(cx - hx, cy + hy, cx + hx, cy + hy);
      p.drawLine(cx, cy - hy, cx, cy + hy - t - 2);
      Triangle(p, cx, cy + hy - 2, TDir::Down, t);
      break;
    case TStripGlyph::ExpandCenter:  // centre line, arrows moving away from it
      p.drawLine(cx - hx, cy, cx + hx, cy);
      Triangle(p, cx, cy - hy, TDir::Up, t);
      Triangle(p, cx, cy + hy, TDir::Down, t);
      break;
    case TStripGlyph::ContractCenter:  // arrows pointing at the centre line
      p.drawLine(cx - hx, cy, cx + hx, cy);
      Triangle(p, cx, cy - 2, TDir::Down, t);
      Triangle(p, cx, cy + 2, TDir::Up, t);
      break;
    case TStripGlyph::TranslateUp:
      p.drawLine(cx, cy - hy + t, cx, cy + hy);
      p.drawLine(cx + 1, cy - hy + t, cx + 1, cy + hy);
      Triangle(p, cx, cy - hy, TDir::Up, t + 1);
      break;
    case TStripGlyph::TranslateDown:
      p.drawLine(cx, cy - hy, cx, cy + hy - t);
      p.drawLine(cx + 1, cy - hy, cx + 1, cy + hy - t);
      Triangle(p, cx, cy + hy, TDir::Down, t + 1);
      break;
    case TStripGlyph::CursorExpand:  // cursor line with arrows moving away on both sides
      p.drawLine(cx, cy - hy, cx, cy + hy);
      Triangle(p, cx - hx - 2, cy, TDir::Left, t);
      Triangle(p, cx + hx + 2, cy, TDir::Right, t);
      break;
    case TStripGlyph::CursorContract:  // arrows pointing at the cursor line
      p.drawLine(cx, cy - hy, cx, cy + hy);
      Triangle(p, cx - 2, cy, TDir::Right, t);
      Triangle(p, cx + 2, cy, TDir::Left, t);
      break;
  }
  p.restore();
}

TStripButton::TStripButton(QWidget* parent, TStripGlyph glyph, const QString& caption,
                           const QString& hint, const QColor& fontColour)
    : QAbstractButton(parent), glyph_(glyph), hint_(hint), fontColour_(fontColour) {
  setText(caption);
  setToolTip(HintToToolTip(hint));
  setFocusPolicy(Qt::NoFocus);
  QFont f = font();
  f.setPixelSize(11);
  setFont(f);
}

void TStripButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  const bool down = isDown();
  p.fillRect(r, kFace);
  // Raised (or, while held down, sunken) bevel.
  p.setPen(down ? kDark : kLight);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(down ? kLight : kDark);
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  p.setPen(down ? kFace : kShadow);
  p.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
  p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
  QRect inner = r.adjusted(1, 1, -2, -2);
  if (down) inner.translate(1, 1);
  if (glyph_ != TStripGlyph::None) {
    DrawStripGlyph(p, inner, glyph_, isEnabled() ? fontColour_ : kShadow);
  } else {
    p.setPen(isEnabled() ? fontColour_ : kShadow);
    p.drawText(inner, Qt::AlignCenter, text());
  }
}

void TStripButton::mousePressEvent(QMouseEvent* event) {
  pressModifiers_ = event->modifiers();
  if (event->button() == Qt::RightButton) {
    rightDown_ = true;
    event->accept();
    return;
  }
  QAbstractButton::mousePressEvent(event);
  if (event->button() == Qt::LeftButton) emit LeftDown();
}

void TStripButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    bool inside = rect().contains(event->position().toPoint());
    if (rightDown_ && inside) emit RightClicked();
    rightDown_ = false;
    event->accept();
    return;
  }
  // The click (when released on the button) comes first, then the release wherever it was.
  QAbstractButton::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) emit LeftUp();
}

TStripToolBar::TStripToolBar(QWidget* parent, const QColor& colour, const QString& hint)
    : QWidget(parent), colour_(colour), hint_(hint) {
  if (!hint.isEmpty()) setToolTip(HintToToolTip(hint));
}

void TStripToolBar::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(event->rect(), colour_);
}

void TStripToolBar::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
  event->accept();
}

}  // namespace qvl
