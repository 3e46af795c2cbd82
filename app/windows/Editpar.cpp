#include "Editpar.h"

#include "Schedule.h"
#include "WindowCommon.h"
#include "forms/Keys.h"

TEditParForm* EditParForm = nullptr;

namespace {
constexpr int kApplyTag = 1;
constexpr int kExitTag = 99;
}  // namespace

TEditParForm::TEditParForm()
    : forms::TForm("EditParForm", 231, 127),
      LEValue(this, "LEValue"),
      BApply(this, "BApply"),
      BExit(this, "BExit"),
      LErrMsg(this, "LErrMsg") {
    SetBorderStyle(forms::TFormBorderStyle::bsSingle);
    SetBorderIcons(false);
    SetFont(MakeFont("Courier New", -13));
    KeyPreview = true;

    LErrMsg.SetBounds(3, 64, 0, 0);
    LErrMsg.SetColor(forms::clRed);
    LErrMsg.Hide();

    LEValue.SetBounds(42, 31, 148, 24);
    LEValue.SetLabelSpacing(10);
    LEValue.OnKeyDown = [this](forms::TControl*, uint16_t& key, forms::TShiftState shift) { FormKeyDown(key, shift); };

    BApply.SetBounds(5, 92, 103, 25);
    BApply.SetCaption("APPLICA");
    BApply.Tag = kApplyTag;
    BApply.OnClick = [this](forms::TControl* sender) { BClick(sender); };

    BExit.SetBounds(123, 92, 103, 25);
    BExit.SetCaption("ESCI");
    BExit.Tag = kExitTag;
    BExit.OnClick = [this](forms::TControl* sender) { BClick(sender); };
}

void TEditParForm::RegisterStrings() { RegisterDefault("EDITPAR_TITLE", "EDIT VALUE"); }

void TEditParForm::InvalidateCallback(void* data) { static_cast<TEditParForm*>(data)->Invalidate(); }

void TEditParForm::FormCreate() {
    RegisterStrings();
    if (InvalidateList) InvalidateList->push_back(TFuncPtr{&TEditParForm::InvalidateCallback, this});
    Done = 1;
}

void TEditParForm::FormShow() {
    SetCaption(AppText("EDITPAR_TITLE"));
    LEValue.SetFocus();
    LEValue.SelectAll();
    BApply.SetDefault(true);
    LErrMsg.SetVisible(Done == 0);
}

void TEditParForm::ShowError(const std::string& text) {
    LErrMsg.SetCaption(text);
    LErrMsg.Show();
    Repaint();
}

void TEditParForm::BClick(forms::TControl* Sender) {
    if (Sender->Tag == kExitTag) {
        Done = 1;
        SetModalResult(forms::mrCancel);
    } else if (Sender->Tag == kApplyTag) {
        SetModalResult(forms::mrOk);
    }
}

void TEditParForm::FormKeyDown(uint16_t& Key, forms::TShiftState Shift) {
    if (Key != forms::VK_ESCAPE && Key != forms::VK_F10) return;
    // Held, it cancels once: after a refused value the repeats would cancel the reopened dialog.
    if (Shift & forms::ssRepeat) {
        Key = 0;
        return;
    }
    Key = forms::VK_TAB;
    SetModalResult(forms::mrCancel);
}

void TEditParForm::CloseRequested() { SetModalResult(forms::mrCancel); }
