// result_list.h - the hits of a search as the front ends keep them.
//
// A search that hits every name of a large catalog would spend nearly all
// its time building rows (disc, name, full path, components) nobody looks
// at.  A TResultList instead keeps a reference to each hit node and builds
// a row when one is asked for: when it is shown, exported or acted on.  The
// last rows built are cached, since a view asks for the same row once per
// column and role.
//
// Node references are valid only while the tree stays as it was.  Before
// anything changes the tree (a removal, a rename, an update, a reload) the
// owner calls Detach(): every node still referred to is copied, with the
// folders and disc above it, into a compact table owned by the list, and
// rows are built from that table from then on.  Shared folders are copied
// once, so detaching a million hits copies each name once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_search.h"

namespace tslcat {

// What a result list can be sorted by: the window's columns.
enum class TResultField { Disc, Name, Path, Size, Modified };

class TResultList {
public:
    TResultList();
    // Light hits, in the order given (a search gives tree order).
    explicit TResultList(std::vector<const TCatalogNode *> nodes);
    // Rows already built: copied, they never refer to a tree.
    explicit TResultList(const std::vector<TResultRow> &rows);
    ~TResultList();
    TResultList(TResultList &&) noexcept;
    TResultList &operator=(TResultList &&) noexcept;
    TResultList(const TResultList &) = delete;
    TResultList &operator=(const TResultList &) = delete;

    size_t Size() const;
    bool Empty() const { return Size() == 0; }
    // True while entries refer to nodes of a tree (Detach not yet called).
    bool RefersToNodes() const { return !nodes_.empty(); }

    // The row at `index`, built on first use; nullptr outside the list.  The
    // row stays valid for as long as the caller holds it, whatever happens
    // to the list or the tree afterwards.
    std::shared_ptr<const TResultRow> Row(size_t index) const;
    // The same row built afresh and not cached, for a pass over every row
    // (an export).  `index` must be below Size().
    TResultRow BuildRow(size_t index) const;

    // Copies every node still referred to (and its folders and disc), so the
    // tree may change afterwards.  Call while the tree is as it was when the
    // hits were found.
    void Detach();

    // Sorts stably by `field`: names compare as bytes, unknown sizes and
    // times count as the smallest values; a disc row's name and path are
    // empty.  Returns, for each old position, the new one.
    std::vector<size_t> Sort(TResultField field, bool ascending);

    // Rows built and cached at most at once.
    static constexpr size_t kCacheSize = 256;

private:
    struct FrozenNode;
    uint32_t Freeze(const TCatalogNode &node, std::vector<uint32_t> &copiedAt);
    TResultRow BuildFrozenRow(uint32_t index) const;
    std::string_view FrozenName(uint32_t index) const;
    uint32_t FrozenDisc(uint32_t index) const;
    void DropCache() const;

    // Exactly one of these holds the entries: the light form or, after
    // Detach (or for copied rows), indexes into frozen_.
    std::vector<const TCatalogNode *> nodes_;
    std::vector<uint32_t> hits_;
    std::vector<FrozenNode> frozen_;
    std::string names_; // the frozen nodes' names, one after the other

    struct CacheSlot {
        size_t index = SIZE_MAX;
        std::shared_ptr<const TResultRow> row;
    };
    mutable std::vector<CacheSlot> cache_;
};

} // namespace tslcat
