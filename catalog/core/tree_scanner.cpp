// tree_scanner.cpp - TTreeScanner and adding a disc with it.

#include "tree_scanner.h"

#include <algorithm>

#include <QString>

#include "catalog_names.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "platform.h"

namespace tslcat {

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "*" any run, "?" one byte, ASCII case ignored.  Iterative with one
// backtrack point, so no input makes it slow or deep.
bool matchesMask(std::string_view name, std::string_view mask)
{
    if (mask.empty() || mask == "*" || mask == "*.*")
        return true;
    size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || asciiLower(mask[m]) == asciiLower(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

} // namespace

const TScanEntry &TTreeScanner::Entry() const
{
    if (detailsPending_) {
        detailsPending_ = false;
        platform::TFolderEntry e{entry_.name, entry_.IsFolder(), false, 0};
        // Through the open folder where there is one; deep in a tree, where
        // handles are closed, by the full path.
        const bool known =
            detailsIn_ && detailsIn_->IsOpen() ? detailsIn_->Describe(e) : platform::DescribePath(fileFound_, e);
        if (known) {
            entry_.size = entry_.IsFolder() ? 0 : e.size;
            entry_.modified = e.modified;
        }
    }
    return entry_;
}

uint32_t TTreeScanner::FileSize() const
{
    return inFileEvent_ ? static_cast<uint32_t>(Entry().size) : 0;
}

void TTreeScanner::Scan()
{
    searchInProgress_ = true;
    fileFound_.clear();
    const char sep = platform::PathSeparator();
    std::string start = InitialDirectory.empty() ? platform::CurrentDirectory() : InitialDirectory;
    while (start.size() > 1 && start.back() == sep)
        start.pop_back();
    if (start.empty() || start.back() != sep)
        start.push_back(sep);
    entry_ = {};
    entry_.kind = TEntryKind::Folder;
    {
        platform::TFolderEntry self{{}, true, false, 0};
        if (platform::DescribePath(start, self))
            entry_.modified = self.modified;
        const size_t end = start.size() - 1;
        const size_t slash = end == 0 ? std::string::npos : start.rfind(sep, end - 1);
        entry_.name = slash == std::string::npos ? start.substr(0, end) : start.substr(slash + 1, end - slash - 1);
    }
    running_ = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{searchInProgress_};
    ScanDirectory(start);
}

void TTreeScanner::ScanDirectory(const std::string &folderPath)
{
    TScanEntry self = entry_;
    if (!searchInProgress_) {
        self = {};
        self.kind = TEntryKind::Folder;
    }
    scanFolder(folderPath, nullptr, std::move(self), 0);
}

// Handles of the folders being walked stay open down to this depth, so each
// subfolder is opened relative to its parent; deeper, a folder's handle is
// closed before its subfolders are walked (they are opened by full path), so
// a deep tree never runs out of handles.
constexpr int kMaxOpenFolderDepth = 64;

void TTreeScanner::scanFolder(const std::string &folderPath, const platform::TFolderHandle *parent, TScanEntry self,
                              int depth)
{
    if (OnProcessEvents)
        OnProcessEvents();
    if (!running_)
        return;
    fileFound_ = folderPath;
    entry_ = std::move(self);
    detailsIn_ = parent;
    detailsPending_ = parent != nullptr; // the start folder's came with Scan
    if (OnDirectoryFound)
        OnDirectoryFound(*this);
    detailsPending_ = false;
    self = entry_;

    // One listing gives both the subfolders and the files.
    platform::TFolderHandle folder;
    if (parent)
        folder.OpenChild(*parent, self.name, folderPath);
    else
        folder.Open(folderPath);
    std::vector<platform::TFolderEntry> listing;
    folder.List(listing);
    std::vector<TScanEntry> entries;
    entries.reserve(listing.size());
    for (auto &e : listing) {
        if (!e.isFolder && !matchesMask(e.name, FileMask))
            continue;
        TScanEntry entry;
        entry.name = std::move(e.name);
        entry.kind = e.isFolder ? TEntryKind::Folder : e.isLink ? TEntryKind::Link : TEntryKind::File;
        entries.push_back(std::move(entry));
    }
    listing.clear();
    listing.shrink_to_fit();
    std::vector<TScanEntry> files, folders;
    SplitListing(std::move(entries), files, folders);

    for (TScanEntry &f : files) {
        fileFound_.assign(folderPath).append(f.name);
        entry_ = std::move(f);
        detailsIn_ = &folder;
        detailsPending_ = true;
        inFileEvent_ = true;
        if (OnFileFound)
            OnFileFound(*this);
        inFileEvent_ = false;
        detailsPending_ = false;
    }
    files.clear();
    if (depth >= kMaxOpenFolderDepth)
        folder.Close();
    const char sep = platform::PathSeparator();
    std::string sub;
    for (TScanEntry &d : folders) {
        sub.assign(folderPath).append(d.name).push_back(sep);
        if (Recursive) {
            scanFolder(sub, &folder, std::move(d), depth + 1);
        } else {
            fileFound_ = sub;
            entry_ = std::move(d);
            detailsIn_ = &folder;
            detailsPending_ = true;
            if (OnDirectoryFound)
                OnDirectoryFound(*this);
            detailsPending_ = false;
        }
    }
    fileFound_ = folderPath;
    entry_ = std::move(self);
    if (OnDirectoryDone)
        OnDirectoryDone(*this);
}

namespace {

// The one tree builder: turns a walk into catalog nodes below a new disc.
class TCatalogBuilder final : public IScanSink {
public:
    TCatalogBuilder(TCatalogNodes &nodes, std::string_view discName, IIconLookup &icons, ICatalogProgress *progress,
                    const TScanOptions &options, bool filesOnDisk, std::vector<TClosedArchive> &keptClosed)
        : nodes_(nodes), discName_(discName), icons_(icons), progress_(progress), options_(options),
          openArchives_(options.openArchives && filesOnDisk), keptClosed_(keptClosed)
    {
    }

    TCatalogNode *Disc() const { return disc_; }

    void FolderEntered(const TScanEntry &folder, const std::string &path) override
    {
        ++depth_;
        if (depth_ == 1) {
            current_ = nodes_.AddChild(nullptr, discName_);
            current_->SetFileInfo(TNodeKind::Disc);
            disc_ = current_;
        } else {
            current_ = nodes_.AddChild(current_, folder.name);
            current_->SetFileInfo(TNodeKind::Folder);
        }
        current_->SetIcons(FolderIcon(icons_, path, false), FolderIcon(icons_, path, true));
        processEvents();
    }

    void FileFound(const TScanEntry &file, const std::string &path) override
    {
        TCatalogNode *node = nodes_.AddChild(current_, file.name);
        node->SetIcons(FileIcon(icons_, path, false), FileIcon(icons_, path, true));
        // Folders and discs get totals from the files below them.
        node->SetFileInfo(TNodeKind::File, file.size, file.modified);
        if (openArchives_ && !insideArchive_ && file.kind == TEntryKind::File && IsArchiveName(file.name))
            openArchive(node, path);
        processEvents();
    }

    void FolderDone() override
    {
        --depth_;
        current_ = current_ ? current_->Parent() : nullptr;
    }

private:
    void processEvents()
    {
        if (progress_)
            progress_->ProcessEvents();
    }

    // The members go below the archive's own node, which thereby becomes a
    // folder for the catalog; an archive that cannot be listed whole stays
    // the file it was.
    void openArchive(TCatalogNode *node, const std::string &path)
    {
        TEntryTree members;
        const TArchiveReport report =
            ReadArchiveMembers(path, members, options_.archiveLimits, [this] { processEvents(); });
        if (report.result != TArchiveResult::Ok) {
            keptClosed_.push_back({path, report.message});
            return;
        }
        if (members.Size() == 0)
            return;
        node->SetData(kArchiveNodeData);
        // With its members below it the archive is a folder for the catalog,
        // and its total is theirs.
        node->SetFileInfo(TNodeKind::Folder);
        TCatalogNode *const outer = current_;
        const int outerDepth = depth_;
        current_ = node;
        insideArchive_ = true;
        members.Walk(*this, {}, path + "/", false);
        insideArchive_ = false;
        current_ = outer;
        depth_ = outerDepth;
    }

    TCatalogNodes &nodes_;
    std::string_view discName_;
    IIconLookup &icons_;
    ICatalogProgress *progress_;
    const TScanOptions &options_;
    const bool openArchives_;
    std::vector<TClosedArchive> &keptClosed_;
    int depth_ = 0;
    TCatalogNode *current_ = nullptr;
    TCatalogNode *disc_ = nullptr;
    bool insideArchive_ = false;
};

} // namespace

TAddDiscResult AddDiscFrom(TCatalogTree &tree, ITreeSource &source, std::string_view discName, IIconLookup &icons,
                           ICatalogProgress *progress, const TScanOptions &options)
{
    TAddDiscResult result;
    TBusyScope busy(tree);
    TCatalogNodes &nodes = tree.Items();

    struct Scope {
        TCatalogNodes &nodes;
        ICatalogProgress *progress;
        ~Scope()
        {
            nodes.EndUpdate();
            if (progress)
                progress->SetBusy(false);
        }
    };
    if (progress)
        progress->SetBusy(true);
    nodes.BeginUpdate();
    Scope scope{nodes, progress};

    TCatalogBuilder builder(nodes, discName, icons, progress, options, source.FilesAreOnDisk(), result.keptClosed);
    source.Walk(builder);
    result.disc = builder.Disc();

    result.fileCount = RefreshDiscIconsAndCount(tree, icons, result.fileTypes, progress, false);
    return result;
}

TAddDiscResult AddDisc(TCatalogTree &tree, const std::string &root, std::string_view discName, IIconLookup &icons,
                       ICatalogProgress *progress, const TScanOptions &options)
{
    if (platform::IsExistingFile(root)) {
        // Read whole, and so refused if need be, before the catalog is touched.
        TImageSource image(root, [progress] {
            if (progress)
                progress->ProcessEvents();
        });
        return AddDiscFrom(tree, image, discName, icons, progress, options);
    }
    TFolderSource folder(root);
    return AddDiscFrom(tree, folder, discName, icons, progress, options);
}

} // namespace tslcat
