// catalog_tree.cpp - the in-memory catalog tree: nodes, the collection with
// its flat index and selection list, and the tree's events.
//
// Nothing here recurses over the tree: catalogs come from untrusted files
// and can be deep, so walks use explicit stacks.

#include "catalog_tree.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "catalog_errors.h"

namespace tslcat {

// The invisible root knows its collection, so any node can reach the tree by
// walking up; ordinary nodes carry no back pointer (memory per node matters
// for catalogs of millions of files).
class TCatalogRoot : public TCatalogNode {
public:
    explicit TCatalogRoot(TCatalogNodes *owner) : TCatalogNode(nullptr), owner(owner) {}
    TCatalogNodes *owner; // non-owning; the collection owns us
};

// --- TCatalogNode ---------------------------------------------------------

static_assert(sizeof(void *) != 8 || sizeof(TCatalogNode) == 72,
              "a node's size is what a loaded catalog costs per node: keep it at 72 bytes");

// Children are freed by TCatalogNodes::freeSubtree, never from here, so a
// deep tree does not recurse through destructors.  The node only owns its
// array of child pointers.
TCatalogNode::~TCatalogNode()
{
    std::free(children_);
}

void TCatalogNode::reserveChildren(uint32_t n)
{
    if (n <= childCapacity_)
        return;
    void *grown = std::realloc(children_, size_t{n} * sizeof(TCatalogNode *));
    if (!grown)
        throw std::bad_alloc();
    children_ = static_cast<TCatalogNode **>(grown);
    childCapacity_ = n;
}

void TCatalogNode::pushChild(TCatalogNode *child)
{
    if (childCount_ == childCapacity_) {
        if (childCount_ == UINT32_MAX / 2)
            throw std::bad_alloc();
        reserveChildren(childCapacity_ < 2 ? 2 : childCapacity_ * 2);
    }
    children_[childCount_++] = child;
}

const TNodeExtras &TCatalogNode::extras() const
{
    static const TNodeExtras usual;
    if (!(flags_ & kHasExtras))
        return usual;
    return Owner().extras_.at(this);
}

template <class Edit> void TCatalogNode::editExtras(Edit &&edit)
{
    auto &table = Owner().extras_;
    TNodeExtras &e = table[this];
    flags_ |= kHasExtras;
    edit(e);
    if (e.IsUsual()) {
        table.erase(this);
        flags_ &= static_cast<uint8_t>(~kHasExtras);
    }
}

void TCatalogNode::SetStateIndex(int32_t v)
{
    if (v != StateIndex())
        editExtras([v](TNodeExtras &e) { e.stateIndex = v; });
}

void TCatalogNode::SetOverlayIndex(int32_t v)
{
    if (v != OverlayIndex())
        editExtras([v](TNodeExtras &e) { e.overlayIndex = v; });
}

void TCatalogNode::SetIntegralHeight(int32_t v)
{
    if (v != IntegralHeight())
        editExtras([v](TNodeExtras &e) { e.integralHeight = v; });
}

void TCatalogNode::SetData(uint32_t v)
{
    if (v != Data())
        editExtras([v](TNodeExtras &e) { e.data = v; });
}

void TCatalogNode::SetColor(int32_t v)
{
    if (v != Color())
        editExtras([v](TNodeExtras &e) { e.color = v; });
}

const TCatalogNode *TCatalogNode::root() const
{
    const TCatalogNode *n = this;
    while (!(n->flags_ & kRoot))
        n = n->parent_;
    return n;
}

TCatalogNodes &TCatalogNode::Owner() const
{
    return *static_cast<const TCatalogRoot *>(root())->owner;
}

TCatalogTree &TCatalogNode::Tree() const
{
    return Owner().Tree();
}

void TCatalogNode::SetText(std::string_view text)
{
    TCatalogNodes &owner = Owner();
    owner.setNodeText(this, text);
    if (auto *o = owner.observer())
        o->NodeChanged(this);
}

void TCatalogNode::SetImageIndex(int32_t index)
{
    SetIcons(index, selectedIndex_);
}

void TCatalogNode::SetSelectedIndex(int32_t index)
{
    SetIcons(imageIndex_, index);
}

void TCatalogNode::SetIcons(int32_t imageIndex, int32_t selectedIndex)
{
    if (imageIndex == imageIndex_ && selectedIndex == selectedIndex_)
        return;
    imageIndex_ = imageIndex;
    selectedIndex_ = selectedIndex;
    if (auto *o = Owner().observer())
        o->NodeChanged(this);
}

void TCatalogNode::SetFont(const TNodeFont &font)
{
    auto copy = std::make_unique<TNodeFont>(font);
    editExtras([&](TNodeExtras &e) { e.font = std::move(copy); });
    setFlag(kParentFont, false);
}

void TCatalogNode::SetParentFont()
{
    if (flags_ & kHasExtras)
        editExtras([](TNodeExtras &e) { e.font.reset(); });
    setFlag(kParentFont, true);
}

void TCatalogNode::SetExpanded(bool expanded)
{
    if (!HasChildren() || Expanded() == expanded)
        return;
    TCatalogTree &tree = Tree();
    bool allowed = true;
    if (expanded) {
        if (tree.OnExpanding)
            tree.OnExpanding(tree, this, allowed);
        if (!allowed)
            return;
        if (tree.OnExpanded)
            tree.OnExpanded(tree, this);
    } else {
        if (tree.OnCollapsing)
            tree.OnCollapsing(tree, this, allowed);
        if (!allowed)
            return;
        if (tree.OnCollapsed)
            tree.OnCollapsed(tree, this);
    }
    setFlag(kExpanded, expanded);
    if (auto *o = tree.Items().observer())
        o->NodeExpandedChanged(this, expanded);
}

uint64_t TCatalogNode::Size() const
{
    if (childCount_ != 0 || kind_ == uint8_t(TNodeKind::Folder) || kind_ == uint8_t(TNodeKind::Disc))
        Owner().UpdateTotals();
    return size_;
}

int64_t TCatalogNode::ModifiedTime() const
{
    if (childCount_ != 0 || kind_ == uint8_t(TNodeKind::Folder) || kind_ == uint8_t(TNodeKind::Disc))
        Owner().UpdateTotals();
    return modifiedTime_;
}

TNodeKind TCatalogNode::EffectiveKind() const
{
    if (parent_ && (parent_->flags_ & kRoot))
        return TNodeKind::Disc;
    if (childCount_ != 0 || kind_ == uint8_t(TNodeKind::Folder) || kind_ == uint8_t(TNodeKind::Disc))
        return TNodeKind::Folder;
    return TNodeKind::File;
}

void TCatalogNode::SetFileInfo(TNodeKind kind, uint64_t size, int64_t modifiedTime)
{
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    kind_ = static_cast<uint8_t>(kind);
    size_ = PlausibleSize(size);
    modifiedTime_ = modifiedTime == kUnknownTime ? kUnknownTime : PlausibleTime(modifiedTime, now);
    Owner().totalsValid_ = false;
}

TCatalogNode *TCatalogNode::Parent() const
{
    return (parent_ && !(parent_->flags_ & kRoot)) ? parent_ : nullptr;
}

int TCatalogNode::Level() const
{
    int level = 0;
    for (const TCatalogNode *p = parent_; p && !(p->flags_ & kRoot); p = p->parent_)
        ++level;
    return level;
}

TCatalogNode *TCatalogNode::Child(int i) const
{
    if (i < 0 || i >= Count())
        throw EListError(i);
    return children_[static_cast<size_t>(i)];
}

TCatalogNode *TCatalogNode::GetNextSibling() const
{
    if (!parent_)
        return nullptr;
    const uint32_t next = index_ + 1;
    return next < parent_->childCount_ ? parent_->children_[next] : nullptr;
}

int TCatalogNode::AbsoluteIndex() const
{
    if (flags_ & kRoot)
        return -1;
    const TCatalogNodes &nodes = Owner();
    if (!nodes.flatValid_)
        nodes.buildFlatIndex();
    return static_cast<int>(absoluteIndex_);
}

// --- TCatalogNodes --------------------------------------------------------

TCatalogNodes::TCatalogNodes(TCatalogTree *tree) : tree_(tree), root_(std::make_unique<TCatalogRoot>(this))
{
    root_->flags_ |= TCatalogNode::kRoot | TCatalogNode::kExpanded;
}

TCatalogNodes::~TCatalogNodes()
{
    // No events and no observer calls while the tree itself goes away; the
    // pool's slabs go with us, so only the nodes' child arrays need freeing.
    std::vector<TCatalogNode *> all(root_->children_, root_->children_ + root_->childCount_);
    for (size_t i = 0; i < all.size(); ++i)
        all.insert(all.end(), all[i]->children_, all[i]->children_ + all[i]->childCount_);
    for (TCatalogNode *n : all)
        n->~TCatalogNode();
}

void TCatalogNodes::destroyNode(TCatalogNode *node)
{
    if (node->flags_ & TCatalogNode::kHasExtras)
        extras_.erase(node);
    names_.Release(TNameStore::HeldBytes(node->textLength_));
    node->~TCatalogNode();
    pool_.Free(node);
}

void TCatalogNodes::setNodeText(TCatalogNode *node, std::string_view text)
{
    runsValid_ = false; // the name moves or shrinks: its run ends differently
    const uint32_t old = node->textLength_;
    if (text.empty()) {
        if (node->text_)
            names_.Release(TNameStore::HeldBytes(old));
        node->text_ = nullptr;
        node->textLength_ = 0;
        return;
    }
    if (text.size() <= old) {
        // Fits where the old name was: no new bytes.  The source may be this
        // very name (a part of it), hence memmove.
        std::memmove(node->text_, text.data(), text.size());
        node->text_[text.size()] = '\0';
        names_.Release(old - text.size());
        node->textLength_ = static_cast<uint32_t>(text.size());
        return;
    }
    if (text.size() >= UINT32_MAX)
        throw std::bad_alloc();
    char *stored = names_.Store(text);
    names_.Release(TNameStore::HeldBytes(old));
    node->text_ = stored;
    node->textLength_ = static_cast<uint32_t>(text.size());
}

// Copies every live name into a fresh store and drops the old one, whose
// chunks are mostly names of deleted nodes by now.
void TCatalogNodes::compactNames()
{
    // In flat order, as a load stores them, so that searches find the
    // names side by side again.
    TNameStore fresh;
    std::vector<TCatalogNode *> stack(root_->children_, root_->children_ + root_->childCount_);
    std::reverse(stack.begin(), stack.end());
    while (!stack.empty()) {
        TCatalogNode *n = stack.back();
        stack.pop_back();
        n->text_ = fresh.Store(n->Text());
        for (uint32_t i = n->childCount_; i-- > 0;)
            stack.push_back(n->children_[i]);
    }
    names_ = std::move(fresh);
    runsValid_ = false;
}

ICatalogTreeObserver *TCatalogNodes::observer() const
{
    return tree_->observer_;
}

// Loads and scans add every node at the end of the depth-first order, and
// the window's expand handler reads AbsoluteIndex while a load runs: keeping
// the index through such appends avoids a rebuild per expanded node.
void TCatalogNodes::noteAppended(TCatalogNode *node)
{
    if (!flatValid_)
        return;
    const TCatalogNode *parent = node->parent_;
    bool atEnd = parent == root_.get();
    for (const TCatalogNode *n = flat_.empty() ? nullptr : flat_.back(); !atEnd && n; n = n->parent_)
        atEnd = n == parent;
    if (!atEnd) {
        dropFlatIndex();
        return;
    }
    node->absoluteIndex_ = static_cast<uint32_t>(flat_.size());
    flat_.push_back(node);
    if (runsValid_)
        runs_.Append(node->Text());
}

void TCatalogNodes::buildFlatIndex() const
{
    flat_.clear();
    flat_.reserve(static_cast<size_t>(count_));
    std::vector<TCatalogNode *> stack;
    for (uint32_t i = root_->childCount_; i-- > 0;)
        stack.push_back(root_->children_[i]);
    while (!stack.empty()) {
        TCatalogNode *n = stack.back();
        stack.pop_back();
        n->absoluteIndex_ = static_cast<uint32_t>(flat_.size());
        flat_.push_back(n);
        for (uint32_t i = n->childCount_; i-- > 0;)
            stack.push_back(n->children_[i]);
    }
    flatValid_ = true;
}

// Children come after their parent in the flat order, so walking it
// backwards finishes every folder's children before the folder itself.
void TCatalogNodes::UpdateTotals() const
{
    if (totalsValid_)
        return;
    if (!flatValid_)
        buildFlatIndex();
    for (size_t i = flat_.size(); i-- > 0;) {
        TCatalogNode *n = flat_[i];
        const bool scannedFolder = n->kind_ == uint8_t(TNodeKind::Folder) || n->kind_ == uint8_t(TNodeKind::Disc);
        if (n->childCount_ == 0) {
            if (scannedFolder) {
                n->size_ = 0; // an empty folder holds nothing, and has no file time
                n->modifiedTime_ = kUnknownTime;
            }
            continue;
        }
        uint64_t size = 0;
        bool sizeKnown = false;
        int64_t newest = kUnknownTime;
        for (uint32_t c = 0; c < n->childCount_; ++c) {
            const TCatalogNode *child = n->children_[c];
            if (child->size_ != kUnknownSize) {
                // Each value is at most 2^62 and a catalog has fewer than
                // 2^31 nodes, but sums of many large values are capped
                // rather than wrapped.
                size = std::min(size + child->size_, kMaxPlausibleSize);
                sizeKnown = true;
            }
            newest = std::max(newest, child->modifiedTime_);
        }
        n->size_ = sizeKnown || scannedFolder ? size : kUnknownSize;
        n->modifiedTime_ = newest;
    }
    totalsValid_ = true;
}

const TNameRuns &TCatalogNodes::NameRuns() const
{
    if (!flatValid_)
        buildFlatIndex();
    if (!runsValid_) {
        runs_.Clear();
        for (const TCatalogNode *n : flat_)
            runs_.Append(n->Text());
        runsValid_ = true;
    }
    return runs_;
}

TCatalogNode *TCatalogNodes::Item(int i) const
{
    if (i < 0 || i >= count_)
        throw EListError(i);
    if (!flatValid_)
        buildFlatIndex();
    return flat_[static_cast<size_t>(i)];
}

TCatalogNode *TCatalogNodes::AddChild(TCatalogNode *parent, std::string_view text)
{
    TCatalogNode *p = parent ? parent : root_.get();
    const int row = p->Count();
    if (text.size() >= UINT32_MAX)
        throw std::bad_alloc();
    // Everything that can fail comes first, so a failure changes nothing;
    // the display hears of the row only once it can no longer fail, or a
    // failure would leave it in the middle of an insertion.
    if (p->childCount_ == p->childCapacity_)
        p->reserveChildren(p->childCapacity_ < 2 ? 2 : p->childCapacity_ * 2);
    if (flatValid_ && flat_.size() == flat_.capacity())
        flat_.reserve(flat_.size() < 1024 ? 1024 : flat_.size() * 2);
    char *stored = names_.Store(text);
    TCatalogNode *node;
    try {
        node = new (pool_.Allocate()) TCatalogNode(p);
    } catch (...) {
        names_.Release(TNameStore::HeldBytes(text.size()));
        throw;
    }
    node->text_ = stored;
    node->textLength_ = static_cast<uint32_t>(text.size());
    node->index_ = static_cast<uint32_t>(row);
    try {
        // An unusual state index takes an entry in the extras table.
        switch (p->checkType_) {
        case 0:
            break; // 0, the usual value
        case 1:
        case 2:
            node->SetStateIndex(1);
            break;
        case 3:
            node->SetStateIndex(5);
            break;
        default:
            node->SetStateIndex(-1);
            break;
        }
    } catch (...) {
        destroyNode(node);
        throw;
    }
    if (auto *o = observer())
        o->NodeAboutToBeInserted(parent, row);
    p->pushChild(node);
    ++count_;
    totalsValid_ = false;
    noteAppended(node);
    if (auto *o = observer())
        o->NodeInserted(node);
    return node;
}

TCatalogNode *TCatalogNodes::Add(TCatalogNode *sibling, std::string_view text)
{
    return AddChild(sibling ? sibling->Parent() : nullptr, text);
}

void TCatalogNodes::freeSubtree(TCatalogNode *node, bool raiseDeletion)
{
    std::vector<TCatalogNode *> doomed{node};
    for (size_t i = 0; i < doomed.size(); ++i)
        doomed.insert(doomed.end(), doomed[i]->children_, doomed[i]->children_ + doomed[i]->childCount_);

    TCatalogTree &tree = *tree_;
    if (raiseDeletion && tree.OnDeletion)
        for (TCatalogNode *n : doomed)
            tree.OnDeletion(tree, n);

    // One pass over the selection list, whatever its size.
    std::unordered_set<const TCatalogNode *> leaving;
    for (TCatalogNode *n : doomed) {
        if (n->IsSelected())
            leaving.insert(n);
        if (n == tree.selected_) {
            tree.selected_ = nullptr;
            if (auto *o = observer())
                o->CurrentChanged(nullptr);
        }
    }
    if (!leaving.empty())
        selection_.erase(std::remove_if(selection_.begin(), selection_.end(),
                                        [&](TCatalogNode *n) { return leaving.count(n) != 0; }),
                         selection_.end());
    count_ -= static_cast<int>(doomed.size());
    for (TCatalogNode *n : doomed)
        destroyNode(n);
}

void TCatalogNodes::Delete(TCatalogNode *node)
{
    if (!node || (node->flags_ & TCatalogNode::kRoot))
        return;
    TCatalogNode *p = node->parent_;
    TCatalogNode *shownParent = node->Parent();
    const size_t row = node->index_;
    if (auto *o = observer())
        o->NodeAboutToBeRemoved(shownParent, static_cast<int>(row));
    freeSubtree(node, true);
    std::memmove(p->children_ + row, p->children_ + row + 1, (p->childCount_ - row - 1) * sizeof(TCatalogNode *));
    --p->childCount_;
    for (uint32_t i = static_cast<uint32_t>(row); i < p->childCount_; ++i)
        p->children_[i]->index_ = i;
    dropFlatIndex();
    totalsValid_ = false;
    // A folder left empty keeps no stale totals (a scanned one holds 0 bytes
    // again at the next refresh).
    if (p->childCount_ == 0 && p->kind_ != uint8_t(TNodeKind::File)) {
        p->size_ = kUnknownSize;
        p->modifiedTime_ = kUnknownTime;
    }
    if (count_ == 0)
        releaseStorage();
    else if (names_.WorthCompacting())
        compactNames();
    if (auto *o = observer())
        o->NodeRemoved(shownParent, static_cast<int>(row));
    if (shownParent && p->childCount_ == 0 && p->Expanded()) {
        p->setFlag(TCatalogNode::kExpanded, false);
        if (auto *o = observer())
            o->NodeExpandedChanged(p, false);
    }
}

void TCatalogNodes::Clear()
{
    if (auto *o = observer())
        o->AboutToBeCleared();
    // Last disc first, as the display removes them.
    while (root_->childCount_ != 0) {
        TCatalogNode *last = root_->children_[root_->childCount_ - 1];
        freeSubtree(last, true);
        --root_->childCount_;
    }
    selection_.clear();
    flat_.clear();
    flat_.shrink_to_fit();
    runs_ = TNameRuns();
    releaseStorage();
    flatValid_ = runsValid_ = true; // the empty tree's index; appends extend it
    totalsValid_ = true;
    if (auto *o = observer())
        o->Cleared();
}

// With no node left, the pool's slabs, the names and the root's child
// array go back to the system.
void TCatalogNodes::releaseStorage()
{
    pool_.Reset();
    names_.Reset();
    extras_.clear();
    std::free(root_->children_);
    root_->children_ = nullptr;
    root_->childCount_ = root_->childCapacity_ = 0;
}

TCatalogNode *TCatalogNodes::GetFirstNode() const
{
    return root_->childCount_ == 0 ? nullptr : root_->children_[0];
}

int TCatalogNodes::TopLevelCount() const
{
    return root_->Count();
}

TCatalogNode *TCatalogNodes::TopLevel(int row) const
{
    return root_->Child(row);
}

void TCatalogNodes::BeginUpdate()
{
    if (updateCount_++ == 0)
        if (auto *o = observer())
            o->UpdateBegun();
}

void TCatalogNodes::EndUpdate()
{
    if (updateCount_ > 0)
        --updateCount_;
    if (updateCount_ == 0)
        if (auto *o = observer())
            o->UpdateEnded();
}

uint8_t TCatalogNodes::RootCheckType() const
{
    return root_->checkType_;
}

void TCatalogNodes::SetRootCheckType(uint8_t v)
{
    root_->checkType_ = v;
}

void TCatalogNodes::Select(TCatalogNode *node)
{
    if (!node || node->IsSelected())
        return;
    node->setFlag(TCatalogNode::kSelected, true);
    selection_.push_back(node);
}

void TCatalogNodes::Deselect(TCatalogNode *node)
{
    if (!node || !node->IsSelected())
        return;
    node->setFlag(TCatalogNode::kSelected, false);
    auto it = std::find(selection_.begin(), selection_.end(), node);
    if (it != selection_.end())
        selection_.erase(it);
}

// --- TCatalogTree ---------------------------------------------------------

TCatalogTree::TCatalogTree() : items_(new TCatalogNodes(this)) {}

TCatalogTree::~TCatalogTree() = default;

void TCatalogTree::SetSelected(TCatalogNode *node)
{
    if (node == selected_)
        return;
    items_->Deselect(selected_);
    selected_ = node;
    items_->Select(node);
    if (observer_)
        observer_->CurrentChanged(node);
}

} // namespace tslcat
