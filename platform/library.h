#pragma once

// Calls into an outside library file, found by name at run time.

#include <string>

namespace kuvona {

using LibraryFunction = void (*)();

// Loads `fileName` from `directory` first, then through the system's library search, and looks up
// `functionName`. Null when either is missing. A library once loaded stays loaded.
LibraryFunction loadLibraryFunction(const std::string& directory, const std::string& fileName,
                                    const std::string& functionName);

} // namespace kuvona
