#pragma once

#include <string>

namespace kuvona {

// Shows the URL in the user's default browser. Whether that worked is not looked at.
void openUrl(const std::string& url);

} // namespace kuvona
