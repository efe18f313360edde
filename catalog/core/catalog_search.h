// catalog_search.h - searching the names of the catalog with a regular
// expression of the QUARN32 library.
//
// One search compiles the expression once (CompileRGrep into a 1964-byte
// record), then walks every node in flat order, keeps the candidates of the
// chosen kind by Level()/HasChildren(), and tests each name with one RGrep
// call on a copy in a match buffer (no allocation for ordinary names; names
// longer than 200 bytes get a larger buffer and are matched whole).  Hits
// become result rows in tree order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "node_values.h"
class QString;

namespace tslcat {

class TCatalogTree;
class TCatalogNode;
class ICatalogProgress;

// The four kinds, in the order of the window's radio group.
enum class TSearchKind {
    Files = 0,           // Level >= 1, no children; the file-type filter applies
    Folders = 1,         // Level >= 1, with children
    FilesAndFolders = 2, // Level >= 1
    Discs = 3,           // Level 0
};

// Caption of result column 1: "Filename", "Folder", "Filename/Folder", "".
const char *ResultColumnCaption(TSearchKind kind);
// "Found: " + count + " file(s)" / " folder(s)" / " file(s)/folder(s)" / " CD(s)".
std::string FoundText(TSearchKind kind, int64_t count);

// One hit.  Strings are raw bytes copied from the tree, so a row outlives
// later changes of the tree.
struct TResultRow {
    std::string discName; // Text of the disc node the hit lies in (column "On CD")
    // Empty for a disc hit (the row has no sub-items).
    std::string nodeName; // the hit node's Text
    std::string fullPath; // "[ ]:\" + folder names each followed by "\" + nodeName
    // Names from the one just below the disc down to the hit node: the
    // result actions join these with the system separator, so a name that
    // itself contains "\" still resolves.  Empty for a disc hit.
    std::vector<std::string> components;
    // For a member of an archive whose members are catalogued: the index in
    // `components` of the archive holding it; -1 for anything on the disc.
    int archiveComponent = -1;
    // The node's kind, size and modification time (totals for folders and
    // discs; kUnknownSize / kUnknownTime when not known).
    TNodeKind kind = TNodeKind::File;
    uint64_t size = kUnknownSize;
    int64_t modifiedTime = kUnknownTime;

    bool IsDiscRow() const { return components.empty(); }
    bool IsArchiveMember() const { return archiveComponent >= 0; }
};

// Builds the row of `node` (disc rows for Level 0).
TResultRow MakeResultRow(const TCatalogNode &node);

// Per-hit and per-node reporting of a running search.
class ISearchObserver {
public:
    virtual ~ISearchObserver() = default;
    // After each hit: the new row, the running count and its "Found: " text.
    virtual void Hit(const TResultRow &row, int64_t count, const std::string &foundText)
    {
        (void)row, (void)count, (void)foundText;
    }
};

// The state of one search: the compiled record, the pattern and match
// buffers, the rows and the hit counter.  SearchFiles & co. run on it.
// The matcher's trials allowed per name (QuarnSetStepLimit) while a search
// runs: an expression with back references can otherwise backtrack for
// minutes on one name.  About 1 ms of matching a 255-byte name; an
// expression of the box's 50 bytes without back references and without
// tags after a repeater needs at most (repeaters + alternatives) x 256.
constexpr int32_t kSearchStepLimit = 20000;

class TSearchContext {
public:
    // Compiles `expression` (at most its first 50 bytes, as the window's
    // edit box holds at most 50, cut between characters) with
    // `caseSensitive`.  CompileResult() is the library's code (0 =
    // compiled); on failure the library has reported its message and every
    // later RGrep answers -1, so the search finds nothing.  A non-empty
    // `alternateExpression` (the same text in the other stored encoding) is
    // compiled too when the first one compiled, and a name matching either
    // is a hit.
    TSearchContext(const TCatalogTree &tree, std::string_view expression, bool caseSensitive,
                   std::string_view alternateExpression = {});
    ~TSearchContext();
    TSearchContext(const TSearchContext &) = delete;
    TSearchContext &operator=(const TSearchContext &) = delete;

