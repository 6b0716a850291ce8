#pragma once

// The widget boundary: widgets hold QString, the program holds GBK bytes.
//
// The round trip is exact for any bytes: a byte that is not part of a GBK character (a field cut
// inside a double-byte character, say) becomes U+DC80..U+DCFF in the QString and comes back as
// itself, so a text read from the store, shown in a list and written back stays byte for byte.

#include <QString>
#include <string>

namespace kuvona {

QString toQString(const std::string& gbkText);
std::string fromQString(const QString& text);

} // namespace kuvona
