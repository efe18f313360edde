// platform.h - the few operating-system calls of the catalog core.  One
// implementation file per system (platform_posix.cpp here; the volume list
// has its own, volumes_<system>.cpp); nothing else in the core talks to the
// operating system directly except through Qt Core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tslcat::platform {

// The path separator of this system's paths ('/' on POSIX).
char PathSeparator();

struct TFolderEntry {
    std::string name;     // raw bytes, never "." or ".."
    bool isFolder;        // a real folder; a symbolic link is never one
    bool isHidden;        // POSIX: the name begins with "."
    uint64_t size;        // file size in bytes (0 for folders)
    bool isLink = false;  // a symbolic link
    int64_t modified = 0; // seconds since 1970 UTC (set by Describe)
};

// Size, modification time and link flag of the entry at `path` itself (a
// link is not followed).  False, leaving `entry` as it was, when it cannot
// be read.
bool DescribePath(const std::string &path, TFolderEntry &entry);

// Lists one folder (path ending in the separator) in the order the system
// gives.  Returns false, with `entries` empty, when it cannot be read.
bool ListFolder(const std::string &folderPath, std::vector<TFolderEntry> &entries);

// An open folder.  A walk opens each subfolder relative to its parent's
// handle (no lookup of the whole path again) and asks for a file's size only
// when someone wants it: listing a folder then costs no call per file.
class TFolderHandle {
public:
    TFolderHandle() = default;
    ~TFolderHandle() { Close(); }
    TFolderHandle(const TFolderHandle &) = delete;
    TFolderHandle &operator=(const TFolderHandle &) = delete;

    // Opens the folder at `path`.  False when it is not a readable folder.
    bool Open(const std::string &path);
    // Opens the subfolder `name` of `parent`, never through a symbolic link;
    // when `parent` is not open (a walk keeps only so many handles), opens
    // `fullPath` instead.  Fails, like Open, when `fullPath` is longer than
    // the system accepts for a path.
    bool OpenChild(const TFolderHandle &parent, const std::string &name, const std::string &fullPath);
    bool IsOpen() const { return dir_ != nullptr; }
    void Close();

    // The entries in the order the system gives, sizes left 0.  False, with
    // `entries` empty, when the folder is not open.
    bool List(std::vector<TFolderEntry> &entries);
    // Size in bytes of the entry `name` (a link's own size, not followed);
    // 0 when it cannot be read.
    uint64_t SizeOf(const std::string &name) const;
    // Fills the size (0 for folders), modification time and link flag of
    // `entry`, named in this folder; lstat semantics.  False, leaving them
    // as they were, when the entry cannot be read.
    bool Describe(TFolderEntry &entry) const;

private:
    void *dir_ = nullptr; // the system's directory stream
};

// While alive, the calling thread decodes and encodes multibyte text as
// UTF-8 whatever the process's locale, so names read from images and
// archives come out the same under any locale.  Does nothing where the
// system has no UTF-8 locale.
class TUtf8TextScope {
public:
    TUtf8TextScope();
    ~TUtf8TextScope();
    TUtf8TextScope(const TUtf8TextScope &) = delete;
    TUtf8TextScope &operator=(const TUtf8TextScope &) = delete;

private:
    void *locale_ = nullptr;
    void *previous_ = nullptr;
};

// The process's current directory, or "" when it cannot be found.
std::string CurrentDirectory();

// True when `path` names an existing file (or a link to one); false for
// folders and for anything missing.
bool IsExistingFile(const std::string &path);

// Flushes an open file's data to the storage device (fsync); true on success.
bool SyncFile(int handle);

// Asks the system to start writing the given byte range of an open file to
// its device without waiting for it; a hint only (SyncFile still makes the
// data durable), so it reports nothing and may do nothing.
void StartWriteBack(int handle, int64_t offset, int64_t length);

// For a file about to be replaced by a new one.  Replacing a large file
// makes the rename free all of the old file's blocks before it returns, and
// the old file's cached pages compete with the new file's while it is being
// written.  HoldFile opens the file at `path` (-1 when there is none), tells
// the system its cached contents will not be read again, and keeps it open so
// that the rename only drops a name; ReleaseHeldFile then closes it on a
// background thread, where the blocks are freed.  One thread serves every
// release of the process, in order, so a run of saves never piles up
// threads; it is started at the first release and joined at exit.  The
// file's contents on disk are untouched either way.
int HoldFile(const std::string &path);
void ReleaseHeldFile(int handle);

// What tells one version of a file from another without reading it: the
// file's identity (a save renames a new file over the old one, so each save
// gives a new one), its size and its modification time in nanoseconds.
struct TFileIdentity {
    bool exists = false;
    uint64_t device = 0;
    uint64_t file = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const TFileIdentity &o) const
    {
        return exists == o.exists && device == o.device && file == o.file && size == o.size &&
            modifiedNs == o.modifiedNs;
    }
    bool operator!=(const TFileIdentity &o) const { return !(*this == o); }
};
// The identity of the file at `path` (following links); `exists` false when
// there is none.
TFileIdentity IdentifyFile(const std::string &path);

} // namespace tslcat::platform
