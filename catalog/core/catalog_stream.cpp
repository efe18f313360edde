// catalog_stream.cpp - the in-place readers of a mapped binary catalog.

#include "catalog_stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
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
#include "scratch_memory.h"

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
    bool padded;      // TChunkReader::kPadding bytes after the record are readable
};

// Below this size (about 40,000 nodes) a walk is over before a thread
// would have started.
constexpr size_t kThreadedBytes = size_t{4} << 20;

bool IsWorthAThread(size_t fileBytes)
{
    return fileBytes >= kThreadedBytes && std::thread::hardware_concurrency() > 1;
}

// The bytes of the file from a position on, read in chunks through a small
// ring of buffers that are used again and again (so their pages are touched
// once), or, without a file or when reading fails, straight from the
// mapping.  Positions asked for only grow, as the walk's do.
//
// Copying 100 MB out of the page cache is a third of a large search, so a
// second thread (`threaded`) reads the chunks ahead while the walk works on
// the ones before; the walk reads a chunk itself when the reader has not
// got to it yet, so neither waits for the other longer than one chunk.
class TChunkReader {
public:
    static constexpr long long kChunkBytes = 256 << 10;
    static constexpr int kSlots = 8;
    // Bytes readable past a chunk's end and the stitched record's (so a
    // name can be copied a word at a time).
    static constexpr size_t kPadding = 64;

    TChunkReader(const unsigned char *data, long long size, int fd, bool threaded)
        : data_(data), size_(size), fd_(fd), chunks_((size + kChunkBytes - 1) / kChunkBytes)
    {
        // Without buffers, the mapping is read in place.
        heldEnd_ = size_;
        heldBytes_ = data_;
        heldPadded_ = false;
#ifdef Q_OS_UNIX
        if (fd_ < 0 || size_ <= kChunkBytes)
            return;
        const int ring = threaded ? kSlots : 1;
        try {
            memory_ = std::make_unique<TScratchMemory>(ring * kSlotStride + kStitchBytes);
        } catch (const std::bad_alloc &) {
            return; // read from the mapping
        }
        heldEnd_ = 0;
        heldPadded_ = true;
        for (int i = 0; i < ring; ++i)
            slots_[i].bytes = memory_->Data() + i * kSlotStride;
        slotCount_ = ring;
        stitch_ = memory_->Data() + ring * kSlotStride;
        if (threaded)
            thread_ = std::thread([this] { readAhead(); });
#else
        (void)threaded;
#endif
    }

    ~TChunkReader()
    {
        if (thread_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stop_.store(true);
            }
            roomMade_.notify_all();
            thread_.join();
        }
    }
    TChunkReader(const TChunkReader &) = delete;
    TChunkReader &operator=(const TChunkReader &) = delete;

    // The `need` bytes at `pos` (both within the file, `need` at most a
    // record's size), valid until the next call; kPadding bytes after them
    // are readable when `padded` is set.
    const unsigned char *At(long long pos, long long need, bool *padded)
    {
        if (pos >= heldStart_ && pos + need <= heldEnd_) { // the common case: within the chunk in hand
            *padded = heldPadded_;
            return heldBytes_ + (pos - heldStart_);
        }
        return atSlow(pos, need, padded);
    }

