// catalog_match.cpp - compiled matchers of the three kinds and the parallel
// walk over the catalog's names.

#include "catalog_match.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <thread>

#include "quarn32.h"

#include "catalog_name_runs.h"
#include "catalog_names.h"
#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_tree.h"

namespace tslcat {

bool ParseMatchSpec(std::string_view text, TMatchSpec &spec)
{
    if (text == "regex") {
        spec = TMatchSpec{TMatchMode::Regex, 1};
        return true;
    }
    if (text == "soundex") {
        spec = TMatchSpec{TMatchMode::Soundex, 1};
        return true;
    }
    if (text == "approx") {
        spec = TMatchSpec{TMatchMode::Approx, 1};
        return true;
    }
    constexpr std::string_view approx = "approx:";
    if (text.size() == approx.size() + 1 && text.substr(0, approx.size()) == approx && text.back() >= '0' &&
        text.back() <= '9') {
        spec = TMatchSpec{TMatchMode::Approx, text.back() - '0'};
        return true;
    }
    return false;
}

std::string MatchSpecName(const TMatchSpec &spec)
{
    switch (spec.mode) {
    case TMatchMode::Regex:
        return "regex";
    case TMatchMode::Approx:
        return "approx:" + std::to_string(spec.errors);
    case TMatchMode::Soundex:
        return "soundex";
    }
    return "regex";
}

// A whole QuarnPattern: the approximate kind needs all of it, and the
// others fit.
struct TNameMatcher::Record {
    QuarnPattern pattern;
    bool approx = false;
    bool matchesNothing = false; // a Soundex pattern without letters
    Record(bool isApprox) : pattern(), approx(isApprox)
    {
        if (approx)
            AGrepInit(&pattern);
    }
    ~Record()
    {
        if (approx)
            AGrepEmpty(&pattern);
    }
};

TNameMatcher::TNameMatcher(const TMatchSpec &spec, std::string_view expression, bool caseSensitive,
                           std::string_view alternateExpression, size_t maxPatternBytes)
    : spec_(spec), primary_(std::make_unique<Record>(spec.mode == TMatchMode::Approx))
{
    compileResult_ = compile(*primary_, expression, caseSensitive, maxPatternBytes);
    // Soundex reads A-Z and a-z only, the same bytes in either encoding.
    if (compileResult_ == 0 && spec.mode != TMatchMode::Soundex && !alternateExpression.empty() &&
        alternateExpression != expression) {
        alternate_ = std::make_unique<Record>(spec.mode == TMatchMode::Approx);
        if (compile(*alternate_, alternateExpression, caseSensitive, maxPatternBytes) != 0)
            alternate_.reset();
    }
}

TNameMatcher::~TNameMatcher() = default;

int32_t TNameMatcher::compile(Record &record, std::string_view expression, bool caseSensitive, size_t maxPatternBytes)
{
    std::string pattern(expression.substr(0, CutAtCharacterBoundary(expression, maxPatternBytes)));
    const int32_t caseFlag = caseSensitive ? 1 : 0;
    switch (spec_.mode) {
    case TMatchMode::Regex:
        return CompileRGrep(pattern.c_str(), caseFlag, &record.pattern);
    case TMatchMode::Approx:
        return CompileAGrep(pattern.c_str(), spec_.errors, caseFlag, &record.pattern);
    case TMatchMode::Soundex: {
        const int32_t code = CompileSGrep(pattern.c_str(), caseFlag, &record.pattern);
        record.matchesNothing = code == 0 && record.pattern.body.soundex.code[0] == '\0';
        return code;
    }
    }
    return 6;
}

namespace {

int32_t LineCall(TMatchMode mode, const char *name, QuarnPattern *p)
{
    switch (mode) {
    case TMatchMode::Regex:
        return RGrep(name, p);
    case TMatchMode::Approx:
        return AGrep(name, p);
    case TMatchMode::Soundex:
        return SGrep(name, p);
    }
    return -1;
}

int32_t BlockCall(TMatchMode mode, const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                  QuarnPattern *p)
{
    switch (mode) {
    case TMatchMode::Regex:
        return QuarnRGrepBlock(block, length, hits, capacity, stop, p);
    case TMatchMode::Approx:
        return QuarnAGrepBlock(block, length, hits, capacity, stop, p);
    case TMatchMode::Soundex:
        return QuarnSGrepBlock(block, length, hits, capacity, stop, p);
    }
    return -1;
}

} // namespace

int TNameMatcher::Match(const char *name)
{
    if (compileResult_ != 0 || primary_->matchesNothing)
        return 0;
    const int32_t first = LineCall(spec_.mode, name, &primary_->pattern);
    if (first >= 1)
        return 1;
    if (first < 0)
        return -1;
    if (!alternate_)
        return 0;
    const int32_t second = LineCall(spec_.mode, name, &alternate_->pattern);
    return second >= 1 ? 1 : second < 0 ? -1 : 0;
}

int32_t TNameMatcher::MatchBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop)
{
    *stop = length;
    if (compileResult_ != 0 || primary_->matchesNothing)
        return 0;
    int32_t end = length;
    int32_t n = BlockCall(spec_.mode, block, length, hits, capacity, &end, &primary_->pattern);
    if (n < 0)
        return 0;
    if (alternate_) {
        // The alternate only up to where the first one gave up.
        scratch_.resize(static_cast<size_t>(capacity));
        int32_t alternateEnd = end;
        int32_t m = BlockCall(spec_.mode, block, end, scratch_.data(), capacity, &alternateEnd, &alternate_->pattern);
        if (m < 0)
            m = 0;
        if (alternateEnd < end) {
            end = alternateEnd;
            n = static_cast<int32_t>(std::lower_bound(hits, hits + n, end) - hits);
        }
        // Union of two ascending lists, in place from the back.
        std::vector<int32_t> merged;
        merged.reserve(static_cast<size_t>(n + m));
        std::set_union(hits, hits + n, scratch_.data(), scratch_.data() + m, std::back_inserter(merged));
        n = static_cast<int32_t>(std::min<size_t>(merged.size(), static_cast<size_t>(capacity)));
        std::copy(merged.begin(), merged.begin() + n, hits);
    }
    *stop = end;
    return n;
}

