// result_actions.h - acting on a search result: putting its path onto the
// drive the user chose, checking the drive, asking for the disc, and handing
// the target to the desktop.
//
// The path logic is here; the effects go through small interfaces that the
// window fills with message boxes and desktop calls, and tests with fakes.
// On this system the drive root is a mount point (or any folder) ending in
// the path separator, and the target is the root followed by the row's names
// joined with that separator.  The disc may also be found by its name among
// the mounted volumes (volumes.h).
#pragma once

#include <string>
#include <string_view>

namespace tslcat {

struct TResultRow;

// "[ ]:\setup\docs\readme.txt" -> "setup\docs\readme.txt": the full path
// without its first five characters ("" for shorter texts).
std::string PathOnDisc(std::string_view fullPath);

struct TActionTarget {
    std::string target; // the file on the drive, e.g. /media/cdrom/setup/docs/readme.txt
    std::string root;   // the drive root, e.g. /media/cdrom/
    std::string folder; // the target's folder, up to and including its last separator
};

// Root = driveRoot made to end in exactly one separator; target = root +
// row.components joined with the separator; for a member of an archive, the
// archive itself (the components up to row.archiveComponent).  Call only for
// rows that are not disc rows.
TActionTarget MakeActionTarget(const TResultRow &row, std::string_view driveRoot);

// The system behind the actions.
class IVolumeQuery {
public:
    virtual ~IVolumeQuery() = default;
    // True when a readable volume is at `root`; its label ("" if none).
    virtual bool QueryVolume(const std::string &root, std::string &label) = 0;
};
class IFileProbe {
public:
    virtual ~IFileProbe() = default;
    // True for an existing file; false for folders and missing paths.
    virtual bool FileExists(const std::string &path) = 0;
};
class ILauncher {
public:
    virtual ~ILauncher() = default;
    // Opens a file or a folder with the desktop's default action.
    virtual void OpenWithDefault(const std::string &path) = 0;
    // Starts the text editor with `path` as its argument.
    virtual void OpenInEditor(const std::string &path) = 0;
};
class IPrompter {
public:
    virtual ~IPrompter() = default;
    // Shows a modal message (texts from catalog_texts.h) and returns when the
    // user has closed it.  `text` is raw bytes (it may hold a disc name).
    virtual void ShowMessage(const std::string &text) = 0;
    // Asks a Yes/No question (raw bytes, like ShowMessage); true for Yes.  A
    // prompter that cannot ask declines.
    virtual bool Ask(const std::string &text)
    {
        (void)text;
        return false;
    }
};
// Lets time pass while the user's disc is being mounted.
class IWaiter {
public:
    virtual ~IWaiter() = default;
    // Waits up to `milliseconds` (less when the volumes change meanwhile),
    // keeping the program responsive.  False when the wait should end now
    // (the program is closing).
    virtual bool Wait(int milliseconds) = 0;
};

class IVolumeList;

// The drive query (QueryDrive in volumes.h) on a volume list.
class TVolumeListQuery : public IVolumeQuery {
public:
    explicit TVolumeListQuery(IVolumeList &volumes) : m_volumes(volumes) {}
    bool QueryVolume(const std::string &root, std::string &label) override;

private:
    IVolumeList &m_volumes; // non-owning
};

// The same on the system's volume list, and the operating system's file
// test (platform.h).
class TSystemVolumeQuery : public IVolumeQuery {
public:
    bool QueryVolume(const std::string &root, std::string &label) override;
};
class TSystemFileProbe : public IFileProbe {
public:
    bool FileExists(const std::string &path) override;
};

enum class TResultAction {
    RunSelectedFile,        // "Run Selected File": default action on the target
    OpenWithNotepad,        // "Open with Notepad": the editor on the target
    BrowseContainingFolder, // "Browse Containing Folder": default action on the folder
};

enum class TActionOutcome {
    NoPath,        // no row or a disc row: nothing done
    DriveNotReady, // volume query failed: "Drive not ready !" shown
    NotFound,      // insert prompt shown, still no file: stopped silently
    Started,       // the launcher was called
    InsideArchive, // a member of an archive given to an action that opens the file: explained, nothing started
};

// The message for opening a member of an archive: it names the member and
// the archive holding it.
std::string InsideArchiveMessage(const TResultRow &row);

// The insert prompt for `discName`: "Insert CD \r\r'" + name + "'\r\r into
// CD-Rom Drive, then press OK".
std::string InsertDiscPrompt(std::string_view discName);

// The question offering another volume that holds the row's file:
// "The disc '" + name + "' is not mounted, but the file is on\r\r" + mount
// path + "   label '" + label + "'\r\rThis may be another disc. Use it?"
std::string OtherDiscQuestion(std::string_view discName, std::string_view root, std::string_view label);

struct TActionEnvironment {
    IVolumeQuery &volumes;
    IFileProbe &files;
    ILauncher &launcher;
    IPrompter &prompter;
    IVolumeList *volumeList = nullptr; // where to look for the disc by name; null: only the drive root
    IWaiter *waiter = nullptr;         // null: no waiting after the insert prompt
    int discWaitMilliseconds = 10000;  // how long to look for a disc after the insert prompt
};

// One action on `row` (nullptr: no selected row):
// 1. the target on the drive root, when that drive is ready and the file is
//    there;
// 2. else, with a volume list: the target on a volume labelled with the
//    row's disc name (FindVolumeByLabel), without asking;
// 3. else on another volume that holds the file, if the user agrees to the
//    OtherDiscQuestion;
// 4. else "Drive not ready !" when the drive root is not ready, or the
//    insert prompt for the row's disc; after it the drive root and the
//    volumes are looked at again, once a second or when the volumes change,
//    for up to discWaitMilliseconds; then the action stops silently.
// A folder row is never acted on, as every test is a file test.
// A member of an archive cannot be handed to a program: "Browse Containing
// Folder" acts on the archive (its folder is opened), the other two actions
// show InsideArchiveMessage and stop.
TActionOutcome RunResultAction(TResultAction action, const TResultRow *row, std::string_view driveRoot,
                               TActionEnvironment &env);

} // namespace tslcat
