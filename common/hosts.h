#pragma once

// Hosts of the two web endpoints the program calls, each overridable from the environment so the
// tests and the demo can point the program at the reference service on loopback.

#include <string>
#include <string_view>

namespace kuvona {

// A host name, an IPv4 address or a bracketed IPv6 address, optionally followed by ":" and a port
// of 1 to 65535; nothing else (no scheme, path, user info or blanks).
bool isPlainHost(std::string_view host);

// The value of `variable` when it is set, not empty and a plain host; `builtIn` when it is unset or
// empty; the empty text when its value is anything else. Such a value is refused rather than
// replaced by the built-in host: the user meant to send the request elsewhere, so it goes nowhere.
// The first refusal of each variable is reported on standard error.
std::string hostFromEnvironment(const char* variable, std::string_view builtIn);

// The maker's site: KUVONA_HOMEPAGE_HOST, else the built-in host; empty when the variable is refused.
std::string homepageHost();
// "http://" + homepageHost(), with no path; empty when homepageHost() is.
std::string homepageUrl();

} // namespace kuvona
