// The main menu, driven as the user drives it: keys and buttons with stand-ins for the working
// windows, the locked menu, the version label, the caption, the window settings written on close,
// and the bus-speed switch with its restart of the library paced by the refresh tick.
#include <QImage>
#include <QTimer>

#include "AppStrings.h"
#include "Scheduler.h"
#include "SetupFile.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "rtl/Clock.h"
#include "rtl/Profile.h"
#include "windows_common/InstallFixture.h"

using namespace forms;

namespace {

// A working window as far as the menu is concerned: F10 hides it, hiding shows the menu.
class TStandIn : public TForm {
public:
    TStandIn() : TForm("StandIn", 200, 120) { KeyPreview = true; }

protected:
    void FormKeyDown(uint16_t& key, TShiftState) override {
        if (key != VK_F10) return;
        key = 0;
        Hide();
    }
    void FormHide() override { MenuForm->Show(); }
};

// The installation with the menu's settings at hand.
class MenuInstall : public InstallTest {
protected:
    void SetTopSpeed(const std::string& line) {
        WriteText(work / "Morvand.ini", "[General]\r\ntopSpeed=" + line + "\r\nlogEn=0\r\n");
    }
    std::string TopSpeed() const {
        return rtl::GetPrivateProfileString("General", "topSpeed", "absent", (work / "Morvand.ini").string());
    }
    int SetupValue(const char* key) const {
        return rtl::GetPrivateProfileInt("UI", key, -1, (base / "IN" / "TELVOX.ini").string());
    }
};

// The objects the menu works with, without the library: the test starts it where it needs it.
// The scheduler is never resumed; the test runs its passes on a clock it moves.
class MenuTest : public MenuInstall {
protected:
    void SetUp() override {
        MenuInstall::SetUp();
        MakeWindowObjects();
        SetupFile = std::make_unique<TSetupFile>("IN\\TELVOX.ini");
        SetupFile->Read();
    }

    TMenuForm* ShowMenu() {
        app->CreateForm(MenuForm);
        drive::Activate(*MenuForm);
        return MenuForm;
    }
    TStandIn* StandIn(const char* name) {
        TStandIn* form = nullptr;
        app->CreateForm(form);
        form->Name = name;
        return form;
    }
    // Moves the clock and runs a scheduler pass; its refresh reaches the windows.
    void Tick(uint32_t ms) {
        clock.Advance(ms);
        Scheduler->Pass();
        app->ProcessMessages();
    }
    bool ControlsEnabled(bool enabled) const {
        for (TControl* c : std::initializer_list<TControl*>{&MenuForm->SBMonitor, &MenuForm->SBTree, &MenuForm->SBLog,
                                                            &MenuForm->SBDwLoad, &MenuForm->SBExit,
                                                            &MenuForm->rdbSpeed})
            if (c->Enabled() != enabled) return false;
        return true;
    }

