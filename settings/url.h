#pragma once

// Splitting an http URL, with or without its "http://", into host, port and path for httpRequest.

#include <cstdint>
#include <string>

namespace kuvona {

// The host in lower case (ASCII letters), without the port.
std::string urlHost(const std::string& url);

// The number after the host's ":" with its fraction cut off, 80 without one, 0 when it is no number.
// Values beyond the 32-bit range are clamped to it.
std::int32_t urlPort(const std::string& url);

// Everything from the first "/" after the host to the end, query included; "/" when there is none.
std::string urlPath(const std::string& url);

} // namespace kuvona
