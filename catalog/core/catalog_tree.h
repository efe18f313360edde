// catalog_tree.h - the catalog tree: discs, folders and files as one ordered
// tree of named nodes, with no display.
//
// TCatalogTree owns one node collection (`Items`, a TCatalogNodes), which owns
// every node (TCatalogNode).  Disc nodes are at Level 0; below them a node
// with children is a folder and a node without children is a file.  Level()
// and HasChildren() are the only tests the catalog makes.
//
// Display binding: a front end that shows the tree installs one
// ICatalogTreeObserver (TCatalogTree::SetObserver).  The core never calls a
// widget; it reports every change through that interface and runs the same
// without one.  For a model adapter over millions of nodes every query it
// needs is constant time:
//   - Parent() and Index() (the row among the siblings) are stored in the node
//     and kept up to date on insertion and deletion;
//   - Count() and Child(i) read the node's own children array;
//   - TCatalogNodes::TopLevelCount()/TopLevel(i) give the rows of the
//     invisible root (the top level, where Parent() is nullptr);
//   - Item(i) and AbsoluteIndex() are array reads once the flat index is built.
//
// Names (`Text`) are raw bytes, exactly as read from the catalog file or from
// the directory listing; no encoding is assumed.  DecodeName()/EncodeName()
// (catalog_names.h) convert for display.
//
// Ownership and storage: the collection owns every node.  Nodes live in its
// slab pool and names in its name store (catalog_storage.h), so a loaded
// catalog costs about 100 bytes a node; a node's children array lists its
// children in order, and Parent() and every other node reference are
// non-owning.  A node pointer stays valid until the node is deleted (Delete,
// Clear, a load, or the tree's end); its Text() view until its text changes
// or a deletion repacks the names.
//
// Threading: none.  Everything runs on the caller's thread; observers and
// event handlers run inside the operation that raises them and must not
// change the tree's structure from there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalog_name_runs.h"
#include "catalog_storage.h"

class QIODevice;
class QString;

namespace tslcat {

class TCatalogNode;
class TCatalogNodes;
class TCatalogTree;
class TCatalogRoot;

// Deepest nesting the file readers follow (disc node = depth 1).  Trees from
// directory scans stay far below it: a path of PATH_MAX bytes has at most
// 2048 components.  A deeper file is refused with ECatalogFormatError /
// ECatalogTreeError instead of exhausting the stack.
inline constexpr int kMaxNestingDepth = 4096;

// A node's own font, kept only while ParentFont is false.  The catalog never
// sets one; it is stored and restored so files round-trip unchanged.
struct TNodeFont {
    int32_t height = 0;
    std::string name;  // raw bytes; the file keeps at most 31
    uint8_t pitch = 0; // 0 default, 1 variable, 2 fixed
    uint8_t style = 0; // bit 0 bold, 1 italic, 2 underline, 3 strike-out
    int32_t color = 0;
    bool operator==(const TNodeFont &o) const
    {
        return height == o.height && name == o.name && pitch == o.pitch && style == o.style && color == o.color;
    }
};

// Attributes that every node has but the catalog never changes from these
// values.  A node keeps them out of line, in its collection, only while one
// of them differs, so the millions of ordinary nodes do not pay for them.
struct TNodeExtras {
    int32_t stateIndex = 0;
    int32_t overlayIndex = -1;
    int32_t integralHeight = 1;
    uint32_t data = 0;
    int32_t color = 0;
    std::unique_ptr<TNodeFont> font; // present exactly while ParentFont is false
    bool IsUsual() const
    {
        return stateIndex == 0 && overlayIndex == -1 && integralHeight == 1 && data == 0 && color == 0 && !font;
    }
};

// What a node stands for, as the scan that made it knew it.  Catalogs
// written without sizes and dates do not say: their nodes are Unknown, and
// Level()/HasChildren() tell discs, folders and files apart as always (an
// empty folder then looks like a file).  EffectiveKind() combines both.
enum class TNodeKind : uint8_t { Unknown = 0, File = 1, Folder = 2, Disc = 3 };

// A size or time the catalog does not know: no scan recorded it, the file
// predates sizes and dates, or the stored value was absurd.
inline constexpr uint64_t kUnknownSize = UINT64_MAX;
inline constexpr int64_t kUnknownTime = INT64_MIN;
// Values beyond these are not believed, from a file or from a scan: a size
// above 2^62 bytes, a time before 1970 or more than a year after `now`.
inline constexpr uint64_t kMaxPlausibleSize = uint64_t{1} << 62;
inline constexpr int64_t kFutureTimeSlack = int64_t{366} * 24 * 3600;
inline uint64_t PlausibleSize(uint64_t size)
{
    return size > kMaxPlausibleSize ? kUnknownSize : size;
}
inline int64_t PlausibleTime(int64_t secondsSince1970, int64_t now)
{
    return (secondsSince1970 < 0 || secondsSince1970 > now + kFutureTimeSlack) ? kUnknownTime : secondsSince1970;
}

// Notifications for a display.  All methods have empty defaults.
//
// `parent` is nullptr for the top level (disc nodes); rows are positions in
// the parent's children array (TCatalogNode::Index()).
//
// Row notifications come for every structural change, also inside
// BeginUpdate/EndUpdate.  UpdateBegun/UpdateEnded mark the outermost pair, so
// an adapter may instead reset its model at UpdateBegun/UpdateEnded and
// ignore row notifications in between (loading and adding a disc insert up to
// millions of nodes inside one update).
class ICatalogTreeObserver {
public:
    virtual ~ICatalogTreeObserver() = default;

