// scan_source.h - what every scanner yields, whatever it reads.
//
// A folder on a disc, an ISO image and an archive are all walked as a tree
// of named entries.  Each source reports them through IScanSink in the one
// walk order of the catalog, and one tree builder (tree_scanner.h) turns the
// calls into catalog nodes, so the catalog cannot tell which source a disc
// came from.  The order and the hidden-name rule live here, once:
//   - a folder is reported when it is entered, then its files in name order,
//     then its subfolders in name order, each followed at once by its own
//     contents, then the folder is done;
//   - a folder whose name begins with "." is hidden: it is skipped with all
//     its contents; hidden files are kept;
//   - a symbolic link is reported as a file, never followed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tslcat {

enum class TEntryKind : uint8_t {
    File,   // a regular file, or anything that is neither a folder nor a link
    Folder, // a folder (never a link to one)
    Link,   // a symbolic link: a file for the catalog
};

// One entry of a walk.  `size` and `modified` are the entry's own (a link's
// lstat values, not its target's); a source that cannot tell leaves them 0.
struct TScanEntry {
    std::string name; // one path component, raw bytes; never "", "." or ".."
    TEntryKind kind = TEntryKind::File;
    uint64_t size = 0;    // bytes; 0 for folders
    int64_t modified = 0; // seconds since 1970-01-01 00:00 UTC

    bool IsFolder() const { return kind == TEntryKind::Folder; }
};

// The node of an archive whose members are catalogued carries this Data
// value, so the result actions can tell a member from a file on the disc.
// Data is an opaque value kept in the catalog file and never set otherwise.
inline constexpr uint32_t kArchiveNodeData = 0x41524331; // "ARC1"

// A folder name hidden from the catalog ("." first); files are never hidden.
bool IsHiddenFolderName(std::string_view name);

// Sorts one folder's entries into the walk order: by the locale's
// case-insensitive comparison, names that differ only in letter case in
// byte order among themselves.  Stable for equal names.
void SortScanEntries(std::vector<TScanEntry> &entries);

// Splits one folder's listing into the files and the visible subfolders, each
// sorted with SortScanEntries.  Links and files go to `files`.
void SplitListing(std::vector<TScanEntry> &&listing, std::vector<TScanEntry> &files, std::vector<TScanEntry> &folders);

// Receives one walk.  `path` is where the entry is as the source sees it
// (a folder's ends in the separator): the real path for a folder on disc,
// the image's path followed by the member's path for an image, so icon
// lookups and messages can name it.  The first FolderEntered is the root.
class IScanSink {
public:
    virtual ~IScanSink() = default;
    virtual void FolderEntered(const TScanEntry &folder, const std::string &path) = 0;
    virtual void FileFound(const TScanEntry &file, const std::string &path) = 0;
    virtual void FolderDone() = 0;
};

// A walkable tree of entries.
class ITreeSource {
public:
    virtual ~ITreeSource() = default;
    // Reports the whole tree to `sink`, root first.
    virtual void Walk(IScanSink &sink) = 0;
    // True when the files reported are real files on this system that can be
    // opened by their path (a folder on disc), false inside an image.
    virtual bool FilesAreOnDisk() const = 0;
};

// A tree of entries held in memory, as read from an image or an archive.
// Paths are added in any order; folders that a path implies but that the
// archive does not list are made up (without size or time).
class TEntryTree {
public:
    TEntryTree();

    enum class TAdded {
        Yes,        // added, or updated when the path was there already
        Nothing,    // the path names nothing (only separators and dots)
        TooDeep,    // more than kMaxDepth components: left out
        OverBudget, // the tree would grow past `maxNodes`: left out
    };
    // Adds the entry at `path` ('/'-separated; empty, "." and ".." components
    // are dropped, so no path leaves the tree; components are cut to 255
    // bytes at a character boundary).  A path met again updates the entry;
    // a file that later turns out to hold entries becomes a folder.
    // `maxNodes` bounds the entries of the tree, implied folders included.
    TAdded Add(std::string_view path, TEntryKind kind, uint64_t size, int64_t modified, size_t maxNodes);

    // Number of entries below the root.
    size_t Size() const { return nodes_.size() - 1; }
    // Reports the tree to `sink` in walk order.  The root is reported as
    // `rootEntry` at `rootPath` unless `withRoot` is false, in which case
    // only its contents are (for an archive walked into an existing node).
    void Walk(IScanSink &sink, const TScanEntry &rootEntry, const std::string &rootPath, bool withRoot = true) const;

    static constexpr size_t kMaxDepth = 1024;
    static constexpr size_t kMaxNameBytes = 255;

private:
    struct Node {
        TScanEntry entry;
        std::vector<uint32_t> children;
    };
    void walkFolder(uint32_t index, IScanSink &sink, std::string &path) const;
    uint32_t child(uint32_t parent, std::string_view name, bool &created);

    std::vector<Node> nodes_; // 0: the root
    // The parent's index as 4 bytes followed by the name -> the node's index.
    std::unordered_map<std::string, uint32_t> index_;
    std::string key_; // scratch for lookups
};

// The walk of a folder on disc (TTreeScanner underneath).
class TFolderSource final : public ITreeSource {
public:
    explicit TFolderSource(std::string root) : root_(std::move(root)) {}
    void Walk(IScanSink &sink) override;
    bool FilesAreOnDisk() const override { return true; }

private:
    std::string root_;
};

} // namespace tslcat