    rtl::ManualClock clock{50'000};
    rtl::ScopedClock scopedClock{clock};
};

struct SpeedCase {
    const char* stored;
    int item;
    uint8_t highSpeed;
};

class MenuSpeedTest : public MenuTest, public ::testing::WithParamInterface<SpeedCase> {};

}  // namespace

TEST_P(MenuSpeedTest, StoredSpeedSelectsItsItem) {
    SetTopSpeed(GetParam().stored);
    TMenuForm* menu = ShowMenu();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(menu->HighSpeed, GetParam().highSpeed);
    EXPECT_EQ(menu->rdbSpeed.ItemIndex(), GetParam().item);
    EXPECT_EQ(menu->Caption(), "TELVX - MENU");
    ASSERT_EQ(RefreshList->size(), 1u);
    EXPECT_EQ((*RefreshList)[0].Data, menu);
    EXPECT_EQ(InvalidateList->size(), 1u);
}

TEST_P(MenuSpeedTest, NoSingleKeyOnTheFreshMenuChangesTheSpeed) {
    SetTopSpeed(GetParam().stored);
    TMenuForm* menu = ShowMenu();
    for (uint16_t key : {VK_SPACE, VK_RETURN, VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT}) {
        drive::PressKey(*menu, key);
        app->ProcessMessages();
        EXPECT_EQ(menu->rdbSpeed.ItemIndex(), GetParam().item) << "key " << key;
    }
    EXPECT_EQ(TopSpeed(), GetParam().stored);
    EXPECT_EQ(menu->RestartRequested, 0);
    EXPECT_FALSE(menu->rdbSpeed.Focused());
}

INSTANTIATE_TEST_SUITE_P(Speeds, MenuSpeedTest,
                         ::testing::Values(SpeedCase{"1", 0, 1}, SpeedCase{"0", 1, 0}, SpeedCase{"2", 0, 1}));

class MenuFatalTest : public MenuTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MenuFatalTest, MissingSpeedEndsTheProgramAfterWritingTheSettings) {
    WriteText(work / "Morvand.ini", GetParam());
    WriteText(base / "IN" / "TELVOX.ini", "");
    app->CreateForm(MenuForm);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "file Morvand.ini: topSpeed not found");
    EXPECT_EQ(boxes[0].caption, "FATAL ERROR");
    EXPECT_TRUE(app->Terminated());
    EXPECT_TRUE(StartRefused);
    EXPECT_TRUE(RefreshList->empty());
    EXPECT_EQ(SetupValue("WINWIDTH"), MenuForm->Width()) << "the close wrote the window settings";
    EXPECT_EQ(SetupValue("WINSTATUS"), 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, MenuFatalTest,
                         ::testing::Values("[General]\r\nlogEn=0\r\n", "[Other]\r\ntopSpeed=1\r\n",
                                           "[General]\r\ntopSpeed=fast\r\n",
                                           "[General]\r\ntopSpeed=1 ; 125k\r\n"));

TEST_F(MenuTest, CaptionJoinsTheTitlesAndMissingTitlesAreRegistered) {
    WriteText(base / "USR" / "AppStr.cfg", "\"APPLICATION_TITLE\" \"PLANT\" \"P\" \"P\" \"P\"\r\n");
    ASSERT_TRUE((AppStr = std::make_unique<TAppStrings>("USR\\AppStr.cfg"))->Load());
    TMenuForm* menu = ShowMenu();
    EXPECT_EQ(menu->Caption(), "PLANT - MENU");
    const std::string file = ReadText(base / "USR" / "AppStr.cfg");
    EXPECT_NE(file.find("MENUFORM_TITLE"), std::string::npos);
    EXPECT_EQ(file.find("TELVX"), std::string::npos) << "a present key keeps its text";
}

TEST_F(MenuTest, VersionLabelShowsTheProductVersion) {
    TMenuForm* menu = ShowMenu();
    EXPECT_EQ(menu->LVers.Caption(), std::string("Vers. ") + TELVOX_SHORT_VERSION);
    app->SetExeName((work / "Morvand.ini").string());
    menu->ShowVersion();
    EXPECT_EQ(menu->LVers.Caption(), "No version found");
}

TEST_F(MenuTest, FunctionKeysAndButtonsOpenTheWorkingWindows) {
    TMenuForm* menu = ShowMenu();
    struct Case {
        uint16_t key;
        const char* window;
    };
    const Case cases[] = {{VK_F3, "NodesUIForm"}, {VK_F4, "TreeUIForm"}, {VK_F5, "MsgUIForm"}, {VK_F6, "DwldUIForm"}};
    for (const Case& c : cases) StandIn(c.window);
    drive::Activate(*menu);
    for (const Case& c : cases) {
        drive::PressKey(*menu, c.key);
        TForm* window = app->FindForm(c.window);
        EXPECT_TRUE(window->Visible()) << c.window;
        EXPECT_EQ(app->ActiveForm(), window);
        EXPECT_FALSE(menu->Visible());
        drive::PressKey(*window, VK_F10);
        EXPECT_FALSE(window->Visible());
        EXPECT_TRUE(menu->Visible());
        EXPECT_EQ(app->ActiveForm(), menu);
    }
    menu->SBLog.Click();
    EXPECT_TRUE(app->FindForm("MsgUIForm")->Visible());
    EXPECT_FALSE(menu->Visible());
    EXPECT_FALSE(app->Terminated());
}