    // AddChild: one new node at `row` (always the last row of `parent`).
    virtual void NodeAboutToBeInserted(TCatalogNode *parent, int row) { (void)parent, (void)row; }
    virtual void NodeInserted(TCatalogNode *node) { (void)node; }
    // Delete: `node` (with its subtree) is about to leave `parent` at `row`;
    // NodeRemoved follows once it is gone (the pointer is then dangling and
    // is not passed).
    virtual void NodeAboutToBeRemoved(TCatalogNode *parent, int row) { (void)parent, (void)row; }
    virtual void NodeRemoved(TCatalogNode *parent, int row) { (void)parent, (void)row; }
    // Clear (also the start of every load): all nodes go at once.
    virtual void AboutToBeCleared() {}
    virtual void Cleared() {}
    // Text, ImageIndex or SelectedIndex changed.
    virtual void NodeChanged(TCatalogNode *node) { (void)node; }
    // Expanded changed through SetExpanded, or a node lost its last child and
    // was collapsed; the display should expand or collapse it to match.
    virtual void NodeExpandedChanged(TCatalogNode *node, bool expanded) { (void)node, (void)expanded; }
    // The tree's current node (TCatalogTree::Selected) changed, e.g. a
    // loaded node stored as selected.
    virtual void CurrentChanged(TCatalogNode *node) { (void)node; }
    // The update counter went from 0 to 1 / back to 0: suspend / resume redraw.
    virtual void UpdateBegun() {}
    virtual void UpdateEnded() {}
};

// One node: a disc, a folder or a file.  Created only by TCatalogNodes
// (AddChild / Add) and owned by its parent.
class TCatalogNode {
public:
    TCatalogNode(const TCatalogNode &) = delete;
    TCatalogNode &operator=(const TCatalogNode &) = delete;
    ~TCatalogNode();

    // --- the name: raw bytes, any length in memory (the file keeps 255) ---
    // The view stays valid until this node's text changes or nodes are
    // deleted (a deletion may repack the names of the survivors).
    std::string_view Text() const { return {text_, textLength_}; }
    // The same bytes followed by a zero byte (a name holding a zero byte
    // ends there as a C string).  Valid as long as Text().
    const char *TextCString() const { return text_ ? text_ : ""; }
    void SetText(std::string_view text); // tells the display

