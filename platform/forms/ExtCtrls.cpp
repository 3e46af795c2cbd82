#include "forms/ExtCtrls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

#include "forms/QtBridge.h"

namespace forms {
namespace {

class ImageWidget : public QWidget {
public:
    explicit ImageWidget(TBitmap* picture) : picture_(picture) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).drawImage(0, 0, picture_->Image());
    }

private:
    TBitmap* picture_;
};

class RadioGroupWidget : public QGroupBox {
public:
    RadioGroupWidget() : buttons(new QButtonGroup(this)), layout(new QVBoxLayout(this)) {
        buttons->setExclusive(true);
    }
    QButtonGroup* buttons;
    QVBoxLayout* layout;
};

RadioGroupWidget* AsGroup(QWidget* w) { return static_cast<RadioGroupWidget*>(w); }

}  // namespace

TImage::TImage(TForm* owner, std::string name) : TControl(owner, new ImageWidget(&picture_), std::move(name)) {}

TRadioGroup::TRadioGroup(TForm* owner, std::string name)
    : TControl(owner, new RadioGroupWidget, std::move(name)) {
    QObject::connect(AsGroup(Widget())->buttons, &QButtonGroup::idClicked, [this] {
        if (OnClick) OnClick(this);
    });
}

std::string TRadioGroup::Caption() const { return FromQString(AsGroup(Widget())->title()); }
void TRadioGroup::SetCaption(const std::string& caption) { AsGroup(Widget())->setTitle(ToQString(caption)); }

void TRadioGroup::SetItems(const std::vector<std::string>& items) {
    auto* g = AsGroup(Widget());
    for (QAbstractButton* b : g->buttons->buttons()) delete b;
    int id = 0;
    for (const std::string& item : items) {
        auto* b = new QRadioButton(ToQString(item), g);
        g->buttons->addButton(b, id++);
        g->layout->addWidget(b);
    }
}

int TRadioGroup::ItemCount() const { return static_cast<int>(AsGroup(Widget())->buttons->buttons().size()); }

int TRadioGroup::ItemIndex() const { return AsGroup(Widget())->buttons->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
    auto* g = AsGroup(Widget());
    if (QAbstractButton* b = g->buttons->button(index)) {
        b->setChecked(true);
    } else if (QAbstractButton* checked = g->buttons->checkedButton()) {
        g->buttons->setExclusive(false);
        checked->setChecked(false);
        g->buttons->setExclusive(true);
    }
}

void TRadioGroup::SetFocus() {
    auto* g = AsGroup(Widget());
    QAbstractButton* b = g->buttons->checkedButton();
    if (!b) b = g->buttons->button(0);
    if (b) b->setFocus(Qt::OtherFocusReason);
}

void TRadioGroup::ClickItem(int index) {
    if (QAbstractButton* b = AsGroup(Widget())->buttons->button(index)) b->click();
}

}  // namespace forms
