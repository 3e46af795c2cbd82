// A tree view whose labels the user may edit (F2 or a click on the selected label), with pictures
// from an image list. Nodes belong to the view's TTreeNodes and live until they are cleared.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "forms/Controls.h"

class QTreeWidgetItem;

namespace forms {

class TImageList;
class TTreeView;

class TTreeNode {
public:
    std::string Text() const;
    void SetText(const std::string& text);
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index);
    TTreeNode* Parent() const;
    int Count() const;
    TTreeNode* Item(int index) const;
    // This node's children shown; with recurse, all their descendants too.
    void Expand(bool recurse);
    bool Expanded() const;

private:
    friend class TTreeNodes;
    friend class TTreeView;
    TTreeNode(TTreeView* view, QTreeWidgetItem* item) : view_(view), item_(item) {}
    TTreeView* view_;
    QTreeWidgetItem* item_;
    int imageIndex_ = -1;
};

class TTreeNodes {
public:
    explicit TTreeNodes(TTreeView* view) : view_(view) {}
    void Clear();
    // A last node at the top level (the sibling only says which tree: it may be nullptr).
    TTreeNode* Add(TTreeNode* sibling, const std::string& text);
    // A last child of parent; a null parent adds at the top level.
    TTreeNode* AddChild(TTreeNode* parent, const std::string& text);
    TTreeNode* GetFirstNode() const;
    int Count() const { return static_cast<int>(nodes_.size()); }
    // The node of an item of this tree, or nullptr.
    TTreeNode* NodeOf(QTreeWidgetItem* item) const;
    // Bumped by every Clear: edits of nodes that went meanwhile are dropped.
    unsigned Generation() const { return generation_; }

private:
    TTreeView* view_;
    std::unordered_map<QTreeWidgetItem*, std::unique_ptr<TTreeNode>> nodes_;
    unsigned generation_ = 0;
};

using TTVChangedEvent = std::function<void(TTreeView* Sender, TTreeNode* Node)>;
using TTVEditingEvent = std::function<void(TTreeView* Sender, TTreeNode* Node, bool& AllowEdit)>;
// S is the committed text; the handler may change it, and the label shows what it leaves.
using TTVEditedEvent = std::function<void(TTreeView* Sender, TTreeNode* Node, std::string& S)>;
using TTVCollapsingEvent = std::function<void(TTreeView* Sender, TTreeNode* Node, bool& AllowCollapse)>;

class TTreeView : public TControl {
public:
    explicit TTreeView(TForm* owner, std::string name = {});
    ~TTreeView() override;

    TTreeNodes& Items() { return items_; }
    TTreeNode* Selected() const;
    void SetSelected(TTreeNode* node);
    void FullExpand();
    // Read-only: labels cannot be edited.
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return readOnly_; }
    void SetImages(TImageList* images);
    TImageList* Images() const { return images_; }
    void SetIndent(int pixels);
    // Starts editing the node's label, as F2 does.
    void EditNode(TTreeNode* node);
    // Enter belongs to a label being edited.
    bool WantsReturn() const override;

    // Runs when the selection moves, with nullptr when no node is selected any more.
    TTVChangedEvent OnChange;
    TTVEditingEvent OnEditing;
    TTVEditedEvent OnEdited;
    TTVCollapsingEvent OnCollapsing;

private:
    friend class TTreeNode;
    friend class TTreeNodes;
    friend class LabelDelegate;
    void Commit(QTreeWidgetItem* item, std::string text, unsigned generation);
    TTreeNodes items_;
    TImageList* images_ = nullptr;
    bool readOnly_ = false;
};

}  // namespace forms
