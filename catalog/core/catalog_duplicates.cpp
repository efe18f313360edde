// catalog_duplicates.cpp - finding files held more than once.

#include "catalog_duplicates.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "catalog_tree.h"

namespace tslcat {

namespace {

// One file taking part: its name's hash and its size (0 when grouping by
// name only) put equal keys next to each other after one sort; the name
// itself is compared only between equal hashes.
struct Candidate {
    uint64_t hash;
    uint64_t size;
    std::string_view name;
    int index; // flat index: copies keep catalog order
};

bool candidateLess(const Candidate &a, const Candidate &b)
{
    if (a.hash != b.hash)
        return a.hash < b.hash;
    if (a.size != b.size)
        return a.size < b.size;
    if (a.name != b.name)
        return a.name < b.name;
    return a.index < b.index;
}

bool sameKey(const Candidate &a, const Candidate &b)
{
    return a.hash == b.hash && a.size == b.size && a.name == b.name;
}

} // namespace

std::vector<TDuplicateGroup> FindDuplicates(const TCatalogTree &tree, TDuplicateKey key,
                                            std::optional<uint64_t> minSize)
{
    const TCatalogNodes &nodes = tree.Items();
    nodes.UpdateTotals();
    const bool bySize = key == TDuplicateKey::NameAndSize;

    std::vector<Candidate> files;
    files.reserve(static_cast<size_t>(nodes.Count()));
    const std::hash<std::string_view> hashName;
    for (int i = 0; i < nodes.Count(); ++i) {
        const TCatalogNode *n = nodes.Item(i);
        if (n->HasChildren() || n->Parent() == nullptr || n->EffectiveKind() != TNodeKind::File)
            continue;
        const uint64_t size = n->Size();
        if (minSize && (size == kUnknownSize || size < *minSize))
            continue;
        if (bySize && size == kUnknownSize)
            continue;
        files.push_back({hashName(n->Text()), bySize ? size : 0, n->Text(), i});
    }
    std::sort(files.begin(), files.end(), candidateLess);

    std::vector<TDuplicateGroup> groups;
    for (size_t begin = 0, end; begin < files.size(); begin = end) {
        end = begin + 1;
        while (end < files.size() && sameKey(files[begin], files[end]))
            ++end;
        if (end - begin < 2)
            continue;
        TDuplicateGroup &g = groups.emplace_back();
        g.name.assign(files[begin].name);
        g.copies.reserve(end - begin);
        for (size_t k = begin; k < end; ++k) {
            g.copies.push_back(MakeResultRow(*nodes.Item(files[k].index)));
            const uint64_t size = g.copies.back().size;
            if (size != kUnknownSize && (g.size == kUnknownSize || size > g.size))
                g.size = size;
        }
    }
    std::sort(groups.begin(), groups.end(), [](const TDuplicateGroup &a, const TDuplicateGroup &b) {
        // kUnknownSize is the largest value: compare with unknown as lowest.
        const bool ak = a.size != kUnknownSize, bk = b.size != kUnknownSize;
        if (ak != bk)
            return ak;
        if (a.size != b.size)
            return a.size > b.size;
        return a.name < b.name;
    });
    return groups;
}

} // namespace tslcat