// A held key acts once: the auto-repeats of the F10 that brought the menu back, or of a key that
// opened a window, reach the menu and do nothing.
TEST_F(MenuTest, RepeatsOfAHeldKeyDoNothing) {
    TMenuForm* menu = ShowMenu();
    TStandIn* nodes = StandIn("NodesUIForm");
    drive::Activate(*menu);
    for (uint16_t key : {VK_F10, VK_F3, VK_F5, VK_F10}) drive::PressKey(*menu, key, ssRepeat);
    EXPECT_FALSE(app->Terminated());
    EXPECT_FALSE(nodes->Visible());
    EXPECT_EQ(app->ActiveForm(), menu);
}

TEST_F(MenuTest, WindowsNotCreatedLeaveTheMenuInFront) {
    TMenuForm* menu = ShowMenu();
    drive::PressKey(*menu, VK_F4);
    menu->SBDwLoad.Click();
    drive::PressKey(*menu, VK_F2);
    EXPECT_TRUE(menu->Visible());
    EXPECT_EQ(app->ActiveForm(), menu);
}

TEST_F(MenuTest, F10EndsTheProgramAndWritesTheWindowSettings) {
    TMenuForm* menu = ShowMenu();
    drive::PressKey(*menu, VK_F10);
    EXPECT_TRUE(app->Terminated());
    EXPECT_EQ(SetupValue("WINTOP"), menu->Top());
    EXPECT_EQ(SetupValue("WINLEFT"), menu->Left());
    EXPECT_EQ(SetupValue("WINWIDTH"), menu->Width());
    EXPECT_EQ(SetupValue("WINHEIGHT"), menu->Height());
    EXPECT_EQ(SetupValue("WINSTATUS"), 0);
}

TEST_F(MenuTest, ExitButtonEndsTheProgram) {
    TMenuForm* menu = ShowMenu();
    menu->SBExit.Click();
    EXPECT_TRUE(app->Terminated());
}

TEST_F(MenuTest, LockedMenuIgnoresItsCommandsButNotAltF4) {
    const char* argv[] = {"telvox", "/Wout.txt"};
    ParseCommandLine(2, argv);
    ASSERT_TRUE(_CmdLineData::Flags & _CmdLineData::MenuLocked);
    TMenuForm* menu = ShowMenu();
    TStandIn* nodes = StandIn("NodesUIForm");
    drive::Activate(*menu);
    for (uint16_t key : {VK_F3, VK_F10}) drive::PressKey(*menu, key);
    menu->SBMonitor.Click();
    menu->SBExit.Click();
    EXPECT_FALSE(nodes->Visible());
    EXPECT_TRUE(menu->Visible());
    EXPECT_FALSE(app->Terminated());
    drive::PressKey(*menu, VK_F4, ssAlt);
    EXPECT_TRUE(app->Terminated());
}

TEST_F(MenuTest, AltF4EndsTheProgramFromAnyWindow) {
    ShowMenu();
    TStandIn* tree = StandIn("TreeUIForm");
    drive::PressKey(*MenuForm, VK_F4);
    ASSERT_TRUE(tree->Visible());
    EXPECT_FALSE(app->Terminated()) << "F4 alone opens the tree";
    drive::PressKey(*tree, VK_F4, ssAlt);
    EXPECT_TRUE(app->Terminated());
}

// Alt+F4, or the window manager's close request that stands for it on a desktop, from the menu
// or from a working window: the program ends as the menu's close ends it.
struct EndCase {
    const char* name;
    bool fromTree;
    bool closeRequest;
};

class MenuEndTest : public MenuTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(MenuEndTest, EndsTheProgramAndWritesTheWindowSettings) {
    TMenuForm* menu = ShowMenu();
    TForm* window = menu;
    if (GetParam().fromTree) {
        window = StandIn("TreeUIForm");
        drive::PressKey(*menu, VK_F4);
        ASSERT_TRUE(window->Visible());
    }
    if (GetParam().closeRequest) drive::CloseRequest(*window);
    else drive::PressKey(*window, VK_F4, ssAlt);
    EXPECT_TRUE(app->Terminated());
    EXPECT_EQ(SetupValue("WINWIDTH"), menu->Width());
    EXPECT_EQ(SetupValue("WINSTATUS"), 0);
}

