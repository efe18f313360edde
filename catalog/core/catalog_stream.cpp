// catalog_stream.cpp - the in-place readers of a mapped binary catalog.

#include "catalog_stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "quarn32.h"

#include "catalog_errors.h"
#include "catalog_records.h"
#include "catalog_texts.h"
#include "catalog_tree.h"
#include "scan_source.h"

namespace tslcat {

using namespace records;

TMappedCatalog::TMappedCatalog(const QString &fileName) : file_(fileName)
{
    if (!file_.open(QIODevice::ReadOnly))
        return;
    const qint64 size = file_.size();
    if (size < static_cast<qint64>(sizeof kCatalogSignature))
        return;
    const uchar *data = file_.map(0, size);
    if (!data)
        return;
    bytes_ = std::string_view(reinterpret_cast<const char *>(data), static_cast<size_t>(size));
    usable_ = IsBinaryCatalog(bytes_);
}

TCatalogBytes TMappedCatalog::Source() const
{
#ifdef Q_OS_UNIX
    return {bytes_, file_.handle()};
#else
    return {bytes_};
#endif
}

bool IsBinaryCatalog(std::string_view bytes)
{
    return bytes.size() >= sizeof kCatalogSignature &&
        std::memcmp(bytes.data(), kCatalogSignature, sizeof kCatalogSignature) == 0;
}

bool CanStreamSearch(const TSearchRequest &request)
{
    return !request.valueFilter.Active();
}

namespace {

// One record as the walk hands it to a visitor.
struct TRecordView {
    const unsigned char *record; // the record's bytes (fixed part, then the name), valid during Enter only
    const unsigned char *kept;   // the same bytes where they stay (the mapping): for what is read later
    std::string_view name;
    int level;        // 0 for discs
    int32_t children; // blocks that follow as its children (none when 0 or less)
};

// The bytes of the file from a position on, read through a buffer that is
// used again and again (so its pages are touched once), or, without a file
// or when reading fails, straight from the mapping.
class TReadWindow {
public:
    TReadWindow(const unsigned char *data, long long size, int fd) : data_(data), size_(size), fd_(fd)
    {
        if (fd_ >= 0 && size_ > kBufferBytes)
            buffer_.reset(new (std::nothrow) unsigned char[kBufferBytes]);
    }

