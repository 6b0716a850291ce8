#include "platform/ui_text.h"

#include "common/gbk.h"

namespace kuvona {

QString toQString(const std::string& gbkText)
{
    return QString::fromStdString(utf8FromGbk(gbkText));
}

std::string fromQString(const QString& text)
{
    return gbk(text.toStdString());
}

} // namespace kuvona
