#pragma once

// The update check's version file and decision, apart from the network and the message boxes.

#include <string>

namespace kuvona {

// The site's version counts as newer only when it exceeds the local one by more than this, so that
// 2.10000001 against 2.1 is no update.
inline constexpr double newerVersionMargin = 1e-7;

// True when the version file's body (read as a number: leading blanks skipped, reading stops at the
// first character that cannot continue it, nothing numeric gives 0) is newer than `appVersion`.
bool newerVersionAvailable(const std::string& body, const std::string& appVersion);

// The version file on the maker's site: homepageUrl() (common/hosts.h) + "/soft/updata.gif"; empty
// when homepageUrl() is.
std::string updateCheckUrl();

} // namespace kuvona
