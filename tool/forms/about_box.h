// TAboutBox: the tool's about box with its product name and version.
#pragma once

#include <QDialog>

namespace qvl {

inline constexpr const char kToolVersionText[] = "Version 2.11";

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // productName: the executable's file name without extension.
  explicit TAboutBox(const QString& productName, QWidget* parent = nullptr);
};

}  // namespace qvl