INSTANTIATE_TEST_SUITE_P(Ends, MenuEndTest,
                         ::testing::Values(EndCase{"AltF4OnMenu", false, false}, EndCase{"AltF4OnTree", true, false},
                                           EndCase{"CloseRequestOnMenu", false, true},
                                           EndCase{"CloseRequestOnTree", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MenuTest, RefreshCopiesDateAndTimeOnlyWhileTheMenuIsActive) {
    TMenuForm* menu = ShowMenu();
    TStandIn* log = StandIn("MsgUIForm");
    drive::Activate(*menu);
    Tick(150);
    EXPECT_EQ(menu->DateShown, DateText.Get());
    EXPECT_EQ(menu->TimeShown, TimeText.Get());
    EXPECT_FALSE(menu->TimeShown.empty());

    drive::PressKey(*menu, VK_F5);
    ASSERT_EQ(app->ActiveForm(), log);
    const std::string shown = menu->TimeShown;
    Tick(5000);
    EXPECT_NE(TimeText.Get(), shown);
    EXPECT_EQ(menu->TimeShown, shown);
}

TEST_F(MenuTest, SwitchingTheSpeedRestartsTheLibraryInFourStepsPacedByTheTick) {
    ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
    EXPECT_EQ(net->BitRate(), 125000u);
    TMenuForm* menu = ShowMenu();
    TStandIn* nodes = StandIn("NodesUIForm");
    drive::Activate(*menu);
    Tick(150);

    menu->rdbSpeed.ClickItem(1);
    EXPECT_EQ(TopSpeed(), "0");
    EXPECT_EQ(menu->HighSpeed, 0);
    EXPECT_EQ(menu->RestartRequested, 1);

    Tick(150);  // step 0: pause and disable
    EXPECT_EQ(menu->RestartState, 1);
    EXPECT_TRUE(ControlsEnabled(false));
    EXPECT_EQ(Scheduler->Paused.load(), 1);
    EXPECT_EQ(menu->StatusText, "WAIT... RESTARTING...");
    drive::PressKey(*menu, VK_F3);
    EXPECT_FALSE(nodes->Visible()) << "the menu stays in front until the restart ends";

    Tick(1850);
    Tick(150);  // exactly 2000 ms: not yet due
    EXPECT_EQ(menu->RestartState, 1);
    EXPECT_NE(_MORVANDGetDLLStatPtr(), nullptr);
    Tick(101);  // step 1: destroy
    EXPECT_EQ(menu->RestartState, 2);
    EXPECT_EQ(_MORVANDGetDLLStatPtr(), nullptr);

    Tick(1000);
    EXPECT_EQ(_MORVANDGetDLLStatPtr(), nullptr);
    Tick(1001);  // step 2: create at the new speed
    EXPECT_EQ(menu->RestartState, 3);
    EXPECT_NE(_MORVANDGetDLLStatPtr(), nullptr);
    EXPECT_EQ(net->BitRate(), 62500u);
    EXPECT_EQ(Scheduler->Paused.load(), 1);

    Tick(2001);  // step 3: resume and enable
    EXPECT_EQ(menu->RestartRequested, 0);
    EXPECT_EQ(menu->RestartState, 0);
    EXPECT_EQ(Scheduler->Paused.load(), 0);
    EXPECT_TRUE(ControlsEnabled(true));
    EXPECT_EQ(menu->StatusText, "");
    Tick(5000);
    EXPECT_EQ(menu->RestartState, 0);

    drive::PressKey(*menu, VK_F3);
    EXPECT_TRUE(nodes->Visible());
}

TEST_F(MenuTest, PickingTheStoredSpeedWritesItBackWithoutRestart) {
    struct Case {
        const char* stored;
        int item;
        const char* written;
        uint8_t restart;
        bool readOnly = false;  // the write fails: caught if the switch went on as if it had landed
    };
    const Case cases[] = {{"1", 0, "1", 0}, {"0", 1, "0", 0},       {"0", 0, "1", 1},      {"7", 1, "0", 1},
                          {"7", 0, "7", 0}, {"1", 1, "1", 0, true}, {"0", 0, "0", 0, true},
                          {"1", 0, "1", 0, true}};
    TMenuForm* menu = ShowMenu();
    for (const Case& c : cases) {
        const std::string name = std::string(c.stored) + " item " + std::to_string(c.item);
        SetTopSpeed(c.stored);
        if (c.readOnly) fs::permissions(work / "Morvand.ini", fs::perms::owner_read | fs::perms::group_read);
        boxes.clear();
        menu->rdbSpeed.SetItemIndex(1 - c.item);
        menu->rdbSpeed.ClickItem(c.item);
        EXPECT_EQ(TopSpeed(), c.written) << name;
        EXPECT_EQ(menu->RestartRequested, c.restart) << name;
        EXPECT_EQ(menu->HighSpeed, uint8_t(std::string(c.written) != "0")) << name;
        const int shown = c.readOnly ? (std::string(c.stored) == "0" ? 1 : 0) : c.item;  // the stored speed
        EXPECT_EQ(menu->rdbSpeed.ItemIndex(), shown) << name;
        ASSERT_EQ(boxes.size(), c.readOnly ? 1u : 0u) << name << ": one box, the restored item ran no click";
        if (c.readOnly) {
            EXPECT_EQ(boxes[0].text, "SALVATAGGIO FALLITO!");
            EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
            fs::permissions(work / "Morvand.ini", fs::perms::owner_all);
        }
        menu->RestartRequested = 0;
    }
    Tick(150);
    EXPECT_EQ(Scheduler->Paused.load(), 0);
    EXPECT_TRUE(ControlsEnabled(true));
}

TEST_F(MenuTest, ShowingTheMenuNeverLeavesARestartArmed) {
    TMenuForm* menu = ShowMenu();
    menu->rdbSpeed.ClickItem(1);
    ASSERT_EQ(menu->RestartRequested, 1);
    menu->Hide();
    drive::Activate(*menu);
    EXPECT_EQ(menu->RestartRequested, 0);
    EXPECT_EQ(menu->rdbSpeed.ItemIndex(), 1) << "the stored speed is the new one";
}

TEST_F(MenuTest, DeadlinesOnTheSystemTime) {
    TMenuForm* menu = ShowMenu();
    uint64_t now = 0, deadline = 0;
    menu->TimeNow(now);
    EXPECT_EQ(now, clock.SystemTime());
    menu->SetDeadline(deadline, 1000);
    EXPECT_EQ(deadline, now + 10'000'000u);
    clock.Advance(1000);
    EXPECT_FALSE(menu->DeadlinePassed(deadline));
    clock.Advance(1);
    EXPECT_TRUE(menu->DeadlinePassed(deadline));
    menu->SetDeadline(deadline, -5);
    EXPECT_TRUE(menu->DeadlinePassed(deadline));
}

TEST_F(MenuTest, LooksRightWithTheStatusPanelsInTheirColour) {
    TMenuForm* menu = ShowMenu();
    Tick(150);
    menu->StatusText = "WAIT... RESTARTING...";
    const QImage image = Screenshot(*menu, "menu");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 692);
    EXPECT_EQ(image.height(), 279);
    // Panel "1" of the status bar, beside the centred date.
    const int barTop = menu->SBMenu.Top();
    EXPECT_EQ(image.pixelColor(4, barTop + menu->SBMenu.Height() / 2), QColor(166, 202, 240));
    EXPECT_EQ(image.pixelColor(140, 140), QColor(255, 255, 255)) << "the form is white between the glyphs";
    EXPECT_EQ(image.pixelColor(300, 20), QColor(176, 0, 0)) << "the band behind the name and version";
}

// The whole program on the installation: start-up, the main routine and its message loop with the
// real scheduler thread, shutdown.
using ProgramTest = MenuInstall;

TEST_F(ProgramTest, StartsShowsTheMenuRefreshesItAndEndsWithF10) {
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_TRUE(boxes.empty());
    bool pressed = false;
    EXPECT_EQ(RunProgram([&] {
        if (!pressed && MenuForm && MenuForm->Visible() && !MenuForm->TimeShown.empty()) {
            pressed = true;
            drive::PressKey(*MenuForm, VK_F10);
        }
    }), 0);
    ASSERT_TRUE(pressed) << "the menu was shown and refreshed";
    EXPECT_FALSE(StartRefused);
    EXPECT_EQ(app->ActiveForm(), MenuForm);
    EXPECT_EQ(MenuForm->Caption(), "TELVX - MENU");
    EXPECT_EQ(SetupValue("WINWIDTH"), MenuForm->Width());
}

TEST_F(ProgramTest, FailedStartUpCreatesNoWindowAndEndsAtOnce) {
    fs::remove(base / "USR" / "AppStr.cfg");
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "FATAL ERROR");
    EXPECT_EQ(WinMain(), 0);
    EXPECT_EQ(MenuForm, nullptr);
}
