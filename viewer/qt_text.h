// Text between the model and Qt: the logger's and the log files' strings are Windows-1252, Qt's
// are Unicode.
#pragma once

#include <QString>
#include <string>

namespace qvl {

QString Cp1252ToQString(const std::string& text);
// Characters Windows-1252 cannot hold become '?'.
std::string QStringToCp1252(const QString& text);

}  // namespace qvl
