// Pictures and radio groups.
#pragma once
#include <string>
#include <vector>

#include "forms/Controls.h"

namespace forms {

// Shows its picture at its top-left corner; draw into Picture() and Invalidate to change it.
class TImage : public TControl {
public:
    explicit TImage(TForm* owner, std::string name = {});
    TBitmap& Picture() { return picture_; }

private:
    TBitmap picture_;
};

// A captioned group of radio buttons, one per item, in one column.
class TRadioGroup : public TControl {
public:
    explicit TRadioGroup(TForm* owner, std::string name = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    void SetItems(const std::vector<std::string>& items);
    int ItemCount() const;
    // -1: none. Setting it does not run OnClick.
    int ItemIndex() const;
    void SetItemIndex(int index);
    // Focuses the checked item (the first when none is).
    void SetFocus() override;
    // Presses item index as the user does: checks it and runs OnClick.
    void ClickItem(int index);
    // Runs when the user picks an item.
    TNotifyEvent OnClick;
};

}  // namespace forms