// --- the parallel walk -------------------------------------------------------

namespace {

struct TWalkShared {
    const TCatalogNodes &nodes;
    const TNameRuns &runs; // empty for a disc search, which visits the discs only
    TSearchKind kind;
    std::string filter;
    std::string alternateFilter;
    TSearchControl &control;
    TValueFilter valueFilter; // size and date bounds; read-only while the workers run
    bool valueFilterActive = false;
    // Flat indexes of the disc nodes, ascending (not for a disc search).
    std::vector<uint32_t> discIndexes;
};

bool PassesFilter(const TWalkShared &w, std::string_view name)
{
    if (w.filter.empty())
        return true;
    const std::string_view extension = ExtensionOf(name);
    return extension == w.filter || (!w.alternateFilter.empty() && extension == w.alternateFilter);
}

// A disc node's candidacy (disc searches visit nothing else).
bool WantedDisc(const TWalkShared &w, const TCatalogNode &disc)
{
    return IsSearchCandidate(disc, w.kind) && PassesFilter(w, disc.Text()) &&
        (!w.valueFilterActive || w.valueFilter.Passes(disc));
}

struct TStretchResult {
    std::vector<const TCatalogNode *> hits;
    bool tooComplex = false;
    bool cancelled = false;
    std::exception_ptr failure; // thrown in the worker, rethrown by the caller
};

// One worker's state: its matcher, its hits, where it is in the list of
// discs, and the answer for the empty name, which every empty name shares.
struct TWalker {
    const TWalkShared &w;
    TNameMatcher &matcher;
    TStretchResult &out;
    std::vector<int32_t> offsets;
    size_t discAt = 0;    // first entry of discIndexes not below the last index asked
    int emptyAnswer = -2; // not asked yet

    // The node at flat index `index`, named `name`, when it is a candidate
    // of a search for files, folders or both (IsSearchCandidate, then the
    // filters), else nullptr.  Discs are told by their index, so neither a
    // hit's parent nor, when kind and filters allow, the hit itself is read:
    // with millions of nodes each read is a cache miss.  Indexes are asked
    // in ascending order.
    const TCatalogNode *Candidate(uint32_t index, std::string_view name)
    {
        const std::vector<uint32_t> &discs = w.discIndexes;
        while (discAt < discs.size() && discs[discAt] < index)
            ++discAt;
        if (discAt < discs.size() && discs[discAt] == index)
            return nullptr;
        if (!PassesFilter(w, name))
            return nullptr;
        const TCatalogNode *node = w.nodes.Item(static_cast<int>(index));
        if ((w.kind == TSearchKind::Files && node->HasChildren()) ||
            (w.kind == TSearchKind::Folders && !node->HasChildren()))
            return nullptr;
        if (w.valueFilterActive && !w.valueFilter.Passes(*node))
            return nullptr;
        return node;
    }

