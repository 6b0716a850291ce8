#pragma once

// The widget boundary: widgets hold QString, the program holds GBK bytes.

#include <QString>
#include <string>

namespace kuvona {

QString toQString(const std::string& gbkText);
std::string fromQString(const QString& text);

} // namespace kuvona
