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

struct Collected {
    std::string name;
    QString key; // decoded once for sorting
};

// Sorted by the locale's case-insensitive order.  Names that differ only in
// letter case are all kept (a case-sensitive file system can hold both),
// in byte order among themselves.
void sortEntries(std::vector<Collected> &entries)
{
    for (Collected &e : entries)
        e.key = DecodeName(e.name);
    std::stable_sort(entries.begin(), entries.end(), [](const Collected &a, const Collected &b) {
        int r = CompareDecodedNamesCaseInsensitive(a.key, b.key);
        return r != 0 ? r < 0 : a.name < b.name;
    });
}

} // namespace

void TTreeScanner::Scan()
{
    searchInProgress_ = true;
    fileFound_.clear();
    fileSize_ = 0;
    const char sep = platform::PathSeparator();
    std::string start = InitialDirectory.empty() ? platform::CurrentDirectory() : InitialDirectory;
    while (start.size() > 1 && start.back() == sep)
        start.pop_back();
    if (start.empty() || start.back() != sep)
        start.push_back(sep);
    running_ = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{searchInProgress_};
    ScanDirectory(start);
}

uint32_t TTreeScanner::FileSize() const
{
    if (sizeFolder_) {
        fileSize_ = static_cast<uint32_t>(sizeFolder_->SizeOf(*sizeName_));
        sizeFolder_ = nullptr;
    }
    return fileSize_;
}

bool TTreeScanner::FileStat(uint64_t &size, int64_t &modifiedTime) const
{
    return sizeFolder_ && sizeFolder_->StatOf(*sizeName_, size, modifiedTime);
}

void TTreeScanner::ScanDirectory(const std::string &folderPath)
{
    scanFolder(folderPath, nullptr, {}, 0);
}

// Handles of the folders being walked stay open down to this depth, so each
// subfolder is opened relative to its parent; deeper, a folder's handle is
// closed before its subfolders are walked (they are opened by full path), so
// a deep tree never runs out of handles.
constexpr int kMaxOpenFolderDepth = 64;

void TTreeScanner::scanFolder(const std::string &folderPath, const platform::TFolderHandle *parent,
                              const std::string &name, int depth)
{
    if (OnProcessEvents)
        OnProcessEvents();
    if (!running_)
        return;
    fileSize_ = 0;
    fileFound_ = folderPath;
    if (OnDirectoryFound)
        OnDirectoryFound(*this);

    // One listing gives both the subfolders and the files.
    platform::TFolderHandle folder;
    if (parent)
        folder.OpenChild(*parent, name, folderPath);
    else
        folder.Open(folderPath);
    std::vector<platform::TFolderEntry> listing;
    folder.List(listing);
    std::vector<Collected> folders, files;
    for (auto &e : listing) {
        if (e.isFolder) {
            if (!e.isHidden)
                folders.push_back({std::move(e.name), {}});
        } else if (matchesMask(e.name, FileMask)) {
            files.push_back({std::move(e.name), {}});
        }
    }
    listing.clear();
    listing.shrink_to_fit();
    sortEntries(folders);
    sortEntries(files);

    for (const Collected &f : files) {
        fileFound_.assign(folderPath).append(f.name);
        fileSize_ = 0;
        sizeFolder_ = &folder;
        sizeName_ = &f.name;
        struct SizeScope {
            const platform::TFolderHandle *&folder;
            ~SizeScope() { folder = nullptr; }
        } sizeScope{sizeFolder_};
        if (OnFileFound)
            OnFileFound(*this);
    }
    fileSize_ = 0;
    if (depth >= kMaxOpenFolderDepth)
        folder.Close();
    const char sep = platform::PathSeparator();
    std::string sub;
    for (const Collected &d : folders) {
        sub.assign(folderPath).append(d.name).push_back(sep);
        if (Recursive) {
            scanFolder(sub, &folder, d.name, depth + 1);
        } else {
            fileFound_ = sub;
            if (OnDirectoryFound)
                OnDirectoryFound(*this);
        }
    }
    fileFound_ = folderPath;
    if (OnDirectoryDone)
        OnDirectoryDone(*this);
}

TAddDiscResult AddDisc(TCatalogTree &tree, const std::string &root, std::string_view discName, IIconLookup &icons,
                       ICatalogProgress *progress)
{
    TAddDiscResult result;
    TBusyScope busy(tree);
    TCatalogNodes &nodes = tree.Items();
    const char sep = platform::PathSeparator();

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

    int depth = 0;
    TCatalogNode *current = nullptr;
    auto processEvents = [progress] {
        if (progress)
            progress->ProcessEvents();
    };

    TTreeScanner scanner;
    scanner.InitialDirectory = root;
    scanner.OnDirectoryFound = [&](TTreeScanner &s) {
        ++depth;
        const std::string &path = s.FileFound();
        if (depth == 1) {
            current = nodes.AddChild(nullptr, discName);
            current->SetFileInfo(TNodeKind::Disc);
            result.disc = current;
        } else {
            // The last component: between the last two separators.
            const size_t end = path.size() - 1;
            const size_t begin = path.rfind(sep, end - 1);
            current = nodes.AddChild(current, std::string_view(path).substr(begin + 1, end - begin - 1));
            current->SetFileInfo(TNodeKind::Folder);
        }
        current->SetIcons(FolderIcon(icons, path, false), FolderIcon(icons, path, true));
        processEvents();
    };
    scanner.OnFileFound = [&](TTreeScanner &s) {
        const std::string &path = s.FileFound();
        const size_t slash = path.rfind(sep);
        TCatalogNode *file = nodes.AddChild(current, std::string_view(path).substr(slash + 1));
        file->SetIcons(FileIcon(icons, path, false), FileIcon(icons, path, true));
        uint64_t size = kUnknownSize;
        int64_t modified = kUnknownTime;
        if (!s.FileStat(size, modified))
            size = kUnknownSize, modified = kUnknownTime;
        file->SetFileInfo(TNodeKind::File, size, modified);
        processEvents();
    };
    scanner.OnDirectoryDone = [&](TTreeScanner &) {
        --depth;
        current = current ? current->Parent() : nullptr;
    };
    scanner.Scan();

    result.fileCount = RefreshDiscIconsAndCount(tree, icons, result.fileTypes, progress, false);
    return result;
}

} // namespace tslcat
