#pragma once

#include <functional>
#include <string>

namespace kuvona {

// Shows the URL in the user's default browser. Whether that worked is not looked at.
void openUrl(const std::string& url);

// Test seam: while a handler is set, URLs go to it instead of the browser. In a child process,
// KUVONA_OPENURL_LOG=file appends each URL as a line instead.
void setOpenUrlHandler(std::function<void(const std::string&)> handler);

} // namespace kuvona
