#pragma once

// One HTTP GET that never reports an error: whatever body arrives is the result.
//
// Built on libcurl, kept in its own library (kuvona_query_net) so that code without network access,
// the fuzz targets among it, need not link it. Safe to call from several threads at once.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kuvona {

// The most body bytes a fetch keeps; a longer body is cut there and the transfer ended. The largest
// real answer is a few kilobytes, so this only stops a broken or hostile server from exhausting memory.
inline constexpr std::size_t httpMaxBodyBytes = 8 * 1024 * 1024;

inline constexpr std::string_view httpUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// A URL taken apart into the fixed-size parts of the request: host up to 255 bytes, path with query
// (and fragment) up to 2047, user name and password up to 127 each.
struct UrlParts
{
    std::string scheme; // "http" or "https", lower case
    std::string host;   // as written, IPv6 addresses with their brackets
    int port = 0;       // the scheme's default when the URL names none
    std::string userName;
    std::string password;
    std::string pathWithQuery; // begins with "/"; still holds a "#fragment"
};

// Null for a URL that is not http(s), has no host or a bad port, or has a part too long for its buffer.
std::optional<UrlParts> splitUrl(std::string_view url);

// The request target: the path with query cut before the first "#".
std::string requestTarget(const UrlParts& parts);

// GET `url` with HTTP/1.0, user agent httpUserAgent, "Accept: */*" and headers that make every cache
// fetch from the server; redirects (http and https only, at most 10) are followed and the response
// status is ignored. The environment's proxy settings (http_proxy, https_proxy, all_proxy, no_proxy)
// apply. Any failure yields the bytes received so far: empty for an empty or unusable URL, an
// unreachable host, or a fetch begun after this thread's worker was stopped (platform/cancel.h). A stop
// during the transfer ends it within a few tens of milliseconds.
//
// Time-outs: 15 s to connect; a server that sends nothing for 30 s is given up. A slow but living
// answer is read to its end (the user can stop it).
std::string httpGetBytes(const std::string& url);

// The same with a body limit other than httpMaxBodyBytes.
std::string httpGetBytes(const std::string& url, std::size_t maxBodyBytes);

} // namespace kuvona
