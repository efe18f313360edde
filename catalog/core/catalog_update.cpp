// catalog_update.cpp - rescanning a disc into its node and what changed.

#include "catalog_update.h"

#include <algorithm>
#include <unordered_map>

#include "catalog_search.h"
#include "catalog_tree.h"
#include "platform.h"
#include "tree_scanner.h"

namespace tslcat {

namespace {

// The files below `disc` by path, in catalog order.
std::vector<TResultRow> filesBelow(const TCatalogNode &disc)
{
    std::vector<TResultRow> files;
    std::vector<const TCatalogNode *> stack{&disc};
    while (!stack.empty()) {
        const TCatalogNode *n = stack.back();
        stack.pop_back();
        if (n != &disc && !n->HasChildren() && n->EffectiveKind() == TNodeKind::File)
            files.push_back(MakeResultRow(*n));
        for (int i = n->Count(); i-- > 0;)
            stack.push_back(n->Child(i));
    }
    return files;
}

bool differs(uint64_t a, uint64_t b)
{
    return a != kUnknownSize && b != kUnknownSize && a != b;
}

bool differs(int64_t a, int64_t b)
{
    return a != kUnknownTime && b != kUnknownTime && a != b;
}

} // namespace

TUpdateDiscResult UpdateDisc(TCatalogTree &tree, TCatalogNode *disc, const std::string &root, IIconLookup &icons,
                             ICatalogProgress *progress)
{
    TUpdateDiscResult result;
    platform::TFolderHandle probe;
    if (!disc || disc->Parent() != nullptr || !probe.Open(root)) {
        result.message = "Nothing readable at " + root;
        return result;
    }
    probe.Close();
    // Busy from the scan on: the front end processes events meanwhile and
    // must not remove or rename the disc being updated.
    TBusyScope busy(tree);

    TCatalogTree scanned;
    TAddDiscResult fresh = AddDisc(scanned, root, disc->Text(), icons, progress);
    tree.Items().UpdateTotals();

    // Compare by path.
    std::vector<TResultRow> before = filesBelow(*disc), after = filesBelow(*fresh.disc);
    std::unordered_map<std::string, const TResultRow *> old;
    old.reserve(before.size());
    for (const TResultRow &row : before)
        old.emplace(row.fullPath, &row);
    for (const TResultRow &row : after) {
        auto it = old.find(row.fullPath);
        if (it == old.end()) {
            result.changes.push_back({'+', row.fullPath});
            ++result.added;
            continue;
        }
        if (differs(it->second->size, row.size) || differs(it->second->modifiedTime, row.modifiedTime)) {
            result.changes.push_back({'~', row.fullPath});
            ++result.changed;
        }
        old.erase(it);
    }
    for (const TResultRow &row : before)
        if (old.count(row.fullPath)) {
            result.changes.push_back({'-', row.fullPath});
            ++result.removed;
        }
    std::stable_sort(result.changes.begin(), result.changes.end(),
                     [](const TDiscChange &a, const TDiscChange &b) { return a.path < b.path; });

    // Replace the disc's contents, keeping the node.
    TCatalogNodes &nodes = tree.Items();
    nodes.BeginUpdate();
    struct End {
        TCatalogNodes &nodes;
        ~End() { nodes.EndUpdate(); }
    } end{nodes};
    while (disc->HasChildren())
        nodes.Delete(disc->Child(disc->Count() - 1));
    for (int i = 0; i < fresh.disc->Count(); ++i)
        CopySubtree(*fresh.disc->Child(i), nodes, disc);
    disc->SetFileInfo(TNodeKind::Disc);
    result.fileCount = RefreshDiscIconsAndCount(tree, icons, result.fileTypes, progress, false);
    result.updated = true;
    return result;
}

} // namespace tslcat
