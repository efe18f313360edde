// catalog_duplicates.cpp - finding files held more than once.

#include "catalog_duplicates.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "catalog_tree.h"

namespace tslcat {

namespace {

struct Key {
    std::string_view name;
    uint64_t size; // 0 when grouping by name only
    bool operator==(const Key &o) const { return size == o.size && name == o.name; }
};

struct KeyHash {
    size_t operator()(const Key &k) const
    {
        return std::hash<std::string_view>()(k.name) ^ (k.size * 0x9E3779B97F4A7C15u);
    }
};

} // namespace

std::vector<TDuplicateGroup> FindDuplicates(const TCatalogTree &tree, TDuplicateKey key,
                                            std::optional<uint64_t> minSize)
{
    const TCatalogNodes &nodes = tree.Items();
    nodes.UpdateTotals();
    const bool bySize = key == TDuplicateKey::NameAndSize;

    // The candidates once, then the number of copies of each key; a group
    // index is given to a key when its second copy turns up.
    std::vector<std::pair<const TCatalogNode *, Key>> files;
    files.reserve(static_cast<size_t>(nodes.Count()));
    for (int i = 0; i < nodes.Count(); ++i) {
        const TCatalogNode *n = nodes.Item(i);
        if (n->HasChildren() || n->Parent() == nullptr || n->EffectiveKind() != TNodeKind::File)
            continue;
        const uint64_t size = n->Size();
        if (minSize && (size == kUnknownSize || size < *minSize))
            continue;
        if (bySize && size == kUnknownSize)
            continue;
        files.push_back({n, Key{n->Text(), bySize ? size : 0}});
    }
    std::unordered_map<Key, uint32_t, KeyHash> counts;
    counts.reserve(files.size());
    for (const auto &f : files)
        ++counts[f.second];

    std::unordered_map<Key, size_t, KeyHash> groupOf;
    std::vector<TDuplicateGroup> groups;
    for (const auto &[node, k] : files) {
        if (counts[k] < 2)
            continue;
        auto [it, fresh] = groupOf.try_emplace(k, groups.size());
        if (fresh) {
            groups.emplace_back();
            groups.back().name.assign(k.name);
        }
        TDuplicateGroup &g = groups[it->second];
        g.copies.push_back(MakeResultRow(*node));
        const uint64_t size = g.copies.back().size;
        if (size != kUnknownSize && (g.size == kUnknownSize || size > g.size))
            g.size = size;
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
