// catalog_duplicates.h - files that the catalog holds more than once: the
// same name (exact bytes) on several discs or in several places, optionally
// also with the same size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalog_search.h"

namespace tslcat {

enum class TDuplicateKey {
    Name,        // the same name, whatever the sizes
    NameAndSize, // the same name and the same known size
};

struct TDuplicateGroup {
    std::string name;
    // The shared size (by name and size), or the largest known size among
    // the copies (by name); kUnknownSize when none is known.
    uint64_t size = kUnknownSize;
    std::vector<TResultRow> copies; // in catalog order
};

// Groups of two or more files (nodes below disc level without children that
// were not scanned as folders) sharing the key; by size descending (unknown
// last), then by name bytes.  With `minSize` only files of a known size of
// at least that many bytes take part.  Grouping by name and size leaves out
// files whose size is unknown.  One pass over the catalog and one sort.
std::vector<TDuplicateGroup> FindDuplicates(const TCatalogTree &tree, TDuplicateKey key,
                                            std::optional<uint64_t> minSize = std::nullopt);

} // namespace tslcat
