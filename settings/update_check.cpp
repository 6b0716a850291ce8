#include "settings/update_check.h"

#include "common/gbk.h"
#include "common/hosts.h"
#include "common/open_url.h"
#include "platform/cancel.h"
#include "platform/message_box.h"
#include "settings/version_check.h"

namespace kuvona {

void checkForUpdate(const std::string& appVersion, const UpdateCheckOptions& options)
{
    const std::string url = options.versionUrl.empty() ? updateCheckUrl() : options.versionUrl;
    // No URL (a refused host) is a failed request: nothing is sent, the body is empty.
    const std::string body = url.empty() ? std::string()
                                         : httpRequest(url, std::nullopt, std::nullopt, std::nullopt,
                                                       std::nullopt, nullptr, options.timeouts);
    if (cancellationRequested())
        return;

    if (!newerVersionAvailable(body, appVersion)) {
        messageBox(gbk("本软件已是最新版本，不需要更新！"), gbk("无更新"), BoxInfoOk);
        return;
    }
    if (messageBox(gbk("发现更新，是否访问主页进行下载？"), gbk("检查更新"), BoxInfoOkCancel) != 0)
        return;
    const std::string homepage = homepageUrl();
    // The browser is started from the user-interface thread, where the desktop services live.
    runOnUiThread([&] {
        if (options.openUrl)
            options.openUrl(homepage);
        else
            openUrl(homepage);
    });
}

WorkerId startUpdateCheck(const std::string& appVersion)
{
    return startWorker([appVersion] { checkForUpdate(appVersion); });
}

} // namespace kuvona