    // --- icons (indexes into the icon list; -1 = none) ---
    int32_t ImageIndex() const { return imageIndex_; }
    int32_t SelectedIndex() const { return selectedIndex_; }
    void SetImageIndex(int32_t index);    // tells the display
    void SetSelectedIndex(int32_t index); // tells the display
    // Both at once, one display notification.
    void SetIcons(int32_t imageIndex, int32_t selectedIndex);

    // --- attributes kept and stored, unused by the catalog ---
    // (the int32/Data/Color/Font ones live out of line while unusual; their
    // accessors walk up to the collection, O(depth))
    int32_t StateIndex() const { return extras().stateIndex; }
    void SetStateIndex(int32_t v);
    int32_t OverlayIndex() const { return extras().overlayIndex; }
    void SetOverlayIndex(int32_t v);
    int32_t IntegralHeight() const { return extras().integralHeight; }
    void SetIntegralHeight(int32_t v);
    uint8_t CheckState() const { return checkState_; }
    void SetCheckState(uint8_t v) { checkState_ = v; }
    uint8_t CheckType() const { return checkType_; }
    void SetCheckType(uint8_t v) { checkType_ = v; }
    bool Enabled() const { return flags_ & kEnabled; }
    void SetEnabled(bool v) { setFlag(kEnabled, v); }
    uint32_t Data() const { return extras().data; }
    void SetData(uint32_t v);
    int32_t Color() const { return extras().color; }
    void SetColor(int32_t v);
    bool ParentColor() const { return flags_ & kParentColor; }
    void SetParentColor(bool v) { setFlag(kParentColor, v); }
    bool ParentFont() const { return flags_ & kParentFont; }
    // nullptr while ParentFont() is true.  Valid until the font changes or
    // the node is deleted.
    const TNodeFont *Font() const { return extras().font.get(); }
    // Gives the node its own font and clears ParentFont.
    void SetFont(const TNodeFont &font);
    // Drops the own font and sets ParentFont.
    void SetParentFont();

    // --- size and modification time ---
    // A file's own size in bytes and modification time (seconds since 1970,
    // UTC); for a node with children (or a scanned empty folder or disc) the
    // total size of the files below and the newest of their times.  Totals
    // are recomputed from the files whenever the tree has changed; a total
    // is known when at least one file below it is (an empty scanned folder
    // holds 0 bytes).  kUnknownSize / kUnknownTime when not known.
    uint64_t Size() const;
    int64_t ModifiedTime() const;
    TNodeKind Kind() const { return static_cast<TNodeKind>(kind_); }
    // Disc at Level 0, folder when it has children or was scanned as one,
    // else file.
    TNodeKind EffectiveKind() const;
    // Records what a scan found.  Implausible values are stored as unknown
    // (see PlausibleSize/PlausibleTime, measured against the clock now).
    // For a folder or disc only the kind matters: its values are totals.
    void SetFileInfo(TNodeKind kind, uint64_t size = kUnknownSize, int64_t modifiedTime = kUnknownTime);

    // --- expanding and collapsing ---
    bool Expanded() const { return flags_ & kExpanded; }
    // Does nothing for a node without children or when the state is already
    // `expanded`.  Otherwise raises OnExpanding (OnCollapsing); when the
    // handler leaves the permission set, raises OnExpanded (OnCollapsed),
    // changes the state and tells the display.
    void SetExpanded(bool expanded);

    // --- structure (all O(1) except Level, which is O(depth)) ---
    bool HasChildren() const { return childCount_ != 0; }
    // nullptr for a disc node.
    TCatalogNode *Parent() const;
    int Level() const;
    int Count() const { return static_cast<int>(childCount_); }
    // Throws EListError "List index out of bounds (%d)" outside 0..Count()-1.
    TCatalogNode *Child(int i) const;
    // The node after this one among its siblings, or nullptr.
    TCatalogNode *GetNextSibling() const;
    // Position among the siblings (the display's row).
    int Index() const { return static_cast<int>(index_); }
    // Position in the flat index (depth-first pre-order), or -1 when the node
    // is not in the tree.  Builds the flat index if it was dropped.
    int AbsoluteIndex() const;
    // Member of the collection's selection list.
    bool IsSelected() const { return flags_ & kSelected; }

