// catalog_edits.h - a change to the catalog kept as an operation, so that it
// can be made again on a catalog reloaded from disk, and the commit that
// saves it under the writer lock.
//
// A program that stays open (the window) holds the catalog in memory while
// others (tslcat-cli, another window) may change the file.  Before it saves,
// under the lock, it compares the file with the version it last loaded or
// saved; when someone else wrote meanwhile it reloads and makes its change
// again on what it read.  A change names its node by the path from the disc
// down, each step a row and the name found there, so it still finds the node
// when rows before it came or went.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform.h"

namespace tslcat {

class TCatalogNode;
class TCatalogTree;
class ICatalogProgress;

// One step of a node's path: its row among its siblings and its name.
struct TNodeStep {
    int row = 0;
    std::string name; // raw bytes
};
// From the disc (first step) down to the node.
using TNodePath = std::vector<TNodeStep>;

TNodePath PathOfNode(const TCatalogNode &node);

// The node that `path` names in `tree`: at each level the child at the
// recorded row when its name matches; else, among the children with that
// name, the one nearest the recorded row (the earlier one on a tie).
// nullptr when some level has no child of that name.
TCatalogNode *FindNode(TCatalogTree &tree, const TNodePath &path);

enum class TEditKind {
    AddDisc,   // append a scanned disc
    Remove,    // remove a node with its subtree ("Remove CD", tslcat-cli remove)
    Rename,    // give a node a new name
    RemoveAll, // remove every disc
    Update,    // replace a disc's contents by a rescan (the disc keeps its node)
};

struct TCatalogEdit {
    TEditKind kind = TEditKind::AddDisc;
    TNodePath path;      // Remove, Rename: the node, with the names it had
    std::string newName; // Rename
    // AddDisc: a tree whose discs are appended (a disc scanned into a tree
    // of its own, outside the lock).  Update: a tree whose first disc's
    // contents replace those of the disc at `path`.  Shared: a kept edit may be applied
    // more than once.
    std::shared_ptr<const TCatalogTree> discs;

    // Changes that lose catalog content: the catalog is kept in the backup
    // before they are saved.
    bool Destructive() const
    {
        return kind == TEditKind::Remove || kind == TEditKind::RemoveAll || kind == TEditKind::Update;
    }
    // For the user: "rename 'old' to 'new'", "remove 'name'", ... (names
    // decoded for display, UTF-8).
    std::string Describe() const;

    static TCatalogEdit AddDiscs(std::shared_ptr<const TCatalogTree> discs);
    static TCatalogEdit RemoveNode(const TCatalogNode &node);
    static TCatalogEdit RenameNode(const TCatalogNode &node, std::string newName);
    static TCatalogEdit RemoveAllDiscs();
    static TCatalogEdit UpdateDisc(const TCatalogNode &disc, std::shared_ptr<const TCatalogTree> scanned);
};

// Makes the change on `tree`.  Returns false, changing nothing, when the
// node the edit names is not there (removed or renamed meanwhile).
// Throws what the tree throws (out of memory).
bool ApplyEdit(TCatalogTree &tree, const TCatalogEdit &edit);

// What a commit did.
struct TCommitResult {
    bool reloaded = false; // the file had changed: the tree was read again first
    bool applied = false;  // false: the edit no longer applies and was dropped
    bool saved = false;    // the file was written
    bool backedUp = false; // the catalog was kept in the backup first
    int64_t fileCount = 0; // after the commit (valid when reloaded or saved)
};

// The writer side of one catalog file for a program that keeps the catalog
// in memory.  Knows the version of the file it last loaded or saved.
class TCatalogCommitter {
public:
    explicit TCatalogCommitter(QString catalogFile);

    const QString &FileName() const { return file_; }
    // Records the file as it is now as the version the tree holds (call it
    // after loading the file).
    void NoteLoaded();
    // The same with the version taken before the load began: a reader that
    // takes no lock may have read a newer file meanwhile, which then only
    // looks changed once more and is read again.
    void NoteLoaded(const platform::TFileIdentity &version);
    // True when the file differs from the version last loaded or saved, and
    // always before the first NoteLoaded.
    bool ChangedOnDisk() const;

    // Under the writer lock (waiting up to `timeoutMs`, `onWait` called once
    // when it has to wait): when the file changed since it was last loaded
    // or saved, calls `reload`, which reads it into `tree` again (and throws
    // when it cannot: a missing file, a damaged one), and notes it loaded;
    // applies `edit`; when the edit is destructive, keeps the file in the
    // backup; saves; notes the saved file.  An edit that no longer applies
    // is dropped: nothing is saved and applied is false.  Throws
    // ECatalogLockedError (nothing changed, tree untouched) and the load and
    // save errors.
    TCommitResult Commit(TCatalogTree &tree, const TCatalogEdit &edit, const std::function<void()> &reload,
                         ICatalogProgress *progress, int timeoutMs, const std::function<void()> &onWait = {});
    // The same with the change as a function that makes it on the tree and
    // returns false when it does not apply; `destructive` asks for the backup.
    TCommitResult Commit(TCatalogTree &tree, const std::function<bool(TCatalogTree &)> &apply, bool destructive,
                         const std::function<void()> &reload, ICatalogProgress *progress, int timeoutMs,
                         const std::function<void()> &onWait = {});

private:
    QString file_;
    bool knownValid_ = false;
    platform::TFileIdentity known_;
};

} // namespace tslcat
