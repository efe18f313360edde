// catalog_name_runs.h - the names of the flat order grouped into runs that
// lie side by side in the name store, so that a search hands the library
// thousands of names in one block call instead of visiting every node.
//
// A load stores the names in flat order, each followed by its zero byte, so
// most of a catalog is a few thousand runs (one per name-store chunk).
// Renames, empty names and names holding a zero byte break runs; those
// names are kept as single entries that the search judges on their own.
//
// A hit in a block is a byte offset; turning it into a node needs the
// number of names before it.  Every run keeps the offset of every
// kMarkSpacing-th name ("marks"), so finding the name at an offset counts
// zero bytes over at most kMarkSpacing names, whatever the run's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tslcat {

struct TNameRun {
    uint32_t first = 0;          // flat index of the run's first name
    uint32_t count = 0;          // names in the run (1 for a single entry)
    const char *start = nullptr; // the first name's bytes; nullptr: a single name judged on its own
    uint32_t length = 0;         // bytes of the run, every name's zero byte included
    uint32_t marks = 0;          // the run's first mark in TNameRuns::Marks()

    bool IsBlock() const { return start != nullptr; }
};

class TNameRuns {
public:
    // Names between two marks of a run.
    static constexpr uint32_t kMarkSpacing = 32;
    // The largest run, in bytes (a block call takes a 32-bit length); a name
    // longer than this is a single entry.
    static constexpr uint32_t kMaxRunBytes = uint32_t{1} << 30;

    void Clear();
    // Adds the next name of the flat order.  `text` must stay where it is,
    // followed by a zero byte, as long as the runs are used.
    void Append(std::string_view text);

    uint32_t NameCount() const { return names_; }
    const std::vector<TNameRun> &Runs() const { return runs_; }
    const std::vector<uint32_t> &Marks() const { return marks_; }

    // The index in Runs() of the run holding flat index `name` (< NameCount()).
    size_t RunOf(uint32_t name) const;
    // Byte offset in `run` (a block) of its name number `k` (0 <= k <= count;
    // count gives the run's length).
    uint32_t OffsetOf(const TNameRun &run, uint32_t k) const;

    // A position in a run: name number and its byte offset.
    struct Cursor {
        uint32_t name = 0;
        uint32_t offset = 0;
    };
    // The number in `run` of the name that starts at `offset`, which is at
    // or after `cursor` (the cursor moves there, so ascending offsets cost
    // one pass at most).
    uint32_t NameAt(const TNameRun &run, uint32_t offset, Cursor &cursor) const;

    // Bytes held, for memory figures.
    size_t HeldBytes() const { return runs_.capacity() * sizeof(TNameRun) + marks_.capacity() * sizeof(uint32_t); }

private:
    std::vector<TNameRun> runs_;
    std::vector<uint32_t> marks_;
    uint32_t names_ = 0;
};

// Zero bytes among the `length` bytes at `bytes`.
size_t CountZeroBytes(const char *bytes, size_t length);

} // namespace tslcat