    // The `need` bytes at `pos` (both within the file), valid until the
    // next call.
    const unsigned char *At(long long pos, long long need)
    {
        if (!buffer_)
            return data_ + pos;
        if (pos < start_ || pos + need > start_ + length_) {
            const long long want = std::min<long long>(kBufferBytes, size_ - pos);
            long long got = 0;
#ifdef Q_OS_UNIX
            while (got < want) {
                const ssize_t n =
                    ::pread(fd_, buffer_.get() + got, static_cast<size_t>(want - got), static_cast<off_t>(pos + got));
                if (n <= 0)
                    break;
                got += n;
            }
#else
            (void)want;
#endif
            start_ = pos;
            length_ = got;
            if (got < need) {
                length_ = 0; // the mapping answers for what cannot be read
                return data_ + pos;
            }
        }
        return buffer_.get() + (pos - start_);
    }

private:
    static constexpr long long kBufferBytes = 1 << 20;
    const unsigned char *data_;
    long long size_;
    int fd_;
    std::unique_ptr<unsigned char[]> buffer_;
    long long start_ = 0, length_ = 0;
};

// Walks the binary catalog `bytes` in file order, which is the tree's
// pre-order, with the loader's checks in the loader's order: the same
// faults raise the same exceptions with the same texts.  `v.Enter(record)`
// for every record; `v.Leave()` once the last child of a record with
// children has been read.
template <class Visitor> void WalkRecords(const TCatalogBytes &source, Visitor &v)
{
    const auto *data = reinterpret_cast<const unsigned char *>(source.bytes.data());
    const long long size = static_cast<long long>(source.bytes.size());
    TReadWindow window(data, size, source.fd);
    long long pos = sizeof kCatalogSignature;
    if (size < kHeadSize)
        throw EReadError(); // the root check type or the disc count is cut off
    const long long countOffset = pos + 1;
    pos = kHeadSize;
    const int32_t count = GetInt32(window.At(countOffset, 4));

    TCountPromises promises;
    promises.Promise(count, countOffset, "disc count", size - pos);
    std::vector<int32_t> open; // children still to read, one entry per open parent
    int32_t left = count;
    for (;;) {
        if (open.empty()) {
            if (left <= 0)
                break;
            --left;
        } else {
            if (open.back() <= 0) {
                open.pop_back();
                v.Leave();
                continue;
            }
            --open.back();
        }
        promises.Take();
        const long long offset = pos;
        if (size - pos < 4)
            promises.ThrowShortRead();
        const unsigned char *at = window.At(pos, std::min<long long>(size - pos, 4 + kMaxRecordSize));
        const int32_t recordSize = GetInt32(at);
        CheckRecordSize(recordSize, offset);
        if (size - pos - 4 < recordSize)
            promises.ThrowShortRead();
        const unsigned char *record = at + 4;
        const unsigned char *kept = data + pos + 4;
        const int nameLength = CheckedNameLength(record, recordSize, offset);
        pos += 4 + recordSize;
        TRecordView view{
            record, kept,
            std::string_view(reinterpret_cast<const char *>(record + kOffName), static_cast<size_t>(nameLength)),
            static_cast<int>(open.size()), GetInt32(record + kOffChildCount)};
        v.Enter(view);
        if (view.children > 0) {
            CheckNestingDepth(1 + static_cast<int>(open.size()), offset);
            promises.Promise(view.children, offset, "child count", size - pos);
            open.push_back(view.children);
        }
    }
}

// Below this size (about 40,000 nodes) a search is over before a thread
// would have started.
constexpr size_t kThreadedBytes = size_t{4} << 20;

bool IsCandidate(const TRecordView &r, TSearchKind kind)
{
    switch (kind) {
    case TSearchKind::Files:
        return r.level > 0 && r.children <= 0;
    case TSearchKind::Folders:
        return r.level > 0 && r.children > 0;
    case TSearchKind::FilesAndFolders:
        return r.level > 0;
    case TSearchKind::Discs:
        return r.level == 0;
    }
    return false;
}

bool IsScannedFolder(uint8_t kind)
{
    return kind == uint8_t(TNodeKind::Folder) || kind == uint8_t(TNodeKind::Disc);
}

// Gathers the hit nodes of one walk, with what their rows need once the
// walk is over: every disc and every node with children gets an entry (its
// record, its parent's entry and, with values, its totals); a hit refers to
// its record and its parent's entry.
class THitCollector {
public:
    struct Entry {
        const char *name; // where it is mapped, or a copy
        uint8_t nameLength;
        bool archive;   // an opened archive (its members are catalogued)
        int32_t parent; // entry index, -1 for a disc
    };
    struct Values {
        uint64_t size = kUnknownSize;
        int64_t modifiedTime = kUnknownTime;
    };
    struct Hit {
        const unsigned char *record;
        int32_t parent; // entry of the parent, -1 for a disc hit
        int32_t self;   // own entry, -1 for a node without one
    };
    // One name of a hit's path, for its row.
    struct TLink {
        std::string_view name;
        bool archive;
    };

    // `bytes` bounds the number of entries: room for all is reserved at
    // once (address space only until used), so they are never moved.
    THitCollector(const TCatalogBytes &source, bool withValues)
        : source_(source), withValues_(withValues), now_(CurrentSecondsSince1970())
    {
        const size_t most = source.bytes.size() / kMinBlockSize + 1;
        entries_.reserve(most);
        if (withValues_)
            values_.reserve(most);
    }

    // The node `r` enters the path; returns the entry it got (-1: none).
    int32_t Enter(const TRecordView &r)
    {
        const int32_t parent = path_.empty() ? -1 : path_.back().entry;
        int32_t self = -1;
        if (r.level == 0 || r.children > 0) {
            self = static_cast<int32_t>(entries_.size());
            // Read through a buffer, a disc's or folder's record is copied:
            // the rows of hits below it need its name.
            const bool archive = static_cast<uint32_t>(GetInt32(r.record + kOffData)) == kArchiveNodeData;
            const char *name = source_.fd >= 0 ? keep(r.name) : reinterpret_cast<const char *>(r.kept + kOffName);
            entries_.push_back({name, static_cast<uint8_t>(r.name.size()), archive, parent});
            if (withValues_)
                values_.emplace_back();
        }
        lastParent_ = parent;
        if (r.children > 0) {
            Frame f;
            f.entry = self;
            if (withValues_)
                f.scannedFolder = IsScannedFolder(DecodeInfo(r.record, now_).kind);
            path_.push_back(f);
        } else if (withValues_) {
            // A node without children: its own values, or those of an empty
            // scanned folder.
            const TRecordInfo info = DecodeInfo(r.record, now_);
            uint64_t size = info.size;
            int64_t time = info.modifiedTime;
            if (IsScannedFolder(info.kind)) {
                size = 0; // an empty folder holds nothing, and has no file time
                time = kUnknownTime;
            }
            if (self >= 0) {
                values_[static_cast<size_t>(self)] = {size, time};
            }
            addToParent(size, time);
        }
        return self;
    }

