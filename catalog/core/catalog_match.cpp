// catalog_match.cpp - compiled matchers of the three kinds and the parallel
// walk over the catalog's names.

#include "catalog_match.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <thread>

#include "quarn32.h"

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
    TSearchKind kind;
    std::string filter;
    std::string alternateFilter;
    TSearchControl &control;
    TValueFilter valueFilter; // size and date bounds; read-only while the workers run
    bool valueFilterActive = false;
};

bool PassesFilter(const TWalkShared &w, const TCatalogNode &node)
{
    if (w.filter.empty())
        return true;
    const std::string_view extension = ExtensionOf(node.Text());
    return extension == w.filter || (!w.alternateFilter.empty() && extension == w.alternateFilter);
}

bool Wanted(const TWalkShared &w, const TCatalogNode &node)
{
    return IsSearchCandidate(node, w.kind) && PassesFilter(w, node) &&
        (!w.valueFilterActive || w.valueFilter.Passes(node));
}

bool HasInnerNul(std::string_view text)
{
    return !text.empty() && std::memchr(text.data(), '\0', text.size()) != nullptr;
}

struct TStretchResult {
    std::vector<const TCatalogNode *> hits;
    bool tooComplex = false;
    bool cancelled = false;
    std::exception_ptr failure; // thrown in the worker, rethrown by the caller
};

// Judges the nodes [begin, end) of the flat order.  Names that lie side by
// side in the name store (as a load leaves them) go to the library as one
// block; empty names are judged once.
void WalkStretch(const TWalkShared &w, TNameMatcher &matcher, int begin, int end, TStretchResult &out)
{
    std::vector<int32_t> offsets(kNamesBetweenCancelChecks);
    int emptyAnswer = -2; // not asked yet
    const bool discsOnly = w.kind == TSearchKind::Discs;
    int i = begin;
    while (i < end) {
        if (w.control.cancel.load(std::memory_order_relaxed)) {
            out.cancelled = true;
            return;
        }
        const int blockStart = i;
        const int blockEnd = std::min(end, i + kNamesBetweenCancelChecks);
        const int startCount = static_cast<int>(out.hits.size());
        if (discsOnly) {
            // Few candidates: judge each disc name alone.
            for (; i < blockEnd; ++i) {
                const TCatalogNode &node = *w.nodes.Item(i);
                if (!Wanted(w, node))
                    continue;
                const int r = matcher.Match(node.TextCString());
                if (r < 0) {
                    out.tooComplex = true;
                    return;
                }
                if (r > 0)
                    out.hits.push_back(&node);
            }
        } else {
            while (i < blockEnd) {
                const TCatalogNode &first = *w.nodes.Item(i);
                if (HasInnerNul(first.Text())) {
                    // A name with a 0 byte inside is judged alone, up to
                    // that byte, as a C string interface reads it; in a
                    // block it would read as two names.
                    const int r = Wanted(w, first) ? matcher.Match(first.TextCString()) : 0;
                    if (r < 0) {
                        out.tooComplex = true;
                        return;
                    }
                    if (r > 0)
                        out.hits.push_back(&first);
                    ++i;
                    continue;
                }
                if (first.Text().empty()) {
                    if (emptyAnswer == -2)
                        emptyAnswer = matcher.Match("");
                    if (Wanted(w, first)) {
                        if (emptyAnswer < 0) {
                            out.tooComplex = true;
                            return;
                        }
                        if (emptyAnswer > 0)
                            out.hits.push_back(&first);
                    }
                    ++i;
                    continue;
                }
                // The longest run of adjacent stored names from i.
                const char *start = first.Text().data();
                const char *next = start + first.Text().size() + 1;
                int j = i + 1;
                for (; j < blockEnd; ++j) {
                    const std::string_view text = w.nodes.Item(j)->Text();
                    if (text.empty() || text.data() != next || next - start > INT32_MAX / 2 || HasInnerNul(text))
                        break;
                    next += text.size() + 1;
                }
                if (next - start > INT32_MAX) { // one enormous name: judge it alone
                    const int r = Wanted(w, first) ? matcher.Match(start) : 0;
                    if (r < 0) {
                        out.tooComplex = true;
                        return;
                    }
                    if (r > 0)
                        out.hits.push_back(&first);
                    ++i;
                    continue;
                }
                const int32_t length = static_cast<int32_t>(next - start);
                int32_t stop = length;
                const int32_t n = matcher.MatchBlock(start, length, offsets.data(), j - i, &stop);
                int k = i;
                for (int32_t h = 0; h < n; ++h) {
                    while (w.nodes.Item(k)->Text().data() != start + offsets[static_cast<size_t>(h)])
                        ++k;
                    const TCatalogNode &node = *w.nodes.Item(k);
                    if (Wanted(w, node))
                        out.hits.push_back(&node);
                }
                if (stop < length) {
                    // The matcher gave up on the name at `stop`.
                    while (w.nodes.Item(k)->Text().data() != start + stop)
                        ++k;
                    if (Wanted(w, *w.nodes.Item(k))) {
                        out.tooComplex = true;
                        return;
                    }
                    i = k + 1; // not a candidate: it would never have been asked
                    continue;
                }
                i = j;
            }
        }
        w.control.found.fetch_add(static_cast<int64_t>(out.hits.size()) - startCount, std::memory_order_relaxed);
        w.control.scanned.fetch_add(i - blockStart, std::memory_order_relaxed);
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
    if (count > 0)
        (void)nodes.Item(0); // builds the flat index here, before any worker reads it
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

    TWalkShared shared{nodes,
                       request.kind,
                       request.kind == TSearchKind::Files ? request.fileTypeFilter : std::string(),
                       request.kind == TSearchKind::Files && !request.fileTypeFilter.empty()
                           ? request.alternateFileTypeFilter
                           : std::string(),
                       ctl,
                       request.valueFilter,
                       request.valueFilter.Active()};
    std::vector<std::unique_ptr<TNameMatcher>> matchers;
    matchers.push_back(std::move(first));
    for (int t = 1; t < workers; ++t)
        matchers.push_back(std::make_unique<TNameMatcher>(spec, request.expression, request.caseSensitive,
                                                          request.alternateExpression));
    std::vector<TStretchResult> parts(static_cast<size_t>(workers));
    std::atomic<int> running{workers};
    auto stretch = [&](int t) {
        const int begin = static_cast<int>(static_cast<int64_t>(count) * t / workers);
        const int end = static_cast<int>(static_cast<int64_t>(count) * (t + 1) / workers);
        TStretchResult &part = parts[static_cast<size_t>(t)];
        try {
            WalkStretch(shared, *matchers[static_cast<size_t>(t)], begin, end, part);
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
    }
    result.nodes.reserve(total);
    for (auto &p : parts) {
        result.nodes.insert(result.nodes.end(), p.hits.begin(), p.hits.end());
        if (p.cancelled)
            result.cancelled = true;
        if (p.tooComplex) {
            result.tooComplex = true;
            break; // a single walk ends at the first name it gives up on
        }
    }
    if (ctl.cancel.load())
        result.cancelled = true;
    return result;
}

} // namespace tslcat
