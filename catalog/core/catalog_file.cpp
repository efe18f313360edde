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
#include "catalog_records.h"
#include "catalog_tree.h"
#include "platform.h"

namespace tslcat {

namespace {

using namespace records;

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
        PutInt32(block, size);
        unsigned char *r = block + 4;
        PutInt32(r + kOffImageIndex, n.imageIndex_);
        PutInt32(r + kOffSelectedIndex, n.selectedIndex_);
        r[kOffCheckState] = n.checkState_;
        r[kOffCheckType] = n.checkType_;
        r[kOffEnabled] = n.Enabled() ? 1 : 0;
        r[kOffExpanded] = n.Expanded() ? 1 : 0;
        r[kOffSelected] = n.IsSelected() ? 1 : 0;
        PutInt32(r + kOffChildCount, n.Count());
        r[kOffParentColor] = n.ParentColor() ? 1 : 0;
        r[kOffParentFont] = n.ParentFont() ? 1 : 0;
        if (n.flags_ & TCatalogNode::kHasExtras) {
            const TNodeExtras &e = nodes.extras_.at(&n);
            PutInt32(r + kOffStateIndex, e.stateIndex);
            PutInt32(r + kOffOverlayIndex, e.overlayIndex);
            PutInt32(r + kOffIntegralHeight, e.integralHeight);
            PutInt32(r + kOffData, static_cast<int32_t>(e.data));
            PutInt32(r + kOffColor, e.color);
            if (!n.ParentFont() && e.font) {
                const TNodeFont &f = *e.font;
                PutInt32(r + kOffFontHeight, f.height);
                r[kOffFontPitch] = f.pitch;
                r[kOffFontStyle] = f.style;
                const size_t fontNameLength = std::min<size_t>(f.name.size(), kMaxFontNameLength);
                r[kOffFontName] = static_cast<unsigned char>(fontNameLength);
                std::memcpy(r + kOffFontName + 1, f.name.data(), fontNameLength);
                PutInt32(r + kOffFontColor, f.color);
            }
        } else {
            // The usual values: state 0, data 0, colour 0 are the zeros
            // already there.
            PutInt32(r + kOffOverlayIndex, -1);
            PutInt32(r + kOffIntegralHeight, 1);
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
        PutUInt64(r + kOffInfoSize, hasSize ? n.size_ : 0);
        PutUInt64(r + kOffInfoTime, hasTime ? static_cast<uint64_t>(n.modifiedTime_) : 0);
        PutInt32(r + kOffInfoCheck, static_cast<int32_t>(InfoCheckWord(r + kOffInfoMarker)));
    }

    // The reverse of writeInfo; anything that is not exactly ours leaves
    // the node unknown.  `now` bounds plausible times.
    static void readInfo(const unsigned char *r, TCatalogNode &n, int64_t now)
    {
        const TRecordInfo info = DecodeInfo(r, now);
        n.kind_ = info.kind;
        n.size_ = info.size;
        n.modifiedTime_ = info.modifiedTime;
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
        const int32_t size = GetInt32(sizeField);
        CheckRecordSize(size, rec.offset);
        in.read(rec.bytes, static_cast<size_t>(size));
        const int nameLength = CheckedNameLength(rec.bytes, size, rec.offset);
        rec.name =
            std::string_view(reinterpret_cast<const char *>(rec.bytes + kOffName), static_cast<size_t>(nameLength));
        rec.children = GetInt32(rec.bytes + kOffChildCount);
        rec.expanded = rec.bytes[kOffExpanded] != 0;
    }

    // Every attribute but the name, children and Expanded, in the order the
    // classic reader sets them.
    static void applyRecord(TCatalogNodes &nodes, TCatalogNode *node, const Record &rec, int64_t now)
    {
        const unsigned char *r = rec.bytes;
        readInfo(r, *node, now);
        node->imageIndex_ = GetInt32(r + kOffImageIndex);
        node->selectedIndex_ = GetInt32(r + kOffSelectedIndex);
        node->checkType_ = r[kOffCheckType];
        node->checkState_ = r[kOffCheckState];
        node->setFlag(TCatalogNode::kEnabled, r[kOffEnabled] != 0);
        if (r[kOffSelected] != 0)
            selectLoaded(nodes, node);
        // The attributes kept out of line, as the record gives them; the
        // colour is read only for a node with its own colour.
        TNodeExtras e;
        e.stateIndex = GetInt32(r + kOffStateIndex);
        e.overlayIndex = GetInt32(r + kOffOverlayIndex);
        e.integralHeight = GetInt32(r + kOffIntegralHeight);
        e.data = static_cast<uint32_t>(GetInt32(r + kOffData));
        node->setFlag(TCatalogNode::kParentColor, r[kOffParentColor] != 0);
        e.color = r[kOffParentColor] == 0 ? GetInt32(r + kOffColor) : node->Color();
        const bool parentFont = r[kOffParentFont] != 0;
        if (!parentFont) {
            auto font = std::make_unique<TNodeFont>();
            font->height = GetInt32(r + kOffFontHeight);
            const int fontNameLength = std::min<int>(r[kOffFontName], kMaxFontNameLength);
            font->name.assign(reinterpret_cast<const char *>(r + kOffFontName + 1),
                              static_cast<size_t>(fontNameLength));
            font->pitch = r[kOffFontPitch];
            font->style = r[kOffFontStyle];
            font->color = GetInt32(r + kOffFontColor);
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
    // nodes), each with its subtree.  The promises hold the minimum number
    // of bytes that blocks announced but not yet read still occupy.  A node is
    // added only once its record has been read whole and checked, so a
    // failure leaves no half-read node behind.
    static void readBlocks(DeviceReader &in, TCatalogNodes &nodes, TCatalogNode *parent, int32_t count, int parentDepth,
                           long long countOffset, int64_t now)
    {
        // Nothing is allocated from a count (see TCountPromises).
        TCountPromises promises;
        promises.Promise(count, countOffset, parent ? "child count" : "disc count", in.remaining());
        try {
            readBlocksBody(in, nodes, parent, count, parentDepth, promises, now);
        } catch (const ECatalogFormatError &) {
            throw;
        } catch (const EReadError &) {
            promises.ThrowShortRead();
        }
    }

    static void readBlocksBody(DeviceReader &in, TCatalogNodes &nodes, TCatalogNode *parent, int32_t count,
                               int parentDepth, TCountPromises &promises, int64_t now)
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
            promises.Take();
            const int depth = parentDepth + 1 + static_cast<int>(stack.size());
            readRecord(in, rec);
            TCatalogNode *node = nodes.AddChild(into, rec.name);
            applyRecord(nodes, node, rec, now);
            loadTick(nodes);
            if (rec.children > 0) {
                CheckNestingDepth(depth, rec.offset);
                // A child array is sized ahead only for a count that the
                // file, together with every count still open, can hold:
                // the arrays reserved then never add up to more than the
                // file's own size, however the counts are nested.
                if (promises.Promise(rec.children, rec.offset, "child count", in.remaining()))
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
        readBlocks(in, nodes, nullptr, GetInt32(head + 1), 0, countOffset, CurrentSecondsSince1970());
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
        const int64_t now = CurrentSecondsSince1970();
        applyRecord(nodes, &node, rec, now);
        nodes.totalsValid_ = false;
        const int depth = node.Level() + 1;
        if (rec.children > 0)
            CheckNestingDepth(depth, rec.offset);
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
        PutInt32(head + 1, nodes.TopLevelCount());
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
