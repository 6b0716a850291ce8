#include "platform/program_dir.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace kuvona {
namespace {

std::string g_programDirectory;
std::string g_dataDirectory;

bool isAbsolute(const char* path)
{
    return path && path[0] == '/';
}

// Makes `path` and its missing parents; an existing directory is fine.
bool makeDirectories(const std::string& path, std::string& error)
{
    std::string::size_type end = 0;
    do {
        end = path.find('/', end + 1);
        const std::string part = path.substr(0, end);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create the data folder " + path + ": " + std::strerror(errno);
            return false;
        }
    } while (end != std::string::npos);
    struct stat st
    {};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "cannot create the data folder " + path + ": " + std::strerror(ENOTDIR);
        return false;
    }
    return true;
}

} // namespace

std::string directoryOf(const std::string& executablePath)
{
    const auto slash = executablePath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return executablePath.substr(0, slash);
}

bool keepsFilesBesideProgram(const std::string& dir)
{
    const std::string installed[] = {KUVONA_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/bin"};
    for (const std::string& bin : installed)
        if (dir == bin)
            return false;
    return access(dir.empty() ? "/" : dir.c_str(), W_OK) == 0;
}

DataDirectory locateDataDirectory(const std::string& programDir, bool besideProgram, bool create)
{
    if (besideProgram)
        return {programDir, {}};
    const char* xdgDataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (isAbsolute(xdgDataHome))
        base = xdgDataHome;
    else if (isAbsolute(home))
        base = std::string(home) + "/.local/share";
    else
        return {{}, "no data folder: neither XDG_DATA_HOME nor HOME is an absolute path"};
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    DataDirectory result{(base == "/" ? "" : base) + "/kuvona", {}};
    if (create && !makeDirectories(result.path, result.error))
        result.path.clear();
    return result;
}

const std::string& programDirectory()
{
    return g_programDirectory;
}

const std::string& dataDirectory()
{
    return g_dataDirectory;
}

bool initProgramDirectory(bool create, std::string& error)
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        error = "cannot find the program's own file";
        return false;
    }
    g_programDirectory = directoryOf(std::string(path, static_cast<std::size_t>(n)));
    DataDirectory data =
        locateDataDirectory(g_programDirectory, keepsFilesBesideProgram(g_programDirectory), create);
    if (!data.error.empty()) {
        error = data.error;
        return false;
    }
    g_dataDirectory = data.path;
    // The program's relative paths, if any, mean its files; a tool keeps the user's working
    // directory, where the user's own relative paths point.
    if (create && chdir(g_dataDirectory.empty() ? "/" : g_dataDirectory.c_str()) != 0) {
        error = "cannot enter the data folder " + g_dataDirectory + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void setProgramDirectory(const std::string& dir)
{
    g_programDirectory = dir;
    g_dataDirectory = dir;
}

std::string programFile(const std::string& fileName)
{
    return g_dataDirectory + "/" + fileName;
}

} // namespace kuvona
