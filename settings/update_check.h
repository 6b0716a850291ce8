#pragma once

// The Help menu's update check: asks the maker's site for the newest version number on a worker
// thread and offers the homepage when it is newer than the running version.

#include <functional>
#include <string>

#include "platform/worker.h"
#include "settings/http_request.h"

namespace kuvona {

struct UpdateCheckOptions
{
    std::string versionUrl;                          // empty: updateCheckUrl()
    HttpTimeouts timeouts;                           // the request's time-outs (18 s each)
    std::function<void(const std::string&)> openUrl; // empty: the default browser (common/open_url.h)
};

// The body of the update worker: fetches the version file, compares it with `appVersion` and shows
// "发现更新，是否访问主页进行下载？" (OK opens the homepage) or "本软件已是最新版本，不需要更新！".
// A failed download counts as version 0. Shows nothing once its worker has been stopped.
void checkForUpdate(const std::string& appVersion, const UpdateCheckOptions& options = {});

// Starts checkForUpdate on a worker of its own and returns at once with the worker's id, which the
// caller keeps as the latest worker (workerThread). Call on the user-interface thread.
WorkerId startUpdateCheck(const std::string& appVersion);

} // namespace kuvona