    // The last node with children is complete: its totals are known.
    void Leave()
    {
        const Frame f = path_.back();
        path_.pop_back();
        if (!withValues_)
            return;
        const uint64_t size = f.sizeKnown || f.scannedFolder ? f.size : kUnknownSize;
        values_[static_cast<size_t>(f.entry)] = {size, f.newest};
        addToParent(size, f.newest);
    }

    // The parent entry of the node entered last.
    int32_t LastParent() const { return lastParent_; }

    std::vector<Hit> hits;

    std::vector<TResultRow> Rows() const
    {
        std::vector<TResultRow> rows;
        rows.reserve(hits.size());
        std::vector<TLink> chain; // the hit, then its ancestors up to the disc
        // A few hits among many records are read again from the file rather
        // than touched where they are mapped (see TCatalogBytes); many are
        // read from the mapping, in order.
        const bool again = source_.fd >= 0 && hits.size() <= kRereadHits;
        unsigned char copy[kOffName + kMaxNameLength];
        for (const Hit &h : hits) {
            const unsigned char *record = again ? reread(h.record, copy) : h.record;
            chain.clear();
            chain.push_back({nameOf(record), false});
            for (int32_t e = h.parent; e >= 0; e = entries_[static_cast<size_t>(e)].parent) {
                const Entry &entry = entries_[static_cast<size_t>(e)];
                chain.push_back({std::string_view(entry.name, entry.nameLength), entry.archive});
            }
            rows.push_back(makeRow(h, record, chain));
        }
        return rows;
    }

private:
    struct Frame {
        int32_t entry = -1;
        bool scannedFolder = false;
        bool sizeKnown = false;
        uint64_t size = 0;
        int64_t newest = kUnknownTime;
    };

    static std::string_view nameOf(const unsigned char *record)
    {
        return {reinterpret_cast<const char *>(record + kOffName), record[kOffNameLength]};
    }

    void addToParent(uint64_t size, int64_t time)
    {
        if (path_.empty())
            return;
        Frame &p = path_.back();
        if (size != kUnknownSize) {
            // Sums of many large values are capped rather than wrapped.
            p.size = std::min(p.size + size, kMaxPlausibleSize);
            p.sizeKnown = true;
        }
        p.newest = std::max(p.newest, time);
    }

    // The row MakeResultRow builds for the same node in a loaded tree.
    TResultRow makeRow(const Hit &h, const unsigned char *r, const std::vector<TLink> &chain) const
    {
        TResultRow row;
        const size_t depth = chain.size() - 1;
        row.discName.assign(chain.back().name);
        const bool hasChildren = GetInt32(r + kOffChildCount) > 0;
        if (depth == 0)
            row.kind = TNodeKind::Disc;
        else if (hasChildren || IsScannedFolder(DecodeInfo(r, now_).kind))
            row.kind = TNodeKind::Folder;
        else
            row.kind = TNodeKind::File;
        if (withValues_) {
            if (h.self >= 0) {
                row.size = values_[static_cast<size_t>(h.self)].size;
                row.modifiedTime = values_[static_cast<size_t>(h.self)].modifiedTime;
            } else {
                const TRecordInfo info = DecodeInfo(r, now_);
                row.size = IsScannedFolder(info.kind) ? 0 : info.size;
                row.modifiedTime = IsScannedFolder(info.kind) ? kUnknownTime : info.modifiedTime;
            }
        }
        if (depth == 0)
            return row;
        size_t length = sizeof texts::kFullPathPrefix - 1 + depth - 1;
        for (size_t i = 0; i < depth; ++i)
            length += chain[i].name.size();
        row.components.reserve(depth);
        row.fullPath.reserve(length);
        row.fullPath = texts::kFullPathPrefix;
        for (size_t i = depth; i-- > 0;) {
            const std::string_view name = chain[i].name;
            // chain[0] is the hit itself: an opened archive found by name is
            // a hit on the disc, its members are not.
            if (i > 0 && row.archiveComponent < 0 && chain[i].archive)
                row.archiveComponent = static_cast<int>(row.components.size());
            row.components.emplace_back(name);
            row.fullPath.append(name);
            if (i)
                row.fullPath.push_back('\\');
        }
        row.nodeName.assign(nameOf(r));
        return row;
    }

