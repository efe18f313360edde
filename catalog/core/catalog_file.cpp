// catalog_file.cpp - the catalog database file: the binary form (signature,
// root check type, disc count, one record per node in depth-first
// pre-order) and the indented text form, both ways.
//
// The file is untrusted input.  The readers never allocate from a count read
// from the file, check every record against the format before using it, and
// keep a running minimum of the bytes that the counts read so far still
// promise, so the short read that a count too large for the file leads to is
// reported as that count's fault.  Readers and writers walk the tree with
// explicit stacks, so nesting costs heap, not stack.

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "catalog_errors.h"
#include "catalog_tree.h"
#include "platform.h"

namespace tslcat {

namespace {

constexpr int kRecordFixedSize = 88;                              // record bytes before the name
constexpr int kMaxNameLength = 255;                               // the length byte's range
constexpr int kMaxRecordSize = kRecordFixedSize + kMaxNameLength; // 343
constexpr int kMinBlockSize = 4 + kRecordFixedSize;               // size field + empty-name record
constexpr int kMaxFontNameLength = 31;

// Record offsets.
enum : int {
    kOffImageIndex = 0x00,
    kOffSelectedIndex = 0x04,
    kOffStateIndex = 0x08,
    kOffOverlayIndex = 0x0C,
    kOffIntegralHeight = 0x10,
    kOffCheckState = 0x14,
    kOffCheckType = 0x15,
    kOffEnabled = 0x16,
    kOffExpanded = 0x17,
    kOffSelected = 0x18,
    kOffData = 0x19,
    kOffChildCount = 0x1D,
    kOffColor = 0x21,
    kOffParentColor = 0x25,
    kOffParentFont = 0x26,
    kOffFontHeight = 0x2B,
    kOffFontPitch = 0x2F,
    kOffFontStyle = 0x30,
    kOffFontName = 0x32, // length byte, then up to 31 bytes
    kOffFontColor = 0x53,
    kOffNameLength = 0x57,
    kOffName = 0x58,
};

// Sizes and dates.  A record whose ParentFont byte is non-zero has no font,
// and bytes 0x27..0x56 are then written as zeros and ignored by every reader
// of the format.  We keep a node's kind, size and modification time there,
// behind a marker and a check word, so zeros (files written before, or by a
// writer that does not know this) and anything foreign read as "unknown":
//
//   0x27  4  marker 54 53 44 01 ("TSD", layout 1)
//   0x2B  1  kind: 1 file, 2 folder, 3 disc
//   0x2C  1  flags: bit 0 the size is present, bit 1 the time is present;
//            other bits 0
//   0x2D  2  zero
//   0x2F  8  size in bytes, unsigned little-endian: a file's own, a folder's
//            or disc's total of the files below it (0 when the flag is clear)
//   0x37  8  modification time, signed little-endian seconds since
//            1970-01-01 UTC: a file's own, the newest below a folder or disc
//   0x3F  4  check word over bytes 0x27..0x3E, little-endian: with a, b, c
//            the three 64-bit little-endian words there,
//              h = (a ^ 0x9E3779B97F4A7C15) * 0xBF58476D1CE4E5B9
//                ^ (b ^ 0x94D049BB133111EB) * 0xD6E8FEB86659FD93
//                ^ (c ^ 0xC2B2AE3D27D4EB4F) * 0x165667B19E3779F9  (mod 2^64)
//            and the word is the low 32 bits of h ^ (h >> 32)
//   0x43 20  zero
//
// Readers that stream the file get the totals of folders and discs as
// written; this reader recomputes them from the files.  A record with the
// marker but a bad check word, an unknown kind or flag bits is foreign and
// read as unknown; a size above 2^62 or a time before 1970 or more than a
// year after the load is read as unknown.  Nodes with their own font
// (ParentFont 0) cannot carry any of it.  A node with nothing known is
// written with zeros, so files without these data round-trip unchanged.
enum : int {
    kOffInfoMarker = 0x27,
    kOffInfoKind = 0x2B,
    kOffInfoFlags = 0x2C,
    kOffInfoSize = 0x2F,
    kOffInfoTime = 0x37,
    kOffInfoCheck = 0x3F,
    kInfoCheckedBytes = kOffInfoCheck - kOffInfoMarker,
};
constexpr unsigned char kInfoMarker[4] = {0x54, 0x53, 0x44, 0x01};
constexpr unsigned char kInfoHasSize = 1, kInfoHasTime = 2;

uint64_t getUInt64(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// Three 64-bit words in, 32 bits out: independent multiplications, so the
// check costs a load of a million records next to nothing.
static_assert(kInfoCheckedBytes == 24, "the check word covers three 64-bit words");

uint32_t infoCheckWord(const unsigned char *from)
{
    uint64_t h = (getUInt64(from) ^ 0x9E3779B97F4A7C15u) * 0xBF58476D1CE4E5B9u;
    h ^= (getUInt64(from + 8) ^ 0x94D049BB133111EBu) * 0xD6E8FEB86659FD93u;
    h ^= (getUInt64(from + 16) ^ 0xC2B2AE3D27D4EB4Fu) * 0x165667B19E3779F9u;
    return static_cast<uint32_t>(h ^ (h >> 32));
}

void putUInt64(unsigned char *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

int64_t currentSecondsSince1970()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int32_t getInt32(const unsigned char *p)
{
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

void putInt32(unsigned char *p, int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

std::string offsetText(long long offset)
{
    return " at byte " + std::to_string(offset);
}

// Buffered reading from a device.  Reads ahead in large blocks (two small
// reads per node would dominate the load time otherwise) and puts the device
// back at the logical position when done, so bytes after the catalog stay
// unread for the caller, as with unbuffered reads.
class DeviceReader {
public:
    explicit DeviceReader(QIODevice &device) : device_(device), start_(device.pos())
    {
        if (!device.isSequential())
            remaining_ = std::max<qint64>(0, device.size() - start_);
    }
    ~DeviceReader()
    {
        if (!device_.isSequential() && filled_ != used_)
            device_.seek(start_ + consumed_);
    }
    DeviceReader(const DeviceReader &) = delete;
    DeviceReader &operator=(const DeviceReader &) = delete;

    // Reads exactly n bytes or throws EReadError.
    void read(void *dst, size_t n)
    {
        auto *out = static_cast<unsigned char *>(dst);
        while (n > 0) {
            if (used_ == filled_ && !refill())
                throw EReadError();
            size_t take = std::min(n, filled_ - used_);
            std::memcpy(out, buffer_.data() + used_, take);
            used_ += take;
            consumed_ += static_cast<qint64>(take);
            out += take;
            n -= take;
        }
    }
    // Device position of the next byte.
    qint64 offset() const { return start_ + consumed_; }
    // Bytes left in the device, or -1 when the device cannot tell.
    qint64 remaining() const { return remaining_ < 0 ? -1 : remaining_ - consumed_; }

private:
    bool refill()
    {
        if (buffer_.empty())
            buffer_.resize(1 << 16);
        qint64 got = device_.read(reinterpret_cast<char *>(buffer_.data()), static_cast<qint64>(buffer_.size()));
        if (got <= 0)
            return false;
        filled_ = static_cast<size_t>(got);
        used_ = 0;
        return true;
    }

    QIODevice &device_;
    qint64 start_;
    qint64 remaining_ = -1;
    qint64 consumed_ = 0;
    std::vector<unsigned char> buffer_;
    size_t filled_ = 0;
    size_t used_ = 0;
};

// Buffered writing to a device; every short write is an EWriteError.
// Records are serialised straight into one large buffer (Reserve, then
// Commit), which reaches the device in a few big writes.  `flushed` runs
// after every write with the device offset range just written; saving uses
// it to start the disk writes early, so the final sync has less to wait for.
class DeviceWriter {
public:
    static constexpr size_t kBufferSize = size_t{1} << 20;

    explicit DeviceWriter(QIODevice &device, std::function<void(qint64, qint64)> flushed = {})
        : device_(device), buffer_(new unsigned char[kBufferSize]), flushed_(std::move(flushed))
    {
    }
    // Room for `n` bytes (at most kBufferSize) at the returned address;
    // Commit(n) then makes them part of the output.
    unsigned char *Reserve(size_t n)
    {
        if (kBufferSize - used_ < n)
            flush();
        return buffer_.get() + used_;
    }
    void Commit(size_t n) { used_ += n; }

    void write(const void *src, size_t n)
    {
        if (n > kBufferSize / 2) {
            flush();
            writeThrough(src, n);
            return;
        }
        std::memcpy(Reserve(n), src, n);
        Commit(n);
    }
    void flush()
    {
        if (used_ != 0)
            writeThrough(buffer_.get(), used_);
        used_ = 0;
    }

private:
    void writeThrough(const void *src, size_t n)
    {
        if (device_.write(static_cast<const char *>(src), static_cast<qint64>(n)) != static_cast<qint64>(n))
            throw EWriteError();
        if (flushed_)
            flushed_(written_, static_cast<qint64>(n));
        written_ += static_cast<qint64>(n);
    }
    QIODevice &device_;
    std::unique_ptr<unsigned char[]> buffer_;
    size_t used_ = 0;
    qint64 written_ = 0;
    std::function<void(qint64, qint64)> flushed_;
};

// Reads up to n bytes, looping over short reads of slow devices.
qint64 readUpTo(QIODevice &device, char *dst, qint64 n)
{
    qint64 total = 0;
    while (total < n) {
        qint64 got = device.read(dst + total, n - total);
        if (got <= 0)
            break;
        total += got;
    }
    return total;
}

// Keeps BeginUpdate/EndUpdate paired on every exit.
class UpdateScope {
public:
    explicit UpdateScope(TCatalogNodes &nodes) : nodes_(nodes) { nodes_.BeginUpdate(); }
    ~UpdateScope() { nodes_.EndUpdate(); }
    UpdateScope(const UpdateScope &) = delete;
    UpdateScope &operator=(const UpdateScope &) = delete;

private:
    TCatalogNodes &nodes_;
};

} // namespace

// Access to the private parts of nodes for the file code.
class CatalogFileAccess {
public:
    static void writeRecord(DeviceWriter &out, const TCatalogNodes &nodes, const TCatalogNode &n)
    {
        const size_t nameLength = std::min<size_t>(n.textLength_, kMaxNameLength);
        const int size = kRecordFixedSize + static_cast<int>(nameLength);
        unsigned char *block = out.Reserve(4 + static_cast<size_t>(size));
        std::memset(block, 0, 4 + kRecordFixedSize);
        putInt32(block, size);
        unsigned char *r = block + 4;
        putInt32(r + kOffImageIndex, n.imageIndex_);
        putInt32(r + kOffSelectedIndex, n.selectedIndex_);
        r[kOffCheckState] = n.checkState_;
        r[kOffCheckType] = n.checkType_;
        r[kOffEnabled] = n.Enabled() ? 1 : 0;
        r[kOffExpanded] = n.Expanded() ? 1 : 0;
        r[kOffSelected] = n.IsSelected() ? 1 : 0;
        putInt32(r + kOffChildCount, n.Count());
        r[kOffParentColor] = n.ParentColor() ? 1 : 0;
        r[kOffParentFont] = n.ParentFont() ? 1 : 0;
        if (n.flags_ & TCatalogNode::kHasExtras) {
            const TNodeExtras &e = nodes.extras_.at(&n);
            putInt32(r + kOffStateIndex, e.stateIndex);
            putInt32(r + kOffOverlayIndex, e.overlayIndex);
            putInt32(r + kOffIntegralHeight, e.integralHeight);
            putInt32(r + kOffData, static_cast<int32_t>(e.data));
            putInt32(r + kOffColor, e.color);
            if (!n.ParentFont() && e.font) {
                const TNodeFont &f = *e.font;
                putInt32(r + kOffFontHeight, f.height);
                r[kOffFontPitch] = f.pitch;
                r[kOffFontStyle] = f.style;
                const size_t fontNameLength = std::min<size_t>(f.name.size(), kMaxFontNameLength);
                r[kOffFontName] = static_cast<unsigned char>(fontNameLength);
                std::memcpy(r + kOffFontName + 1, f.name.data(), fontNameLength);
                putInt32(r + kOffFontColor, f.color);
            }
        } else {
            // The usual values: state 0, data 0, colour 0 are the zeros
            // already there.
            putInt32(r + kOffOverlayIndex, -1);
            putInt32(r + kOffIntegralHeight, 1);
        }
        if (n.ParentFont())
            writeInfo(r, n);
        r[kOffNameLength] = static_cast<unsigned char>(nameLength);
        if (nameLength)
            std::memcpy(r + kOffName, n.text_, nameLength);
        out.Commit(4 + static_cast<size_t>(size));
    }

    // The kind, size and time behind their marker, when there is anything
    // to say; the bytes stay zero otherwise.  Totals are up to date (the
    // writers refresh them first).
    static void writeInfo(unsigned char *r, const TCatalogNode &n)
    {
        const bool hasSize = n.size_ != kUnknownSize, hasTime = n.modifiedTime_ != kUnknownTime;
        if (n.kind_ == uint8_t(TNodeKind::Unknown) && !hasSize && !hasTime)
            return;
        const TNodeKind kind = n.kind_ != uint8_t(TNodeKind::Unknown) ? n.Kind() : n.EffectiveKind();
        std::memcpy(r + kOffInfoMarker, kInfoMarker, sizeof kInfoMarker);
        r[kOffInfoKind] = static_cast<unsigned char>(kind);
        r[kOffInfoFlags] = static_cast<unsigned char>((hasSize ? kInfoHasSize : 0) | (hasTime ? kInfoHasTime : 0));
        putUInt64(r + kOffInfoSize, hasSize ? n.size_ : 0);
        putUInt64(r + kOffInfoTime, hasTime ? static_cast<uint64_t>(n.modifiedTime_) : 0);
        putInt32(r + kOffInfoCheck, static_cast<int32_t>(infoCheckWord(r + kOffInfoMarker)));
    }

    // The reverse of writeInfo; anything that is not exactly ours leaves
    // the node unknown.  `now` bounds plausible times.
    static void readInfo(const unsigned char *r, TCatalogNode &n, int64_t now)
    {
        n.kind_ = uint8_t(TNodeKind::Unknown);
        n.size_ = kUnknownSize;
        n.modifiedTime_ = kUnknownTime;
        if (r[kOffParentFont] == 0 || std::memcmp(r + kOffInfoMarker, kInfoMarker, sizeof kInfoMarker) != 0)
            return;
        const unsigned char kind = r[kOffInfoKind], flags = r[kOffInfoFlags];
        if (kind < uint8_t(TNodeKind::File) || kind > uint8_t(TNodeKind::Disc) ||
            (flags & ~(kInfoHasSize | kInfoHasTime)) != 0 ||
            static_cast<uint32_t>(getInt32(r + kOffInfoCheck)) != infoCheckWord(r + kOffInfoMarker))
            return;
        n.kind_ = kind;
        if (flags & kInfoHasSize)
            n.size_ = PlausibleSize(getUInt64(r + kOffInfoSize));
        if (flags & kInfoHasTime)
            n.modifiedTime_ = PlausibleTime(static_cast<int64_t>(getUInt64(r + kOffInfoTime)), now);
    }

    // Pre-order walk writing every block of `first`'s subtree.
    static void writeSubtree(DeviceWriter &out, const TCatalogNode &first)
    {
        const TCatalogNodes &nodes = first.Owner();
        std::vector<const TCatalogNode *> stack{&first};
        while (!stack.empty()) {
            const TCatalogNode *n = stack.back();
            stack.pop_back();
            writeRecord(out, nodes, *n);
            for (uint32_t i = n->childCount_; i-- > 0;)
                stack.push_back(n->children_[i]);
        }
    }

    struct PendingParent {
        TCatalogNode *node;
        int32_t childrenLeft;
        bool expanded;
    };

    // One record, checked against the format, with its name and child count.
    struct Record {
        unsigned char bytes[kMaxRecordSize];
        std::string_view name;
        int32_t children;
        bool expanded;
        long long offset; // of the block's size field
    };

    static void readRecord(DeviceReader &in, Record &rec)
    {
        rec.offset = in.offset();
        unsigned char sizeField[4];
        in.read(sizeField, 4);
        const int32_t size = getInt32(sizeField);
        if (size < kRecordFixedSize || size > kMaxRecordSize)
            throw ECatalogFormatError("Stream read error: invalid record size " + std::to_string(size) +
                                      offsetText(rec.offset));
        in.read(rec.bytes, static_cast<size_t>(size));
        const int nameLength = rec.bytes[kOffNameLength];
        // Bytes of a longer record after the name are padding and unused.
        if (kRecordFixedSize + nameLength > size)
            throw ECatalogFormatError("Stream read error: name length " + std::to_string(nameLength) +
                                      " does not fit the record of " + std::to_string(size) + " bytes" +
                                      offsetText(rec.offset));
        rec.name =
            std::string_view(reinterpret_cast<const char *>(rec.bytes + kOffName), static_cast<size_t>(nameLength));
        rec.children = getInt32(rec.bytes + kOffChildCount);
        rec.expanded = rec.bytes[kOffExpanded] != 0;
    }

    // Every attribute but the name, children and Expanded, in the order the
    // classic reader sets them.
    static void applyRecord(TCatalogNodes &nodes, TCatalogNode *node, const Record &rec, int64_t now)
    {
        const unsigned char *r = rec.bytes;
        readInfo(r, *node, now);
        node->imageIndex_ = getInt32(r + kOffImageIndex);
        node->selectedIndex_ = getInt32(r + kOffSelectedIndex);
        node->checkType_ = r[kOffCheckType];
        node->checkState_ = r[kOffCheckState];
        node->setFlag(TCatalogNode::kEnabled, r[kOffEnabled] != 0);
        if (r[kOffSelected] != 0)
            selectLoaded(nodes, node);
        // The attributes kept out of line, as the record gives them; the
        // colour is read only for a node with its own colour.
        TNodeExtras e;
        e.stateIndex = getInt32(r + kOffStateIndex);
        e.overlayIndex = getInt32(r + kOffOverlayIndex);
        e.integralHeight = getInt32(r + kOffIntegralHeight);
        e.data = static_cast<uint32_t>(getInt32(r + kOffData));
        node->setFlag(TCatalogNode::kParentColor, r[kOffParentColor] != 0);
        e.color = r[kOffParentColor] == 0 ? getInt32(r + kOffColor) : node->Color();
        const bool parentFont = r[kOffParentFont] != 0;
        if (!parentFont) {
            auto font = std::make_unique<TNodeFont>();
            font->height = getInt32(r + kOffFontHeight);
            const int fontNameLength = std::min<int>(r[kOffFontName], kMaxFontNameLength);
            font->name.assign(reinterpret_cast<const char *>(r + kOffFontName + 1),
                              static_cast<size_t>(fontNameLength));
            font->pitch = r[kOffFontPitch];
            font->style = r[kOffFontStyle];
            font->color = getInt32(r + kOffFontColor);
            e.font = std::move(font);
        }
        node->setFlag(TCatalogNode::kParentFont, parentFont);
        if (!e.IsUsual()) {
            nodes.extras_[node] = std::move(e);
            node->flags_ |= TCatalogNode::kHasExtras;
        } else if (node->flags_ & TCatalogNode::kHasExtras) {
            nodes.extras_.erase(node);
            node->flags_ &= static_cast<uint8_t>(~TCatalogNode::kHasExtras);
        }
        if (auto *o = nodes.observer())
            o->NodeChanged(node);
    }

    // Reads `count` blocks as the last children of `parent` (nullptr: disc
    // nodes), each with its subtree.  `promised` is the minimum number of
    // bytes that blocks announced but not yet read still occupy.  A node is
    // added only once its record has been read whole and checked, so a
    // failure leaves no half-read node behind.
    static void readBlocks(DeviceReader &in, TCatalogNodes &nodes, TCatalogNode *parent, int32_t count, int parentDepth,
                           long long countOffset, int64_t now)
    {
        // A count the rest of the file cannot hold is remembered, not acted
        // on: the blocks that are there are still read (a truncated file
        // keeps every node it holds), and the short read that must follow is
        // reported as that count's fault.  Nothing is allocated from a count.
        long long promised = 0;
        std::string suspect;
        // Returns true while every count announced so far still fits the
        // rest of the file (and the device can tell).
        auto promise = [&](int32_t blocks, long long at, const char *what) {
            if (blocks <= 0)
                return false;
            promised += static_cast<long long>(blocks) * kMinBlockSize;
            const qint64 left = in.remaining();
            if (left < 0)
                return false;
            if (promised <= left)
                return true;
            if (suspect.empty())
                suspect = std::string("Stream read error: ") + what + " " + std::to_string(blocks) + offsetText(at) +
                    " exceeds the rest of the file";
            return false;
        };
        promise(count, countOffset, parent ? "child count" : "disc count");
        try {
            readBlocksBody(in, nodes, parent, count, parentDepth, promised, promise, now);
        } catch (const ECatalogFormatError &) {
            throw;
        } catch (const EReadError &) {
            if (!suspect.empty())
                throw ECatalogFormatError(suspect);
            throw;
        }
    }

    template <class Promise>
    static void readBlocksBody(DeviceReader &in, TCatalogNodes &nodes, TCatalogNode *parent, int32_t count,
                               int parentDepth, long long &promised, Promise &promise, int64_t now)
    {
        std::vector<PendingParent> stack;
        int32_t left = count;
        Record rec;
        for (;;) {
            TCatalogNode *into;
            if (stack.empty()) {
                if (left <= 0)
                    break;
                --left;
                into = parent;
            } else {
                PendingParent &p = stack.back();
                if (p.childrenLeft <= 0) {
                    TCatalogNode *done = p.node;
                    const bool expanded = p.expanded;
                    stack.pop_back();
                    done->SetExpanded(expanded);
                    continue;
                }
                --p.childrenLeft;
                into = p.node;
            }
            promised -= kMinBlockSize;
            const int depth = parentDepth + 1 + static_cast<int>(stack.size());
            readRecord(in, rec);
            TCatalogNode *node = nodes.AddChild(into, rec.name);
            applyRecord(nodes, node, rec, now);
            loadTick(nodes);
            if (rec.children > 0) {
                if (depth >= kMaxNestingDepth)
                    throw ECatalogFormatError("Stream read error: nesting deeper than " +
                                              std::to_string(kMaxNestingDepth) + " levels" + offsetText(rec.offset));
                // A child array is sized ahead only for a count that the
                // file, together with every count still open, can hold:
                // the arrays reserved then never add up to more than the
                // file's own size, however the counts are nested.
                if (promise(rec.children, rec.offset, "child count"))
                    node->reserveChildren(static_cast<uint32_t>(rec.children));
                stack.push_back({node, rec.children, rec.expanded});
            } else {
                node->SetExpanded(rec.expanded); // no children: stays collapsed
            }
        }
    }

    // A node stored as selected joins the selection list and becomes the
    // tree's current node; nodes selected before it stay in the list.
    static void selectLoaded(TCatalogNodes &nodes, TCatalogNode *node)
    {
        nodes.Select(node);
        TCatalogTree &tree = nodes.Tree();
        tree.selected_ = node;
        if (auto *o = nodes.observer())
            o->CurrentChanged(node);
    }

    // Lets a front end keep its window alive during a long read: the tree's
    // OnLoadProgress runs once every 4096 nodes read.
    static void loadTick(TCatalogNodes &nodes)
    {
        TCatalogTree &tree = nodes.Tree();
        if (tree.OnLoadProgress && (++tree.loadTicks_ & 4095) == 0)
            tree.OnLoadProgress();
    }

    static void readBinary(QIODevice &stream, TCatalogNodes &nodes)
    {
        nodes.Clear();
        UpdateScope update(nodes);
        DeviceReader in(stream);
        unsigned char head[5];
        in.read(head, 1);
        nodes.SetRootCheckType(head[0]);
        const long long countOffset = in.offset();
        in.read(head + 1, 4);
        readBlocks(in, nodes, nullptr, getInt32(head + 1), 0, countOffset, currentSecondsSince1970());
    }

    // One block into an existing node: its record replaces the node's
    // attributes and name, its children are appended.
    static void readNodeBlock(QIODevice &stream, TCatalogNode &node)
    {
        TCatalogNodes &nodes = node.Owner();
        UpdateScope update(nodes);
        DeviceReader in(stream);
        Record rec;
        readRecord(in, rec);
        node.SetText(rec.name);
        const int64_t now = currentSecondsSince1970();
        applyRecord(nodes, &node, rec, now);
        nodes.totalsValid_ = false;
        const int depth = node.Level() + 1;
        if (rec.children > 0 && depth >= kMaxNestingDepth)
            throw ECatalogFormatError("Stream read error: nesting deeper than " + std::to_string(kMaxNestingDepth) +
                                      " levels" + offsetText(rec.offset));
        readBlocks(in, nodes, &node, rec.children, depth, rec.offset, now);
        node.SetExpanded(rec.expanded);
    }

    static void copyAttributes(const TCatalogNode &from, TCatalogNode &to)
    {
        to.imageIndex_ = from.imageIndex_;
        to.selectedIndex_ = from.selectedIndex_;
        to.SetStateIndex(from.StateIndex());
        to.SetOverlayIndex(from.OverlayIndex());
        to.SetIntegralHeight(from.IntegralHeight());
        to.checkState_ = from.checkState_;
        to.checkType_ = from.checkType_;
        to.SetData(from.Data());
        to.SetColor(from.Color());
        to.setFlag(TCatalogNode::kEnabled, from.Enabled());
        to.setFlag(TCatalogNode::kParentColor, from.ParentColor());
        if (const TNodeFont *font = from.Font())
            to.SetFont(*font);
        else
            to.SetParentFont();
        to.kind_ = from.kind_;
        to.size_ = from.size_;
        to.modifiedTime_ = from.modifiedTime_;
    }

    static TCatalogNode *copySubtree(const TCatalogNode &source, TCatalogNodes &target, TCatalogNode *parent)
    {
        struct Pending {
            const TCatalogNode *from;
            TCatalogNode *into; // parent of the copy
        };
        source.Owner().UpdateTotals();
        TCatalogNode *top = nullptr;
        std::vector<Pending> stack{{&source, parent}};
        std::vector<std::pair<const TCatalogNode *, TCatalogNode *>> copies;
        while (!stack.empty()) {
            Pending p = stack.back();
            stack.pop_back();
            TCatalogNode *copy = target.AddChild(p.into, p.from->Text());
            copyAttributes(*p.from, *copy);
            if (!top)
                top = copy;
            copies.emplace_back(p.from, copy);
            for (uint32_t i = p.from->childCount_; i-- > 0;)
                stack.push_back({p.from->children_[i], copy});
        }
        // Expanded once the children exist, under the usual rules.
        for (auto &[from, copy] : copies)
            copy->SetExpanded(from->Expanded());
        return top;
    }

    static void writeBinary(DeviceWriter &out, const TCatalogNodes &nodes)
    {
        nodes.UpdateTotals();
        unsigned char head[5];
        head[0] = nodes.RootCheckType();
        putInt32(head + 1, nodes.TopLevelCount());
        out.write(head, 5);
        for (int i = 0; i < nodes.TopLevelCount(); ++i)
            writeSubtree(out, *nodes.TopLevel(i));
        out.flush();
    }

    static void writeText(DeviceWriter &out, const TCatalogNodes &nodes)
    {
        struct Item {
            const TCatalogNode *node;
            int depth;
        };
        std::vector<Item> stack;
        for (int i = nodes.TopLevelCount() - 1; i >= 0; --i)
            stack.push_back({nodes.TopLevel(i), 0});
        std::string line;
        while (!stack.empty()) {
            Item item = stack.back();
            stack.pop_back();
            line.assign(static_cast<size_t>(item.depth), '\t');
            line.append(item.node->Text());
            line.append("\r\n");
            out.write(line.data(), line.size());
            for (uint32_t i = item.node->childCount_; i-- > 0;)
                stack.push_back({item.node->children_[i], item.depth + 1});
        }
        out.flush();
    }

    // The text form: lines of (indentation)(name)(line end).  `prefix` holds
    // bytes already taken from a device that cannot seek back.
    static void readText(QIODevice &stream, TCatalogNodes &nodes, const std::string &prefix)
    {
        std::string text = prefix;
        if (stream.isSequential()) {
            text += stream.readAll().toStdString();
        } else {
            const qint64 n = stream.size() - stream.pos();
            if (n > 0) {
                const size_t at = text.size();
                text.resize(at + static_cast<size_t>(n));
                text.resize(at + static_cast<size_t>(readUpTo(stream, text.data() + at, n)));
            }
        }
        if (text.empty())
            return;
        text.push_back('\0');
        const char *cursor = text.data();

        auto takeLine = [&]() {
            const char *start = cursor;
            while (*cursor != '\0' && *cursor != '\r' && *cursor != '\n')
                ++cursor;
            std::string_view line(start, static_cast<size_t>(cursor - start));
            while (*cursor == '\r' || *cursor == '\n')
                ++cursor;
            return line;
        };

        // ReadLevel(parent, level) with the recursion on an explicit stack.
        // A frame returns the indentation of the line that ended it; the
        // indentation counted after a name belongs to the next line.
        struct Frame {
            TCatalogNode *parent;
            int level;
        };
        std::vector<Frame> stack{{nullptr, 0}};
        int indent = 0;
        bool returning = false;
        while (!stack.empty()) {
            const Frame frame = stack.back();
            if (returning) {
                returning = false;
                if (indent < frame.level) {
                    stack.pop_back();
                    returning = true;
                    continue;
                }
            }
            indent = 0;
            std::string_view line = takeLine();
            if (line.empty()) {
                stack.pop_back();
                returning = true;
                continue;
            }
            TCatalogNode *node = nodes.AddChild(frame.parent, line);
            loadTick(nodes);
            while (*cursor == '\t' || *cursor == ' ') {
                ++cursor;
                ++indent;
            }
            if (indent - frame.level > 1)
                throw ECatalogTreeError();
            if (indent > frame.level) {
                if (indent >= kMaxNestingDepth)
                    throw ECatalogTreeError("Invalid item level assignment: nesting deeper than " +
                                            std::to_string(kMaxNestingDepth) + " levels");
                stack.push_back({node, indent});
                continue;
            }
            if (indent < frame.level) {
                stack.pop_back();
                returning = true;
            }
        }
    }
};

// --- node and collection entry points -------------------------------------

TCatalogNode *CopySubtree(const TCatalogNode &source, TCatalogNodes &target, TCatalogNode *parent)
{
    return CatalogFileAccess::copySubtree(source, target, parent);
}

void TCatalogNode::WriteData(QIODevice &stream) const
{
    Owner().UpdateTotals();
    DeviceWriter out(stream);
    CatalogFileAccess::writeSubtree(out, *this);
    out.flush();
}

void TCatalogNode::ReadData(QIODevice &stream)
{
    CatalogFileAccess::readNodeBlock(stream, *this);
}

void TCatalogNodes::WriteBinary(QIODevice &stream) const
{
    DeviceWriter out(stream);
    CatalogFileAccess::writeBinary(out, *this);
}

void TCatalogNodes::ReadBinary(QIODevice &stream)
{
    CatalogFileAccess::readBinary(stream, *this);
}

void TCatalogNodes::WriteText(QIODevice &stream) const
{
    DeviceWriter out(stream);
    CatalogFileAccess::writeText(out, *this);
}

void TCatalogNodes::ReadText(QIODevice &stream)
{
    CatalogFileAccess::readText(stream, *this, {});
}

// --- tree entry points ------------------------------------------------------

void TCatalogTree::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(fileName.toStdString());
    LoadFromStream(file);
}

void TCatalogTree::LoadFromStream(QIODevice &stream)
{
    TBusyScope busy(*this);
    const qint64 start = stream.pos();
    char head[sizeof kCatalogSignature];
    const qint64 got = readUpTo(stream, head, sizeof head);
    UpdateScope update(*items_);
    items_->Clear();
    if (got == static_cast<qint64>(sizeof head) && std::memcmp(head, kCatalogSignature, sizeof head) == 0) {
        CatalogFileAccess::readBinary(stream, *items_);
    } else if (!stream.isSequential() && stream.seek(start)) {
        CatalogFileAccess::readText(stream, *items_, {});
    } else {
        CatalogFileAccess::readText(stream, *items_, std::string(head, static_cast<size_t>(std::max<qint64>(got, 0))));
    }
}

namespace {

void writeForm(DeviceWriter &out, const TCatalogNodes &nodes, bool binary)
{
    if (binary) {
        out.write(kCatalogSignature, sizeof kCatalogSignature);
        CatalogFileAccess::writeBinary(out, nodes);
    } else {
        CatalogFileAccess::writeText(out, nodes);
    }
}

} // namespace

void TCatalogTree::SaveToStream(QIODevice &stream, bool binary) const
{
    DeviceWriter out(stream);
    writeForm(out, *items_, binary);
}

void TCatalogTree::SaveToFile(const QString &fileName, bool binary) const
{
    // A temporary file beside the target, flushed to disk, then renamed over
    // it: a crash or a full disk never leaves a half-written catalog.
    // Unbuffered: the writer's large blocks go to the file as they are, and
    // the disk starts on each one while the next is serialised, so the sync
    // at the end waits for little more than the last block.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw EFCreateError(fileName.toStdString());
    struct Held {
        int handle;
        ~Held() { platform::ReleaseHeldFile(handle); }
    } old{platform::HoldFile(QFile::encodeName(fileName).toStdString())};
    const int handle = file.handle();
    DeviceWriter out(file,
                     [handle](qint64 offset, qint64 length) { platform::StartWriteBack(handle, offset, length); });
    writeForm(out, *items_, binary); // on a throw the temporary file is discarded
    if (!file.flush() || !platform::SyncFile(handle))
        throw EWriteError();
    if (!file.commit())
        throw EWriteError();
}

} // namespace tslcat
