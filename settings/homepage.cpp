#include "settings/homepage.h"

#include <cstdlib>

#include "common/text.h"

namespace kuvona {

std::string homepageHost()
{
    const char* env = std::getenv("KUVONA_HOMEPAGE_HOST");
    if (env) {
        const std::string host = trimBlanks(env);
        if (!host.empty())
            return host;
    }
    return defaultHomepageHost;
}

std::string homepageUrl()
{
    return "http://" + homepageHost();
}

std::string updateCheckUrl()
{
    return homepageUrl() + "/soft/updata.gif";
}

} // namespace kuvona