    static constexpr size_t kRereadHits = 65536;
    static constexpr size_t kKeptBlockBytes = size_t{1} << 20;

    // A copy of `name` that lives as long as the collector: names only, as
    // fresh memory is costly to touch.
    const char *keep(std::string_view name)
    {
        if (kept_.empty() || keptUsed_ + name.size() > kKeptBlockBytes) {
            kept_.emplace_back(new char[kKeptBlockBytes]);
            keptUsed_ = 0;
        }
        char *copy = kept_.back().get() + keptUsed_;
        if (!name.empty())
            std::memcpy(copy, name.data(), name.size());
        keptUsed_ += name.size();
        return copy;
    }

    // The mapped record at `record` read from the file into `copy`; the
    // mapping itself when that fails.
    const unsigned char *reread(const unsigned char *record, unsigned char *copy) const
    {
#ifdef Q_OS_UNIX
        const auto offset = static_cast<off_t>(record - reinterpret_cast<const unsigned char *>(source_.bytes.data()));
        const ssize_t got = ::pread(source_.fd, copy, kOffName + kMaxNameLength, offset);
        if (got > kOffNameLength && got >= kOffName + copy[kOffNameLength])
            return copy;
#else
        (void)copy;
#endif
        return record;
    }

    TCatalogBytes source_;
    bool withValues_;
    int64_t now_;
    std::vector<Entry> entries_;
    std::vector<std::unique_ptr<char[]>> kept_;
    size_t keptUsed_ = 0;
    std::vector<Values> values_; // with values only: per entry
    std::vector<Frame> path_;
    int32_t lastParent_ = -1;
};

// Every node is a hit.
struct TAllVisitor {
    THitCollector &collector;
    void Enter(const TRecordView &r)
    {
        const int32_t self = collector.Enter(r);
        collector.hits.push_back({r.kept, collector.LastParent(), self});
    }
    void Leave() { collector.Leave(); }
};

// A stretch of candidates in file order: their names side by side, each
// ended by a 0 byte, and what their rows need.
struct TBlock {
    struct Pending {
        THitCollector::Hit hit;
        int32_t offset; // in `names`; -1 for a name judged alone
        int answer;     // for a name judged alone: Match's answer
    };
    std::string names;
    std::vector<Pending> pending;
};

// Judges blocks in the order they are given, one library call per block:
// on a thread of its own while the walk gathers the next block, or at once.
// Either way the hits come out in file order.
class TBlockJudge {
public:
    static constexpr int kBlocks = 3; // one filling, one judged, one spare

    TBlockJudge(TNameMatcher &matcher, bool threaded) : matcher_(matcher)
    {
        for (auto &block : blocks_) {
            block.names.reserve(size_t{1} << 17);
            free_.push_back(&block);
        }
        if (threaded)
            worker_ = std::thread([this] { work(); });
    }
    ~TBlockJudge()
    {
        if (worker_.joinable()) { // the walk failed: the rest is not wanted
            {
                std::lock_guard<std::mutex> lock(mutex_);
                abandoned_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
    }
    TBlockJudge(const TBlockJudge &) = delete;
    TBlockJudge &operator=(const TBlockJudge &) = delete;

    // An empty block to fill.
    TBlock *Take()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty(); });
        TBlock *block = free_.back();
        free_.pop_back();
        return block;
    }

    // A filled block, judged after those given before it.
    void Give(TBlock *block)
    {
        if (!worker_.joinable()) {
            judge(*block);
            free_.push_back(block);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            filled_.push_back(block);
        }
        changed_.notify_all();
    }

