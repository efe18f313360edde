// catalog_store.h - loading the catalog from "mdb.dat" and saving it back,
// with the file count and the file-type list the front ends show.
//
// LoadCatalog and SaveCatalog are the window's whole persistence: the load
// runs once at start-up, the save after every change.  They report through
// ICatalogProgress, which a front end fills in (status text, gauge, event
// processing, busy cursor); the core works without one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <QString>

namespace tslcat {

class TCatalogTree;
class IIconLookup;

// Progress hooks of the long operations (load, save, add a disc, search).
// All methods have empty defaults.
class ICatalogProgress {
public:
    virtual ~ICatalogProgress() = default;
    // The status line ("Loading Database...", "" to empty it).  Show it at
    // once: the save repaints it without processing other events.
    virtual void SetStatusText(const char *text) { (void)text; }
    // The progress gauge: shown/hidden, its maximum (set only when there is
    // at least one node) and its position.
    virtual void ShowGauge(bool visible) { (void)visible; }
    virtual void SetGaugeMaximum(int maximum) { (void)maximum; }
    virtual void SetGaugePosition(int position) { (void)position; }
    // Hourglass cursor and the find-folder animation on / off.
    virtual void SetBusy(bool busy) { (void)busy; }
    // Let the front end process its pending events (repaint, input).  Long
    // walks call it once per node (a million times for a large catalog), so
    // a front end may process events only when some milliseconds have passed.
    // The tree is marked busy (TCatalogTree::IsBusy) while this can be called.
    virtual void ProcessEvents() {}
};

// The extension of a name: from its last "." to the end, dot included, when
// that dot comes after every "\" and ":" in the name; else empty.
// Readme.TXT -> .TXT, archive.tar.gz -> .gz, Makefile -> "", "x." -> ".",
// .profile -> .profile.
std::string_view ExtensionOf(std::string_view name);

// The sorted, duplicate-free list of extensions that fills the search's
// file-type box: ordered by CompareNamesCaseInsensitive; a candidate equal
// to an entry already there (ignoring case) is dropped, so the form met
// first stays; the empty string is a valid entry and sorts first.
class TFileTypeList {
public:
    // Returns true when `extension` became a new entry.
    bool Add(std::string_view extension);
    const std::vector<std::string> &Items() const { return items_; }
    int Count() const { return static_cast<int>(items_.size()); }
    void Clear();

private:
    std::vector<std::string> items_;
    std::unordered_set<std::string> seen_; // exact forms already tried
};

// Number of nodes at any level without children: files, empty folders and
// discs without entries alike.
int64_t CountFiles(const TCatalogTree &tree);
// "Database: " + count in decimal + " files" (the same words for 0 and 1).
std::string DatabaseLabelText(int64_t fileCount);

// The missing-catalog message naming `fileName` (raw bytes): the window's
// own text for "mdb.dat", "No Database found (file 'mdb.dat' missing)".
std::string NoDatabaseText(const std::string &fileName);

struct TLoadResult {
    bool found = false;    // false: no such file; show texts::kNoDatabase
    int64_t fileCount = 0; // valid when found
    TFileTypeList fileTypes;
};

// LoadCatalog: when `fileName` does not exist returns found = false and
// changes nothing.  Otherwise reads it into `tree` (TCatalogTree::LoadFromFile)
// inside one BeginUpdate/EndUpdate, then gives every disc node with children
// the folder icons of its name, and counts files and collects their
// extensions in one pass over the flat index.  Progress: "Loading
// Database...", events processed, "Preparing Tree Nodes...", gauge over the
// nodes with events processed per node, "Displaying Tree...", "".
// A read failure is rethrown after the update suspension is lifted; the
// nodes read before it stay, the later steps do not run.  A front end must
// then not save over the file (it would replace it with the partial tree).
TLoadResult LoadCatalog(TCatalogTree &tree, const QString &fileName, IIconLookup &icons,
                        ICatalogProgress *progress = nullptr);

// SaveCatalog: "Saving Database...", writes the binary form with
// TCatalogTree::SaveToFile (atomic: the old file survives every failure),
// empties the status and returns the file count for the "Database: " label.
// Errors (EFCreateError, EWriteError) are rethrown after the status and the
// busy state are reset; the tree is unchanged.
int64_t SaveCatalog(const TCatalogTree &tree, const QString &fileName, ICatalogProgress *progress = nullptr);

// The disc icon refresh and the counting pass of loading and adding a disc:
// for every node in flat order, a disc node with children gets the folder
// icons of its name; a node without children counts as a file and adds its
// extension to `fileTypes`.  Calls progress->SetGaugePosition(i) and
// ProcessEvents() per node when `perNodeEvents` is set.  Returns the count.
int64_t RefreshDiscIconsAndCount(TCatalogTree &tree, IIconLookup &icons, TFileTypeList &fileTypes,
                                 ICatalogProgress *progress, bool perNodeEvents);

} // namespace tslcat
