#include "forms/TreeView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "forms/ComCtrls.h"
#include "forms/QtBridge.h"

namespace forms {
namespace {
QTreeWidget* AsTree(QWidget* w) { return static_cast<QTreeWidget*>(w); }
}

// Asks the view before an edit starts, and hands the committed text to it once the editor is
// gone, so that its handler may show boxes without disturbing the edit.
class LabelDelegate : public QStyledItemDelegate {
public:
    LabelDelegate(TTreeView* view, QObject* parent) : QStyledItemDelegate(parent), view_(view) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        bool allow = true;
        if (view_->OnEditing)
            view_->OnEditing(view_, view_->items_.NodeOf(Tree()->itemFromIndex(index)), allow);
        return allow ? QStyledItemDelegate::createEditor(parent, option, index) : nullptr;
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        if (!edit) return;
        QTreeWidgetItem* item = Tree()->itemFromIndex(index);
        std::string text = FromQString(edit->text());
        const unsigned generation = view_->items_.Generation();
        TTreeView* view = view_;
        QMetaObject::invokeMethod(
            Tree(), [view, item, text, generation] { view->Commit(item, text, generation); },
            Qt::QueuedConnection);
    }

private:
    QTreeWidget* Tree() const { return AsTree(view_->Widget()); }
    TTreeView* view_;
};

// ---- TTreeNode ----

std::string TTreeNode::Text() const { return FromQString(item_->text(0)); }
void TTreeNode::SetText(const std::string& text) { item_->setText(0, ToQString(text)); }

void TTreeNode::SetImageIndex(int index) {
    imageIndex_ = index;
    const QImage* image = view_->Images() ? view_->Images()->Image(index) : nullptr;
    item_->setIcon(0, image ? QIcon(QPixmap::fromImage(*image)) : QIcon());
}

TTreeNode* TTreeNode::Parent() const { return view_->Items().NodeOf(item_->parent()); }
int TTreeNode::Count() const { return item_->childCount(); }
TTreeNode* TTreeNode::Item(int index) const { return view_->Items().NodeOf(item_->child(index)); }

void TTreeNode::Expand(bool recurse) {
    item_->setExpanded(true);
    if (recurse)
        for (int i = 0; i < Count(); ++i) Item(i)->Expand(true);
}

bool TTreeNode::Expanded() const { return item_->isExpanded(); }

// ---- TTreeNodes ----

void TTreeNodes::Clear() {
    ++generation_;
    AsTree(view_->Widget())->clear();
    nodes_.clear();
}

TTreeNode* TTreeNodes::Add(TTreeNode* sibling, const std::string& text) {
    return AddChild(sibling ? sibling->Parent() : nullptr, text);
}

TTreeNode* TTreeNodes::AddChild(TTreeNode* parent, const std::string& text) {
    auto* item = new QTreeWidgetItem(QStringList{ToQString(text)});
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!view_->ReadOnly()) flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    auto node = std::unique_ptr<TTreeNode>(new TTreeNode(view_, item));
    TTreeNode* raw = node.get();
    nodes_.emplace(item, std::move(node));
    if (parent) parent->item_->addChild(item);
    else AsTree(view_->Widget())->addTopLevelItem(item);
    return raw;
}

TTreeNode* TTreeNodes::GetFirstNode() const { return NodeOf(AsTree(view_->Widget())->topLevelItem(0)); }

TTreeNode* TTreeNodes::NodeOf(QTreeWidgetItem* item) const {
    auto it = nodes_.find(item);
    return it == nodes_.end() ? nullptr : it->second.get();
}

// ---- TTreeView ----

TTreeView::TTreeView(TForm* owner, std::string name)
    : TControl(owner, new QTreeWidget, std::move(name)), items_(this) {
    auto* tree = AsTree(Widget());
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setRootIsDecorated(false);
    tree->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    tree->setItemDelegate(new LabelDelegate(this, tree));
    QObject::connect(tree, &QTreeWidget::currentItemChanged, [this](QTreeWidgetItem* current) {
        if (OnChange) OnChange(this, items_.NodeOf(current));
    });
    QObject::connect(tree, &QTreeWidget::itemCollapsed, [this, tree](QTreeWidgetItem* item) {
        bool allow = true;
        if (OnCollapsing) OnCollapsing(this, items_.NodeOf(item), allow);
        if (!allow) {
            const QSignalBlocker block(tree);
            item->setExpanded(true);
        }
    });
}

TTreeView::~TTreeView() { Widget()->blockSignals(true); }

TTreeNode* TTreeView::Selected() const { return items_.NodeOf(AsTree(Widget())->currentItem()); }

void TTreeView::SetSelected(TTreeNode* node) { AsTree(Widget())->setCurrentItem(node ? node->item_ : nullptr); }

void TTreeView::FullExpand() { AsTree(Widget())->expandAll(); }

void TTreeView::SetReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    for (QTreeWidgetItemIterator it(AsTree(Widget())); *it; ++it)
        (*it)->setFlags(readOnly ? (*it)->flags() & ~Qt::ItemIsEditable : (*it)->flags() | Qt::ItemIsEditable);
}

void TTreeView::SetImages(TImageList* images) {
    images_ = images;
    if (images) AsTree(Widget())->setIconSize(QSize(images->Width(), images->Height()));
}

void TTreeView::SetIndent(int pixels) { AsTree(Widget())->setIndentation(pixels); }

void TTreeView::EditNode(TTreeNode* node) {
    if (node && !readOnly_) AsTree(Widget())->editItem(node->item_);
}

bool TTreeView::WantsReturn() const {
    QWidget* focus = QApplication::focusWidget();
    return focus && focus != Widget() && Widget()->isAncestorOf(focus);
}

void TTreeView::Commit(QTreeWidgetItem* item, std::string text, unsigned generation) {
    if (generation != items_.Generation()) return;
    TTreeNode* node = items_.NodeOf(item);
    if (!node) return;
    if (OnEdited) OnEdited(this, node, text);
    node->SetText(text);
}

}  // namespace forms
