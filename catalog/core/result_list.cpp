// result_list.cpp - light search hits, built into rows on demand and copied
// out of the tree before it changes.

#include "result_list.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "catalog_texts.h"
#include "catalog_tree.h"
#include "scan_source.h"

namespace tslcat {

namespace {

constexpr uint32_t kNone = UINT32_MAX;

} // namespace

// One node copied out of the tree: enough to build its row and the rows of
// the nodes below it.
struct TResultList::FrozenNode {
    uint64_t nameOffset = 0; // in names_
    uint64_t size = kUnknownSize;
    int64_t modifiedTime = kUnknownTime;
    uint32_t nameLength = 0;
    uint32_t parent = kNone; // kNone for a disc
    TNodeKind kind = TNodeKind::File;
    bool archive = false; // an opened archive: the members below are not on the disc
};

TResultList::TResultList() = default;

TResultList::TResultList(std::vector<const TCatalogNode *> nodes) : nodes_(std::move(nodes)) {}

TResultList::TResultList(const std::vector<TResultRow> &rows)
{
    hits_.reserve(rows.size());
    auto add = [this](std::string_view name, uint32_t parent) {
        FrozenNode f;
        f.nameOffset = names_.size();
        f.nameLength = static_cast<uint32_t>(name.size());
        f.parent = parent;
        names_.append(name);
        frozen_.push_back(f);
        return static_cast<uint32_t>(frozen_.size() - 1);
    };
    for (const TResultRow &row : rows) {
        uint32_t at = add(row.discName, kNone);
        for (size_t i = 0; i < row.components.size(); ++i) {
            at = add(row.components[i], at);
            frozen_[at].archive = static_cast<int>(i) == row.archiveComponent;
        }
        FrozenNode &hit = frozen_[at];
        hit.kind = row.kind;
        hit.size = row.size;
        hit.modifiedTime = row.modifiedTime;
        hits_.push_back(at);
    }
}

TResultList::~TResultList() = default;
TResultList::TResultList(TResultList &&) noexcept = default;
TResultList &TResultList::operator=(TResultList &&) noexcept = default;

size_t TResultList::Size() const
{
    return nodes_.empty() ? hits_.size() : nodes_.size();
}

std::string_view TResultList::FrozenName(uint32_t index) const
{
    const FrozenNode &f = frozen_[index];
    return std::string_view(names_).substr(f.nameOffset, f.nameLength);
}

uint32_t TResultList::FrozenDisc(uint32_t index) const
{
    while (frozen_[index].parent != kNone)
        index = frozen_[index].parent;
    return index;
}

TResultRow TResultList::BuildFrozenRow(uint32_t index) const
{
    // The same row MakeResultRow builds from the node itself.
    std::vector<uint32_t> chain; // the hit first, the node below the disc last
    uint32_t disc = index;
    for (; frozen_[disc].parent != kNone; disc = frozen_[disc].parent)
        chain.push_back(disc);
    const FrozenNode &hit = frozen_[index];
    TResultRow row;
    row.discName.assign(FrozenName(disc));
    row.kind = hit.kind;
    row.size = hit.size;
    row.modifiedTime = hit.modifiedTime;
    if (chain.empty())
        return row;
    size_t length = sizeof texts::kFullPathPrefix - 1 + chain.size() - 1;
    for (uint32_t at : chain)
        length += frozen_[at].nameLength;
    row.fullPath.reserve(length);
    row.fullPath = texts::kFullPathPrefix;
    row.components.reserve(chain.size());
    for (size_t i = chain.size(); i-- > 0;) {
        const std::string_view name = FrozenName(chain[i]);
        if (i > 0 && row.archiveComponent < 0 && frozen_[chain[i]].archive)
            row.archiveComponent = static_cast<int>(row.components.size());
        row.components.emplace_back(name);
        row.fullPath.append(name);
        if (i)
            row.fullPath.push_back('\\');
    }
    row.nodeName.assign(FrozenName(index));
    return row;
}

std::shared_ptr<const TResultRow> TResultList::Row(size_t index) const
{
    if (index >= Size())
        return nullptr;
    if (cache_.empty())
        cache_.resize(kCacheSize);
    // Direct-mapped: the rows a view shows are consecutive, so they never
    // push each other out.
    CacheSlot &slot = cache_[index % kCacheSize];
    if (slot.index != index || !slot.row) {
        slot.row = std::make_shared<const TResultRow>(BuildRow(index));
        slot.index = index;
    }
    return slot.row;
}

TResultRow TResultList::BuildRow(size_t index) const
{
    return nodes_.empty() ? BuildFrozenRow(hits_[index]) : MakeResultRow(*nodes_[index]);
}

void TResultList::DropCache() const
{
    cache_.clear();
}

uint32_t TResultList::Freeze(const TCatalogNode &node, std::vector<uint32_t> &copiedAt)
{
    // Up to the first node copied already (or past the disc), then copied
    // downwards so each parent is there before its children.
    auto slotOf = [&copiedAt](const TCatalogNode *n) -> uint32_t * {
        const int at = n->AbsoluteIndex();
        return at >= 0 && static_cast<size_t>(at) < copiedAt.size() ? &copiedAt[static_cast<size_t>(at)] : nullptr;
    };
    const TCatalogNode *chain[64];
    std::vector<const TCatalogNode *> deep;
    size_t depth = 0;
    uint32_t parent = kNone;
    for (const TCatalogNode *n = &node; n; n = n->Parent()) {
        if (const uint32_t *slot = slotOf(n); slot && *slot != kNone) {
            parent = *slot;
            break;
        }
        if (depth < std::size(chain))
            chain[depth] = n;
        else
            deep.push_back(n);
        ++depth;
    }
    while (depth-- > 0) {
        const TCatalogNode *n = depth < std::size(chain) ? chain[depth] : deep[depth - std::size(chain)];
        const std::string_view name = n->Text();
        FrozenNode f;
        f.nameOffset = names_.size();
        f.nameLength = static_cast<uint32_t>(name.size());
        f.parent = parent;
        f.kind = n->EffectiveKind();
        f.size = n->Size();
        f.modifiedTime = n->ModifiedTime();
        f.archive = n->Data() == kArchiveNodeData;
        names_.append(name);
        frozen_.push_back(f);
        parent = static_cast<uint32_t>(frozen_.size() - 1);
        if (uint32_t *slot = slotOf(n))
            *slot = parent;
    }
    return parent;
}

void TResultList::Detach()
{
    if (nodes_.empty())
        return;
    DropCache();
    // One slot per node of the tree, by flat index: a folder shared by many
    // hits is found copied already without a search.
    std::vector<uint32_t> copiedAt(static_cast<size_t>(nodes_.front()->Owner().Count()), kNone);
    // Room for the hits and a share of folders above them, so the copies
    // are not moved while they grow (a million hits make 60 MB).
    size_t nameBytes = 0;
    for (const TCatalogNode *node : nodes_)
        nameBytes += node->Text().size();
    frozen_.reserve(nodes_.size() + nodes_.size() / 8 + 64);
    names_.reserve(nameBytes + nameBytes / 8 + 4096);
    hits_.reserve(nodes_.size());
    for (const TCatalogNode *node : nodes_)
        hits_.push_back(Freeze(*node, copiedAt));
    std::vector<const TCatalogNode *>().swap(nodes_);
}

std::vector<size_t> TResultList::Sort(TResultField field, bool ascending)
{
    const size_t count = Size();
    DropCache();
    // The key of each entry is read once; names are views of the tree or of
    // names_, which stay put while sorting.
    std::vector<std::string_view> texts;
    std::vector<std::string> paths;
    std::vector<uint64_t> numbers; // sizes shifted so that unknown is 0; times as ordered bits
    const bool light = !nodes_.empty();
    auto discOf = [&](size_t i) -> std::string_view {
        if (light) {
            const TCatalogNode *n = nodes_[i];
            while (n->Parent())
                n = n->Parent();
            return n->Text();
        }
        return FrozenName(FrozenDisc(hits_[i]));
    };
    auto nameOf = [&](size_t i) -> std::string_view {
        if (light)
            return nodes_[i]->Parent() ? nodes_[i]->Text() : std::string_view();
        return frozen_[hits_[i]].parent != kNone ? FrozenName(hits_[i]) : std::string_view();
    };
    auto pathOf = [&](size_t i) -> std::string {
        std::vector<std::string_view> names; // the hit first, the disc last
        if (light) {
            for (const TCatalogNode *n = nodes_[i]; n; n = n->Parent())
                names.push_back(n->Text());
        } else {
            for (uint32_t at = hits_[i];; at = frozen_[at].parent) {
                names.push_back(FrozenName(at));
                if (frozen_[at].parent == kNone)
                    break;
            }
        }
        if (names.size() <= 1)
            return std::string();
        std::string path = texts::kFullPathPrefix;
        for (size_t k = names.size() - 1; k-- > 0;) {
            path.append(names[k]);
            if (k)
                path.push_back('\\');
        }
        return path;
    };
    auto numberOf = [&](size_t i) -> uint64_t {
        if (field == TResultField::Size) {
            // kUnknownSize is the largest value: +1 makes it the smallest.
            return (light ? nodes_[i]->Size() : frozen_[hits_[i]].size) + 1;
        }
        const int64_t time = light ? nodes_[i]->ModifiedTime() : frozen_[hits_[i]].modifiedTime;
        return static_cast<uint64_t>(time) ^ (uint64_t(1) << 63); // kUnknownTime is the smallest already
    };
    switch (field) {
    case TResultField::Disc:
    case TResultField::Name:
        texts.reserve(count);
        for (size_t i = 0; i < count; ++i)
            texts.push_back(field == TResultField::Disc ? discOf(i) : nameOf(i));
        break;
    case TResultField::Path:
        paths.reserve(count);
        for (size_t i = 0; i < count; ++i)
            paths.push_back(pathOf(i));
        break;
    case TResultField::Size:
    case TResultField::Modified:
        numbers.reserve(count);
        for (size_t i = 0; i < count; ++i)
            numbers.push_back(numberOf(i));
        break;
    }
    auto less = [&](size_t a, size_t b) {
        switch (field) {
        case TResultField::Disc:
        case TResultField::Name:
            return texts[a] < texts[b];
        case TResultField::Path:
            return paths[a] < paths[b];
        case TResultField::Size:
        case TResultField::Modified:
            return numbers[a] < numbers[b];
        }
        return false;
    };
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return ascending ? less(a, b) : less(b, a); });
    std::vector<size_t> newPosition(count);
    for (size_t i = 0; i < count; ++i)
        newPosition[order[i]] = i;
    if (light) {
        std::vector<const TCatalogNode *> sorted(count);
        for (size_t i = 0; i < count; ++i)
            sorted[i] = nodes_[order[i]];
        nodes_ = std::move(sorted);
    } else {
        std::vector<uint32_t> sorted(count);
        for (size_t i = 0; i < count; ++i)
            sorted[i] = hits_[order[i]];
        hits_ = std::move(sorted);
    }
    return newPosition;
}

} // namespace tslcat
