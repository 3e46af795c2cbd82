#include "Msgui.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Legend.h"
#include "Menu.h"
#include "MsgDecoder.h"
#include "RxMsgRing.h"
#include "Schedule.h"
#include "ScheduleHelpers.h"
#include "WindowCommon.h"
#include "forms/Keys.h"
#include "rtl/Clock.h"
#include "rtl/Files.h"
#include "rtl/Messages.h"

TMsgUIForm* MsgUIForm = nullptr;

namespace {

constexpr uint16_t kSlots = TRxMsgRing::kSlots;
// A suspended capture goes on for this many frames: the ring then holds as many before the
// suspension as after it.
constexpr uint16_t kSuspendAhead = kSlots / 2;
// Pages move by this many records until the anchor is this near.
constexpr uint16_t kPageStep = 10;
constexpr const char* kOutFolder = ".//OUT";

constexpr forms::TColor kGreen = 0x00FF00;
constexpr forms::TColor kYellow = 0x00FFFF;
constexpr forms::TColor kRed = 0x0000FF;

uint16_t Next(uint16_t slot, int k = 1) { return ModAdd16(slot, static_cast<uint16_t>(k), kSlots); }
uint16_t Back(uint16_t slot, int k = 1) { return ModSub16(slot, static_cast<uint16_t>(k), kSlots); }

// Buttons enabled after a state change (menu, expand and legend stay enabled always).
struct TButtonSet {
    bool start, stop, suspend, save, clear, up, down, upEnd, dwEnd;
};
constexpr TButtonSet kAfterRun{false, true, true, false, false, false, false, false, false};
constexpr TButtonSet kAfterSuspend{true, true, false, false, false, true, true, false, false};
constexpr TButtonSet kAfterStop{true, false, false, true, true, true, true, true, true};
constexpr TButtonSet kAfterCreate{true, false, false, false, false, false, false, false, false};

void EnableButtons(TMsgUIForm& log, const TButtonSet& set) {
    log.BStart.SetEnabled(set.start);
    log.BStop.SetEnabled(set.stop);
    log.BSuspend.SetEnabled(set.suspend);
    log.BSave.SetEnabled(set.save);
    log.BClear.SetEnabled(set.clear);
    log.BUp.SetEnabled(set.up);
    log.BDown.SetEnabled(set.down);
    log.BUpEnd.SetEnabled(set.upEnd);
    log.BDwEnd.SetEnabled(set.dwEnd);
}

}  // namespace

TMsgUIForm::TMsgUIForm()
    : forms::TForm("MsgUIForm", 900, 600),
      Image1(this, "Image1"),
      LState(this, "LState"),
      SBMonitor(this, "SBMonitor"),
      MSGWin(this, "MSGWin"),
      BMenu(this, "BMenu"),
      BStart(this, "BStart"),
      BStop(this, "BStop"),
      BSuspend(this, "BSuspend"),
      BSave(this, "BSave"),
      BClear(this, "BClear"),
      BExpand(this, "BExpand"),
      BLegend(this, "BLegend"),
      BUpEnd(this, "BUpEnd"),
      BDwEnd(this, "BDwEnd"),
      BUp(this, "BUp"),
      BDown(this, "BDown") {
    SetFont(MakeFont("MS Sans Serif", -13));
    KeyPreview = true;

    Image1.SetBounds(8, 8, 64, 64);
    // A badge in the colour of the menu's log button.
    DrawNameBand(Image1.Picture(), 64, 64, MakeRGB(220, 120, 0), -20, "LOG");

    struct Place {
        forms::TButton* button;
        const char* caption;
        int code, left, top;
    };
    const Place places[] = {
        {&BStart, "F1 START", 1, 80, 8},      {&BStop, "F2 STOP", 2, 180, 8},
        {&BSuspend, "F3 SUSPEND", 3, 280, 8}, {&BSave, "F4 SAVE", 4, 380, 8},
        {&BClear, "F5 CLEAR", 5, 480, 8},     {&BExpand, "F8 EXPAND", 8, 580, 8},
        {&BLegend, "F9-LEGEND", 9, 680, 8},   {&BUpEnd, "F11 UPEND", 11, 80, 44},
        {&BDwEnd, "F12 DWEND", 12, 180, 44},  {&BUp, "PG-UP", 13, 280, 44},
        {&BDown, "PG-DOWN", 14, 380, 44},     {&BMenu, "F10 MENU", 99, 680, 44},
    };
    for (const Place& p : places) {
        p.button->SetBounds(p.left, p.top, 96, 30);
        p.button->SetCaption(p.caption);
        p.button->Tag = p.code;
        p.button->OnClick = [this](forms::TControl* sender) { Command(sender->Tag); };
    }

    LState.SetAutoSize(false);
    LState.SetBounds(788, 8, 104, 30);
    LState.SetAlignment(forms::TAlignment::taCenter);
    LState.SetFont(MakeFont("MS Sans Serif", -23));
    LState.SetHint("LOG Status");

    MSGWin.SetBounds(8, 84, 882, 482);
    MSGWin.Anchors = forms::akLeft | forms::akTop | forms::akRight;
    MSGWin.SetReadOnly(true);
    MSGWin.SetWordWrap(true);
    MSGWin.SetScrollBars(forms::TScrollStyle::ssNone);
    MSGWin.SetFont(MakeFont("Courier New", -17));

    SBMonitor.SetBounds(0, 576, 900, 24);
    SBMonitor.Anchors = forms::akLeft | forms::akRight | forms::akBottom;
    InitStatusPanels(SBMonitor);
    SBMonitor.OnDrawPanel = [this](forms::TStatusBar* bar, forms::TStatusPanel& panel, const forms::TRect& rect) {
        SBMonitorDrawPanel(bar, panel, rect);
    };
}

