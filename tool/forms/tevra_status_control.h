// TTevraStatusControl: the wireless link's signal indicator on the main window's side panel.
// It draws the level's image (30 x 24: five bars for levels 0 to 5, a crossed aerial for no
// link) and shows the link statistics as its hint; a click asks the adapter for its status.
#pragma once

#include <QWidget>
#include <functional>

namespace qvl {

class TTevraStatusControl : public QWidget {
  Q_OBJECT

 public:
  explicit TTevraStatusControl(QWidget* parent = nullptr);

  int Level() const { return level_; }
  // A different level is stored and repainted.
  void SetLevel(int level);
  void SetHint(const QString& hint);
  std::function<void()> OnClick;

  QSize sizeHint() const override { return {30, 24}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int level_ = 0;
};

}  // namespace qvl
