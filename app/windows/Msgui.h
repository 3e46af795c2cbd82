// The message log: the frames the node poller copies into the message ring, shown raw or decoded.
// The user runs, suspends and stops the capture, pages through the ring's 10,000 records, saves
// them to a text file under ".//OUT" and clears them; F9 shows and hides the legend beside it.
//
// Capture states (flags of the ring): RUN appends new records at each refresh; SUSP captures
// 5,000 more frames and then stops by itself; STOP keeps what the ring holds. In STOP the anchor
// is the newest record kept, so the oldest is the slot after it.
#pragma once
#include <cstdint>
#include <string>

#include "forms/ComCtrls.h"
#include "forms/ExtCtrls.h"
#include "forms/Forms.h"
#include "forms/StdCtrls.h"

class TMsgUIForm : public forms::TForm {
public:
    TMsgUIForm();
    ~TMsgUIForm() override;

    forms::TImage Image1;
    forms::TLabel LState;
    forms::TStatusBar SBMonitor;
    forms::TMemo MSGWin;
    forms::TButton BMenu;
    forms::TButton BStart;
    forms::TButton BStop;
    forms::TButton BSuspend;
    forms::TButton BSave;
    forms::TButton BClear;
    forms::TButton BExpand;
    forms::TButton BLegend;
    forms::TButton BUpEnd;
    forms::TButton BDwEnd;
    forms::TButton BUp;
    forms::TButton BDown;

    int WindowLines = 20;     // memo lines kept; set at each resize
    uint16_t ShownIndex = 0;  // slot of the bottom record shown
    uint8_t Expanded = 0;     // decoded lines
    uint8_t LegendShown = 0;
    uint8_t UpAllowed = 0;    // paging towards older records
    uint8_t DownAllowed = 0;  // paging towards newer records
    std::string DateShown;
    std::string TimeShown;

    static void RegisterStrings();
    // The log's entry in RefreshList; data is the form.
    static void RefreshTick(void* data);

    // The command of a key: F1..F5, F8, F9, F11, F12 give their number, F10 99, Page Up 13,
    // Page Down 14, any other key 0.
    static int KeyCommand(uint16_t key);
    // Whether the auto-repeats of a held key give its command again: the paging keys (F11, F12,
    // Page Up, Page Down) page on; every other command acts once however long its key is held.
    static bool RepeatsWhenHeld(int code);
    void Command(int code);

    void RunLog();
    void SuspendLog();
    // Stop from RUN or STOP: what was captured up to the write index is shown, and becomes the
    // newest record kept.
    void StopLog();
    // F2 and BStop: from SUSP the last captured frame becomes the newest kept, without display.
    void StopCommand();
    void SaveLog();
    void ClearLog();
    void ToggleExpand();
    void ToggleLegend();
    void ShowOldest();
    void ShowNewest();
    void PageUp();
    void PageDown();

    // ".//OUT//TVyyyymmdd_hhnnsscc.txt" for the local time now.
    static std::string LogFileName();
    // The line of a slot: decoded when switched on and the decoder knows the kind, else raw.
    std::string RecordLine(uint16_t slot) const;
    // Appends the records of the slots first..last (1 to 10,000 of them) to the memo, keeping at
    // most WindowLines lines as the memo shows them; fresh starts from a memo holding one blank line.
    void ShowRecords(uint16_t first, uint16_t last, bool fresh);
    bool AnchorWithin(uint16_t slot) const;
    bool AnchorBehind(uint16_t slot) const;

protected:
    void FormCreate() override;
    void FormShow() override;
    void FormActivate() override;
    void FormHide() override;
    void FormResize() override;
    void FormPaint() override;
    void FormKeyDown(uint16_t& Key, forms::TShiftState Shift) override;

private:
    enum class TLogState { Run, Susp, Stop };
    void ShowState(TLogState state);
    void ShowStopped();
    // The capture stopped by itself at the anchor: STOP is shown on this thread.
    void FollowCapture();
    // Slots a page spans, kept within the ring.
    uint16_t PageSpan() const;
    void ShowPage(uint16_t bottom);
    void SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel, const forms::TRect& Rect);

    TLogState shownState_ = TLogState::Stop;
};

extern TMsgUIForm* MsgUIForm;
