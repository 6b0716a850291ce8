#include "common/hosts.h"

#include <cstdlib>

namespace kuvona {

std::string hostOverride(const char* variable, const std::string& fallback)
{
    const char* value = std::getenv(variable);
    return value && *value ? std::string(value) : fallback;
}

std::string homepageHost()
{
    return hostOverride("KUVONA_HOMEPAGE_HOST", "www.kuvona.cn");
}

std::string homepageUrl()
{
    return "http://" + homepageHost();
}

} // namespace kuvona
