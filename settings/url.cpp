#include "settings/url.h"

#include <cmath>
#include <limits>

#include "common/text.h"

namespace kuvona {
namespace {

bool hasScheme(const std::string& url)
{
    return equalIgnoringAsciiCase(textLeft(url, 7), "http://");
}

// The host with its port, as it stands between the scheme and the first "/".
std::string hostPart(const std::string& url)
{
    if (!hasScheme(url)) {
        const int slash = findText(url, "/");
        return slash == -1 ? url : textLeft(url, slash - 1);
    }
    const int slash = findText(url, "/", 8);
    if (slash == -1)
        return textRight(url, textLength(url) - 7);
    return url.substr(7, static_cast<std::size_t>(slash - 8));
}

} // namespace

std::string urlHost(const std::string& url)
{
    std::string host = hostPart(bytesToText(url));
    const int colon = findText(host, ":");
    if (colon != -1)
        host = textLeft(host, colon - 1);
    // Only ASCII letters are lowered; a double-byte character keeps its trail byte even where that
    // byte falls in the range of the capitals.
    for (std::size_t i = 0; i < host.size(); ++i) {
        const auto c = static_cast<unsigned char>(host[i]);
        if (c >= 0x80)
            ++i;
        else if (c >= 'A' && c <= 'Z')
            host[i] = static_cast<char>(c - 'A' + 'a');
    }
    return host;
}

std::int32_t urlPort(const std::string& url)
{
    const std::string host = hostPart(bytesToText(url));
    const int colon = findText(host, ":");
    const std::string portText = colon == -1 ? std::string("80") : textRight(host, textLength(host) - colon);
    const double port = std::trunc(textToNumber(portText));
    if (std::isnan(port))
        return 0;
    if (port <= std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (port >= std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(port);
}

std::string urlPath(const std::string& url)
{
    const std::string u = bytesToText(url);
    const std::string host = urlHost(u);
    // The host is searched where it stands, after the scheme: a short host such as "t" or "p" would
    // otherwise be found inside "http" and the path would begin at the scheme's "//".
    const int at = findText(u, host, hasScheme(u) ? 8 : 1, true);
    const int slash = at == -1 ? -1 : findText(u, "/", at);
    if (slash == -1)
        return "/";
    return textRight(u, textLength(u) - slash + 1);
}

} // namespace kuvona
