#include "viewer/qt_text.h"

#include "core/util/cp1252.h"

namespace qvl {

QString Cp1252ToQString(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string QStringToCp1252(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

}  // namespace qvl