    // A candidate judged on its own (a disc, an empty name, a name with a
    // 0 byte inside, read up to that byte as a C string interface reads
    // it); nullptr for a node that is none.  False when the matcher gave up
    // on it: the walk ends there.
    bool JudgeAlone(const TCatalogNode *candidate)
    {
        if (!candidate)
            return true;
        int answer;
        if (candidate->Text().empty()) {
            if (emptyAnswer == -2)
                emptyAnswer = matcher.Match("");
            answer = emptyAnswer;
        } else {
            answer = matcher.Match(candidate->TextCString());
        }
        if (answer < 0) {
            out.tooComplex = true;
            return false;
        }
        if (answer > 0)
            out.hits.push_back(candidate);
        return true;
    }

    // Names [from, to) of `run` (numbers within the run) in one block call;
    // only the hits' nodes are read.  Returns the number of the name after
    // the last one judged: `to`, or the name after a non-candidate the
    // matcher gave up on (the caller goes on from there); -1 when it gave up
    // on a candidate.
    int64_t JudgeBlock(const TNameRun &run, uint32_t from, uint32_t to)
    {
        const TNameRuns &runs = w.runs;
        const uint32_t begin = runs.OffsetOf(run, from);
        const uint32_t end = runs.OffsetOf(run, to);
        const int32_t capacity = static_cast<int32_t>(to - from);
        if (offsets.size() < static_cast<size_t>(capacity))
            offsets.resize(static_cast<size_t>(capacity));
        int32_t stop = 0;
        const int32_t n =
            matcher.MatchBlock(run.start + begin, static_cast<int32_t>(end - begin), offsets.data(), capacity, &stop);
        TNameRuns::Cursor cursor{from, begin};
        // The name at `offset` of the run, read only for a file-type filter.
        auto nameAt = [&](uint32_t offset) {
            return w.filter.empty() ? std::string_view() : std::string_view(run.start + offset);
        };
        for (int32_t h = 0; h < n; ++h) {
            const uint32_t offset = begin + static_cast<uint32_t>(offsets[static_cast<size_t>(h)]);
            const uint32_t k = runs.NameAt(run, offset, cursor);
            if (const TCatalogNode *node = Candidate(run.first + k, nameAt(offset)))
                out.hits.push_back(node);
        }
        if (stop >= static_cast<int32_t>(end - begin))
            return to;
        // The matcher gave up on the name at `stop`; a name that is no
        // candidate would never have been asked.
        const uint32_t offset = begin + static_cast<uint32_t>(stop);
        const uint32_t k = runs.NameAt(run, offset, cursor);
        if (Candidate(run.first + k, nameAt(offset))) {
            out.tooComplex = true;
            return -1;
        }
        return k + 1;
    }

