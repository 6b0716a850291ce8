#pragma once

// The rollback journal of a store: the original bytes of every region a multi-record change is
// about to overwrite, and the original file length, saved beside the file before the file is touched.
//
//   offset  length  content (integers little-endian)
//   0       8       magic "KVJRNL01"
//   8       8       originalLength: the file's length before the change (0 .. 2^40)
//   16      4       segmentCount (0 .. 2^16)
//   20      4       zero
//   24      ..      segmentCount segments: 8 offset, 8 length, then `length` original bytes;
//                   each lies within [0, originalLength)
//   end-8   8       FNV-1a 64 of every byte before it
//
// A journal is hot when it parses exactly (its length is the sum of its parts) and its checksum
// holds: then it was written and synced in full before the file was changed, and the change may
// have been cut short, so rolling it back restores the file as it was. Any other journal was cut
// short while it was being written, before the file was touched, and is simply deleted.
//
// Every function here expects the caller to hold the store's whole-file lock, so that no live
// process is in the middle of a change. File access goes through store_io.

#include <cstdint>
#include <string>
#include <vector>

namespace kuvona::store_journal {

inline constexpr char kMagic[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '1'};
inline constexpr std::int64_t kHeaderSize = 24;
inline constexpr std::int64_t kSegmentHeaderSize = 16;
inline constexpr std::int64_t kChecksumSize = 8;
inline constexpr std::int64_t kMaxOriginalLength = std::int64_t(1) << 40;
inline constexpr std::int32_t kMaxSegments = 1 << 16;

struct Segment
{
    std::int64_t offset = 0;
    std::string bytes;
};

struct Journal
{
    std::int64_t originalLength = 0;
    std::vector<Segment> segments;
};

enum class State
{
    Missing,
    Hot,
    Invalid, // present but not a complete journal
};

// The journal's bytes.
std::string encode(const Journal& journal);

// Parses `bytes`; false unless they are exactly one complete journal with a valid checksum.
bool decode(const std::string& bytes, Journal& journal);

// Writes the journal to `path` (replacing any file there) and syncs it and its directory. On failure
// the partial journal is removed as far as possible; the caller must not touch the store then.
bool write(const std::string& path, const Journal& journal);

// Reads the journal at `path` without changing anything; the read is bounded by the file's size.
State inspect(const std::string& path, Journal* journal = nullptr);

// Brings the store open as `storeFd` back to a consistent state: a hot journal is written back, the
// length restored, the store synced and the journal deleted; an invalid one is deleted. True when no
// journal is left (or none was there).
bool recover(int storeFd, const std::string& path);

// Deletes the journal and syncs its directory: the commit point of a change. True once the journal
// is gone, whether or not the sync succeeded.
bool remove(const std::string& path);

// Syncs the directory holding `path`, so that a created, renamed or removed entry is on disk.
bool syncDirectoryOf(const std::string& path);

} // namespace kuvona::store_journal
