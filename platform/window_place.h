#pragma once

// Where the program's windows open.

class QWidget;

namespace kuvona {

// Moves the top-level window so that its frame is centred in the available area of the screen
// its parent window is on (the primary screen for a window without a parent). Called before the
// window is first shown, it also keeps a dialog from being centred on its parent.
void centreOnScreen(QWidget* window);

} // namespace kuvona