TMsgUIForm::~TMsgUIForm() {
    if (MsgUIForm == this) MsgUIForm = nullptr;
}

void TMsgUIForm::RegisterStrings() {
    RegisterDefault("MSGFORM_TITLE", "MESSAGE LOG");
    RegisterDefault("MSGUIFORM_RUN", "RUN");
    RegisterDefault("MSGUIFORM_STOP", "STOP");
    RegisterDefault("MSGUIFORM_SUSP", "SUSP");
}

void TMsgUIForm::FormCreate() {
    SetMinSize(Width() - ClientWidth() + MSGWin.Left() + MSGWin.Width() + 10,
               Height() - ClientHeight() + MSGWin.Top() + 10);
    RegisterStrings();
    if (RefreshList) RefreshList->push_back(TFuncPtr{&TMsgUIForm::RefreshTick, this});
    // The frames captured since start-up stay in the ring; the newest becomes the anchor.
    StopLog();
    EnableButtons(*this, kAfterCreate);
    MSGWin.Clear();
}

void TMsgUIForm::FormShow() {
    LegendShown = 0;
    SetCaption(JoinedCaption("MSGFORM_TITLE"));
}

void TMsgUIForm::FormActivate() {
    UpAllowed = 1;
    DownAllowed = 1;
}

void TMsgUIForm::FormHide() {
    if (LegendForm) LegendForm->Hide();
    if (MenuForm) MenuForm->Show();
}

void TMsgUIForm::FormResize() {
    const int h = SBMonitor.Top() - MSGWin.Top() - 10;
    MSGWin.SetHeight(std::max(h, 0));
    WindowLines = static_cast<int>(static_cast<double>(h) / (std::abs(MSGWin.Font().Height) + 3) - 0.5);
}

void TMsgUIForm::FormPaint() { Canvas().FillRect({0, 0, Width(), Height()}); }

int TMsgUIForm::KeyCommand(uint16_t key) {
    switch (key) {
        case forms::VK_F1: return 1;
        case forms::VK_F2: return 2;
        case forms::VK_F3: return 3;
        case forms::VK_F4: return 4;
        case forms::VK_F5: return 5;
        case forms::VK_F8: return 8;
        case forms::VK_F9: return 9;
        case forms::VK_F10: return 99;
        case forms::VK_F11: return 11;
        case forms::VK_F12: return 12;
        case forms::VK_PRIOR: return 13;
        case forms::VK_NEXT: return 14;
        default: return 0;
    }
}

bool TMsgUIForm::RepeatsWhenHeld(int code) { return code >= 11 && code <= 14; }

// Every key acts, whatever its button's state; the focused control does not see it again.
void TMsgUIForm::FormKeyDown(uint16_t& Key, forms::TShiftState Shift) {
    const int code = KeyCommand(Key);
    if (code == 0) return;
    Key = 0;
    if ((Shift & forms::ssRepeat) && !RepeatsWhenHeld(code)) return;
    Command(code);
}

