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

std::shared_ptr<TCatalogTree> ScanDiscForUpdate(const std::string &root, std::string_view discName, IIconLookup &icons,
                                                ICatalogProgress *progress, std::string &message)
{
    platform::TFolderHandle probe;
    if (!probe.Open(root)) {
        message = "Nothing readable at " + root;
        return nullptr;
    }
    probe.Close();
    auto scanned = std::make_shared<TCatalogTree>();
    AddDisc(*scanned, root, discName, icons, progress);
    return scanned;
}

TUpdateDiscResult ReplaceDiscContents(TCatalogTree &tree, TCatalogNode *disc, const TCatalogNode &scannedDisc,
                                      IIconLookup &icons)
{
    TUpdateDiscResult result;
    if (!disc || disc->Parent() != nullptr) {
        result.message = "not a disc";
        return result;
    }
    TBusyScope busy(tree);
    tree.Items().UpdateTotals();
    scannedDisc.Owner().UpdateTotals();

    // Compare by path.
    std::vector<TResultRow> before = filesBelow(*disc), after = filesBelow(scannedDisc);
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
    for (int i = 0; i < scannedDisc.Count(); ++i)
        CopySubtree(*scannedDisc.Child(i), nodes, disc);
    disc->SetFileInfo(TNodeKind::Disc);
    result.fileCount = RefreshDiscIconsAndCount(tree, icons, result.fileTypes, nullptr, false);
    result.updated = true;
    return result;
}

TUpdateDiscResult UpdateDisc(TCatalogTree &tree, TCatalogNode *disc, const std::string &root, IIconLookup &icons,
                             ICatalogProgress *progress)
{
    TUpdateDiscResult result;
    if (!disc || disc->Parent() != nullptr) {
        result.message = "not a disc";
        return result;
    }
    std::shared_ptr<TCatalogTree> scanned;
    {
        // Busy from the scan on: the front end processes events meanwhile
        // and must not remove or rename the disc being updated.
        TBusyScope busy(tree);
        scanned = ScanDiscForUpdate(root, disc->Text(), icons, progress, result.message);
    }
    if (!scanned)
        return result;
    return ReplaceDiscContents(tree, disc, *scanned->Items().TopLevel(0), icons);
}

} // namespace tslcat
