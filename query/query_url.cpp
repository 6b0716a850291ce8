#include "query/query_url.h"

#include <cstdlib>

namespace kuvona {
namespace {

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// A host name, an IPv4 address or a bracketed IPv6 address, with an optional port. Anything else in
// the variable (a path, user info, blanks) would turn the query into a different request.
bool isPlainHost(std::string_view host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (unsigned char c : host) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '.' || c == ':' || c == '[' || c == ']';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

std::string queryHost()
{
    const char* fromEnvironment = std::getenv("KUVONA_QUERY_HOST");
    if (fromEnvironment && isPlainHost(fromEnvironment))
        return fromEnvironment;
    return std::string(defaultQueryHost);
}

std::string percentEncode(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

std::string buildQueryUrl(std::string_view host, std::string_view carrierCode, std::string_view number)
{
    std::string url = "http://";
    url += host;
    url += "/?id=";
    url += queryAccountId;
    url += "&secret=";
    url += queryApiSecret;
    url += "&com=";
    url += carrierCode;
    url += "&nu=";
    url += percentEncode(number);
    url += "&type=html";
    return url;
}

std::string buildQueryUrl(std::string_view carrierCode, std::string_view number)
{
    return buildQueryUrl(queryHost(), carrierCode, number);
}

} // namespace kuvona