    // Waits until every block given has been judged.
    void Finish()
    {
        if (worker_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finishing_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
        if (failure_)
            std::rethrow_exception(failure_);
    }

    // True once a candidate made the matcher give up: nothing after it is
    // judged, and the walk need not gather more.
    bool GaveUp() const { return tooComplex_.load(std::memory_order_relaxed); }
    std::vector<THitCollector::Hit> hits;

private:
    void work()
    {
        for (;;) {
            TBlock *block;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return abandoned_ || finishing_ || !filled_.empty(); });
                if (abandoned_ || filled_.empty())
                    return;
                block = filled_.front();
                filled_.pop_front();
            }
            try {
                if (!failure_)
                    judge(*block);
            } catch (...) {
                failure_ = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                free_.push_back(block);
            }
            changed_.notify_all();
        }
    }

    void judge(TBlock &block)
    {
        if (!GaveUp() && !judgeOnce(block))
            judgeOnce(block, true);
        block.names.clear();
        block.pending.clear();
    }

    // One library call for the block.  False when the matcher gave up on
    // the rest of a name after its 0 byte, which no search asks: the block
    // is then judged again with such names cut (`cut`).
    bool judgeOnce(TBlock &block, bool cut = false)
    {
        if (cut) {
            block.names.clear();
            for (TBlock::Pending &p : block.pending) {
                if (p.offset < 0)
                    continue;
                std::string_view name = nameOf(p.hit.record);
                if (const void *nul = std::memchr(name.data(), '\0', name.size()))
                    name = name.substr(0, static_cast<size_t>(static_cast<const char *>(nul) - name.data()));
                p.offset = static_cast<int32_t>(block.names.size());
                block.names.append(name);
                block.names.push_back('\0');
            }
        }
        int32_t n = 0;
        int32_t stop = 0;
        const auto length = static_cast<int32_t>(block.names.size());
        if (length > 0) {
            // Every name takes at least one byte.
            if (offsets_.size() < block.names.size())
                offsets_.resize(block.names.size());
            n = matcher_.MatchBlock(block.names.data(), length, offsets_.data(), static_cast<int32_t>(offsets_.size()),
                                    &stop);
        }
        const size_t hitsBefore = hits.size();
        int32_t next = 0;
        bool stoppedOnCandidate = false, gaveUp = false;
        for (const TBlock::Pending &p : block.pending) {
            bool hit;
            if (p.offset < 0) {
                gaveUp = gaveUp || p.answer < 0;
                hit = p.answer > 0;
            } else {
                stoppedOnCandidate = stoppedOnCandidate || p.offset == stop;
                while (next < n && offsets_[static_cast<size_t>(next)] < p.offset)
                    ++next; // the rest of a name after a 0 byte
                hit = next < n && offsets_[static_cast<size_t>(next)] == p.offset;
            }
            if (hit)
                hits.push_back(p.hit);
        }
        if (stop < length && !stoppedOnCandidate) {
            hits.resize(hitsBefore);
            return false;
        }
        if (gaveUp || stop < length)
            tooComplex_.store(true, std::memory_order_relaxed);
        return true;
    }

    static std::string_view nameOf(const unsigned char *record)
    {
        return {reinterpret_cast<const char *>(record + kOffName), record[kOffNameLength]};
    }

    TNameMatcher &matcher_;
    std::vector<int32_t> offsets_;
    TBlock blocks_[kBlocks];
    std::vector<TBlock *> free_;
    std::deque<TBlock *> filled_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finishing_ = false, abandoned_ = false;
    std::atomic<bool> tooComplex_{false};
    std::exception_ptr failure_; // written by the worker, read after joining it
    std::thread worker_;
};

// Gathers the candidates of a search into blocks for the judge, in file
// order.
class TSearchVisitor {
public:
    static constexpr size_t kNamesPerBlock = 4096;

    TSearchVisitor(const TSearchRequest &request, TNameMatcher &matcher, THitCollector &collector, bool threaded)
        : kind_(request.kind), collector_(collector),
          // Asked here, before the judge may use the matcher on its thread.
          emptyAnswer_(matcher.Match("")), judge_(matcher, threaded)
    {
        if (kind_ == TSearchKind::Files && !request.fileTypeFilter.empty()) {
            filter_ = request.fileTypeFilter;
            alternateFilter_ = request.alternateFileTypeFilter;
        }
        block_ = judge_.Take();
    }

    void Enter(const TRecordView &r)
    {
        const int32_t self = collector_.Enter(r);
        if (!IsCandidate(r, kind_))
            return;
        if (!filter_.empty()) {
            const std::string_view extension = ExtensionOf(r.name);
            if (extension != filter_ && (alternateFilter_.empty() || extension != alternateFilter_))
                return;
        }
        TBlock::Pending p{{r.kept, collector_.LastParent(), self}, -1, 0};
        if (r.name.empty() || r.name[0] == '\0') {
            p.answer = emptyAnswer_; // read as a C string, the name is empty
        } else {
            // A 0 byte inside a name ends it as a C string, which is how the
            // library reads it; in the block the rest reads as one more
            // name, whose answers the judge passes over.
            p.offset = static_cast<int32_t>(block_->names.size());
            block_->names.append(r.name);
            block_->names.push_back('\0');
        }
        block_->pending.push_back(p);
        if (block_->pending.size() == kNamesPerBlock || block_->names.size() > (size_t{1} << 20))
            pass();
    }
    void Leave() { collector_.Leave(); }

