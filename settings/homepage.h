#pragma once

// The maker's web site: the homepage opened from the Help menu and the version file the update
// check reads.

#include <string>

namespace kuvona {

inline constexpr const char* defaultHomepageHost = "www.kuvona.com";

// The host (host or host:port) of the maker's site: the environment variable KUVONA_HOMEPAGE_HOST
// when it is set and not blank (a mirror, or a local server in tests), else defaultHomepageHost.
std::string homepageHost();

// "http://" + homepageHost(), without a path.
std::string homepageUrl();

// The version file: homepageUrl() + "/soft/updata.gif".
std::string updateCheckUrl();

} // namespace kuvona
