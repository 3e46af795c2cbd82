// The main menu: the application's main form. It installs the application's message hook, shows
// the program's version and the stored bus speed, opens the four working windows with F3 to F6
// (or its buttons), ends the program with F10, and switches the bus speed with a four-step
// restart of the protocol library paced by the refresh tick.
#pragma once
#include <cstdint>
#include <string>

#include "forms/Buttons.h"
#include "forms/ComCtrls.h"
#include "forms/ExtCtrls.h"
#include "forms/Forms.h"
#include "forms/StdCtrls.h"

class TMenuForm : public forms::TForm {
public:
    TMenuForm();
    ~TMenuForm() override;

    forms::TImage EntryPage;
    forms::TSpeedButton SBMonitor;
    forms::TSpeedButton SBTree;
    forms::TSpeedButton SBLog;
    forms::TSpeedButton SBDwLoad;
    forms::TSpeedButton SBExit;
    forms::TLabel LVers;
    forms::TStatusBar SBMenu;
    forms::TRadioGroup rdbSpeed;

    std::string TimeShown;
    std::string DateShown;
    std::string StatusText;
    uint32_t RestartStamp = 0;
    uint8_t RestartRequested = 0;
    uint8_t RestartState = 0;  // next step: 0 pause, 1 destroy, 2 create, 3 resume
    uint64_t ScratchTime = 0;
    uint8_t HighSpeed = 0;

    static void RegisterStrings();
    // The menu's entries in RefreshList and InvalidateList; data is the form.
    static void RefreshTick(void* data);
    static void InvalidateCallback(void* data);
    // 3..6 open a working window, 10 ends the program, anything else does nothing.
    void MenuSelect(int command);
    void ShowVersion();
    void RestartStep();

    // The download's 100 ns clock: the system time, a deadline ms from now, and whether it passed.
    void TimeNow(uint64_t& time);
    void SetDeadline(uint64_t& deadline, int32_t ms);
    bool DeadlinePassed(uint64_t deadline);

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormClose(forms::TCloseAction& Action) override;
    void FormPaint() override;
    void FormKeyDown(uint16_t& Key, forms::TShiftState Shift) override;

private:
    void BClick(forms::TControl* Sender);
    void SBMenuDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel, const forms::TRect& Rect);
    void rdbSpeedClick(forms::TControl* Sender);
    void ApplicationMessage(forms::TMsg& Msg, bool& Handled);
    void KeepStoredSpeed(int stored);
    void SetControlsEnabled(bool enabled);
    // While a download holds nodes in their boot loader, asks "DOWNLOAD IN CORSO!" and the question
    // (No is the default); false when the user keeps the download.
    bool DownloadAllows(const std::string& question);
    void DrawPictures();
};

extern TMenuForm* MenuForm;
