#include "Menu.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "AppStrings.h"
#include "Dwload.h"
#include "Morvand.h"
#include "Schedule.h"
#include "ScheduleHelpers.h"
#include "Scheduler.h"
#include "SetupFile.h"
#include "WindowCommon.h"
#include "forms/Keys.h"
#include "rtl/Clock.h"
#include "rtl/Messages.h"
#include "rtl/Profile.h"
#include "rtl/VersionInfo.h"

TMenuForm* MenuForm = nullptr;

namespace {

constexpr const char* kLibrarySettings = ".//Morvand.ini";
constexpr uint32_t kRestartPause = 2000;
constexpr forms::TColor kPanelColour = 0xF0CAA6;
constexpr int kButtonTop = 80;
constexpr int kButtonWidth = 138;
constexpr int kButtonHeight = 165;

struct TButtonLook {
    const char* key;
    const char* word;
    int r, g, b;
};

// The windows the commands open, by the Name of their form.
const char* WindowOf(int command) {
    switch (command) {
        case 3: return "NodesUIForm";
        case 4: return "TreeUIForm";
        case 5: return "MsgUIForm";
        case 6: return "DwldUIForm";
        default: return nullptr;
    }
}

}  // namespace

TMenuForm::TMenuForm()
    : forms::TForm("MenuForm", 692, 279),
      EntryPage(this, "EntryPage"),
      SBMonitor(this, "SBMonitor"),
      SBTree(this, "SBTree"),
      SBLog(this, "SBLog"),
      SBDwLoad(this, "SBDwLoad"),
      SBExit(this, "SBExit"),
      LVers(this, "LVers"),
      SBMenu(this, "SBMenu"),
      rdbSpeed(this, "rdbSpeed") {
    SetBorderStyle(forms::TFormBorderStyle::bsDialog);
    SetBorderIcons(false);
    SetPosition(forms::TPosition::poScreenCenter);
    SetColor(forms::clWhite);
    SetFont(MakeFont("Courier New", -13));
    KeyPreview = true;

    EntryPage.SetBounds(0, 0, 690, 245);

    forms::TSpeedButton* buttons[] = {&SBMonitor, &SBTree, &SBLog, &SBDwLoad, &SBExit};
    const int tags[] = {3, 4, 5, 6, 10};
    const char* hints[] = {"F3 - TELVOX NODES", "F4 - TELVOX TREE", "F5 - TELVOX LOG", "F6 - PROG DWLOAD",
                           "F10 - EXIT"};
    for (int i = 0; i < 5; ++i) {
        forms::TSpeedButton& b = *buttons[i];
        b.SetBounds(i * kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight);
        b.Tag = tags[i];
        b.SetHint(hints[i]);
        b.SetFlat(true);
        b.SetTransparent(true);
        b.SetCursor(forms::TCursor::crHandPoint);
        b.OnClick = [this](forms::TControl* sender) { BClick(sender); };
    }

    LVers.SetFont(MakeFont("Courier New", -13, forms::fsBold, forms::clWhite));
    LVers.SetColor(forms::clRed);
    LVers.SetTransparent(true);
    LVers.SetBounds(16, 56, 0, 0);
    LVers.SetCaption("Vers. x.x");

    SBMenu.SetBounds(0, 247, 692, 32);
    InitStatusPanels(SBMenu);
    SBMenu.OnDrawPanel = [this](forms::TStatusBar* bar, forms::TStatusPanel& panel, const forms::TRect& rect) {
        SBMenuDrawPanel(bar, panel, rect);
    };

    rdbSpeed.SetBounds(560, 2, 126, 74);
    rdbSpeed.SetColor(forms::clWhite);
    rdbSpeed.SetCaption("CAN Speed");
    rdbSpeed.SetItems({"125Kb", "62.5Kb"});
    rdbSpeed.SetItemIndex(1);
    rdbSpeed.OnClick = [this](forms::TControl* sender) { rdbSpeedClick(sender); };

    DrawPictures();
    if (forms::Application)
        forms::Application->OnMessage = [this](forms::TMsg& msg, bool& handled) { ApplicationMessage(msg, handled); };
}

TMenuForm::~TMenuForm() {
    if (forms::Application) forms::Application->OnMessage = nullptr;
}

