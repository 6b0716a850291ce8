#pragma once

#include <QFont>

namespace kuvona {

// 宋体 (SimSun) at a pixel size where it is installed, else the nearest font with the Chinese
// characters and, like 宋体, half-width Latin letters of fixed width.
QFont songtiFont(int pixelSize, bool bold = false);

// The default dialog font: 宋体 at 12 pixels.
QFont dialogFont();

} // namespace kuvona
