#include "platform/program_dir.h"

#include <climits>

#include <unistd.h>

namespace kuvona {
namespace {

std::string g_programDirectory;

} // namespace

std::string directoryOf(const std::string& executablePath)
{
    const auto slash = executablePath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return executablePath.substr(0, slash);
}

const std::string& programDirectory()
{
    return g_programDirectory;
}

bool initProgramDirectory()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return false;
    g_programDirectory = directoryOf(std::string(path, static_cast<std::size_t>(n)));
    return chdir(g_programDirectory.empty() ? "/" : g_programDirectory.c_str()) == 0;
}

void setProgramDirectory(const std::string& dir)
{
    g_programDirectory = dir;
}

std::string programFile(const std::string& fileName)
{
    return g_programDirectory + "/" + fileName;
}

} // namespace kuvona
