// catalog_name_runs.cpp - building the runs of adjacent names and finding
// names in them by byte offset.

#include "catalog_name_runs.h"

#include <algorithm>
#include <cstring>

namespace tslcat {

namespace {

// 0x80 in each byte of `v` that is zero, 0 elsewhere (no carries cross
// bytes: each byte adds at most 0x7F + 0x7F).
inline uint64_t ZeroBytes(uint64_t v)
{
    constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((v & low7) + low7) | v | low7);
}

inline size_t CountMarked(uint64_t z)
{
    return static_cast<size_t>(((z >> 7) * 0x0101010101010101ull) >> 56);
}

} // namespace

size_t CountZeroBytes(const char *bytes, size_t length)
{
    // Eight bytes at a time.  Hits of a search are often one name (some
    // twenty bytes) apart, so the tail is read as the last eight bytes of
    // the range, without those already counted.
    size_t zeros = 0;
    size_t i = 0;
    uint64_t v;
    for (; i + 8 <= length; i += 8) {
        std::memcpy(&v, bytes + i, 8);
        zeros += CountMarked(ZeroBytes(v));
    }
    if (i == length)
        return zeros;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (length >= 8) {
        std::memcpy(&v, bytes + length - 8, 8);
        // The lowest bytes were counted already.
        return zeros + CountMarked(ZeroBytes(v) >> (8 * (8 - (length - i))));
    }
#endif
    for (; i < length; ++i)
        zeros += bytes[i] == '\0';
    return zeros;
}

void TNameRuns::Clear()
{
    runs_.clear();
    marks_.clear();
    names_ = 0;
}

void TNameRuns::Append(std::string_view text)
{
    const bool single =
        text.empty() || text.size() >= kMaxRunBytes || std::memchr(text.data(), '\0', text.size()) != nullptr;
    const uint32_t bytes = single ? 0 : static_cast<uint32_t>(text.size() + 1);
    if (single) {
        // Empty names are not in the store; a name holding a zero byte would
        // read as two names in a block.
        runs_.push_back(TNameRun{names_, 1, nullptr, 0, static_cast<uint32_t>(marks_.size())});
    } else if (!runs_.empty() && runs_.back().IsBlock() && runs_.back().start + runs_.back().length == text.data() &&
               runs_.back().length <= kMaxRunBytes - bytes) {
        TNameRun &run = runs_.back();
        if (run.count % kMarkSpacing == 0)
            marks_.push_back(run.length);
        ++run.count;
        run.length += bytes;
    } else {
        runs_.push_back(TNameRun{names_, 1, text.data(), bytes, static_cast<uint32_t>(marks_.size())});
        marks_.push_back(0);
    }
    ++names_;
}

size_t TNameRuns::RunOf(uint32_t name) const
{
    const auto after =
        std::upper_bound(runs_.begin(), runs_.end(), name, [](uint32_t n, const TNameRun &r) { return n < r.first; });
    return static_cast<size_t>(after - runs_.begin()) - 1;
}

uint32_t TNameRuns::OffsetOf(const TNameRun &run, uint32_t k) const
{
    if (k >= run.count)
        return run.length;
    uint32_t offset = marks_[run.marks + k / kMarkSpacing];
    for (uint32_t n = k - k % kMarkSpacing; n < k; ++n)
        offset += static_cast<uint32_t>(std::strlen(run.start + offset)) + 1;
    return offset;
}

uint32_t TNameRuns::NameAt(const TNameRun &run, uint32_t offset, Cursor &cursor) const
{
    const uint32_t markCount = (run.count + kMarkSpacing - 1) / kMarkSpacing;
    const uint32_t nextMark = cursor.name / kMarkSpacing + 1;
    const uint32_t *marks = marks_.data() + run.marks;
    if (nextMark < markCount && marks[nextMark] <= offset) {
        // Jump to the last mark at or before `offset`.
        const uint32_t m =
            static_cast<uint32_t>(std::upper_bound(marks + nextMark, marks + markCount, offset) - marks) - 1;
        cursor.name = m * kMarkSpacing;
        cursor.offset = marks[m];
    }
    cursor.name += static_cast<uint32_t>(CountZeroBytes(run.start + cursor.offset, offset - cursor.offset));
    cursor.offset = offset;
    return cursor.name;
}

} // namespace tslcat