    TCatalogNodes &Owner() const;
    TCatalogTree &Tree() const;

    // One node block (record, then the children's blocks) of the binary
    // form: WriteData writes this node and its subtree at the device's
    // position; ReadData reads a block into this node, appending the
    // children it announces.  Errors as TCatalogTree::LoadFromStream.
    void WriteData(QIODevice &stream) const;
    void ReadData(QIODevice &stream);

protected:
    explicit TCatalogNode(TCatalogNode *parent) : parent_(parent) {}

private:
    friend class TCatalogNodes;
    friend class CatalogFileAccess;

    enum : uint8_t {
        kEnabled = 1,
        kExpanded = 2,
        kParentColor = 4,
        kParentFont = 8,
        kSelected = 16,
        kRoot = 32,
        kHasExtras = 64, // an entry in the collection's extras table
    };

    void setFlag(uint8_t bit, bool on) { flags_ = on ? (flags_ | bit) : (flags_ & ~bit); }
    const TCatalogNode *root() const;
    const TNodeExtras &extras() const;
    // Changes the out-of-line attributes through `edit`, then drops the
    // table entry again when everything is back to the usual values.
    template <class Edit> void editExtras(Edit &&edit);
    void pushChild(TCatalogNode *child);
    void reserveChildren(uint32_t n);

    // 72 bytes on 64-bit systems: loaded catalogs hold millions of nodes.
    TCatalogNode *parent_;              // non-owning; the root for disc nodes
    TCatalogNode **children_ = nullptr; // malloc'd array; the nodes belong to the collection
    char *text_ = nullptr;              // in the collection's name store, zero-terminated; may be nullptr when empty
    uint32_t textLength_ = 0;
    uint32_t childCount_ = 0;
    uint32_t childCapacity_ = 0;
    uint32_t index_ = 0;                 // row among the siblings
    mutable uint32_t absoluteIndex_ = 0; // valid while the flat index is built
    int32_t imageIndex_ = -1;
    int32_t selectedIndex_ = -1;
    uint8_t checkState_ = 0;
    uint8_t checkType_ = 0;
    uint8_t flags_ = kEnabled | kParentColor | kParentFont;
    uint8_t kind_ = 0; // TNodeKind
    // A file's own values; for a node with children the totals, which the
    // collection refreshes lazily (hence mutable).
    mutable uint64_t size_ = kUnknownSize;
    mutable int64_t modifiedTime_ = kUnknownTime;
};

// The node collection: every node of one tree, an invisible root above the
// disc nodes, the selection list, the flat index and the update counter.
class TCatalogNodes {
public:
    TCatalogNodes(const TCatalogNodes &) = delete;
    TCatalogNodes &operator=(const TCatalogNodes &) = delete;
    ~TCatalogNodes();

    // Number of nodes at all levels, root excluded.  O(1).
    int Count() const { return count_; }
    // The node at absolute index i (depth-first pre-order).  Throws
    // EListError "List index out of bounds (%d)" outside 0..Count()-1.
    // O(1) after the flat index is built.  A node added at the end of the
    // depth-first order (a new disc, or a child of the last node or of one of
    // its ancestors: every node a load or a scan adds) extends the index;
    // any other insertion and every deletion drops it, and the next read
    // rebuilds it in O(Count).
    TCatalogNode *Item(int i) const;

    // The names of the flat order grouped into the runs that lie side by
    // side in the name store (catalog_name_runs.h), for searches.  Kept like
    // the flat index: extended by appends at the end of the order, dropped
    // by every other change (and by any change of a name), rebuilt here in
    // O(Count) when dropped.  Valid until the next change of the tree.
    const TNameRuns &NameRuns() const;

