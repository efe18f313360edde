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

#include "catalog_store.h"

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
    // During OnFileFound the file's size (low 32 bits), otherwise 0.  Read
    // from the file system when first asked for, so a walk whose handlers
    // never ask costs no call per file.
    uint32_t FileSize() const;
    // During OnFileFound the file's whole size and modification time
    // (seconds since 1970, UTC; a link's own), read like FileSize; false
    // when the file system does not give them.
    bool FileStat(uint64_t &size, int64_t &modifiedTime) const;
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
    void scanFolder(const std::string &folderPath, const platform::TFolderHandle *parent, const std::string &name,
                    int depth);

    std::string fileFound_;
    mutable uint32_t fileSize_ = 0;
    // While a file's size is still to be read: the folder and the name.
    mutable const platform::TFolderHandle *sizeFolder_ = nullptr;
    const std::string *sizeName_ = nullptr;
    bool searchInProgress_ = false;
    bool running_ = false;
};

struct TAddDiscResult {
    TCatalogNode *disc = nullptr; // the new disc node
    int64_t fileCount = 0;        // child-less nodes of the whole catalog
    TFileTypeList fileTypes;      // rebuilt over the whole catalog
};

// Adds the folder tree at `root` as a new last disc node named `discName`
// (any bytes, empty and duplicate names accepted): folders become folder
// nodes with folder icons, files become file nodes with file icons, in walk
// order, all inside one BeginUpdate/EndUpdate; then the disc icons are
// refreshed and files counted over the whole catalog.  A root that cannot be
// listed gives a disc node without entries.  Does not save: the caller runs
// SaveCatalog next.  Events are processed at every folder and after every
// file node.
TAddDiscResult AddDisc(TCatalogTree &tree, const std::string &root, std::string_view discName, IIconLookup &icons,
                       ICatalogProgress *progress = nullptr);

} // namespace tslcat
