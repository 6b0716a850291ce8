#pragma once

// Hosts of the two web endpoints the program calls, each overridable from the environment so the
// tests and the demo can point the program at the reference service on loopback.

#include <string>

namespace kuvona {

// The value of `variable` (host or host:port) when set and not empty, else `fallback`.
std::string hostOverride(const char* variable, const std::string& fallback);

// The maker's site: KUVONA_HOMEPAGE_HOST, else the built-in host.
std::string homepageHost();
// "http://" + homepageHost(), with no path.
std::string homepageUrl();

} // namespace kuvona
