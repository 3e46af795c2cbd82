// The parameter edit dialog: one value of one node, typed into a labelled field. The nodes panel
// fills it, runs it modally as often as a refused value needs, and writes the accepted value.
#pragma once
#include <cstdint>
#include <string>

#include "forms/Buttons.h"
#include "forms/Forms.h"
#include "forms/StdCtrls.h"

class TEditParForm : public forms::TForm {
public:
    TEditParForm();

    forms::TLabeledEdit LEValue;
    forms::TBitBtn BApply;
    forms::TBitBtn BExit;
    forms::TLabel LErrMsg;

    static void RegisterStrings();
    // The dialog's entry in InvalidateList; data is the form.
    static void InvalidateCallback(void* data);

    // The refusal in the red line, shown at once.
    void ShowError(const std::string& text);
    // 0 after a refused value (the edit goes on), 1 when the edit may end.
    void SetDone(uint8_t done) { Done = done; }
    bool IsDone() const { return Done != 0; }

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormKeyDown(uint16_t& Key, forms::TShiftState Shift) override;
    // The window manager's close button (and Alt+F4 where the desktop turns it into a close
    // request) cancels the dialog as Esc does.
    void CloseRequested() override;

private:
    void BClick(forms::TControl* Sender);

    uint8_t Done = 1;
};

extern TEditParForm* EditParForm;
