// The program download window: the present nodes with their firmware versions, the selection by
// right click or SELECT ALL, the choice of an Intel HEX file and the download into the selected
// nodes, and the collection of the versions. The sequence itself (TDownloadSequence) advances one
// step per refresh while this window is in front; the window shows what it does.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "DownloadSequence.h"
#include "forms/ComCtrls.h"
#include "forms/Dialogs.h"
#include "forms/ExtCtrls.h"
#include "forms/Forms.h"
#include "forms/Grids.h"
#include "forms/StdCtrls.h"

class TDwldUIForm : public forms::TForm, private TDownloadView {
public:
    TDwldUIForm();
    ~TDwldUIForm() override;

    forms::TImage Logo;
    forms::TLabel LSelFile;
    forms::TLabel Lock;  // a coloured strip: green while free, red from a download to COLL.VERS
    forms::TStringGrid SGWin1;
    forms::TButton BMenu;
    forms::TButton BDwLd;
    forms::TButton BSelAll;
    forms::TButton BCollVers;
    forms::TProgressBar DwlProgBar;
    forms::TStatusBar SBMonitor;
    forms::TOpenDialog OpenDialog;

    std::string TimeShown;
    std::string DateShown;
    std::string StatusText;
    uint32_t StatusStamp = 0;

    static void RegisterStrings();
    // The window's entries in RefreshList and InvalidateList; data is the form.
    static void RefreshTick(void* data);
    static void InvalidateCallback(void* data);
    void InitGrid();
    // Hides the window for the tag of BMenu (99) while BMenu is enabled.
    void HideOnMenuTag(int tag);
    void SelectAll();

    // The sequence the window drives; null until the window was created with the download table
    // and the node model in place.
    const TDownloadSequence* Sequence() const { return Download.get(); }
    uint32_t LockColour() const { return Lock.Color(); }

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormHide() override;
    void FormPaint() override;
    void FormResize() override;
    void FormKeyDown(uint16_t& Key, forms::TShiftState Shift) override;

private:
    void BMenuClick(forms::TControl* Sender);
    void BDwLdClick(forms::TControl* Sender);
    void BCollVersClick(forms::TControl* Sender);
    void SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel, const forms::TRect& Rect);
    void SGWin1DrawCell(forms::TStringGrid* Sender, int ACol, int ARow, const forms::TRect& Rect,
                        forms::TGridDrawState State);
    void SGWin1MouseUp(forms::TControl* Sender, forms::TMouseButton Button, forms::TShiftState Shift, int X, int Y);

    // What the sequence does to the window.
    void EnableButtons(bool enabled) override;
    void SetLockColour(uint32_t colour) override;
    void SetProgress(int percent) override;
    void RepaintGrid() override;
    void ShowWarning(const std::string& text) override;
    void ReturnToMenu() override;

    std::unique_ptr<TDownloadSequence> Download;
};

extern TDwldUIForm* DwldUIForm;
