// catalog_tree.cpp - the in-memory catalog tree: nodes, the collection with
// its flat index and selection list, and the tree's events.
//
// Nothing here recurses over the tree: catalogs come from untrusted files
// and can be deep, so walks use explicit stacks.

#include "catalog_tree.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "catalog_errors.h"

namespace tslcat {

// The invisible root knows its collection, so any node can reach the tree by
// walking up; ordinary nodes carry no back pointer (memory per node matters
// for catalogs of millions of files).
class TCatalogRoot : public TCatalogNode {
public:
    explicit TCatalogRoot(TCatalogNodes *owner) : TCatalogNode(nullptr, {}), owner(owner) {}
    TCatalogNodes *owner; // non-owning; the collection owns us
};

// --- TCatalogNode ---------------------------------------------------------

TCatalogNode::TCatalogNode(TCatalogNode *parent, std::string_view text) : parent_(parent)
{
    assignText(text);
}

// Children are freed by TCatalogNodes::freeSubtree, never from here, so a
// deep tree does not recurse through destructors.
TCatalogNode::~TCatalogNode() = default;

void TCatalogNode::assignText(std::string_view text)
{
    if (text.empty()) {
        text_.reset();
        textLength_ = 0;
        return;
    }
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    text_ = std::move(copy);
    textLength_ = static_cast<uint32_t>(text.size());
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
    assignText(text);
    if (auto *o = Owner().observer())
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
    font_ = std::make_unique<TNodeFont>(font);
    setFlag(kParentFont, false);
}

void TCatalogNode::SetParentFont()
{
    font_.reset();
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
    size_t next = size_t{index_} + 1;
    return next < parent_->children_.size() ? parent_->children_[next] : nullptr;
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
    // No events and no observer calls while the tree itself goes away.
    std::vector<TCatalogNode *> all;
    all.reserve(static_cast<size_t>(count_));
    for (TCatalogNode *disc : root_->children_)
        all.push_back(disc);
    for (size_t i = 0; i < all.size(); ++i)
        for (TCatalogNode *c : all[i]->children_)
            all.push_back(c);
    for (TCatalogNode *n : all)
        delete n;
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
}

void TCatalogNodes::buildFlatIndex() const
{
    flat_.clear();
    flat_.reserve(static_cast<size_t>(count_));
    std::vector<TCatalogNode *> stack;
    for (auto it = root_->children_.rbegin(); it != root_->children_.rend(); ++it)
        stack.push_back(*it);
    while (!stack.empty()) {
        TCatalogNode *n = stack.back();
        stack.pop_back();
        n->absoluteIndex_ = static_cast<uint32_t>(flat_.size());
        flat_.push_back(n);
        for (auto it = n->children_.rbegin(); it != n->children_.rend(); ++it)
            stack.push_back(*it);
    }
    flatValid_ = true;
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
    if (auto *o = observer())
        o->NodeAboutToBeInserted(parent, row);
    std::unique_ptr<TCatalogNode> node(new TCatalogNode(p, text));
    node->index_ = static_cast<uint32_t>(row);
    switch (p->checkType_) {
    case 0:
        node->stateIndex_ = 0;
        break;
    case 1:
    case 2:
        node->stateIndex_ = 1;
        break;
    case 3:
        node->stateIndex_ = 5;
        break;
    default:
        break;
    }
    p->children_.push_back(node.get());
    TCatalogNode *added = node.release();
    ++count_;
    noteAppended(added);
    if (auto *o = observer())
        o->NodeInserted(added);
    return added;
}

TCatalogNode *TCatalogNodes::Add(TCatalogNode *sibling, std::string_view text)
{
    return AddChild(sibling ? sibling->Parent() : nullptr, text);
}

void TCatalogNodes::freeSubtree(TCatalogNode *node, bool raiseDeletion)
{
    std::vector<TCatalogNode *> doomed{node};
    for (size_t i = 0; i < doomed.size(); ++i)
        for (TCatalogNode *c : doomed[i]->children_)
            doomed.push_back(c);

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
        delete n;
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
    p->children_.erase(p->children_.begin() + static_cast<std::ptrdiff_t>(row));
    for (size_t i = row; i < p->children_.size(); ++i)
        p->children_[i]->index_ = static_cast<uint32_t>(i);
    dropFlatIndex();
    if (auto *o = observer())
        o->NodeRemoved(shownParent, static_cast<int>(row));
    if (shownParent && p->children_.empty() && p->Expanded()) {
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
    while (!root_->children_.empty()) {
        TCatalogNode *last = root_->children_.back();
        freeSubtree(last, true);
        root_->children_.pop_back();
    }
    selection_.clear();
    flat_.clear();
    flat_.shrink_to_fit();
    flatValid_ = true; // the empty tree's index; appends extend it
    if (auto *o = observer())
        o->Cleared();
}

TCatalogNode *TCatalogNodes::GetFirstNode() const
{
    return root_->children_.empty() ? nullptr : root_->children_.front();
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
