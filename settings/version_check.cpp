#include "settings/version_check.h"

#include "common/hosts.h"
#include "common/text.h"

namespace kuvona {

bool newerVersionAvailable(const std::string& body, const std::string& appVersion)
{
    const double remote = textToNumber(body);
    const double local = textToNumber(appVersion);
    return remote - local > newerVersionMargin;
}

std::string updateCheckUrl()
{
    const std::string homepage = homepageUrl();
    return homepage.empty() ? std::string() : homepage + "/soft/updata.gif";
}

} // namespace kuvona