    // Appends a node as the last child of `parent`; with nullptr, a new last
    // top-level (disc) node.  The new node's StateIndex follows the parent's
    // CheckType (0 -> 0, 1 or 2 -> 1, 3 -> 5; other values keep -1).
    TCatalogNode *AddChild(TCatalogNode *parent, std::string_view text);
    // AddChild with the sibling's parent; with nullptr a new last disc node.
    TCatalogNode *Add(TCatalogNode *sibling, std::string_view text);
    // Removes `node` with its subtree (OnDeletion for each, deepest first is
    // not promised).  A parent left without children is collapsed.  nullptr
    // does nothing.
    void Delete(TCatalogNode *node);
    // Removes every node.
    void Clear();

    TCatalogNode *GetFirstNode() const;
    // Rows of the invisible root: the disc nodes.  TopLevel throws EListError
    // outside 0..TopLevelCount()-1.
    int TopLevelCount() const;
    TCatalogNode *TopLevel(int row) const;

    // Nestable suspension of display redraw.  An EndUpdate without a
    // matching BeginUpdate leaves the counter at 0.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // CheckType of the invisible root (first byte after the file signature).
    uint8_t RootCheckType() const;
    void SetRootCheckType(uint8_t v);

    // The selection list: nodes shown selected.  Loading adds every node
    // stored as selected; Select/Deselect keep node flag and list in step.
    const std::vector<TCatalogNode *> &SelectionList() const { return selection_; }
    void Select(TCatalogNode *node);
    void Deselect(TCatalogNode *node);

    // Brings the folder and disc totals (TCatalogNode::Size) up to date
    // after changes; O(Count) when something changed, else nothing.  Reads
    // of a folder's Size() do it themselves; a caller that reads sizes from
    // several threads calls it first.
    void UpdateTotals() const;

    // File forms without the signature (see TCatalogTree).
    void WriteBinary(QIODevice &stream) const;
    void ReadBinary(QIODevice &stream);
    void WriteText(QIODevice &stream) const;
    void ReadText(QIODevice &stream);

    TCatalogTree &Tree() const { return *tree_; }

private:
    friend class TCatalogTree;
    friend class TCatalogNode;
    friend class CatalogFileAccess;

    explicit TCatalogNodes(TCatalogTree *tree);
    void dropFlatIndex() { flatValid_ = runsValid_ = false; }
    void noteAppended(TCatalogNode *node);
    void buildFlatIndex() const;
    ICatalogTreeObserver *observer() const;
    void freeSubtree(TCatalogNode *node, bool raiseDeletion);
    void destroyNode(TCatalogNode *node);
    void setNodeText(TCatalogNode *node, std::string_view text);
    void compactNames();
    void releaseStorage();

    TCatalogTree *tree_;                 // non-owning; the tree owns us
    std::unique_ptr<TCatalogRoot> root_; // the invisible root, parent of the discs
    // Every node but the root lives in `pool_`, every name in `names_`.
    TSlabPool<TCatalogNode> pool_;
    TNameStore names_;
    std::unordered_map<const TCatalogNode *, TNodeExtras> extras_;
    int count_ = 0;
    int updateCount_ = 0;
    std::vector<TCatalogNode *> selection_;
    mutable std::vector<TCatalogNode *> flat_;
    mutable bool flatValid_ = true; // an empty tree's index is complete
    mutable TNameRuns runs_;
    mutable bool runsValid_ = true; // only while flatValid_
    mutable bool totalsValid_ = true;
};

// The tree: the collection, the current node, the events and the file
// operations.
class TCatalogTree {
public:
    TCatalogTree();
    ~TCatalogTree();
    TCatalogTree(const TCatalogTree &) = delete;
    TCatalogTree &operator=(const TCatalogTree &) = delete;

    TCatalogNodes &Items() { return *items_; }
    const TCatalogNodes &Items() const { return *items_; }