private:
    static constexpr size_t kSlotStride = kChunkBytes + kPadding;
    static constexpr size_t kStitchBytes = 2 * kMaxRecordSize + kPadding;

    struct Slot {
        std::atomic<long long> chunk{-1}; // whose bytes the slot holds, once read
        bool ok = false;                  // read whole; written before `chunk`
        unsigned char *bytes = nullptr;
    };

    [[gnu::noinline]] const unsigned char *atSlow(long long pos, long long need, bool *padded)
    {
        *padded = false;
        if (slotCount_ == 0)
            return data_ + pos;
        const long long k = pos / kChunkBytes;
        const long long inChunk = pos - k * kChunkBytes;
        const auto first = static_cast<size_t>(std::min(need, kChunkBytes - inChunk)); // bytes in chunk k
        if (k + 1 == held_ && k == stitchedChunk_) {
            // The walk asked for more than the record it read there, and
            // has moved on; the tail of chunk k it may still want is in
            // the stitch buffer.
            std::memmove(stitch_, stitch_ + (pos - stitchedFrom_), first);
            stitchedFrom_ = pos;
        } else {
            if (k != held_)
                hold(k);
            const Slot &slot = slots_[k % slotCount_];
            if (!slot.ok)
                return data_ + pos; // the mapping answers for what cannot be read
            if (static_cast<long long>(first) == need) {
                *padded = true;
                return slot.bytes + inChunk;
            }
            // The bytes run on into the next chunk: both parts are copied
            // together.
            std::memcpy(stitch_, slot.bytes + inChunk, first);
            stitchedChunk_ = k;
            stitchedFrom_ = pos;
            hold(k + 1);
        }
        if (static_cast<long long>(first) < need) {
            const Slot &next = slots_[(k + 1) % slotCount_];
            if (!next.ok)
                return data_ + pos;
            std::memcpy(stitch_ + first, next.bytes, static_cast<size_t>(need) - first);
        }
        *padded = true;
        return stitch_;
    }

    // The walk moves on to chunk `k`: the ones before it are free again,
    // and `k` is in its slot when this returns.
    void hold(long long k)
    {
        held_ = k;
        heldStart_ = heldEnd_ = 0; // nothing in hand until it is read
        if (thread_.joinable()) {
            released_.store(k);
            // The reader waits for half the ring to be free.
            if (readerWaiting_.load() && nextClaim_.load() < k + slotCount_ / 2) {
                std::lock_guard<std::mutex> lock(mutex_);
                roomMade_.notify_one();
            }
        }
        Slot &slot = slots_[k % slotCount_];
        if (slot.chunk.load(std::memory_order_acquire) != k) {
            long long next = nextClaim_.load();
            bool claimed = false;
            while (next <= k && !claimed)
                claimed = nextClaim_.compare_exchange_weak(next, k + 1);
            if (claimed) {
                load(k);
            } else {
                // The reader has it in hand.
                for (int spins = 0; slot.chunk.load(std::memory_order_acquire) != k; ++spins) {
                    if (spins > 64)
                        std::this_thread::yield();
                }
            }
        }
        if (slot.ok) {
            heldStart_ = k * kChunkBytes;
            heldEnd_ = heldStart_ + kChunkBytes;
            heldBytes_ = slot.bytes;
        }
    }

    // Reads chunk `k` (claimed) into its slot.
    void load(long long k)
    {
        Slot &slot = slots_[k % slotCount_];
        const long long start = k * kChunkBytes;
        const long long want = std::min(kChunkBytes, size_ - start);
        long long got = 0;
#ifdef Q_OS_UNIX
        while (got < want) {
            const ssize_t n =
                ::pread(fd_, slot.bytes + got, static_cast<size_t>(want - got), static_cast<off_t>(start + got));
            if (n <= 0)
                break;
            got += n;
        }
#endif
        slot.ok = got == want;
        slot.chunk.store(k, std::memory_order_release);
    }

    // The reader's thread: claims the next chunk while the ring has room
    // for it, and otherwise waits until the walk has freed half the ring.
    void readAhead()
    {
        while (!stop_.load(std::memory_order_relaxed)) {
            long long next = nextClaim_.load();
            if (next >= chunks_)
                return;
            if (next >= released_.load() + slotCount_) {
                std::unique_lock<std::mutex> lock(mutex_);
                readerWaiting_.store(true);
                roomMade_.wait(
                    lock, [this] { return stop_.load() || nextClaim_.load() < released_.load() + slotCount_ / 2; });
                readerWaiting_.store(false);
                continue;
            }
            if (nextClaim_.compare_exchange_weak(next, next + 1))
                load(next);
        }
    }

    const unsigned char *data_;
    long long size_;
    int fd_;
    long long chunks_;
    std::unique_ptr<TScratchMemory> memory_;
    Slot slots_[kSlots];
    int slotCount_ = 0; // 0: no buffers, the mapping is read
    unsigned char *stitch_ = nullptr;
    long long held_ = -1; // the walk's chunk
    // The file's bytes [heldStart_, heldEnd_) are at heldBytes_: the held
    // chunk, or without buffers the whole mapping.
    long long heldStart_ = 0, heldEnd_ = 0;
    const unsigned char *heldBytes_ = nullptr;
    bool heldPadded_ = true;
    // The chunk whose tail, from stitchedFrom_ on, is in stitch_.
    long long stitchedChunk_ = -1, stitchedFrom_ = 0;
    std::atomic<long long> nextClaim_{0}, released_{0};
    std::atomic<bool> readerWaiting_{false};
    std::atomic<bool> stop_{false}; // set under mutex_
    std::mutex mutex_;
    std::condition_variable roomMade_;
    std::thread thread_;
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
    TChunkReader window(data, size, source.fd, IsWorthAThread(source.bytes.size()));
    long long pos = sizeof kCatalogSignature;
    if (size < kHeadSize)
        throw EReadError(); // the root check type or the disc count is cut off
    const long long countOffset = pos + 1;
    pos = kHeadSize;
    bool padded;
    const int32_t count = GetInt32(window.At(countOffset, 4, &padded));

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
        const unsigned char *at = window.At(pos, std::min<long long>(size - pos, 4 + kMaxRecordSize), &padded);
        const int32_t recordSize = GetInt32(at);
        CheckRecordSize(recordSize, offset);
        if (size - pos - 4 < recordSize)
            promises.ThrowShortRead();
        const unsigned char *record = at + 4;
        const unsigned char *kept = data + pos + 4;
        const int nameLength = CheckedNameLength(record, recordSize, offset);
        pos += 4 + recordSize;
        TRecordView view{
            record,
            kept,
            std::string_view(reinterpret_cast<const char *>(record + kOffName), static_cast<size_t>(nameLength)),
            static_cast<int>(open.size()),
            GetInt32(record + kOffChildCount),
            padded};
        v.Enter(view);
        if (view.children > 0) {
            CheckNestingDepth(1 + static_cast<int>(open.size()), offset);
            promises.Promise(view.children, offset, "child count", size - pos);
            open.push_back(view.children);
        }
    }
}

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
// The name of the record whose fixed part begins at `record`.
std::string_view RecordName(const unsigned char *record)
{
    return {reinterpret_cast<const char *>(record + kOffName), record[kOffNameLength]};
}

