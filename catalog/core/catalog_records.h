// catalog_records.h - the record layout of the binary catalog file and the
// checks every reader of it makes (internal to the core).
//
// Two readers walk the binary form: the loader that builds the tree
// (catalog_file.cpp) and the in-place reader that answers searches straight
// from the mapped file (catalog_stream.cpp).  Both judge a file with the
// code below, so they refuse the same files with the same messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "catalog_errors.h"
#include "catalog_tree.h"

namespace tslcat::records {

constexpr int kRecordFixedSize = 88;                              // record bytes before the name
constexpr int kMaxNameLength = 255;                               // the length byte's range
constexpr int kMaxRecordSize = kRecordFixedSize + kMaxNameLength; // 343
constexpr int kMinBlockSize = 4 + kRecordFixedSize;               // size field + empty-name record
constexpr int kMaxFontNameLength = 31;
constexpr int kHeadSize = 5 + 1 + 4; // signature, root check type, disc count

// Record offsets.
enum : int {
    kOffImageIndex = 0x00,
    kOffSelectedIndex = 0x04,
    kOffStateIndex = 0x08,
    kOffOverlayIndex = 0x0C,
    kOffIntegralHeight = 0x10,
    kOffCheckState = 0x14,
    kOffCheckType = 0x15,
    kOffEnabled = 0x16,
    kOffExpanded = 0x17,
    kOffSelected = 0x18,
    kOffData = 0x19,
    kOffChildCount = 0x1D,
    kOffColor = 0x21,
    kOffParentColor = 0x25,
    kOffParentFont = 0x26,
    kOffFontHeight = 0x2B,
    kOffFontPitch = 0x2F,
    kOffFontStyle = 0x30,
    kOffFontName = 0x32, // length byte, then up to 31 bytes
    kOffFontColor = 0x53,
    kOffNameLength = 0x57,
    kOffName = 0x58,
};

// Sizes and dates.  A record whose ParentFont byte is non-zero has no font,
// and bytes 0x27..0x56 are then written as zeros and ignored by every reader
// of the format.  We keep a node's kind, size and modification time there,
// behind a marker and a check word, so zeros (files written before, or by a
// writer that does not know this) and anything foreign read as "unknown":
//
//   0x27  4  marker 54 53 44 01 ("TSD", layout 1)
//   0x2B  1  kind: 1 file, 2 folder, 3 disc
//   0x2C  1  flags: bit 0 the size is present, bit 1 the time is present;
//            other bits 0
//   0x2D  2  zero
//   0x2F  8  size in bytes, unsigned little-endian: a file's own, a folder's
//            or disc's total of the files below it (0 when the flag is clear)
//   0x37  8  modification time, signed little-endian seconds since
//            1970-01-01 UTC: a file's own, the newest below a folder or disc
//   0x3F  4  check word over bytes 0x27..0x3E, little-endian: with a, b, c
//            the three 64-bit little-endian words there,
//              h = (a ^ 0x9E3779B97F4A7C15) * 0xBF58476D1CE4E5B9
//                ^ (b ^ 0x94D049BB133111EB) * 0xD6E8FEB86659FD93
//                ^ (c ^ 0xC2B2AE3D27D4EB4F) * 0x165667B19E3779F9  (mod 2^64)
//            and the word is the low 32 bits of h ^ (h >> 32)
//   0x43 20  zero
//
// Readers get the totals of folders and discs as written; ours recompute
// them from the files (as the tree does).  A record with the marker but a
// bad check word, an unknown kind or flag bits is foreign and read as
// unknown; a size above 2^62 or a time before 1970 or more than a year
// after the load is read as unknown.  Nodes with their own font
// (ParentFont 0) cannot carry any of it.  A node with nothing known is
// written with zeros, so files without these data round-trip unchanged.
enum : int {
    kOffInfoMarker = 0x27,
    kOffInfoKind = 0x2B,
    kOffInfoFlags = 0x2C,
    kOffInfoSize = 0x2F,
    kOffInfoTime = 0x37,
    kOffInfoCheck = 0x3F,
    kInfoCheckedBytes = kOffInfoCheck - kOffInfoMarker,
};
inline constexpr unsigned char kInfoMarker[4] = {0x54, 0x53, 0x44, 0x01};
inline constexpr unsigned char kInfoHasSize = 1, kInfoHasTime = 2;

inline uint64_t GetUInt64(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

inline void PutUInt64(unsigned char *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline int32_t GetInt32(const unsigned char *p)
{
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

inline void PutInt32(unsigned char *p, int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Three 64-bit words in, 32 bits out: independent multiplications, so the
// check costs a load of a million records next to nothing.
static_assert(kInfoCheckedBytes == 24, "the check word covers three 64-bit words");

inline uint32_t InfoCheckWord(const unsigned char *from)
{
    uint64_t h = (GetUInt64(from) ^ 0x9E3779B97F4A7C15u) * 0xBF58476D1CE4E5B9u;
    h ^= (GetUInt64(from + 8) ^ 0x94D049BB133111EBu) * 0xD6E8FEB86659FD93u;
    h ^= (GetUInt64(from + 16) ^ 0xC2B2AE3D27D4EB4Fu) * 0x165667B19E3779F9u;
    return static_cast<uint32_t>(h ^ (h >> 32));
}

inline int64_t CurrentSecondsSince1970()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

inline std::string OffsetText(long long offset)
{
    return " at byte " + std::to_string(offset);
}

// What a record says of its node's kind, size and time; Unknown and the
// unknown values for anything that is not exactly ours.  `now` bounds
// plausible times.
struct TRecordInfo {
    uint8_t kind = uint8_t(TNodeKind::Unknown);
    uint64_t size = kUnknownSize;
    int64_t modifiedTime = kUnknownTime;
};

inline TRecordInfo DecodeInfo(const unsigned char *r, int64_t now)
{
    TRecordInfo info;
    if (r[kOffParentFont] == 0 || std::memcmp(r + kOffInfoMarker, kInfoMarker, sizeof kInfoMarker) != 0)
        return info;
    const unsigned char kind = r[kOffInfoKind], flags = r[kOffInfoFlags];
    if (kind < uint8_t(TNodeKind::File) || kind > uint8_t(TNodeKind::Disc) ||
        (flags & ~(kInfoHasSize | kInfoHasTime)) != 0 ||
        static_cast<uint32_t>(GetInt32(r + kOffInfoCheck)) != InfoCheckWord(r + kOffInfoMarker))
        return info;
    info.kind = kind;
    if (flags & kInfoHasSize)
        info.size = PlausibleSize(GetUInt64(r + kOffInfoSize));
    if (flags & kInfoHasTime)
        info.modifiedTime = PlausibleTime(static_cast<int64_t>(GetUInt64(r + kOffInfoTime)), now);
    return info;
}

// The failures of the checks below, kept out of the readers' loops.
[[noreturn, gnu::cold, gnu::noinline]] inline void ThrowRecordSize(int32_t size, long long offset)
{
    throw ECatalogFormatError("Stream read error: invalid record size " + std::to_string(size) + OffsetText(offset));
}

[[noreturn, gnu::cold, gnu::noinline]] inline void ThrowNameLength(int nameLength, int32_t size, long long offset)
{
    throw ECatalogFormatError("Stream read error: name length " + std::to_string(nameLength) +
                              " does not fit the record of " + std::to_string(size) + " bytes" + OffsetText(offset));
}

[[noreturn, gnu::cold, gnu::noinline]] inline void ThrowTooDeep(long long offset)
{
    throw ECatalogFormatError("Stream read error: nesting deeper than " + std::to_string(kMaxNestingDepth) + " levels" +
                              OffsetText(offset));
}

// The size field of the block at `offset`: a record shorter than its fixed
// part or longer than the longest name allows has no meaning.
inline void CheckRecordSize(int32_t size, long long offset)
{
    if (size < kRecordFixedSize || size > kMaxRecordSize)
        ThrowRecordSize(size, offset);
}

// The name length of a record of `size` bytes (already checked); bytes of a
// longer record after the name are padding and unused.
inline int CheckedNameLength(const unsigned char *record, int32_t size, long long offset)
{
    const int nameLength = record[kOffNameLength];
    if (kRecordFixedSize + nameLength > size)
        ThrowNameLength(nameLength, size, offset);
    return nameLength;
}

// A node with children at `depth` (discs are depth 1) that the readers will
// not follow.
inline void CheckNestingDepth(int depth, long long offset)
{
    if (depth >= kMaxNestingDepth)
        ThrowTooDeep(offset);
}

// The counts read so far and the bytes they promise.  A count the rest of
// the file cannot hold is remembered, not acted on: the blocks that are
// there are still read (a truncated file keeps every node it holds), and the
// short read that must follow is reported as that count's fault.
class TCountPromises {
public:
    // A new count of `blocks` read at `at`; `left` is the number of bytes
    // after the current position, -1 when the device cannot tell.  True
    // while every count announced so far still fits the rest of the file.
    bool Promise(int32_t blocks, long long at, const char *what, long long left)
    {
        if (blocks <= 0)
            return false;
        promised_ += static_cast<long long>(blocks) * kMinBlockSize;
        if (left < 0)
            return false;
        if (promised_ <= left)
            return true;
        if (suspect_.empty())
            suspect_ = std::string("Stream read error: ") + what + " " + std::to_string(blocks) + OffsetText(at) +
                " exceeds the rest of the file";
        return false;
    }
    // One promised block is being read.
    void Take() { promised_ -= kMinBlockSize; }
    // The message of a short read: the count that caused it, if one did.
    const std::string &Suspect() const { return suspect_; }
    [[noreturn]] void ThrowShortRead() const
    {
        if (!suspect_.empty())
            throw ECatalogFormatError(suspect_);
        throw EReadError();
    }

private:
    long long promised_ = 0;
    std::string suspect_;
};

} // namespace tslcat::records
