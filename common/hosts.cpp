#include "common/hosts.h"

#include <cstdlib>
#include <iostream>
#include <mutex>
#include <set>

namespace kuvona {
namespace {

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLabelChar(char c)
{
    return isAsciiDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

// Dot-separated labels of letters, digits and inner hyphens; an IPv4 address is one of these too.
bool isHostName(std::string_view name)
{
    if (name.empty() || name.size() > 253)
        return false;
    std::size_t from = 0;
    for (;;) {
        const std::size_t dot = name.find('.', from);
        const std::string_view label = name.substr(from, dot == std::string_view::npos ? dot : dot - from);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!isLabelChar(c))
                return false;
        if (dot == std::string_view::npos)
            return true;
        from = dot + 1;
    }
}

bool isIpv6Literal(std::string_view inner)
{
    if (inner.size() < 2 || inner.find(':') == std::string_view::npos)
        return false;
    for (char c : inner)
        if (!(isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'))
            return false;
    return true;
}

bool isPort(std::string_view port)
{
    if (port.empty() || port.size() > 5)
        return false;
    long value = 0;
    for (char c : port) {
        if (!isAsciiDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

// Each refused variable is reported once, however often the host is asked for.
void reportRefused(const char* variable, std::string_view value)
{
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard lock(mutex);
    if (!reported.insert(variable).second)
        return;
    std::cerr << "kuvona: " << variable << "=\"" << value
              << "\" is not a host or host:port; no request is sent to any host for it\n";
}

} // namespace

bool isPlainHost(std::string_view host)
{
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos || !isIpv6Literal(host.substr(1, close - 1)))
            return false;
        const std::string_view after = host.substr(close + 1);
        return after.empty() || (after.front() == ':' && isPort(after.substr(1)));
    }
    const std::size_t colon = host.find(':');
    if (colon == std::string_view::npos)
        return isHostName(host);
    return isHostName(host.substr(0, colon)) && isPort(host.substr(colon + 1));
}

std::string hostFromEnvironment(const char* variable, std::string_view builtIn)
{
    const char* value = std::getenv(variable);
    if (!value || !*value)
        return std::string(builtIn);
    if (isPlainHost(value))
        return value;
    reportRefused(variable, value);
    return {};
}

std::string homepageHost()
{
    return hostFromEnvironment("KUVONA_HOMEPAGE_HOST", "www.kuvona.cn");
}

std::string homepageUrl()
{
    const std::string host = homepageHost();
    return host.empty() ? std::string() : "http://" + host;
}

} // namespace kuvona
