#pragma once

// The program's directory: where the executable lives and where it keeps Danhao.edb and set.ini.

#include <string>

namespace kuvona {

// The directory of `executablePath`: the path cut at its last separator, never ending in one
// ("/opt/kuvona/kuvona" gives "/opt/kuvona"; "/kuvona" gives "", the root).
std::string directoryOf(const std::string& executablePath);

// Determined once from the running executable (/proc/self/exe) by initProgramDirectory(), which
// also makes it the working directory. Empty before.
const std::string& programDirectory();
bool initProgramDirectory();
// Sets the program's directory without touching the working directory (tests, tools).
void setProgramDirectory(const std::string& dir);

// programDirectory() + "/" + fileName.
std::string programFile(const std::string& fileName);

} // namespace kuvona
