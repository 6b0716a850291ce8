#pragma once

// The tracking service's query URL.

#include <string>
#include <string_view>

namespace kuvona {

inline constexpr std::string_view queryAccountId = "581720";
inline constexpr std::string_view queryApiSecret = "7b1e04c9a2d85f36e0c4b97a1d3f2e58";
inline constexpr std::string_view defaultQueryHost = "api.ickd.cn";

// The host (or host:port) of the query endpoint: the environment variable KUVONA_QUERY_HOST when it
// is set, else defaultQueryHost; empty when the variable holds no plain host (hostFromEnvironment in
// common/hosts.h). Read on every call, so a test or a local service can redirect the program without
// rebuilding it.
std::string queryHost();

// Every byte outside the URL-unreserved set (ASCII letters, digits, "-", ".", "_", "~") as %XX with
// upper-case hex. GBK bytes are encoded byte by byte; the service decodes them back to the same bytes.
std::string percentEncode(std::string_view bytes);

// "http://" host "/?id=…&secret=…&com=" code "&nu=" number "&type=html". The number is
// percent-encoded: raw, an "&" in it would add query keys, a "#" would cut it off with the type key,
// and a blank would break the request line.
std::string buildQueryUrl(std::string_view host, std::string_view carrierCode, std::string_view number);

// The same with queryHost(); the empty text, which fetches nothing, when queryHost() is empty.
std::string buildQueryUrl(std::string_view carrierCode, std::string_view number);

} // namespace kuvona