    // The names [from, to) of the flat order.  False when the walk ends.
    bool JudgeNames(uint32_t from, uint32_t to)
    {
        const std::vector<TNameRun> &runs = w.runs.Runs();
        size_t r = w.runs.RunOf(from);
        uint32_t at = from;
        while (at < to) {
            const TNameRun &run = runs[r];
            if (!run.IsBlock()) {
                if (!JudgeAlone(Candidate(at, w.nodes.Item(static_cast<int>(at))->Text())))
                    return false;
                ++at;
                ++r;
                continue;
            }
            const uint32_t last = std::min(to, run.first + run.count);
            const int64_t next = JudgeBlock(run, at - run.first, last - run.first);
            if (next < 0)
                return false;
            at = run.first + static_cast<uint32_t>(next);
            if (at == run.first + run.count)
                ++r;
        }
        return true;
    }
};

void ChunkDone(TSearchControl &control, int worker, int names, int64_t hits)
{
    control.found.fetch_add(hits, std::memory_order_relaxed);
    control.scanned.fetch_add(names, std::memory_order_relaxed);
    if (control.chunkDone)
        control.chunkDone(worker, names);
}

// Where each chunk's hits went: workers take chunks in turn, and the hits
// are joined in chunk order afterwards.
struct TChunkHits {
    int worker = -1; // -1: never judged (cancelled, or after a give-up)
    size_t begin = 0, end = 0;
    bool tooComplex = false;
};

// Shared by the workers of one search: the next chunk to take, and the
// first chunk in which the matcher gave up on a candidate (a single walk
// ends there, so no later chunk is worth judging).
struct TChunkQueue {
    int count = 0;
    int names = 0;
    std::atomic<int> next{0};
    std::atomic<int> gaveUpIn{INT_MAX};
    std::vector<TChunkHits> chunks;
};

// Takes chunks of at most kNamesBetweenCancelChecks names until none is
// left.  Taking them in turn rather than a fixed share of the order keeps
// both cores busy to the end when some stretches cost more than others
// (long names, many candidates for the matcher to confirm).  Names that lie
// side by side in the name store (as a load leaves them) go to the library
// as blocks.
void WalkChunks(const TWalkShared &w, TNameMatcher &matcher, int worker, TChunkQueue &queue, TStretchResult &out)
{
    TWalker walker{w, matcher, out, {}};
    for (;;) {
        if (w.control.cancel.load(std::memory_order_relaxed)) {
            out.cancelled = true;
            return;
        }
        const int c = queue.next.fetch_add(1, std::memory_order_relaxed);
        if (c >= queue.count || c > queue.gaveUpIn.load(std::memory_order_relaxed))
            return;
        const int begin = c * kNamesBetweenCancelChecks;
        const int end = std::min(queue.names, begin + kNamesBetweenCancelChecks);
        TChunkHits &chunk = queue.chunks[static_cast<size_t>(c)];
        chunk.worker = worker;
        chunk.begin = out.hits.size();
        const bool goOn = walker.JudgeNames(static_cast<uint32_t>(begin), static_cast<uint32_t>(end));
        chunk.end = out.hits.size();
        ChunkDone(w.control, worker, end - begin, static_cast<int64_t>(chunk.end - chunk.begin));
        if (!goOn) {
            chunk.tooComplex = true;
            int seen = queue.gaveUpIn.load(std::memory_order_relaxed);
            while (c < seen && !queue.gaveUpIn.compare_exchange_weak(seen, c, std::memory_order_relaxed)) {}
            return;
        }
    }
}

// A disc search: only the top-level nodes are candidates, so only they are
// visited, each judged on its own.
void WalkDiscs(const TWalkShared &w, TNameMatcher &matcher, TStretchResult &out)
{
    TWalker walker{w, matcher, out, {}};
    const int discs = w.nodes.TopLevelCount();
    for (int at = 0; at < discs;) {
        if (w.control.cancel.load(std::memory_order_relaxed)) {
            out.cancelled = true;
            return;
        }
        const int chunkStart = at;
        const int chunkEnd = std::min(discs, at + kNamesBetweenCancelChecks);
        const size_t hitsBefore = out.hits.size();
        bool goOn = true;
        for (; at < chunkEnd && goOn; ++at) {
            const TCatalogNode *disc = w.nodes.TopLevel(at);
            goOn = walker.JudgeAlone(WantedDisc(w, *disc) ? disc : nullptr);
        }
        ChunkDone(w.control, 0, at - chunkStart, static_cast<int64_t>(out.hits.size() - hitsBefore));
        if (!goOn)
            return;
    }
}

} // namespace

