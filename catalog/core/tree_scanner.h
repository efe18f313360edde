// tree_scanner.h - TTreeScanner, a small directory walker with events, and
// the operation that adds a disc to the catalog with it.
//
// A walk reports each folder when it is entered (OnDirectoryFound), then the
// folder's files in name order (OnFileFound), then its subfolders in name
// order, each followed at once by its own contents, and finally
// OnDirectoryDone.  Names are compared with CompareNamesCaseInsensitive.
//
// What enters a walk (the directory listing lives in platform.h):
//   - a folder whose name begins with "." is hidden: it is skipped with all
//     its contents; hidden files are kept;
//   - a symbolic link is never followed: it is reported as a file, whatever
//     it points to, so a link loop cannot hang a walk;
//   - a folder that cannot be listed yields no entries (no error).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "archive_reader.h"
#include "catalog_store.h"
#include "scan_source.h"

namespace tslcat {

namespace platform {
class TFolderHandle;
}

class TCatalogTree;
class TCatalogNode;
class IIconLookup;

class TTreeScanner {
public:
    // Folder where a walk starts; empty: the process's current directory.
    std::string InitialDirectory;
    // Files must match this pattern ("*" any run, "?" one byte, ASCII case
    // ignored); "*.*" and "*" match every name, dotted or not.
    std::string FileMask = "*.*";
    // Whether subfolders are walked.  When false each subfolder is only
    // reported with OnDirectoryFound, without OnDirectoryDone.
    bool Recursive = true;

    // During OnDirectoryFound the folder path, ending in the separator;
    // during OnFileFound the file's full path.
    const std::string &FileFound() const { return fileFound_; }
    // During OnFileFound the file's size (low 32 bits), otherwise 0.
    uint32_t FileSize() const;
    // The entry being reported: during OnDirectoryFound the folder (the
    // start folder's name is its last path component), during OnFileFound
    // the file.  Its size and time are read from the file system when first
    // asked for, so a walk whose handlers never ask costs no call per entry.
    const TScanEntry &Entry() const;
    bool SearchInProgress() const { return searchInProgress_; }

    std::function<void(TTreeScanner &)> OnDirectoryFound;
    std::function<void(TTreeScanner &)> OnFileFound;
    std::function<void(TTreeScanner &)> OnDirectoryDone;
    // Called at every folder before it is listed: the front end processes
    // its pending events here.
    std::function<void()> OnProcessEvents;

    // Walks InitialDirectory (made to end in exactly one separator) and
    // returns when the walk is finished.
    void Scan();
    // Walks one folder given as a path ending in the separator, recursively.
    void ScanDirectory(const std::string &folderPath);

private:
    void scanFolder(const std::string &folderPath, const platform::TFolderHandle *parent, TScanEntry self, int depth);

    std::string fileFound_;
    mutable TScanEntry entry_;
    // While entry_'s size and time are still to be read: the open folder
    // holding it (or, when that is closed, fileFound_ is used).
    const platform::TFolderHandle *detailsIn_ = nullptr;
    mutable bool detailsPending_ = false;
    bool inFileEvent_ = false;
    bool searchInProgress_ = false;
    bool running_ = false;
};

// How a scan treats the archives it meets.
struct TScanOptions {
    // Catalog the members of the archives found (IsArchiveName) as children
    // of the archive's node, one level deep: archives inside archives, and
    // archives inside a scanned image, stay files.
    bool openArchives = false;
    // Bounds per archive; past one the archive stays a plain file.
    TArchiveLimits archiveLimits = TArchiveLimits::ForArchive();
};

// An archive found during a scan that stays a plain file.
struct TClosedArchive {
    std::string path;   // where it is, as the scan saw it
    std::string reason; // e.g. "more than 100000 members"
};

struct TAddDiscResult {
    TCatalogNode *disc = nullptr;           // the new disc node
    int64_t fileCount = 0;                  // child-less nodes of the whole catalog
    TFileTypeList fileTypes;                // rebuilt over the whole catalog
    std::vector<TClosedArchive> keptClosed; // with TScanOptions::openArchives
};

// Adds the tree of `source` as a new last disc node named `discName` (any
// bytes, empty and duplicate names accepted): folders become folder nodes
// with folder icons, files become file nodes with file icons, in walk order,
// all inside one BeginUpdate/EndUpdate; then the disc icons are refreshed
// and files counted over the whole catalog.  Does not save: the caller runs
// SaveCatalog next.  Events are processed at every folder and after every
// file node.
TAddDiscResult AddDiscFrom(TCatalogTree &tree, ITreeSource &source, std::string_view discName, IIconLookup &icons,
                           ICatalogProgress *progress = nullptr, const TScanOptions &options = {});

// AddDiscFrom over `root`: a folder (a root that cannot be listed gives a
// disc node without entries), or an existing file, which must be an ISO 9660
// image.  An image is read whole before the catalog is touched, so a damaged,
// truncated or foreign file throws EImageError naming it and leaves the
// catalog as it was.
TAddDiscResult AddDisc(TCatalogTree &tree, const std::string &root, std::string_view discName, IIconLookup &icons,
                       ICatalogProgress *progress = nullptr, const TScanOptions &options = {});

} // namespace tslcat
