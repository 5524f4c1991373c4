// The small buttons of the strip chart's toolbars, with glyphs drawn by the chart itself, and
// the toolbar panels they sit on.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>
#include <QWidget>

namespace qvl {

enum class TStripGlyph {
  None,
  ExpandRight,
  ContractLeft,
  ExpandLeft,
  ContractRight,
  ExpandDown,
  ContractUp,
  ExpandUp,
  ContractDown,
  ExpandCenter,
  ContractCenter,
  TranslateUp,
  TranslateDown,
  CursorExpand,
  CursorContract,
};

// Draws `glyph` centred in `rect` in `colour`.
void DrawStripGlyph(class QPainter& painter, const QRect& rect, TStripGlyph glyph,
                    const QColor& colour);

// Turns a hint with "\r" line breaks into tool tip text.
QString HintToToolTip(const QString& hint);

// A flat raised button showing a glyph or a caption. It reports the modifier keys held when it
// was pressed and a click with the right mouse button.
class TStripButton : public QAbstractButton {
  Q_OBJECT
 public:
  TStripButton(QWidget* parent, TStripGlyph glyph, const QString& caption, const QString& hint,
               const QColor& fontColour);

  TStripGlyph Glyph() const { return glyph_; }
  QString Caption() const { return text(); }
  // The hint exactly as given ("\r" separates its lines).
  const QString& Hint() const { return hint_; }
  Qt::KeyboardModifiers PressModifiers() const { return pressModifiers_; }

 signals:
  void RightClicked();
  // The left mouse button went down on the button, and came up again wherever the mouse was.
  void LeftDown();
  void LeftUp();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TStripGlyph glyph_;
  QString hint_;
  QColor fontColour_;
  Qt::KeyboardModifiers pressModifiers_;
  bool rightDown_ = false;
};

// A plain coloured panel that holds buttons and reports a double click.
class TStripToolBar : public QWidget {
  Q_OBJECT
 public:
  TStripToolBar(QWidget* parent, const QColor& colour, const QString& hint);
  const QString& Hint() const { return hint_; }

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QColor colour_;
  QString hint_;
};

}  // namespace qvl