void TMsgUIForm::Command(int code) {
    switch (code) {
        case 1: RunLog(); break;
        case 2: StopCommand(); break;
        case 3: SuspendLog(); break;
        case 4: SaveLog(); break;
        case 5: ClearLog(); break;
        case 8: ToggleExpand(); break;
        case 9: ToggleLegend(); break;
        case 99: Hide(); break;
        case 11: ShowOldest(); break;
        case 12: ShowNewest(); break;
        case 13: PageUp(); break;
        case 14: PageDown(); break;
        default: break;
    }
}

void TMsgUIForm::SBMonitorDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel,
                                    const forms::TRect& Rect) {
    static const std::string none;
    DrawStatusPanel(*StatusBar, Rect, PanelColour(), Font(), PanelText(Panel, DateShown, TimeShown, none));
}

void TMsgUIForm::RefreshTick(void* data) {
    auto* log = static_cast<TMsgUIForm*>(data);
    log->FollowCapture();
    if (!IsActiveWindow(*log) && !(LegendForm && IsActiveWindow(*LegendForm))) return;
    if (TakeDateTime(log->DateShown, log->TimeShown)) log->SBMonitor.Invalidate();
    if (RxMsgRing.Suspended() || RxMsgRing.Stopped()) return;
    const uint16_t w = RxMsgRing.WriteIndex();
    if (w == log->ShownIndex) return;
    log->ShowRecords(Next(log->ShownIndex), w, false);
    log->ShownIndex = w;
}

void TMsgUIForm::FollowCapture() {
    if (shownState_ == TLogState::Susp && RxMsgRing.Stopped()) ShowStopped();
}

std::string TMsgUIForm::RecordLine(uint16_t slot) const {
    std::string text;
    if (Expanded && DecodeMsg(RxMsgRing, slot, text)) return text;
    return RawMsgText(RxMsgRing, slot);
}

void TMsgUIForm::ShowRecords(uint16_t first, uint16_t last, bool fresh) {
    int count = ModSub16(last, first, kSlots) + 1;
    if (fresh) {
        MSGWin.Clear();
        MSGWin.AddLine(" ");
    }
    // Every record takes at least one line, so only the last WindowLines of them can stay.
    const int keep = std::max(WindowLines, 0);
    if (count > keep) {
        first = Next(first, count - keep);
        count = keep;
    }
    // One addition for all: each line of the text becomes a line of the memo.
    std::string text;
    for (int k = 0; k < count; ++k) text += (k ? "\r\n" : "") + RecordLine(Next(first, k));
    if (count > 0) MSGWin.AddLine(text);
    MSGWin.KeepLastRows(WindowLines);
}

void TMsgUIForm::ShowState(TLogState state) {
    shownState_ = state;
    const char* key = "MSGUIFORM_STOP";
    forms::TColor colour = kRed;
    const TButtonSet* set = &kAfterStop;
    if (state == TLogState::Run) {
        key = "MSGUIFORM_RUN";
        colour = kGreen;
        set = &kAfterRun;
    } else if (state == TLogState::Susp) {
        key = "MSGUIFORM_SUSP";
        colour = kYellow;
        set = &kAfterSuspend;
    }
    LState.SetCaption(AppText(key));
    LState.SetColor(colour);
    EnableButtons(*this, *set);
}

void TMsgUIForm::ShowStopped() { ShowState(TLogState::Stop); }

void TMsgUIForm::RunLog() {
    if (RxMsgRing.Stopped()) {
        // New records appear from the slot after the newest kept.
        MSGWin.Clear();
        ShownIndex = RxMsgRing.Anchor();
    }
    RxMsgRing.Run();
    ShowState(TLogState::Run);
    UpAllowed = 1;
    DownAllowed = 1;
}

void TMsgUIForm::SuspendLog() {
    RxMsgRing.Suspend(kSuspendAhead);
    ShowState(TLogState::Susp);
}

void TMsgUIForm::StopLog() {
    // The capture is stopped before the write index is taken: nothing is written after it.
    const uint16_t w = RxMsgRing.Stop();
    if (w != ShownIndex) ShowRecords(Next(ShownIndex), w, false);
    ShownIndex = w;
    ShowStopped();
}

void TMsgUIForm::StopCommand() {
    if (RxMsgRing.Suspended()) {
        RxMsgRing.Stop();
        ShowStopped();
    } else {
        StopLog();
    }
}