    // The current (focused) node, or nullptr.  SetSelected moves the
    // selection as the display does: the node left leaves the selection
    // list, the node entered joins it.
    TCatalogNode *Selected() const { return selected_; }
    void SetSelected(TCatalogNode *node);

    // The display binding; nullptr (the default) for none.  Not owned.
    void SetObserver(ICatalogTreeObserver *observer) { observer_ = observer; }
    ICatalogTreeObserver *Observer() const { return observer_; }

    // Events, raised inside the operation.  The permission flag starts true.
    std::function<void(TCatalogTree &, TCatalogNode *, bool &allowExpansion)> OnExpanding;
    std::function<void(TCatalogTree &, TCatalogNode *, bool &allowCollapse)> OnCollapsing;
    std::function<void(TCatalogTree &, TCatalogNode *)> OnExpanded;
    std::function<void(TCatalogTree &, TCatalogNode *)> OnCollapsed;
    std::function<void(TCatalogTree &, TCatalogNode *)> OnDeletion;
    // Called every few thousand nodes while a file or stream is read, so a
    // front end can process its events during a long load.  It must not
    // change the tree.
    std::function<void()> OnLoadProgress;

    // Reads the file: EFOpenError "Cannot open file %s" when it cannot be
    // opened (tree untouched), else as LoadFromStream.
    void LoadFromFile(const QString &fileName);
    // Clears the tree and reads the binary form when the stream starts with
    // the signature 0D 54 4E 54 0D, else the text form.  On a failure
    // (EReadError "Stream read error", ECatalogFormatError,
    // ECatalogTreeError "Invalid item level assignment") the nodes read
    // before it stay, the update counter is back where it was, and the
    // exception goes on to the caller.
    void LoadFromStream(QIODevice &stream);
    // Writes the whole file safely: a temporary file in the same folder is
    // written, flushed to disk and renamed over `fileName`, so a failure
    // leaves the previous file intact.  EFCreateError "Cannot create file %s"
    // when the temporary file cannot be created, EWriteError "Stream write
    // error" when writing or the final rename fails.  The tree is unchanged.
    // `binary` false writes the text form.
    void SaveToFile(const QString &fileName, bool binary = true) const;
    // Signature + WriteBinary, or WriteText.  EWriteError on a short write.
    void SaveToStream(QIODevice &stream, bool binary = true) const;

    // Loads, scans and searches set this while they walk the tree and let the
    // front end process events; a front end refuses structural changes
    // (remove, rename, another scan or load) while it is non-zero.
    bool IsBusy() const { return busy_ > 0; }

private:
    friend class TCatalogNodes;
    friend class TCatalogNode;
    friend class TBusyScope;
    friend class CatalogFileAccess;

    std::unique_ptr<TCatalogNodes> items_;
    TCatalogNode *selected_ = nullptr;
    uint32_t loadTicks_ = 0; // nodes read, for OnLoadProgress
    ICatalogTreeObserver *observer_ = nullptr;
    int busy_ = 0;
};

// Marks the tree busy for its lifetime (see TCatalogTree::IsBusy).
class TBusyScope {
public:
    explicit TBusyScope(const TCatalogTree &tree) : tree_(const_cast<TCatalogTree &>(tree)) { ++tree_.busy_; }
    ~TBusyScope() { --tree_.busy_; }
    TBusyScope(const TBusyScope &) = delete;
    TBusyScope &operator=(const TBusyScope &) = delete;

private:
    TCatalogTree &tree_;
};

// Appends a copy of `source` and its whole subtree as the last child of
// `parent` in `target` (nullptr: a new last disc node), with every attribute
// but the selection (selection is display state).  `source` may belong to
// another tree.  Returns the copy.
TCatalogNode *CopySubtree(const TCatalogNode &source, TCatalogNodes &target, TCatalogNode *parent);

// Bytes of the binary form's signature.
inline constexpr char kCatalogSignature[5] = {'\x0D', 'T', 'N', 'T', '\x0D'};

} // namespace tslcat