// The first bytes of tables of hits: on plain pages, as most searches find
// a few thousand at most, and a huge page costs more to clear than a few
// plain ones.
constexpr size_t kSmallTable = size_t{256} << 10;

// The most records the catalog `source` can hold: a bound for tables that
// are filled as it is walked.
size_t MostRecords(const TCatalogBytes &source)
{
    return source.bytes.size() / kMinBlockSize + 1;
}

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
        int32_t parent;   // entry of the parent, -1 for a disc hit
        int32_t self;     // own entry, -1 for a node without one
        const char *name; // a copy of the name (hitNames), or null: read it from the record
        uint8_t nameLength = 0;
    };
    // Copies of the names of hits, taken while their bytes are at hand:
    // rows that need nothing else are built without reading the file
    // again.
    class TNameCopies {
    public:
        explicit TNameCopies(size_t most) : memory_(most, kSmallTable) {}
        const char *Keep(const char *name, size_t length)
        {
            char *copy = reinterpret_cast<char *>(memory_.Data()) + used_;
            std::memcpy(copy, name, length);
            used_ += length;
            return copy;
        }

    private:
        TScratchMemory memory_; // the names are parts of the file, so they fit in its size
        size_t used_ = 0;
    };
    // One name of a hit's path, for its row.
    struct TLink {
        std::string_view name;
        bool archive;
    };

    // `bytes` bounds the number of entries: room for all is reserved at
    // once (address space only until used), so they are never moved.
    THitCollector(const TCatalogBytes &source, bool withValues)
        : hits(MostRecords(source), kSmallTable), hitNames(source.bytes.size()), source_(source),
          withValues_(withValues), now_(CurrentSecondsSince1970()), entries_(MostRecords(source)),
          kept_(source.fd >= 0 ? source.bytes.size() : 0), values_(withValues ? MostRecords(source) : 0)
    {
    }

    // The node `r` enters the path; returns the entry it got (-1: none).
    int32_t Enter(const TRecordView &r)
    {
        if (r.level > 0 && r.children <= 0 && !withValues_) { // most records: a file, nothing to note
            lastParent_ = path_.back().entry;
            return -1;
        }
        return enterSlow(r);
    }

    [[gnu::noinline]] int32_t enterSlow(const TRecordView &r)
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
                values_.push_back(Values{});
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

    TScratchArray<Hit> hits;
    TNameCopies hitNames;

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
            // Without values, a row needs no more than the hit's name.
            const bool named = h.name && !withValues_;
            const unsigned char *record = named ? nullptr : again ? reread(h.record, copy) : h.record;
            chain.clear();
            chain.push_back({named ? std::string_view(h.name, h.nameLength) : RecordName(record), false});
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

    // The row MakeResultRow builds for the same node in a loaded tree;
    // without the record `r` (a row without values), its kind stays unknown
    // unless it is a disc.
    TResultRow makeRow(const Hit &h, const unsigned char *r, const std::vector<TLink> &chain) const
    {
        TResultRow row;
        const size_t depth = chain.size() - 1;
        row.discName.assign(chain.back().name);
        if (depth == 0)
            row.kind = TNodeKind::Disc;
        else if (r)
            row.kind = GetInt32(r + kOffChildCount) > 0 || IsScannedFolder(DecodeInfo(r, now_).kind) ? TNodeKind::Folder
                                                                                                     : TNodeKind::File;
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
        row.nodeName.assign(chain[0].name);
        return row;
    }

    static constexpr size_t kRereadHits = 65536;

    // A copy of `name` that lives as long as the collector: names only, as
    // fresh memory is costly to touch.
    const char *keep(std::string_view name)
    {
        // The names kept are parts of the file, so they fit in its size.
        char *copy = reinterpret_cast<char *>(kept_.Data()) + keptUsed_;
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
    TScratchArray<Entry> entries_;
    TScratchMemory kept_; // read through a buffer: copies of the names of entries
    size_t keptUsed_ = 0;
    TScratchArray<Values> values_; // with values only: per entry
    std::vector<Frame> path_;
    int32_t lastParent_ = -1;
};