    // Judges what is left; true when a candidate made the matcher give up.
    bool Finish(std::vector<THitCollector::Hit> &hits)
    {
        pass();
        judge_.Finish();
        hits = std::move(judge_.hits);
        return judge_.GaveUp();
    }

private:
    void pass()
    {
        if (block_->pending.empty())
            return;
        if (judge_.GaveUp()) { // nothing after it is asked
            block_->names.clear();
            block_->pending.clear();
            return;
        }
        judge_.Give(block_);
        block_ = judge_.Take();
    }

    TSearchKind kind_;
    THitCollector &collector_;
    std::string filter_;
    std::string alternateFilter_;
    int emptyAnswer_;
    TBlockJudge judge_;
    TBlock *block_ = nullptr;
};

// Only checks the records.
struct TCheckVisitor {
    void Enter(const TRecordView &) {}
    void Leave() {}
};

// Holds back the library's reports while the expression is compiled the
// first time, noting that there were some: the expression is compiled again
// once the file has proved sound, and the library reports then.
class TQuietLibrary {
public:
    TQuietLibrary() : previous_(QuarnSetMessageSink([](const char *, const char *) { reported_ = true; }))
    {
        reported_ = false;
    }
    ~TQuietLibrary() { QuarnSetMessageSink(previous_); }
    TQuietLibrary(const TQuietLibrary &) = delete;
    TQuietLibrary &operator=(const TQuietLibrary &) = delete;
    bool Reported() const { return reported_; }

private:
    static inline bool reported_ = false; // the sink is a plain function
    QuarnMessageSink previous_;
};

} // namespace

TStreamSearchResult StreamSearch(const TCatalogBytes &bytes, const TSearchRequest &request, bool withValues)
{
    TStreamSearchResult result;
    // The step limit, as the tree search sets it.
    struct LimitScope {
        int32_t previous = QuarnSetStepLimit(kSearchStepLimit);
        ~LimitScope() { QuarnSetStepLimit(previous); }
    } limit;
    auto compile = [&request] {
        return std::make_unique<TNameMatcher>(request.match, request.expression, request.caseSensitive,
                                              request.alternateExpression);
    };
    std::unique_ptr<TNameMatcher> matcher;
    bool reported = false;
    {
        TQuietLibrary quiet;
        matcher = compile();
        reported = quiet.Reported();
    }
    result.compileResult = matcher->CompileResult();
    if (result.compileResult != 0) {
        TCheckVisitor check;
        WalkRecords(bytes, check);
        compile(); // the file is sound: now the library says what is wrong
        return result;
    }
    THitCollector collector(bytes, withValues);
    // A second core judges the names while the walk gathers the next ones,
    // when the catalog is large enough to repay the thread.
    const bool threaded = bytes.bytes.size() >= kThreadedBytes && std::thread::hardware_concurrency() > 1;
    TSearchVisitor visitor(request, *matcher, collector, threaded);
    WalkRecords(bytes, visitor);
    result.tooComplex = visitor.Finish(collector.hits);
    if (reported)
        compile(); // the alternate form did not compile: reported as the tree search does
    if (!result.tooComplex)
        result.rows = collector.Rows();
    return result;
}

std::vector<TResultRow> StreamAllRows(const TCatalogBytes &bytes)
{
    THitCollector collector(bytes, true);
    TAllVisitor visitor{collector};
    WalkRecords(bytes, visitor);
    return collector.Rows();
}

std::string StreamOutline(const TCatalogBytes &bytes)
{
    struct Visitor {
        std::string out;
        void Enter(const TRecordView &r)
        {
            out.append(static_cast<size_t>(r.level), '\t');
            out.append(r.name);
            out.append("\r\n");
        }
        void Leave() {}
    } v;
    WalkRecords(bytes, v);
    return std::move(v.out);
}

TStreamStats StreamStats(const TCatalogBytes &bytes)
{
    struct Visitor {
        TStreamStats stats;
        void Enter(const TRecordView &r)
        {
            if (r.children > 0)
                return;
            stats.fileTypes.Add(ExtensionOf(r.name));
            ++stats.fileCount;
        }
        void Leave() {}
    } v;
    WalkRecords(bytes, v);
    return std::move(v.stats);
}

} // namespace tslcat
