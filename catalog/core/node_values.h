// node_values.h - the sizes and dates of catalog nodes as users type and
// read them: parsing "10M" and ISO 8601 dates, the ISO form of a time, and
// the size/date test that searches, exports and duplicates share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

#include "catalog_tree.h"

namespace tslcat {

// "123", "10K", "2M", "1G" (K, M, G are 1024, 1024^2, 1024^3; either letter
// case): false for anything else, negative numbers and overflow.
bool ParseSizeText(std::string_view text, uint64_t &bytes);

// ISO 8601 dates as "2024-05-01", "2024-05-01T13:45", "2024-05-01T13:45:10",
// each optionally followed by "Z" or an offset "+02:00"/"-0500"; without an
// offset the date is UTC.  A date alone means its first second.  Gives
// seconds since 1970; false when the text is no such date.
bool ParseDateText(const QString &text, int64_t &secondsSince1970);

// "2024-05-01T13:45:10Z"; "-" for kUnknownTime.
std::string FormatTimeIso(int64_t secondsSince1970);
// The size in decimal bytes; "-" for kUnknownSize.
std::string FormatSizeBytes(uint64_t size);

// Files below `node` (child-less nodes not scanned as folders), for a disc's
// summary.  Walks the subtree.
int64_t CountFilesBelow(const TCatalogNode &node);

// The size and date tests of a search.  Each set bound is strict (larger
// than, smaller than, newer than, older than) and a node whose value is
// unknown never passes a test on it.
struct TValueFilter {
    std::optional<uint64_t> largerThan;
    std::optional<uint64_t> smallerThan;
    std::optional<int64_t> newerThan;
    std::optional<int64_t> olderThan;

    bool Active() const { return largerThan || smallerThan || newerThan || olderThan; }
    bool Passes(uint64_t size, int64_t modifiedTime) const;
    bool Passes(const TCatalogNode &node) const;
};

} // namespace tslcat
