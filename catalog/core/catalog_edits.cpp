// catalog_edits.cpp - kept changes, finding their nodes again, and the
// locked commit.

#include "catalog_edits.h"

#include <algorithm>
#include <cstdlib>

#include "catalog_lock.h"
#include "catalog_names.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "catalog_update.h"
#include "icon_lookup.h"

namespace tslcat {

namespace {

int childCount(TCatalogTree &tree, TCatalogNode *parent)
{
    return parent ? parent->Count() : tree.Items().TopLevelCount();
}

TCatalogNode *childAt(TCatalogTree &tree, TCatalogNode *parent, int row)
{
    return parent ? parent->Child(row) : tree.Items().TopLevel(row);
}

std::string quoted(const std::string &bytes)
{
    return "'" + DecodeName(bytes).toStdString() + "'";
}

} // namespace

TNodePath PathOfNode(const TCatalogNode &node)
{
    TNodePath path;
    for (const TCatalogNode *n = &node; n; n = n->Parent())
        path.push_back({n->Index(), std::string(n->Text())});
    std::reverse(path.begin(), path.end());
    return path;
}

TCatalogNode *FindNode(TCatalogTree &tree, const TNodePath &path)
{
    TCatalogNode *parent = nullptr;
    for (const TNodeStep &step : path) {
        const int count = childCount(tree, parent);
        TCatalogNode *found = nullptr;
        if (step.row >= 0 && step.row < count && childAt(tree, parent, step.row)->Text() == step.name) {
            found = childAt(tree, parent, step.row);
        } else {
            // Rows before it came or went: the namesake nearest its old row.
            long best = -1;
            for (int row = 0; row < count; ++row) {
                TCatalogNode *child = childAt(tree, parent, row);
                if (child->Text() != step.name)
                    continue;
                const long distance = std::labs(static_cast<long>(row) - step.row);
                if (!found || distance < best) {
                    found = child;
                    best = distance;
                }
            }
        }
        if (!found)
            return nullptr;
        parent = found;
    }
    return parent;
}

std::string TCatalogEdit::Describe() const
{
    const std::string name = path.empty() ? std::string() : quoted(path.back().name);
    switch (kind) {
    case TEditKind::AddDisc:
        return "add a disc";
    case TEditKind::Remove:
        return "remove " + name;
    case TEditKind::Rename:
        return "rename " + name + " to " + quoted(newName);
    case TEditKind::RemoveAll:
        return "remove all discs";
    case TEditKind::Update:
        return "update " + name;
    }
    return {};
}

TCatalogEdit TCatalogEdit::AddDiscs(std::shared_ptr<const TCatalogTree> discs)
{
    TCatalogEdit edit;
    edit.kind = TEditKind::AddDisc;
    edit.discs = std::move(discs);
    return edit;
}

TCatalogEdit TCatalogEdit::RemoveNode(const TCatalogNode &node)
{
    TCatalogEdit edit;
    edit.kind = TEditKind::Remove;
    edit.path = PathOfNode(node);
    return edit;
}

TCatalogEdit TCatalogEdit::RenameNode(const TCatalogNode &node, std::string newName)
{
    TCatalogEdit edit;
    edit.kind = TEditKind::Rename;
    edit.path = PathOfNode(node);
    edit.newName = std::move(newName);
    return edit;
}

TCatalogEdit TCatalogEdit::RemoveAllDiscs()
{
    TCatalogEdit edit;
    edit.kind = TEditKind::RemoveAll;
    return edit;
}

TCatalogEdit TCatalogEdit::UpdateDisc(const TCatalogNode &disc, std::shared_ptr<const TCatalogTree> scanned)
{
    TCatalogEdit edit;
    edit.kind = TEditKind::Update;
    edit.path = PathOfNode(disc);
    edit.discs = std::move(scanned);
    return edit;
}

bool ApplyEdit(TCatalogTree &tree, const TCatalogEdit &edit)
{
    TCatalogNodes &items = tree.Items();
    switch (edit.kind) {
    case TEditKind::Update: {
        TCatalogNode *disc = edit.path.size() == 1 ? FindNode(tree, edit.path) : nullptr;
        if (!disc || !edit.discs || edit.discs->Items().TopLevelCount() == 0)
            return false;
        TPlainIconLookup icons;
        return ReplaceDiscContents(tree, disc, *edit.discs->Items().TopLevel(0), icons).updated;
    }
    case TEditKind::AddDisc:
        if (edit.discs) {
            // One update for the whole copy: a display resets once instead
            // of hearing of every node of a disc.
            items.BeginUpdate();
            struct EndUpdate {
                TCatalogNodes &items;
                ~EndUpdate() { items.EndUpdate(); }
            } endUpdate{items};
            const TCatalogNodes &source = edit.discs->Items();
            for (int row = 0; row < source.TopLevelCount(); ++row)
                CopySubtree(*source.TopLevel(row), items, nullptr);
        }
        return true;
    case TEditKind::Remove:
    case TEditKind::Rename: {
        TCatalogNode *node = edit.path.empty() ? nullptr : FindNode(tree, edit.path);
        if (!node)
            return false;
        if (edit.kind == TEditKind::Remove)
            items.Delete(node);
        else
            node->SetText(edit.newName);
        return true;
    }
    case TEditKind::RemoveAll:
        // Last disc first, as the catalog was built; walking the discs
        // rather than every absolute index avoids rebuilding the flat index
        // after each removal.
        for (int row = items.TopLevelCount() - 1; row >= 0; --row)
            items.Delete(items.TopLevel(row));
        return true;
    }
    return false;
}

TCatalogCommitter::TCatalogCommitter(QString catalogFile) : file_(std::move(catalogFile)) {}

void TCatalogCommitter::NoteLoaded()
{
    known_ = CatalogFileIdentity(file_);
    knownValid_ = true;
}

void TCatalogCommitter::NoteLoaded(const platform::TFileIdentity &version)
{
    known_ = version;
    knownValid_ = true;
}

bool TCatalogCommitter::ChangedOnDisk() const
{
    return !knownValid_ || CatalogFileIdentity(file_) != known_;
}

TCommitResult TCatalogCommitter::Commit(TCatalogTree &tree, const TCatalogEdit &edit,
                                        const std::function<void()> &reload, ICatalogProgress *progress, int timeoutMs,
                                        const std::function<void()> &onWait)
{
    return Commit(
        tree, [&edit](TCatalogTree &t) { return ApplyEdit(t, edit); }, edit.Destructive(), reload, progress, timeoutMs,
        onWait);
}

TCommitResult TCatalogCommitter::Commit(TCatalogTree &tree, const std::function<bool(TCatalogTree &)> &apply,
                                        bool destructive, const std::function<void()> &reload,
                                        ICatalogProgress *progress, int timeoutMs, const std::function<void()> &onWait)
{
    TCatalogLock lock(file_);
    lock.Acquire(timeoutMs, onWait);
    TCommitResult result;
    if (ChangedOnDisk()) {
        reload();
        NoteLoaded();
        result.reloaded = true;
        result.fileCount = CountFiles(tree);
    }
    if (!apply(tree))
        return result;
    result.applied = true;
    if (destructive)
        result.backedUp = WriteBackup(file_);
    result.fileCount = SaveCatalog(tree, file_, progress);
    result.saved = true;
    NoteLoaded();
    return result;
}

} // namespace tslcat
