#include "query/query_url.h"

#include "common/hosts.h"

namespace kuvona {
namespace {

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string queryHost()
{
    return hostFromEnvironment("KUVONA_QUERY_HOST", defaultQueryHost);
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
    const std::string host = queryHost();
    return host.empty() ? std::string() : buildQueryUrl(host, carrierCode, number);
}

} // namespace kuvona
