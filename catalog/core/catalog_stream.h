// catalog_stream.h - searches, listings and statistics answered straight
// from a binary catalog file, mapped into memory and read in place.
//
// A command-line search needs the names, their paths and (for some outputs)
// sizes and dates, not a tree: building the tree costs several times what
// the search does.  The readers here walk the records where they lie,
// keeping the path to the current record as a stack, check every record as
// the loader does (the same exceptions at the same faults, so a damaged
// file is refused with the load's message and nothing else), and give the
// rows, counts and texts that the same command over a loaded tree gives.
// Results are handed out only once the whole file has been read.
#pragma once

#include <QFile>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_search.h"
#include "catalog_store.h"

namespace tslcat {

// The bytes of a binary catalog for the in-place readers, and optionally
// the open file they were mapped from (`fd`, -1 for none).  With a file,
// the walk reads the records through a small ring of reused buffers (filled
// ahead on a second thread for large files) and touches the mapping only
// for the records whose rows need more than it copied: the first touch of
// each mapped page costs far more than copying the page (on virtual
// machines about three times the whole walk), so a search that reads every
// record but shows a few pays for a few pages only.
struct TCatalogBytes {
    TCatalogBytes(std::string_view b, int f = -1) : bytes(b), fd(f) {}
    TCatalogBytes(const std::string &b) : bytes(b) {}
    std::string_view bytes;
    int fd = -1;
};

// A catalog file mapped into memory for the in-place readers.
class TMappedCatalog {
public:
    // Opens and maps `fileName`.  Usable() is false when the file cannot be
    // opened or mapped, is empty or is not in the binary form: the text
    // form, and every fault of opening, are the loader's to handle and
    // report.
    explicit TMappedCatalog(const QString &fileName);
    TMappedCatalog(const TMappedCatalog &) = delete;
    TMappedCatalog &operator=(const TMappedCatalog &) = delete;

    bool Usable() const { return usable_; }
    // The whole file.
    std::string_view Bytes() const { return bytes_; }
    // The whole file, with the file to read it through.
    TCatalogBytes Source() const;

private:
    QFile file_;
    std::string_view bytes_;
    bool usable_ = false;
};

// True when the file's bytes begin with the signature of the binary form.
bool IsBinaryCatalog(std::string_view bytes);

// The search requests the in-place reader answers exactly as the tree
// search does.  Size and date filters need every folder's totals before a
// folder can be judged, which the tree has and a single pass does not, so
// they stay with the tree.
bool CanStreamSearch(const TSearchRequest &request);

struct TStreamSearchResult {
    int32_t compileResult = 0; // the library's code; non-zero: reported by the library
    bool tooComplex = false;   // a candidate ran past the matcher's step limit
    std::vector<TResultRow> rows;
};

// Runs `request` (CanStreamSearch) over the binary catalog `bytes`: the
// rows of the tree search in tree order.  Their kind, size and time are
// filled in only with `withValues` (folder totals recomputed from the files
// below, as the tree does); otherwise they keep the row defaults.  A faulty
// expression is reported by the library only after the file has been read
// whole, so a damaged file's message comes alone, as with the tree.  Throws
// the loader's exceptions for a damaged file.
TStreamSearchResult StreamSearch(const TCatalogBytes &bytes, const TSearchRequest &request, bool withValues);

// The rows of every node in tree order, with kinds, sizes and times: the
// loaded tree's AllRows.
std::vector<TResultRow> StreamAllRows(const TCatalogBytes &bytes);

// The text form of the catalog (one line per node, a tab per level, CR LF):
// what the loaded tree's WriteText writes.
std::string StreamOutline(const TCatalogBytes &bytes);

// The file count and the file-type list a load gives.
struct TStreamStats {
    int64_t fileCount = 0;
    TFileTypeList fileTypes;
};
TStreamStats StreamStats(const TCatalogBytes &bytes);

} // namespace tslcat