TFoundNodes FindNodes(const TCatalogTree &tree, const TSearchRequest &request, TSearchControl *control,
                      ICatalogProgress *progress, int threads)
{
    TFoundNodes result;
    TSearchControl ownControl;
    TSearchControl &ctl = control ? *control : ownControl;
    const TCatalogNodes &nodes = tree.Items();
    const int count = nodes.Count();
    const bool discs = request.kind == TSearchKind::Discs;
    // The flat index and the runs of names are built here, before any
    // worker reads them.
    const TNameRuns noRuns;
    const TNameRuns &runs = count > 0 && !discs ? nodes.NameRuns() : noRuns;
    if (request.valueFilter.Active())
        nodes.UpdateTotals(); // folder totals too: workers only read them

    const TMatchSpec spec = request.match;
    // The step limit is process-wide: set once for all workers.
    const int32_t previousLimit = QuarnSetStepLimit(kSearchStepLimit);
    struct LimitScope {
        int32_t previous;
        ~LimitScope() { QuarnSetStepLimit(previous); }
    } limitScope{previousLimit};

    // The first matcher reports a faulty expression (once); workers compile
    // their own copies only after it compiled.
    auto first =
        std::make_unique<TNameMatcher>(spec, request.expression, request.caseSensitive, request.alternateExpression);
    result.compileResult = first->CompileResult();
    if (result.compileResult != 0 || count == 0)
        return result;

    int workers = threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    workers = std::min(workers, 16);
    if (threads <= 0)
        workers = std::min(workers, 1 + count / 65536); // small trees: not worth a thread
    workers = std::max(1, std::min(workers, count));
    if (discs)
        workers = 1; // a handful of names

    TWalkShared shared{nodes,
                       runs,
                       request.kind,
                       request.kind == TSearchKind::Files ? request.fileTypeFilter : std::string(),
                       request.kind == TSearchKind::Files && !request.fileTypeFilter.empty()
                           ? request.alternateFileTypeFilter
                           : std::string(),
                       ctl,
                       request.valueFilter,
                       request.valueFilter.Active(),
                       {}};
    if (!discs) {
        shared.discIndexes.reserve(static_cast<size_t>(nodes.TopLevelCount()));
        for (int d = 0; d < nodes.TopLevelCount(); ++d)
            shared.discIndexes.push_back(static_cast<uint32_t>(nodes.TopLevel(d)->AbsoluteIndex()));
    }
    std::vector<std::unique_ptr<TNameMatcher>> matchers;
    matchers.push_back(std::move(first));
    for (int t = 1; t < workers; ++t)
        matchers.push_back(std::make_unique<TNameMatcher>(spec, request.expression, request.caseSensitive,
                                                          request.alternateExpression));
    std::vector<TStretchResult> parts(static_cast<size_t>(workers));
    TChunkQueue queue;
    queue.names = count;
    queue.count = discs ? 0 : (count + kNamesBetweenCancelChecks - 1) / kNamesBetweenCancelChecks;
    queue.chunks.resize(static_cast<size_t>(queue.count));
    std::atomic<int> running{workers};
    auto stretch = [&](int t) {
        TStretchResult &part = parts[static_cast<size_t>(t)];
        try {
            if (discs)
                WalkDiscs(shared, *matchers[0], part);
            else
                WalkChunks(shared, *matchers[static_cast<size_t>(t)], t, queue, part);
        } catch (...) {
            part.failure = std::current_exception();
            ctl.cancel.store(true);
        }
        running.fetch_sub(1, std::memory_order_release);
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(workers));
    try {
        for (int t = 0; t < workers; ++t)
            pool.emplace_back(stretch, t);
    } catch (...) {
        ctl.cancel.store(true);
        for (auto &th : pool)
            th.join();
        throw;
    }
    if (progress) {
        // Keep the front end alive while the workers run (at least one
        // slice, however quick the search).
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const int64_t scanned = ctl.scanned.load(std::memory_order_relaxed);
            progress->SetGaugePosition(static_cast<int>(std::min<int64_t>(scanned, count - 1)));
            progress->ProcessEvents();
            if (nodes.Count() != count)
                ctl.cancel.store(true);
        } while (running.load(std::memory_order_acquire) > 0);
    }
    for (auto &th : pool)
        th.join();

    size_t total = 0;
    for (const auto &p : parts) {
        if (p.failure)
            std::rethrow_exception(p.failure);
        total += p.hits.size();
        if (p.cancelled)
            result.cancelled = true;
    }
    result.nodes.reserve(total);
    if (discs) {
        result.nodes = std::move(parts[0].hits);
        result.tooComplex = parts[0].tooComplex;
    }
    for (const TChunkHits &chunk : queue.chunks) {
        if (chunk.worker < 0)
            continue; // not judged: the search was cancelled, or ended before it
        const auto &hits = parts[static_cast<size_t>(chunk.worker)].hits;
        result.nodes.insert(result.nodes.end(), hits.begin() + static_cast<std::ptrdiff_t>(chunk.begin),
                            hits.begin() + static_cast<std::ptrdiff_t>(chunk.end));
        if (chunk.tooComplex) {
            result.tooComplex = true;
            break; // a single walk ends at the first name it gives up on
        }
    }
    if (ctl.cancel.load())
        result.cancelled = true;
    return result;
}

} // namespace tslcat