    int32_t CompileResult() const { return compileResult_; }

    // Hooks, optional.
    ICatalogProgress *progress = nullptr;
    ISearchObserver *observer = nullptr;
    // The text of the file-type box; read only by SearchFiles.  Compared with
    // each name's extension exactly (letter case counts); empty = no filter.
    std::string fileTypeFilter;
    // Size and date tests, for every kind of search; none by default.
    TValueFilter valueFilter = {};
    // The typed filter in the other stored encoding, "" for none: an
    // extension equal to either passes.
    std::string alternateFileTypeFilter;

    std::vector<TResultRow> rows;
    int64_t hitCount = 0;
    bool noMatches = true;
    // Set when a name ran past the matcher's step limit (kSearchStepLimit):
    // the walk then stops, and texts::kExpressionTooComplex is shown.
    bool tooComplex = false;

    // Tests one name (raw bytes, any length) with RGrep: true on a hit.
    bool Matches(std::string_view name);
    // The same for a node's name, tested where it is stored: the catalog
    // keeps names zero-terminated, which is what a copy into the match
    // buffer would make of them.
    bool Matches(const TCatalogNode &node);

private:
    friend void RunSearchWalk(TSearchContext &, TSearchKind);
    // RGrep with the record, then the alternate one; notes tooComplex.
    bool MatchText(const char *text);
    const TCatalogTree &tree_;
    void *record_;              // the 1964-byte compiled pattern
    void *alternateRecord_;     // the alternate expression's, or nullptr
    std::vector<char> bigName_; // match buffer for names over 200 bytes
    char matchBuffer_[201];
    char patternBuffer_[51];
    int32_t compileResult_;
    int32_t previousStepLimit_;
};

// The four search routines (rows appended to ctx.rows in tree order).
void SearchFiles(TSearchContext &ctx);
void SearchFolders(TSearchContext &ctx);
void SearchFilesAndFolders(TSearchContext &ctx);
void SearchDiscs(TSearchContext &ctx);

// The search routine of `kind`.
void RunSearchRoutine(TSearchContext &ctx, TSearchKind kind);

// A whole search as the Search button runs it, without display.
struct TSearchRequest {
    std::string expression; // raw bytes
    bool caseSensitive = false;
    TSearchKind kind = TSearchKind::FilesAndFolders;
    std::string fileTypeFilter;
    TValueFilter valueFilter = {};
    // The same texts in the other encoding catalogs store names in, "" for
    // none (see SetTypedExpression).  Initialised here so that the short
    // brace forms {expression, case, kind, filter} stay warning-free.
    std::string alternateExpression = {};
    std::string alternateFileTypeFilter = {};
};

// Text the user typed, for a search of names stored in either encoding:
// the UTF-8 bytes and, when they differ, the Windows-1252 bytes.  A filter
// chosen from the file-type list is not typed: it is the stored bytes, set
// into fileTypeFilter as they are.
void SetTypedExpression(TSearchRequest &request, const QString &typed);
void SetTypedFileTypeFilter(TSearchRequest &request, const QString &typed);

struct TSearchOutcome {
    // False when the expression is empty or the untouched initial text
    // "Search Text goes here !": show texts::kEnterValidSearchString, nothing
    // was searched.
    bool accepted = false;
    int32_t compileResult = 0; // library code; non-zero: the expression is faulty
    std::vector<TResultRow> rows;
    int64_t hitCount = 0;
    std::string foundText; // "Found: N ..." after the last hit; "" without hits
    // True when nothing matched: show texts::kNoMatches (else beep).
    bool noMatches = true;
    // The expression ran past the step limit: show texts::kExpressionTooComplex.
    bool tooComplex = false;
};

// Validates, compiles once, runs the routine of the request's kind, frees the
// record.  Progress: "Searching...", gauge over the nodes with events
// processed per node, "" at the end.  The tree is marked busy meanwhile.
TSearchOutcome RunSearch(const TCatalogTree &tree, const TSearchRequest &request, ICatalogProgress *progress = nullptr,
                         ISearchObserver *observer = nullptr);

} // namespace tslcat
