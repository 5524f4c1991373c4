// Windows-1252 <-> UTF-8. The model's strings are Windows-1252 bytes, as in the files; windows
// and JSON output speak UTF-8.
#pragma once

#include <string>

namespace qvl {

std::string Cp1252ToUtf8(const std::string& text);
// Characters that Windows-1252 cannot hold become '?'.
std::string Utf8ToCp1252(const std::string& text);

}  // namespace qvl
