// catalog_search.cpp - the search routines over the catalog tree with the
// QUARN32 regular-expression calls.

#include "catalog_search.h"

#include <cstring>
#include <iterator>
#include <new>

#include "quarn32.h"

#include "catalog_names.h"
#include "catalog_store.h"
#include "catalog_texts.h"
#include "catalog_tree.h"
#include "scan_source.h"

namespace tslcat {

namespace {

// The record every search allocates: the regular-expression part of the
// library's compiled pattern, with room to spare on 64-bit builds.
constexpr size_t kRecordSize = 1964;
static_assert(offsetof(QuarnPattern, body) + sizeof(QuarnRegexBody) <= kRecordSize,
              "the regular-expression record must fit the search's allocation");

constexpr size_t kMatchBufferNameLength = 200;
constexpr size_t kPatternLength = 50;

bool isCandidate(const TCatalogNode &node, TSearchKind kind)
{
    const bool disc = node.Parent() == nullptr; // Level 0, without walking up
    switch (kind) {
    case TSearchKind::Files:
        return !disc && !node.HasChildren();
    case TSearchKind::Folders:
        return !disc && node.HasChildren();
    case TSearchKind::FilesAndFolders:
        return !disc;
    case TSearchKind::Discs:
        return disc;
    }
    return false;
}

} // namespace

const char *ResultColumnCaption(TSearchKind kind)
{
    switch (kind) {
    case TSearchKind::Files:
        return "Filename";
    case TSearchKind::Folders:
        return "Folder";
    case TSearchKind::FilesAndFolders:
        return "Filename/Folder";
    case TSearchKind::Discs:
        return "";
    }
    return "";
}

std::string FoundText(TSearchKind kind, int64_t count)
{
    const char *suffix = "";
    switch (kind) {
    case TSearchKind::Files:
        suffix = " file(s)";
        break;
    case TSearchKind::Folders:
        suffix = " folder(s)";
        break;
    case TSearchKind::FilesAndFolders:
        suffix = " file(s)/folder(s)";
        break;
    case TSearchKind::Discs:
        suffix = " CD(s)";
        break;
    }
    return "Found: " + std::to_string(count) + suffix;
}

TResultRow MakeResultRow(const TCatalogNode &node)
{
    // The path from the disc down, gathered once; the strings are then built
    // in order at their final sizes (a search may make a million rows).
    const TCatalogNode *stack[64];
    std::vector<const TCatalogNode *> deep;
    size_t depth = 0;
    const TCatalogNode *n = &node;
    for (; n->Parent(); n = n->Parent()) {
        if (depth < std::size(stack))
            stack[depth] = n;
        else
            deep.push_back(n);
        ++depth;
    }
    auto at = [&](size_t i) { return i < std::size(stack) ? stack[i] : deep[i - std::size(stack)]; };

    TResultRow row;
    row.discName.assign(n->Text());
    row.kind = node.EffectiveKind();
    row.size = node.Size();
    row.modifiedTime = node.ModifiedTime();
    if (depth == 0)
        return row;
    size_t length = sizeof texts::kFullPathPrefix - 1 + depth - 1;
    for (size_t i = 0; i < depth; ++i)
        length += at(i)->Text().size();
    row.components.reserve(depth);
    row.fullPath.reserve(length);
    row.fullPath = texts::kFullPathPrefix;
    for (size_t i = depth; i-- > 0;) {
        const std::string_view name = at(i)->Text();
        // at(0) is the hit itself: an opened archive found by name is a hit
        // on the disc, its members are not.
        if (i > 0 && row.archiveComponent < 0 && at(i)->Data() == kArchiveNodeData)
            row.archiveComponent = static_cast<int>(row.components.size());
        row.components.emplace_back(name);
        row.fullPath.append(name);
        if (i)
            row.fullPath.push_back('\\');
    }
    row.nodeName.assign(node.Text());
    return row;
}

namespace {

// Compiles the first 50 bytes of `expression`, cut between characters, into
// `record` through the zeroed pattern buffer.
int32_t compileInto(void *record, char (&patternBuffer)[51], std::string_view expression, bool caseSensitive)
{
    std::memset(record, 0, kRecordSize);
    std::memset(patternBuffer, 0, sizeof patternBuffer);
    if (!expression.empty())
        std::memcpy(patternBuffer, expression.data(), CutAtCharacterBoundary(expression, kPatternLength));
    return CompileRGrep(patternBuffer, caseSensitive ? 1 : 0, static_cast<QuarnPattern *>(record));
}

} // namespace

TSearchContext::TSearchContext(const TCatalogTree &tree, std::string_view expression, bool caseSensitive,
                               std::string_view alternateExpression)
    : tree_(tree), record_(::operator new(kRecordSize)), alternateRecord_(nullptr),
      previousStepLimit_(QuarnSetStepLimit(kSearchStepLimit))
{
    std::memset(matchBuffer_, 0, sizeof matchBuffer_);
    compileResult_ = compileInto(record_, patternBuffer_, expression, caseSensitive);
    if (compileResult_ == 0 && !alternateExpression.empty() && alternateExpression != expression) {
        alternateRecord_ = ::operator new(kRecordSize);
        if (compileInto(alternateRecord_, patternBuffer_, alternateExpression, caseSensitive) != 0) {
            ::operator delete(alternateRecord_);
            alternateRecord_ = nullptr;
        }
    }
}

TSearchContext::~TSearchContext()
{
    QuarnSetStepLimit(previousStepLimit_);
    ::operator delete(record_);
    ::operator delete(alternateRecord_);
}

void SetTypedExpression(TSearchRequest &request, const QString &typed)
{
    request.expression = EncodeName(typed);
    request.alternateExpression = EncodeNameWindows1252(typed);
}

void SetTypedFileTypeFilter(TSearchRequest &request, const QString &typed)
{
    request.fileTypeFilter = EncodeName(typed);
    request.alternateFileTypeFilter = EncodeNameWindows1252(typed);
}

bool TSearchContext::MatchText(const char *text)
{
    // -1 from a compiled record: the name ran past the step limit.
    const int32_t result = RGrep(text, static_cast<QuarnPattern *>(record_));
    tooComplex = tooComplex || (result < 0 && compileResult_ == 0);
    if (result >= 1 || !alternateRecord_)
        return result >= 1;
    const int32_t alternate = RGrep(text, static_cast<QuarnPattern *>(alternateRecord_));
    tooComplex = tooComplex || alternate < 0;
    return alternate >= 1;
}

bool TSearchContext::Matches(std::string_view name)
{
    char *buffer = matchBuffer_;
    if (name.size() > kMatchBufferNameLength) {
        bigName_.resize(name.size() + 1);
        buffer = bigName_.data();
    }
    if (!name.empty()) // an empty name may have no storage at all
        std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    return MatchText(buffer);
}

bool TSearchContext::Matches(const TCatalogNode &node)
{
    return MatchText(node.TextCString());
}

void RunSearchWalk(TSearchContext &ctx, TSearchKind kind)
{
    const TCatalogNodes &nodes = ctx.tree_.Items();
    const std::string filter = kind == TSearchKind::Files ? ctx.fileTypeFilter : std::string();
    const bool valueFilter = ctx.valueFilter.Active();
    nodes.UpdateTotals(); // rows carry folder totals
    const std::string alternateFilter = filter.empty() ? std::string() : ctx.alternateFileTypeFilter;
    ctx.hitCount = 0;
    const int count = nodes.Count();
    // Room for every node at once: growing the rows by doubling moved half a
    // million of them in one step near the end of a search that hits
    // everything, a pause the window could not break up.  Untouched capacity
    // costs address space only.
    ctx.rows.reserve(ctx.rows.size() + static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (ctx.progress) {
            ctx.progress->SetGaugePosition(i);
            ctx.progress->ProcessEvents();
            // A front end that let the tree change meanwhile ends the walk
            // rather than read nodes that are gone.
            if (nodes.Count() != count)
                break;
        }
        const TCatalogNode &node = *nodes.Item(i);
        if (!isCandidate(node, kind))
            continue;
        if (!filter.empty()) {
            const std::string_view extension = ExtensionOf(node.Text());
            if (extension != filter && (alternateFilter.empty() || extension != alternateFilter))
                continue;
        }
        if (valueFilter && !ctx.valueFilter.Passes(node))
            continue;
        if (!ctx.Matches(node)) {
            if (ctx.tooComplex)
                break;
            continue;
        }
        ctx.noMatches = false;
        ctx.rows.push_back(MakeResultRow(node));
        ++ctx.hitCount;
        if (ctx.observer)
            ctx.observer->Hit(ctx.rows.back(), ctx.hitCount, FoundText(kind, ctx.hitCount));
    }
}

void SearchFiles(TSearchContext &ctx)
{
    RunSearchWalk(ctx, TSearchKind::Files);
}

void SearchFolders(TSearchContext &ctx)
{
    RunSearchWalk(ctx, TSearchKind::Folders);
}

void SearchFilesAndFolders(TSearchContext &ctx)
{
    RunSearchWalk(ctx, TSearchKind::FilesAndFolders);
}

void SearchDiscs(TSearchContext &ctx)
{
    RunSearchWalk(ctx, TSearchKind::Discs);
}

void RunSearchRoutine(TSearchContext &ctx, TSearchKind kind)
{
    switch (kind) {
    case TSearchKind::Files:
        SearchFiles(ctx);
        break;
    case TSearchKind::Folders:
        SearchFolders(ctx);
        break;
    case TSearchKind::FilesAndFolders:
        SearchFilesAndFolders(ctx);
        break;
    case TSearchKind::Discs:
        SearchDiscs(ctx);
        break;
    }
}

TSearchOutcome RunSearch(const TCatalogTree &tree, const TSearchRequest &request, ICatalogProgress *progress,
                         ISearchObserver *observer)
{
    TSearchOutcome outcome;
    if (request.expression.empty() || request.expression == texts::kSearchTextInitial)
        return outcome;
    outcome.accepted = true;
    TBusyScope busy(tree);
    struct Scope {
        ICatalogProgress *progress;
        ~Scope()
        {
            if (progress) {
                progress->SetBusy(false);
                progress->SetStatusText("");
                progress->ShowGauge(false);
            }
        }
    } scope{progress};
    if (progress) {
        progress->ShowGauge(true);
        progress->SetStatusText(texts::kSearching);
        if (tree.Items().Count() > 0)
            progress->SetGaugeMaximum(tree.Items().Count() - 1);
        progress->SetBusy(true);
    }
    // Folder totals are brought up to date here, once, before any walk reads
    // them (a walk may be spread over threads).
    tree.Items().UpdateTotals();
    TSearchContext ctx(tree, request.expression, request.caseSensitive, request.alternateExpression);
    ctx.progress = progress;
    ctx.observer = observer;
    ctx.fileTypeFilter = request.fileTypeFilter;
    ctx.alternateFileTypeFilter = request.alternateFileTypeFilter;
    ctx.valueFilter = request.valueFilter;
    RunSearchRoutine(ctx, request.kind);
    outcome.compileResult = ctx.CompileResult();
    outcome.hitCount = ctx.hitCount;
    outcome.noMatches = ctx.noMatches;
    outcome.tooComplex = ctx.tooComplex;
    if (ctx.hitCount > 0)
        outcome.foundText = FoundText(request.kind, ctx.hitCount);
    outcome.rows = std::move(ctx.rows);
    return outcome;
}

} // namespace tslcat
