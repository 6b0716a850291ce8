#include "common/open_url.h"

#include <QDesktopServices>
#include <QUrl>

#include "platform/ui_text.h"

namespace kuvona {

void openUrl(const std::string& url)
{
    QDesktopServices::openUrl(QUrl(toQString(url), QUrl::TolerantMode));
}

} // namespace kuvona
