#pragma once

// The orderly stop for inconsistencies a command cannot go on from.
//
// Code without widgets (the store, the fuzz targets, the command-line tools) raises it through this
// hook; the application installs a handler that shows the error box and ends the process.

#include <string>

namespace kuvona {

using FatalHandler = void (*)(int code, const std::string& message);

// Installs the handler; returns the previous one. A handler must not return; if it does, the
// process ends with exit status -1.
FatalHandler setFatalHandler(FatalHandler handler);

// The text the error box shows: "运行时出错!" and, when given, the code and the message (GBK).
std::string fatalErrorText(int code, const std::string& message);

[[noreturn]] void fatalRuntimeError(int code, const std::string& message);

} // namespace kuvona
