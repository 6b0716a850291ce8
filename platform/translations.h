#pragma once

#include <QLocale>

namespace kuvona {

// Makes standard buttons and dialogs speak the locale's language, as the system's own boxes do
// (确定 and 取消 on a Chinese desktop). Returns false when no translation for it is installed.
bool loadToolkitTranslations(const QLocale& locale = QLocale());

} // namespace kuvona
