#include "settings/ini.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "settings/ini_text.h"

namespace kuvona {
namespace {

// The profile functions serialise every access of a process; a read-modify-write must not
// interleave with another thread's, or one of the two writes would be lost.
std::mutex& iniMutex()
{
    static std::mutex m;
    return m;
}

std::string skipLeadingControls(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 0x20)
        ++i;
    return s.substr(i);
}

enum class ReadResult
{
    Ok,
    Missing,
    Failed,
};

// Only a regular file is read, and only up to iniFileLimit bytes: a FIFO would block the caller for
// good, a device such as /dev/zero would never end, and neither is a settings file. O_NONBLOCK keeps
// the open itself from waiting for a FIFO's writer; it changes nothing for a regular file.
ReadResult readWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st
    {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > iniFileLimit) {
        ::close(fd);
        return ReadResult::Failed;
    }
    char buffer[16384];
    for (;;) {
        // One byte past the limit tells a file that grew since the fstat.
        const std::size_t room = iniFileLimit + 1 - out.size();
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, room));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || out.size() + static_cast<std::size_t>(n) > iniFileLimit) {
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

bool writeAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A symbolic link keeps pointing at the file it names: the replacement goes to its target.
std::string resolvedTarget(const std::string& path)
{
    struct stat st
    {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            return resolved;
    }
    return path;
}

bool replaceFile(const std::string& path, const std::string& content)
{
    const std::string target = resolvedTarget(path);
    struct stat old
    {};
    const bool existed = ::stat(target.c_str(), &old) == 0;

    static std::atomic<unsigned> counter{0};
    const std::string temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    // 0666 lets the umask decide, as for any new file; an existing file keeps its own mode below.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, content);
    if (ok && existed)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

std::string cutToLimit(std::string value)
{
    if (value.size() <= iniValueLimit)
        return value;
    // Count whole characters up to the limit so that no lead byte is left without its trail byte.
    std::size_t i = 0;
    while (i < iniValueLimit) {
        const std::size_t width = static_cast<unsigned char>(value[i]) >= 0x80 ? 2 : 1;
        if (i + width > iniValueLimit)
            break;
        i += width;
    }
    value.resize(i);
    return value;
}

std::string withoutTrailingBlanks(std::string s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

} // namespace

std::string readIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                         const std::string& defaultValue)
{
    const std::string file = bytesToText(skipLeadingControls(fileName));
    const std::string sec = bytesToText(skipLeadingControls(section));
    const std::string k = bytesToText(skipLeadingControls(key));
    if (file.empty() || sec.empty() || k.empty())
        return {};

    std::string content;
    std::optional<std::string> value;
    {
        std::lock_guard lock(iniMutex());
        if (readWholeFile(file, content) == ReadResult::Ok)
            value = ini::findValue(content, sec, k);
    }
    return bytesToText(
        cutToLimit(value ? std::move(*value) : withoutTrailingBlanks(bytesToText(defaultValue))));
}

bool writeIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value)
{
    const std::string file = bytesToText(fileName);
    if (file.empty())
        return false;
    std::lock_guard lock(iniMutex());
    std::string content;
    if (readWholeFile(file, content) == ReadResult::Failed)
        return false;
    const std::optional<std::string> updated =
        ini::withValue(content, bytesToText(section), bytesToText(key), bytesToText(value));
    if (!updated)
        return false;
    if (*updated == content)
        return true;
    return replaceFile(file, *updated);
}

} // namespace kuvona