// The background band with the program's name, and a glyph per button.
void TMenuForm::DrawPictures() {
    forms::TCanvas& page = EntryPage.Picture().Canvas();
    EntryPage.Picture().SetSize(690, 245);
    page.Brush.Color = forms::clWhite;
    page.FillRect({0, 0, 690, 245});
    page.Brush.Color = MakeRGB(176, 0, 0);
    page.FillRect({0, 0, 690, 78});
    page.Font = MakeFont("Arial", -40, forms::fsBold, forms::clWhite);
    page.TextOut(14, 6, "TELVOX");

    static const TButtonLook looks[] = {{"F3", "NODES", 40, 90, 170},  {"F4", "TREE", 0, 130, 60},
                                        {"F5", "LOG", 220, 120, 0},    {"F6", "DWLOAD", 120, 60, 160},
                                        {"F10", "EXIT", 110, 110, 110}};
    forms::TSpeedButton* buttons[] = {&SBMonitor, &SBTree, &SBLog, &SBDwLoad, &SBExit};
    for (int i = 0; i < 5; ++i) {
        forms::TBitmap glyph(110, 110);
        forms::TCanvas& c = glyph.Canvas();
        c.Brush.Color = forms::clWhite;
        c.FillRect({0, 0, 110, 110});
        c.Brush.Color = MakeRGB(200, 200, 200);
        c.FillRect({6, 6, 110, 110});
        c.Brush.Color = MakeRGB(looks[i].r, looks[i].g, looks[i].b);
        c.FillRect({0, 0, 104, 104});
        c.Font = MakeFont("Arial", -34, forms::fsBold, forms::clWhite);
        c.TextOut((104 - c.TextWidth(looks[i].key)) / 2, 18, looks[i].key);
        c.Font = MakeFont("Arial", -16, forms::fsBold, forms::clWhite);
        c.TextOut((104 - c.TextWidth(looks[i].word)) / 2, 66, looks[i].word);
        buttons[i]->SetGlyph(glyph);
    }
}

void TMenuForm::RegisterStrings() {
    RegisterDefault("APPLICATION_TITLE", "TELVX");
    RegisterDefault("MENUFORM_TITLE", "MENU");
}

void TMenuForm::FormCreate() {
    const int speed = rtl::GetPrivateProfileDecimal("General", "topSpeed", 99, kLibrarySettings);
    if (speed == 99) {
        ShowFatal("file Morvand.ini: topSpeed not found");
        Close();
        return;
    }
    HighSpeed = speed != 0 ? 1 : 0;
    RegisterStrings();
    if (InvalidateList) InvalidateList->push_back(TFuncPtr{&TMenuForm::InvalidateCallback, this});
    if (RefreshList) RefreshList->push_back(TFuncPtr{&TMenuForm::RefreshTick, this});
}

void TMenuForm::FormShow() {
    SetCaption(JoinedCaption("MENUFORM_TITLE"));
    // The keyboard rests on the form, not on the speed choice: no single key (Space, Enter, an
    // arrow) may switch the bus speed of a menu just shown.
    rdbSpeed.SetItemIndex(HighSpeed == 1 ? 0 : 1);
    SetFocus();
    ShowVersion();
    RestartState = 0;
    RestartRequested = 0;
}

