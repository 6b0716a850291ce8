#pragma once

// The program's icon, the same drawing the desktop's menu shows, in every size it was rendered to.

#include <QIcon>

namespace kuvona {

QIcon applicationIcon();

} // namespace kuvona
