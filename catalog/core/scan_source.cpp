// scan_source.cpp - the walk order, the in-memory entry tree of images and
// archives, and the folder source.

#include "scan_source.h"

#include <algorithm>

#include <QString>

#include "catalog_names.h"
#include "tree_scanner.h"

namespace tslcat {

bool IsHiddenFolderName(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

namespace {

// The walk order of `count` entries given by `entryAt(i)`: a permutation.
template <typename EntryAt> std::vector<uint32_t> WalkOrder(size_t count, EntryAt entryAt)
{
    // Decode each name once, not at every comparison.
    std::vector<std::pair<QString, uint32_t>> keys;
    keys.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        keys.emplace_back(DecodeName(entryAt(i).name), i);
    std::stable_sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        const int r = CompareDecodedNamesCaseInsensitive(a.first, b.first);
        return r != 0 ? r < 0 : entryAt(a.second).name < entryAt(b.second).name;
    });
    std::vector<uint32_t> order;
    order.reserve(count);
    for (const auto &k : keys)
        order.push_back(k.second);
    return order;
}

} // namespace

void SortScanEntries(std::vector<TScanEntry> &entries)
{
    if (entries.size() < 2)
        return;
    const std::vector<uint32_t> order =
        WalkOrder(entries.size(), [&](uint32_t i) -> const TScanEntry & { return entries[i]; });
    std::vector<TScanEntry> sorted;
    sorted.reserve(entries.size());
    for (uint32_t i : order)
        sorted.push_back(std::move(entries[i]));
    entries = std::move(sorted);
}

void SplitListing(std::vector<TScanEntry> &&listing, std::vector<TScanEntry> &files, std::vector<TScanEntry> &folders)
{
    files.clear();
    folders.clear();
    for (TScanEntry &e : listing) {
        if (!e.IsFolder())
            files.push_back(std::move(e));
        else if (!IsHiddenFolderName(e.name))
            folders.push_back(std::move(e));
    }
    listing.clear();
    SortScanEntries(files);
    SortScanEntries(folders);
}

// --- TEntryTree ------------------------------------------------------------------

namespace {

// The longest prefix of `name` of at most `limit` bytes that does not end
// inside a UTF-8 sequence (other bytes are cut where the limit falls).
std::string_view CutName(std::string_view name, size_t limit)
{
    if (name.size() <= limit)
        return name;
    const auto continuation = [&](size_t i) { return (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80; };
    // name[limit] is the first byte left out: when it continues a character,
    // that character goes too.  Bytes that are not UTF-8 are cut at the limit.
    size_t end = limit;
    while (end > 0 && limit - end < 3 && continuation(end))
        --end;
    return name.substr(0, continuation(end) ? limit : end);
}

} // namespace

TEntryTree::TEntryTree()
{
    nodes_.push_back({{{}, TEntryKind::Folder, 0, 0}, {}});
}

uint32_t TEntryTree::child(uint32_t parent, std::string_view name, bool &created)
{
    key_.assign(reinterpret_cast<const char *>(&parent), sizeof parent);
    key_.append(name);
    auto [it, inserted] = index_.try_emplace(key_, static_cast<uint32_t>(nodes_.size()));
    created = inserted;
    if (inserted) {
        nodes_.push_back({{std::string(name), TEntryKind::File, 0, 0}, {}});
        nodes_[parent].children.push_back(it->second);
    }
    return it->second;
}

TEntryTree::TAdded TEntryTree::Add(std::string_view path, TEntryKind kind, uint64_t size, int64_t modified,
                                   size_t maxNodes)
{
    // Split first, so that a path refused for its depth or for the node
    // budget adds nothing at all.
    std::string_view parts[kMaxDepth];
    size_t depth = 0;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == "." || part == "..")
            continue;
        if (depth == kMaxDepth)
            return TAdded::TooDeep;
        parts[depth++] = CutName(part, kMaxNameBytes);
    }
    if (depth == 0)
        return TAdded::Nothing;
    // Each step creates at most one node.
    size_t missing = 0;
    uint32_t at = 0;
    for (size_t i = 0; i < depth; ++i) {
        key_.assign(reinterpret_cast<const char *>(&at), sizeof at);
        key_.append(parts[i]);
        auto it = index_.find(key_);
        if (it == index_.end()) {
            missing = depth - i;
            break;
        }
        at = it->second;
    }
    if (missing && nodes_.size() - 1 + missing > maxNodes)
        return TAdded::OverBudget;

    at = 0;
    bool created = false;
    for (size_t i = 0; i + 1 < depth; ++i) {
        at = child(at, parts[i], created);
        nodes_[at].entry.kind = TEntryKind::Folder;
        nodes_[at].entry.size = 0;
    }
    at = child(at, parts[depth - 1], created);
    TScanEntry &e = nodes_[at].entry;
    // A folder that was only implied so far gets its own details; a folder
    // listed again as a file stays a folder while it holds entries.
    if (kind == TEntryKind::Folder || nodes_[at].children.empty())
        e.kind = kind;
    e.size = e.IsFolder() ? 0 : size;
    e.modified = modified;
    return TAdded::Yes;
}

void TEntryTree::Walk(IScanSink &sink, const TScanEntry &rootEntry, const std::string &rootPath, bool withRoot) const
{
    std::string path = rootPath;
    if (withRoot)
        sink.FolderEntered(rootEntry, path);
    walkFolder(0, sink, path);
    if (withRoot)
        sink.FolderDone();
}

void TEntryTree::walkFolder(uint32_t index, IScanSink &sink, std::string &path) const
{
    std::vector<uint32_t> files, folders;
    for (uint32_t c : nodes_[index].children) {
        const TScanEntry &e = nodes_[c].entry;
        if (!e.IsFolder())
            files.push_back(c);
        else if (!IsHiddenFolderName(e.name))
            folders.push_back(c);
    }
    const auto inWalkOrder = [&](const std::vector<uint32_t> &nodes) {
        std::vector<uint32_t> order =
            WalkOrder(nodes.size(), [&](uint32_t i) -> const TScanEntry & { return nodes_[nodes[i]].entry; });
        for (uint32_t &i : order)
            i = nodes[i];
        return order;
    };
    const size_t base = path.size();
    for (uint32_t f : inWalkOrder(files)) {
        path.resize(base);
        path.append(nodes_[f].entry.name);
        sink.FileFound(nodes_[f].entry, path);
    }
    for (uint32_t d : inWalkOrder(folders)) {
        path.resize(base);
        path.append(nodes_[d].entry.name).push_back('/');
        sink.FolderEntered(nodes_[d].entry, path);
        walkFolder(d, sink, path);
        sink.FolderDone();
    }
    path.resize(base);
}

// --- TFolderSource ---------------------------------------------------------------

void TFolderSource::Walk(IScanSink &sink)
{
    TTreeScanner scanner;
    scanner.InitialDirectory = root_;
    scanner.OnDirectoryFound = [&](TTreeScanner &s) { sink.FolderEntered(s.Entry(), s.FileFound()); };
    scanner.OnFileFound = [&](TTreeScanner &s) { sink.FileFound(s.Entry(), s.FileFound()); };
    scanner.OnDirectoryDone = [&](TTreeScanner &) { sink.FolderDone(); };
    scanner.Scan();
}

} // namespace tslcat
