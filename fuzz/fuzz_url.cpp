// URL routines: any text gives a host without capitals or ":", and a path that begins with "/".

#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string url(reinterpret_cast<const char*>(data), size);
    const std::string host = kuvona::urlHost(url);
    const std::string path = kuvona::urlPath(url);
    (void)kuvona::urlPort(url);
    if (path.empty() || path.front() != '/')
        std::abort();
    for (std::size_t i = 0; i < host.size(); ++i) {
        const auto c = static_cast<unsigned char>(host[i]);
        if (c >= 0x80) {
            ++i;
            continue;
        }
        if (c == ':' || c == 0 || (c >= 'A' && c <= 'Z'))
            std::abort();
    }
    return 0;
}
