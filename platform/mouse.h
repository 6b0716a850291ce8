#pragma once

namespace kuvona {

// The left mouse button's state now, independent of any event's flags.
bool leftMouseButtonDown();

} // namespace kuvona
