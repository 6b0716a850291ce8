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
    return homepageUrl() + "/soft/updata.gif";
}

} // namespace kuvona
