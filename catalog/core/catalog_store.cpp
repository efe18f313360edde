// catalog_store.cpp - loading and saving "mdb.dat" with the file count, the
// file-type list and the disc icon refresh.

#include "catalog_store.h"

#include <QFileInfo>

#include <algorithm>

#include "catalog_names.h"
#include "catalog_texts.h"
#include "catalog_tree.h"
#include "icon_lookup.h"

namespace tslcat {

std::string_view ExtensionOf(std::string_view name)
{
    // One backward scan that stops at the last dot or separator, whichever
    // comes first: it reads only the extension's bytes, where the two
    // searches it replaces read the whole name (this runs for every file of
    // every load and filtered search).
    for (size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (c == '.')
            return name.substr(i);
        if (c == '\\' || c == ':')
            return {};
    }
    return {};
}

bool TFileTypeList::Add(std::string_view extension)
{
    // Most file nodes repeat an extension already met in exactly this form;
    // they cost one hash lookup and no collation.
    std::string key(extension); // short: no allocation
    if (seen_.count(key))
        return false;
    seen_.insert(std::move(key));
    auto it =
        std::lower_bound(items_.begin(), items_.end(), extension, [](const std::string &entry, std::string_view value) {
            return CompareNamesCaseInsensitive(entry, value) < 0;
        });
    if (it != items_.end() && CompareNamesCaseInsensitive(*it, extension) == 0)
        return false;
    items_.emplace(it, extension);
    return true;
}

void TFileTypeList::Clear()
{
    items_.clear();
    seen_.clear();
}

int64_t CountFiles(const TCatalogTree &tree)
{
    const TCatalogNodes &nodes = tree.Items();
    int64_t files = 0;
    const int count = nodes.Count();
    for (int i = 0; i < count; ++i)
        if (!nodes.Item(i)->HasChildren())
            ++files;
    return files;
}

std::string DatabaseLabelText(int64_t fileCount)
{
    return "Database: " + std::to_string(fileCount) + " files";
}

std::string NoDatabaseText(const std::string &fileName)
{
    return "No Database found (file '" + fileName + "' missing)";
}

int64_t RefreshDiscIconsAndCount(TCatalogTree &tree, IIconLookup &icons, TFileTypeList &fileTypes,
                                 ICatalogProgress *progress, bool perNodeEvents)
{
    TCatalogNodes &nodes = tree.Items();
    const int count = nodes.Count(); // taken once: the pass changes no structure
    int64_t files = 0;
    for (int i = 0; i < count; ++i) {
        if (perNodeEvents && progress) {
            progress->SetGaugePosition(i);
            progress->ProcessEvents();
        }
        TCatalogNode *node = nodes.Item(i);
        if (node->HasChildren()) {
            if (!node->Parent()) // a disc
                node->SetIcons(FolderIcon(icons, node->Text(), false), FolderIcon(icons, node->Text(), true));
        } else {
            fileTypes.Add(ExtensionOf(node->Text()));
            ++files;
        }
    }
    return files;
}

namespace {

// Keeps the update suspension and the busy state paired on every exit.
class LoadScope {
public:
    LoadScope(TCatalogTree &tree, ICatalogProgress *progress) : tree_(tree), progress_(progress), busy_(tree)
    {
        if (progress_)
            progress_->SetBusy(true);
        tree_.Items().BeginUpdate();
    }
    ~LoadScope()
    {
        tree_.Items().EndUpdate();
        if (progress_) {
            progress_->ShowGauge(false);
            progress_->SetStatusText("");
            progress_->SetBusy(false);
        }
    }
    LoadScope(const LoadScope &) = delete;
    LoadScope &operator=(const LoadScope &) = delete;

private:
    TCatalogTree &tree_;
    ICatalogProgress *progress_;
    TBusyScope busy_;
};

} // namespace

TLoadResult LoadCatalog(TCatalogTree &tree, const QString &fileName, IIconLookup &icons, ICatalogProgress *progress)
{
    TLoadResult result;
    if (!QFileInfo::exists(fileName))
        return result;
    result.found = true;
    {
        LoadScope scope(tree, progress);
        if (progress) {
            progress->SetStatusText(texts::kLoadingDatabase);
            progress->ProcessEvents();
        }
        {
            // Events are processed during the read too, not only after it.
            struct Hook {
                TCatalogTree &tree;
                std::function<void()> previous;
                ~Hook() { tree.OnLoadProgress = std::move(previous); }
            } hook{tree, tree.OnLoadProgress};
            if (progress)
                tree.OnLoadProgress = [progress] { progress->ProcessEvents(); };
            tree.LoadFromFile(fileName);
        }
        if (progress) {
            progress->ShowGauge(true);
            progress->SetStatusText(texts::kPreparingTreeNodes);
            if (tree.Items().Count() > 0)
                progress->SetGaugeMaximum(tree.Items().Count() - 1);
        }
        result.fileCount = RefreshDiscIconsAndCount(tree, icons, result.fileTypes, progress, true);
        if (progress) {
            progress->ShowGauge(false);
            progress->SetStatusText(texts::kDisplayingTree);
            progress->ProcessEvents();
        }
    }
    return result;
}

int64_t SaveCatalog(const TCatalogTree &tree, const QString &fileName, ICatalogProgress *progress)
{
    struct SaveScope {
        ICatalogProgress *progress;
        ~SaveScope()
        {
            if (progress) {
                progress->SetBusy(false);
                progress->SetStatusText("");
            }
        }
    } scope{progress};
    if (progress) {
        progress->SetStatusText(texts::kSavingDatabase);
        progress->SetBusy(true);
    }
    tree.SaveToFile(fileName, true);
    return CountFiles(tree);
}

} // namespace tslcat
