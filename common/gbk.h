#pragma once

// Conversions between the program's GBK texts and UTF-8.
//
// Core code keeps texts as GBK bytes; these are used for literals written readably in UTF-8 source
// (gbk("提示")) and at the boundary to the widgets and the terminal.

#include <string>
#include <string_view>

namespace kuvona {

// UTF-8 to GBK. A character GBK cannot hold becomes "?".
std::string gbk(std::string_view utf8);

// GBK to UTF-8. A byte sequence that is not GBK (a double-byte character cut in two, say) becomes
// U+FFFD per bad byte, so a damaged text still shows.
std::string utf8FromGbk(std::string_view gbkText);

} // namespace kuvona
