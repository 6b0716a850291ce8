#include "common/open_url.h"

#include <QDesktopServices>
#include <QUrl>
#include <cstdlib>
#include <fstream>

#include "platform/ui_text.h"

namespace kuvona {
namespace {

std::function<void(const std::string&)>& handler()
{
    static std::function<void(const std::string&)> h;
    return h;
}

} // namespace

void setOpenUrlHandler(std::function<void(const std::string&)> h)
{
    handler() = std::move(h);
}

void openUrl(const std::string& url)
{
    if (handler()) {
        handler()(url);
        return;
    }
    if (const char* log = std::getenv("KUVONA_OPENURL_LOG"); log && *log) {
        std::ofstream(log, std::ios::app | std::ios::binary) << url << '\n';
        return;
    }
    QDesktopServices::openUrl(QUrl(toQString(url), QUrl::TolerantMode));
}

} // namespace kuvona
