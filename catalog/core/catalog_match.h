// catalog_match.h - the three ways a catalog search can judge a name (regular
// expression, approximate, Soundex) behind one compiled matcher, and the
// parallel walk that finds the matching nodes of a tree.
//
// All matching is the library's: a matcher compiles with the kind's compile
// call and judges runs of names with the block calls (QuarnRGrepBlock & co.)
// where the catalog's name store keeps them side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct QuarnPattern;

namespace tslcat {

class TCatalogNode;
class TCatalogTree;
class ICatalogProgress;
enum class TSearchKind;

enum class TMatchMode {
    Regex = 0,   // CompileRGrep / RGrep: the classic search
    Approx = 1,  // CompileAGrep / AGrep: `errors` wrong characters allowed
    Soundex = 2, // CompileSGrep / SGrep: by the sound of the words
};

struct TMatchSpec {
    TMatchMode mode = TMatchMode::Regex;
    int errors = 1; // approximate only
    bool operator==(const TMatchSpec &o) const
    {
        return mode == o.mode && (mode != TMatchMode::Approx || errors == o.errors);
    }
};

// "regex", "approx" (1 error), "approx:K" (K from 0 to 9), "soundex".
// False for anything else, `spec` then unchanged.
bool ParseMatchSpec(std::string_view text, TMatchSpec &spec);
// The inverse: "regex", "approx:K", "soundex".
std::string MatchSpecName(const TMatchSpec &spec);

// One compiled expression (and, optionally, the same text in the other
// encoding names are stored in: a name matching either is a hit).  Used by
// one thread at a time, like the library records it owns.
class TNameMatcher {
public:
    // Compiles at most the first `maxPatternBytes` bytes of `expression`,
    // cut between characters.  The alternate is compiled only when it differs
    // and the first compiled.
    TNameMatcher(const TMatchSpec &spec, std::string_view expression, bool caseSensitive,
                 std::string_view alternateExpression = {}, size_t maxPatternBytes = 50);
    ~TNameMatcher();
    TNameMatcher(const TNameMatcher &) = delete;
    TNameMatcher &operator=(const TNameMatcher &) = delete;

    // The library's compile code: 0 compiled.
    int32_t CompileResult() const { return compileResult_; }

    // 1 hit, 0 none, -1 the matcher gave up on this name (step limit).
    int Match(const char *name);

    // The hit offsets of a block of NUL-terminated names (`capacity` at
    // least the number of names), ascending.  Returns their count; `*stop`
    // is `length`, or the offset of the first name that made the matcher
    // give up (no offset at or after it is returned).
    int32_t MatchBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop);

private:
    struct Record;
    int32_t compile(Record &record, std::string_view expression, bool caseSensitive, size_t maxPatternBytes);
    TMatchSpec spec_;
    std::unique_ptr<Record> primary_;
    std::unique_ptr<Record> alternate_;
    std::vector<int32_t> scratch_;
    int32_t compileResult_ = 0;
};

// Shared between a running search and whoever watches or stops it.
struct TSearchControl {
    std::atomic<bool> cancel{false}; // set to stop every worker soon
    std::atomic<int64_t> found{0};   // hits so far, over all workers
    std::atomic<int64_t> scanned{0}; // nodes judged so far
    // Optional: called by each worker after each chunk of at most
    // kNamesBetweenCancelChecks names, on the worker's thread (so several
    // at once), with the worker's number (from 0) and the names the chunk
    // held.  Workers look at `cancel` before
    // every chunk, so a cancel set here stops that worker at once and every
    // other one within its current chunk.  Used to watch or stop a search
    // at a known point.
    std::function<void(int worker, int names)> chunkDone;
};

struct TFoundNodes {
    int32_t compileResult = 0;
    std::vector<const TCatalogNode *> nodes; // in flat (tree) order
    bool tooComplex = false;                 // a candidate made the matcher give up: the walk ended there
    bool cancelled = false;                  // stopped through TSearchControl::cancel; nodes incomplete
};

// The names a worker judges before it looks at the cancel flag again.
constexpr int kNamesBetweenCancelChecks = 16384;

struct TSearchRequest;

// Finds the hits of `request` in `tree` with `threads` workers (0: one per
// core, fewer for small trees), each with its own compiled matcher, taking
// chunks of the flat order in turn; the chunks' hits are joined in order,
// so the nodes come out exactly as a single walk would give them.  Names go
// to the library a run at a time (TCatalogNodes::NameRuns): a node is read
// only when its name is a hit, or when it must be judged on its own (empty,
// a 0 byte inside).  A disc search visits the discs only.  The
// calling thread meanwhile moves the gauge and processes events through
// `progress` (when given); the tree must not change meanwhile (it is marked
// busy).  A tree whose node count changes during the events cancels.
TFoundNodes FindNodes(const TCatalogTree &tree, const TSearchRequest &request, TSearchControl *control = nullptr,
                      ICatalogProgress *progress = nullptr, int threads = 0);

} // namespace tslcat
