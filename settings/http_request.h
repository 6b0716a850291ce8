#pragma once

// The program's own HTTP request routine (the update check's download), on libcurl.
//
// It behaves as the Windows Internet functions it stands in for: HTTP/1.1, an Internet Explorer 6
// user agent, direct access or an "http=" proxy, always fetched from the server, three time-outs of
// 18 s, and the body returned whatever the status.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kuvona {

inline constexpr const char* httpRequestUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
inline constexpr const char* httpRequestDefaultAccept =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";

// A body is kept up to this many bytes; the transfer ends there and the bytes so far are returned.
inline constexpr std::size_t httpRequestBodyLimit = 8u * 1024u * 1024u;
// The response header block is handed out only when it fits into this buffer with its zero byte.
inline constexpr std::size_t httpRequestHeaderBuffer = 1024;

// Milliseconds. The connect time-out bounds name resolution and connecting; the receive and send
// time-outs bound a wait in which no byte arrives or leaves.
struct HttpTimeouts
{
    int connectMs = 18000;
    int receiveMs = 18000;
    int sendMs = 18000;
};

// Sends one request and returns the response body up to its first zero byte; the empty text on
// failure (a refused or timed-out connection, a host that cannot be resolved, a port outside 0-65535).
//
// - method: any text whose upper-case form is not "POST" sends a GET; otherwise the text is sent as
//   the verb unchanged ("post" stays lower case). Absent counts as empty.
// - proxy: when given (even empty), the request goes through the proxy "http=" + proxy names;
//   absent means a direct connection (environment proxy settings are ignored either way).
// - extraHeaders: header lines, each ending in CR LF, sent before the lines added here: Accept,
//   Referer (the url) and Accept-Language, each only when extraHeaders does not already hold it
//   (searched without regard to ASCII case).
// - postData: the body of a POST; with a non-empty body Content-Type (form-urlencoded) and
//   Content-Length lines are added. A GET sends no body.
// - responseHeaders: when given, receives the raw header block of the final response (status line
//   and header lines, each ending in CR LF, and the closing empty line), or 1024 blanks when the block
//   does not fit into 1024 bytes or no response came.
//
// Redirects of a GET are followed (http only). On a worker thread the transfer stops as soon as the
// worker is stopped (platform/cancel.h).
std::string httpRequest(const std::string& url, const std::optional<std::string>& method = std::nullopt,
                        const std::optional<std::string>& proxy = std::nullopt,
                        const std::optional<std::string>& extraHeaders = std::nullopt,
                        const std::optional<std::string>& postData = std::nullopt,
                        std::string* responseHeaders = nullptr, const HttpTimeouts& timeouts = {});

} // namespace kuvona