std::string TMsgUIForm::LogFileName() {
    const rtl::LocalTime t = rtl::GetLocalTime();
    char name[80];
    std::snprintf(name, sizeof name, "%s//TV%4d%02d%02d_%02d%02d%02d%02d.txt", kOutFolder, t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond / 10);
    return name;
}

void TMsgUIForm::SaveLog() {
    std::error_code ec;
    if (!std::filesystem::is_directory(rtl::NativePath(kOutFolder), ec) && !rtl::CreateDirectory(kOutFolder))
        rtl::MessageBox("Creazione DIRECTORY ./OUT non riuscita!", "ATTENZIONE", rtl::MB_OK);
    const std::string path = LogFileName();
    const uint16_t anchor = RxMsgRing.Anchor();
    std::string bytes;
    bytes.reserve(size_t(kSlots) * 80);
    for (int k = 0; k < kSlots; ++k) {
        bytes += RecordLine(Next(anchor, 1 + k));
        bytes += "\r\n";
    }
    // Written whole or not at all: a full disk leaves no cut-off file that looks like a saved log.
    if (!rtl::WriteWholeFile(path, bytes)) rtl::MessageBox("SALVATAGGIO FALLITO!", "ATTENZIONE", rtl::MB_OK);
}

void TMsgUIForm::ClearLog() {
    RxMsgRing.Clear();
    MSGWin.Clear();
    ShownIndex = 0;
    BSave.SetEnabled(false);
}

void TMsgUIForm::ToggleExpand() {
    Expanded = Expanded ? 0 : 1;
    ShowPage(ShownIndex);
}

void TMsgUIForm::ToggleLegend() {
    // A legend the window manager minimised counts as hidden: F9 brings it back.
    const bool minimised = LegendForm && LegendForm->WindowState() == forms::TWindowState::wsMinimized;
    LegendShown = LegendShown && !minimised ? 0 : 1;
    if (!LegendForm) return;
    if (LegendShown) LegendForm->Show();
    else LegendForm->Hide();
}

uint16_t TMsgUIForm::PageSpan() const { return static_cast<uint16_t>(std::clamp<int>(WindowLines, 1, kSlots)); }

void TMsgUIForm::ShowPage(uint16_t bottom) {
    ShowRecords(Back(bottom, PageSpan() - 1), bottom, true);
    ShownIndex = bottom;
}

bool TMsgUIForm::AnchorWithin(uint16_t slot) const {
    const uint16_t anchor = RxMsgRing.Anchor();
    for (int k = 0; k <= kPageStep; ++k)
        if (anchor == Next(slot, k)) return true;
    return false;
}

bool TMsgUIForm::AnchorBehind(uint16_t slot) const {
    const uint16_t anchor = RxMsgRing.Anchor();
    for (int k = 0; k <= kPageStep; ++k)
        if (anchor == Back(slot, k)) return true;
    return false;
}

void TMsgUIForm::ShowNewest() {
    ShowPage(RxMsgRing.Anchor());
    UpAllowed = 1;
}

void TMsgUIForm::ShowOldest() {
    // Slot 0 keeps identifier 0 until the ring first wraps: the oldest record is then slot 1.
    const uint16_t first = RxMsgRing.Record(0).Id == 0 ? 1 : Next(RxMsgRing.Anchor());
    ShowPage(Next(first, PageSpan() - 1));
    DownAllowed = 1;
}

void TMsgUIForm::PageDown() {
    if ((RxMsgRing.Suspended() || RxMsgRing.Stopped()) && DownAllowed) {
        uint16_t b = ShownIndex;
        if (!AnchorWithin(b)) b = Next(b, kPageStep);
        else if (b == RxMsgRing.Anchor()) DownAllowed = 0;
        else b = Next(b);
        ShowPage(b);
    }
    UpAllowed = 1;
}

void TMsgUIForm::PageUp() {
    if ((RxMsgRing.Suspended() || RxMsgRing.Stopped()) && UpAllowed) {
        uint16_t t = Back(ShownIndex, PageSpan() - 1);
        if (!AnchorBehind(t)) t = Back(t, kPageStep);
        else if (t == Next(RxMsgRing.Anchor())) UpAllowed = 0;
        else t = Back(t);
        ShowPage(Next(t, PageSpan() - 1));
    }
    DownAllowed = 1;
}
