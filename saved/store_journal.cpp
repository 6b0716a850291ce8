#include "saved/store_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/unique_fd.h"
#include "saved/store_io.h"

namespace kuvona::store_journal {

namespace {

void putInt64(std::string& out, std::int64_t value)
{
    auto u = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i, u >>= 8)
        out += static_cast<char>(u & 0xFF);
}

std::int64_t getInt64(const std::string& in, std::size_t at)
{
    std::uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return static_cast<std::int64_t>(u);
}

std::uint64_t fnv1a(const char* data, std::size_t size)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < size; ++i) {
        h ^= static_cast<unsigned char>(data[i]);
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string directoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::string encode(const Journal& journal)
{
    std::string out(kMagic, sizeof kMagic);
    putInt64(out, journal.originalLength);
    putInt64(out, static_cast<std::int64_t>(journal.segments.size())); // count and the zero word
    for (const Segment& s : journal.segments) {
        putInt64(out, s.offset);
        putInt64(out, static_cast<std::int64_t>(s.bytes.size()));
        out += s.bytes;
    }
    putInt64(out, static_cast<std::int64_t>(fnv1a(out.data(), out.size())));
    return out;
}

bool decode(const std::string& bytes, Journal& journal)
{
    journal = Journal();
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (size < kHeaderSize + kChecksumSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return false;
    const std::int64_t body = size - kChecksumSize;
    if (static_cast<std::uint64_t>(getInt64(bytes, static_cast<std::size_t>(body))) !=
        fnv1a(bytes.data(), static_cast<std::size_t>(body)))
        return false;
    journal.originalLength = getInt64(bytes, 8);
    const std::int64_t count = getInt64(bytes, 16);
    if (journal.originalLength < 0 || journal.originalLength > kMaxOriginalLength || count < 0 ||
        count > kMaxSegments)
        return false;
    std::int64_t at = kHeaderSize;
    for (std::int64_t i = 0; i < count; ++i) {
        if (body - at < kSegmentHeaderSize)
            return false;
        Segment s;
        s.offset = getInt64(bytes, static_cast<std::size_t>(at));
        const std::int64_t length = getInt64(bytes, static_cast<std::size_t>(at + 8));
        at += kSegmentHeaderSize;
        // A segment outside the original file would make a rollback grow the file or write nonsense.
        if (s.offset < 0 || length < 0 || length > body - at || s.offset > journal.originalLength ||
            length > journal.originalLength - s.offset)
            return false;
        s.bytes = bytes.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
        at += length;
        journal.segments.push_back(std::move(s));
    }
    return at == body;
}

bool syncDirectoryOf(const std::string& path)
{
    UniqueFd dir(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.get() >= 0 && store_io::ops().fsync(dir.get()) == 0;
}

bool write(const std::string& path, const Journal& journal)
{
    const std::string bytes = encode(journal);
    bool ok = false;
    {
        UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
        ok = fd.get() >= 0 && store_io::writeExactly(fd.get(), bytes.data(), std::int64_t(bytes.size()), 0) &&
             store_io::ops().fsync(fd.get()) == 0;
    }
    ok = ok && syncDirectoryOf(path);
    if (!ok)
        store_io::ops().unlink(path.c_str());
    return ok;
}

State inspect(const std::string& path, Journal* journal)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0)
        return errno == ENOENT ? State::Missing : State::Invalid;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return State::Invalid;
    // Larger than any journal of a valid store could be.
    if (st.st_size > kMaxOriginalLength * 2 + kHeaderSize)
        return State::Invalid;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!store_io::readExactly(fd.get(), bytes.data(), st.st_size, 0))
        return State::Invalid;
    Journal parsed;
    if (!decode(bytes, parsed))
        return State::Invalid;
    if (journal)
        *journal = std::move(parsed);
    return State::Hot;
}

bool remove(const std::string& path)
{
    if (store_io::ops().unlink(path.c_str()) != 0 && errno != ENOENT)
        return false;
    // The change is made once the journal is gone. Without the directory sync a power failure could
    // bring the journal back and undo it, which leaves the old state, still a whole one; the file
    // cannot be taken back to the old state now, so a failed sync does not fail the change.
    syncDirectoryOf(path);
    return true;
}

bool recover(int storeFd, const std::string& path)
{
    Journal journal;
    switch (inspect(path, &journal)) {
    case State::Missing:
        return true;
    case State::Invalid: {
        struct stat st;
        // Something that is not a file (a directory, say) cannot be a journal this program wrote;
        // it is left alone and does not stand in the store's way.
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return true;
        return remove(path);
    }
    case State::Hot:
        break;
    }
    // Every byte a change cut off is in the journal, so the original length never lies beyond both
    // the file and the journal's segments; a journal claiming more is not one of this store's.
    struct stat st;
    if (::fstat(storeFd, &st) != 0)
        return false;
    std::int64_t reach = st.st_size;
    for (const Segment& s : journal.segments)
        reach = std::max(reach, s.offset + std::int64_t(s.bytes.size()));
    if (journal.originalLength > reach)
        return remove(path);
    for (const Segment& s : journal.segments)
        if (!store_io::writeExactly(storeFd, s.bytes.data(), std::int64_t(s.bytes.size()), s.offset))
            return false;
    if (store_io::ops().ftruncate(storeFd, static_cast<off_t>(journal.originalLength)) != 0 ||
        store_io::ops().fsync(storeFd) != 0)
        return false;
    return remove(path);
}

} // namespace kuvona::store_journal
