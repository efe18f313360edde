// catalog_update.h - rescanning a disc into its existing node.
//
// The disc keeps its name, its position and its node; the folder tree found
// at the path replaces everything below it.  What changed is worked out by
// path within the disc, over files only: added, removed, and changed (a
// size or time that differs where both the old and the new value are
// known, so a disc catalogued before sizes and dates were kept does not show
// every file as changed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_store.h"

namespace tslcat {

class TCatalogTree;
class TCatalogNode;
class IIconLookup;

struct TDiscChange {
    char mark;        // '+' added, '-' removed, '~' changed
    std::string path; // "[ ]:\" + the names down to the file, as in result rows
};

struct TUpdateDiscResult {
    // False when nothing readable is at the path: `message` says so and the
    // catalog is unchanged.
    bool updated = false;
    std::string message;
    int64_t added = 0, removed = 0, changed = 0;
    std::vector<TDiscChange> changes; // sorted by path
    int64_t fileCount = 0;            // child-less nodes of the whole catalog
    TFileTypeList fileTypes;          // rebuilt over the whole catalog
};

// The slow half, done before the writer lock is taken: scans the folder tree
// at `root` into a tree of its own, as one disc named `discName`.  nullptr,
// with `message` set, when nothing readable is at `root`.
std::shared_ptr<TCatalogTree> ScanDiscForUpdate(const std::string &root, std::string_view discName, IIconLookup &icons,
                                                ICatalogProgress *progress, std::string &message);

// The quick half: replaces everything below `disc` (Level 0) by copies of
// the children of `scannedDisc`, keeping the disc node, its name and its
// place, and tells what changed.  Does not save.
TUpdateDiscResult ReplaceDiscContents(TCatalogTree &tree, TCatalogNode *disc, const TCatalogNode &scannedDisc,
                                      IIconLookup &icons);

// Both in one: rescans `root` into `disc`.  Does not save.
TUpdateDiscResult UpdateDisc(TCatalogTree &tree, TCatalogNode *disc, const std::string &root, IIconLookup &icons,
                             ICatalogProgress *progress = nullptr);

} // namespace tslcat