void TMenuForm::ShowVersion() {
    const std::string& exe = forms::Application ? forms::Application->ExeName() : std::string();
    uint32_t handle = 0;
    const uint32_t size = rtl::GetFileVersionInfoSize(exe, &handle);
    if (size == 0) {
        LVers.SetCaption("No version found");
        return;
    }
    std::vector<char> block(size);
    if (!rtl::GetFileVersionInfo(exe, handle, size, block.data())) return;
    void* value = nullptr;
    uint32_t length = 0;
    if (!rtl::VerQueryValue(block.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4) return;
    uint16_t language, codePage;
    std::memcpy(&language, value, 2);
    std::memcpy(&codePage, static_cast<char*>(value) + 2, 2);
    char subBlock[64];
    std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04X%04X\\ProductVersion", language, codePage);
    if (rtl::VerQueryValue(block.data(), subBlock, &value, &length) && length != 0)
        LVers.SetCaption(std::string("Vers. ") + static_cast<const char*>(value));
}

bool TMenuForm::DownloadAllows(const std::string& question) {
    const TDownloadSequence* download = DwldUIForm ? DwldUIForm->Sequence() : nullptr;
    if (!download || !download->NodesInBootLoader()) return true;
    return rtl::MessageBox("DOWNLOAD IN CORSO!\r\n" + question, "ATTENZIONE", rtl::MB_YESNO | rtl::MB_DEFBUTTON2) ==
           rtl::IDYES;
}

// Every way of ending the program closes the menu: Alt+F4, the window manager's close request,
// F10 and EXIT.
void TMenuForm::FormClose(forms::TCloseAction& Action) {
    if (!DownloadAllows("USCIRE COMUNQUE?")) {
        Action = forms::TCloseAction::caNone;
        return;
    }
    if (SetupFile) {
        if (WindowState() == forms::TWindowState::wsNormal) {
            SetupFile->Top = Top();
            SetupFile->Left = Left();
            SetupFile->Width = Width();
            SetupFile->Height = Height();
        }
        SetupFile->State = static_cast<int>(WindowState());
        SetupFile->Write();
    }
    Action = forms::TCloseAction::caFree;
}

void TMenuForm::FormPaint() { Canvas().FillRect({0, 0, Width(), Height()}); }

void TMenuForm::FormKeyDown(uint16_t& Key, forms::TShiftState Shift) {
    // Each key of the menu opens a window or ends the program: held, it acts once, and its
    // repeats do not reach the window it opened (nor end the program from the menu just shown).
    if (Shift & forms::ssRepeat) return;
    switch (Key) {
        case forms::VK_F3: MenuSelect(3); break;
        case forms::VK_F4: MenuSelect(4); break;
        case forms::VK_F5: MenuSelect(5); break;
        case forms::VK_F6: MenuSelect(6); break;
        case forms::VK_F10: MenuSelect(10); break;
        default: MenuSelect(0); break;
    }
}

void TMenuForm::BClick(forms::TControl* Sender) { MenuSelect(Sender->Tag); }

void TMenuForm::MenuSelect(int command) {
    if (_CmdLineData::Flags & _CmdLineData::MenuLocked) return;
    if (const char* name = WindowOf(command)) {
        // While the library is being restarted the menu stays in front, so that the restart
        // (which advances only while the menu is active) always comes to its end.
        if (RestartRequested) return;
        forms::TForm* window = forms::Application ? forms::Application->FindForm(name) : nullptr;
        if (!window) return;
        window->Show();
        Hide();
    } else if (command == 10) {
        SBExit.SetTransparent(false);
        Close();
    }
}

void TMenuForm::SBMenuDrawPanel(forms::TStatusBar* StatusBar, forms::TStatusPanel& Panel, const forms::TRect& Rect) {
    DrawStatusPanel(*StatusBar, Rect, kPanelColour, Font(), PanelText(Panel, DateShown, TimeShown, StatusText));
}

void TMenuForm::RefreshTick(void* data) {
    auto* menu = static_cast<TMenuForm*>(data);
    if (!IsActiveWindow(*menu)) return;
    if (TakeDateTime(menu->DateShown, menu->TimeShown)) menu->SBMenu.Invalidate();
    menu->RestartStep();
}

void TMenuForm::InvalidateCallback(void* data) { static_cast<TMenuForm*>(data)->Invalidate(); }

void TMenuForm::rdbSpeedClick(forms::TControl*) {
    RestartRequested = 0;
    rtl::TIniFile ini(kLibrarySettings);
    const int stored = rtl::GetPrivateProfileDecimal("General", "topSpeed", 99, ini.FileName());
    int speed = stored;
    const int item = rdbSpeed.ItemIndex();
    if (item == 0 && speed == 0) {
        speed = 1;
        RestartRequested = 1;
    } else if (item == 1 && speed != 0) {
        speed = 0;
        RestartRequested = 1;
    }
    // Nodes in their boot loader stay at the old speed and would no longer hear the program.
    if (RestartRequested && !DownloadAllows("CAMBIARE VELOCITA' COMUNQUE?")) return KeepStoredSpeed(stored);
    if (!ini.WriteInteger("General", "topSpeed", speed)) {
        // The library takes its speed from the file alone: a restart now would bring it back at
        // the stored speed.
        KeepStoredSpeed(stored);
        rtl::MessageBox("SALVATAGGIO FALLITO!", "ATTENZIONE", rtl::MB_OK);
        return;
    }
    HighSpeed = speed != 0 ? 1 : 0;
}

// No restart runs, and the choice shows the stored speed again (setting the item runs no click).
void TMenuForm::KeepStoredSpeed(int stored) {
    RestartRequested = 0;
    HighSpeed = stored != 0 ? 1 : 0;
    rdbSpeed.SetItemIndex(HighSpeed == 1 ? 0 : 1);
}

void TMenuForm::SetControlsEnabled(bool enabled) {
    for (forms::TControl* c : std::initializer_list<forms::TControl*>{&SBMonitor, &SBTree, &SBLog, &SBDwLoad,
                                                                     &SBExit, &rdbSpeed})
        c->SetEnabled(enabled);
}

void TMenuForm::RestartStep() {
    if (!RestartRequested) return;
    const uint32_t now = SysTick.load();
    const bool due = now > RestartStamp + kRestartPause;
    switch (RestartState) {
        case 0:
            SetControlsEnabled(false);
            if (Scheduler) Scheduler->Paused = 1;
            StatusText = "WAIT... RESTARTING...";
            SBMenu.Invalidate();
            RestartStamp = now;
            RestartState = 1;
            break;
        case 1:
            if (!due) return;
            _DestroyCANThread();
            RestartStamp = SysTick.load();
            RestartState = 2;
            break;
        case 2:
            if (!due) return;
            _CreateCANThread(".//Morvand");
            RestartStamp = SysTick.load();
            RestartState = 3;
            break;
        default:
            if (!due) return;
            if (Scheduler) Scheduler->Paused = 0;
            StatusText.clear();
            SBMenu.Invalidate();
            SetControlsEnabled(true);
            RestartRequested = 0;
            RestartState = 0;
            break;
    }
}

void TMenuForm::TimeNow(uint64_t& time) { time = rtl::GetSystemTimeAsFileTime(); }

void TMenuForm::SetDeadline(uint64_t& deadline, int32_t ms) {
    TimeNow(ScratchTime);
    deadline = ScratchTime + static_cast<uint64_t>(static_cast<int64_t>(ms) * 10000);
}

bool TMenuForm::DeadlinePassed(uint64_t deadline) {
    TimeNow(ScratchTime);
    return ScratchTime > deadline;
}

void TMenuForm::ApplicationMessage(forms::TMsg& Msg, bool& Handled) {
    AppMessageHandler(TMessage{Msg.Window, Msg.Message, Msg.WParam, Msg.LParam}, Handled);
}