// Every node is a hit.
struct TAllVisitor {
    THitCollector &collector;
    void Enter(const TRecordView &r)
    {
        const int32_t self = collector.Enter(r);
        collector.hits.push_back({r.kept, collector.LastParent(), self, nullptr});
    }
    void Leave() { collector.Leave(); }
};

// A stretch of candidates in file order: their names side by side, each
// ended by a 0 byte, and what their rows need.
class TBlock {
public:
    // A candidate: what its hit needs, kept small, as there is one for
    // almost every record.
    struct Pending {
        const unsigned char *record;
        int32_t parent, self; // as in THitCollector::Hit
        int32_t offset;       // in the names; -1 for a name judged alone
        uint8_t nameLength;
        int8_t answer; // for a name judged alone: Match's answer
        THitCollector::Hit Hit() const { return {record, parent, self, nullptr, nameLength}; }
    };
    // A block is passed on at this many candidates or name bytes.
    static constexpr size_t kMostNames = 4096; // a block stays within the cache
    static constexpr size_t kMostNameBytes = size_t{256} << 10;

    TBlock() : pending(kMostNames), names_(kMostNameBytes + kMaxNameLength + 1 + 2 * kCopyBytes) {}

    bool Full() const { return pending.size() == kMostNames || used_ > kMostNameBytes; }
    const char *Names() const { return reinterpret_cast<const char *>(names_.Data()); }
    size_t NameBytes() const { return used_; }
    void Clear()
    {
        used_ = 0;
        pending.clear();
    }
    // Adds `name` and its 0 byte; `padded`: kCopyBytes may be read from
    // the name's start whatever its length.
    void AddName(std::string_view name, bool padded)
    {
        unsigned char *to = names_.Data() + used_;
        if (padded) {
            // Whole words, past the name's end: cheaper than an exact copy
            // for names this short.
            for (size_t i = 0; i < name.size(); i += kCopyBytes)
                std::memcpy(to + i, name.data() + i, kCopyBytes);
        } else {
            std::memcpy(to, name.data(), name.size());
        }
        to[name.size()] = 0;
        used_ += name.size() + 1;
    }

    TScratchArray<Pending> pending;

private:
    static constexpr size_t kCopyBytes = 32;
    static_assert(kCopyBytes <= TChunkReader::kPadding, "the reader's padding covers the wide copy");
    TScratchMemory names_;
    size_t used_ = 0;
};

// Judges the block of names gathered so far, one library call per block,
// on the walk's own thread: the names are then judged while they are still
// in its cache.  (Judged on another core, every block's names and entries
// crossed between the cores twice, and the search took a third longer.)
// The hits come out in file order.
class TBlockJudge {
public:
    TBlockJudge(TNameMatcher &matcher, THitCollector &collector)
        : hits(collector.hits), hitNames_(collector.hitNames), matcher_(matcher),
          offsets_((TBlock::kMostNameBytes + kMaxNameLength + 1) * sizeof(int32_t), kSmallTable)
    {
    }
    TBlockJudge(const TBlockJudge &) = delete;
    TBlockJudge &operator=(const TBlockJudge &) = delete;

    TBlock &Block() { return block_; }
    // Judges the block and empties it.
    void Judge() { judge(block_); }

