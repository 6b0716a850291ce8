// INI text: reading never fails, a write reads back, leaves every other entry alone and is idempotent.
//
// Input: content, section, key, value, other section, other key, separated by zero bytes.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "settings/ini_text.h"

namespace {

std::string_view trim(std::string_view s)
{
    const auto blank = [](char c) {
        return c == ' ' || (c >= '\t' && c <= '\r');
    };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (parts.size() < 5) {
        const std::size_t zero = input.find('\0', pos);
        if (zero == std::string_view::npos)
            break;
        parts.push_back(input.substr(pos, zero - pos));
        pos = zero + 1;
    }
    parts.push_back(input.substr(std::min(pos, input.size())));
    parts.resize(6);
    const std::string_view content = parts[0], section = parts[1], key = parts[2], value = parts[3],
                           otherSection = parts[4], otherKey = parts[5];

    (void)kuvona::ini::findValue(content, section, key);
    const auto written = kuvona::ini::withValue(content, section, key, value);
    if (!written)
        return 0;
    if (!kuvona::ini::storable(section, key, value))
        std::abort();
    if (kuvona::ini::findValue(*written, section, key) == std::nullopt)
        std::abort();
    const bool same = kuvona::equalIgnoringAsciiCase(trim(otherSection), trim(section)) &&
                      kuvona::equalIgnoringAsciiCase(trim(otherKey), trim(key));
    if (!same && kuvona::ini::findValue(content, otherSection, otherKey) !=
                     kuvona::ini::findValue(*written, otherSection, otherKey))
        std::abort();
    if (kuvona::ini::withValue(*written, section, key, value) != written)
        std::abort();
    return 0;
}