    // True once a candidate made the matcher give up: nothing after it is
    // judged, and the walk need not gather more.
    bool GaveUp() const { return tooComplex_; }
    TScratchArray<THitCollector::Hit> &hits;

private:
    void judge(TBlock &block)
    {
        if (!GaveUp() && !judgeOnce(block))
            judgeOnce(block, true);
        block.Clear();
    }

    // One library call for the block.  False when the matcher gave up on
    // the rest of a name after its 0 byte, which no search asks: the block
    // is then judged again with such names cut (`cut`).
    bool judgeOnce(TBlock &block, bool cut = false)
    {
        if (cut) {
            // Built again in place: entry i is read before it is written.
            const size_t count = block.pending.size();
            block.Clear();
            for (size_t i = 0; i < count; ++i) {
                TBlock::Pending p = block.pending.begin()[i];
                if (p.offset >= 0) {
                    std::string_view name = RecordName(p.record);
                    if (const void *nul = std::memchr(name.data(), '\0', name.size()))
                        name = name.substr(0, static_cast<size_t>(static_cast<const char *>(nul) - name.data()));
                    p.offset = static_cast<int32_t>(block.NameBytes());
                    block.AddName(name, false);
                }
                block.pending.push_back(p);
            }
        }
        int32_t n = 0;
        int32_t stop = 0;
        const auto length = static_cast<int32_t>(block.NameBytes());
        auto *offsets = reinterpret_cast<int32_t *>(offsets_.Data());
        if (length > 0) {
            // Every name takes at least one byte.
            n = matcher_.MatchBlock(block.Names(), length, offsets, length, &stop);
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
                while (next < n && offsets[next] < p.offset)
                    ++next; // the rest of a name after a 0 byte
                hit = next < n && offsets[next] == p.offset;
            }
            if (hit) {
                hits.push_back(p.Hit());
                if (p.offset >= 0 && !cut) // the name whole, as it is in the block
                    hits.back().name = hitNames_.Keep(block.Names() + p.offset, p.nameLength);
            }
        }
        if (stop < length && !stoppedOnCandidate) {
            hits.resize_down(hitsBefore);
            return false;
        }
        if (gaveUp || stop < length)
            tooComplex_ = true;
        return true;
    }

    THitCollector::TNameCopies &hitNames_;
    TNameMatcher &matcher_;
    TScratchMemory offsets_; // int32_t, one per name at most
    TBlock block_;
    bool tooComplex_ = false;
};

// Gathers the candidates of a search into blocks for the judge, in file
// order.
class TSearchVisitor {
public:
    TSearchVisitor(const TSearchRequest &request, TNameMatcher &matcher, THitCollector &collector)
        : kind_(request.kind), collector_(collector),
          emptyAnswer_(static_cast<int8_t>(std::clamp(matcher.Match(""), -1, 1))), judge_(matcher, collector),
          block_(&judge_.Block())
    {
        if (kind_ == TSearchKind::Files && !request.fileTypeFilter.empty()) {
            filter_ = request.fileTypeFilter;
            alternateFilter_ = request.alternateFileTypeFilter;
        }
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
        // Filled in place, field by field: a copy of a whole Pending built
        // on the stack stalled on its parts, a tenth of the walk.
        TBlock::Pending &p = block_->pending.Append();
        p.record = r.kept;
        p.parent = collector_.LastParent();
        p.self = self;
        p.nameLength = static_cast<uint8_t>(r.name.size());
        if (r.name.empty() || r.name[0] == '\0') {
            p.offset = -1;
            p.answer = emptyAnswer_; // read as a C string, the name is empty
        } else {
            // A 0 byte inside a name ends it as a C string, which is how the
            // library reads it; in the block the rest reads as one more
            // name, whose answers the judge passes over.
            p.offset = static_cast<int32_t>(block_->NameBytes());
            p.answer = 0;
            block_->AddName(r.name, r.padded);
        }
        if (block_->Full())
            pass();
    }
    void Leave() { collector_.Leave(); }

    // Judges what is left; true when a candidate made the matcher give up.
    bool Finish()
    {
        pass();
        return judge_.GaveUp();
    }

private:
    void pass()
    {
        if (block_->pending.empty())
            return;
        if (judge_.GaveUp()) { // nothing after it is asked
            block_->Clear();
            return;
        }
        judge_.Judge();
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
    TSearchVisitor visitor(request, *matcher, collector);
    WalkRecords(bytes, visitor);
    result.tooComplex = visitor.Finish();
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
