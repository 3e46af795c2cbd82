// The program download window, driven as the user drives it beside the real menu: the grid of the
// present nodes in their state colours, selection by right click and SELECT ALL, the file choice,
// a whole download into selected nodes of the simulated network through the shipped library, the
// version collection, the way back to the menu, and the refresh that works only while the window
// is in front.
#include <QColor>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include "AppStrings.h"
#include "DwlFc.h"
#include "Fancoil.h"
#include "ScheduleHelpers.h"
#include "Scheduler.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "protocol_roads/HexRecords.h"
#include "rtl/Clock.h"
#include "rtl/Profile.h"
#include "sim/BootLoader.h"
#include "windows_common/InstallFixture.h"

using namespace forms;

namespace {

constexpr uint16_t OldVersion = 0x4601, NewVersion = 0x4702, ZemVersion = 0x3107;
enum : uint8_t { Idle, Opening, BootLoaders, Erase, ReadFile, SendRecords, SendCrc, AwaitRestart, AwaitVersions };

bool Eventually(const std::function<bool()>& condition, int ms = 20000) {
    for (int i = 0; i < ms; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

// A file of 1 kB of code with the version word at its place, opened by an address record and
// closed by the end record.
std::string FirmwareFile() {
    std::vector<std::string> records = {HexRecord(0, 4, {0, 0})};
    for (unsigned a = 0; a < 1024; a += 16) {
        std::vector<uint8_t> data;
        for (unsigned i = a; i < a + 16; ++i) data.push_back(uint8_t(i * 5 + 3));
        records.push_back(HexRecord(uint16_t(a), 0, data));
    }
    records.push_back(HexRecord(sim::kVersionAddress, 0, {uint8_t(NewVersion), uint8_t(NewVersion >> 8)}));
    records.push_back(HexRecord(0, 1, {}));
    std::string text;
    for (const std::string& r : records) text += ":" + r + "\r\n";
    return text;
}

// The installation with its nodes on a bus that runs in real time, and the file dialog answered
// by the test.
class Installation : public InstallTest {
protected:
    Installation() {
        net->SetTimeMode(sim::TimeMode::RealTime);
        for (uint8_t n : {40, 41, 42, 45, 127}) {
            sim::NodeConfig c;
            c.number = n;
            c.version = n == 127 ? ZemVersion : OldVersion;
            c.heartbeatPeriod = 100 * sim::kMs;
            c.values.master = n;
            net->AddNode(c);
        }
    }

    void SetUp() override {
        InstallTest::SetUp();
        fs::create_directories(work / "IN");
        previousDialog = SetOpenDialogHandler([this](const TOpenDialog& dialog) {
            dialogs.push_back(dialog.InitialDir + " " + dialog.Filter);
            return chosen;
        });
    }

    void TearDown() override {
        SetOpenDialogHandler(previousDialog);
        InstallTest::TearDown();
    }

    std::vector<std::string> dialogs;
    std::optional<std::string> chosen;
    OpenDialogHandler previousDialog;
};

// The program's objects built as start-up builds them, the scheduler never resumed: the test runs
// its passes (the poller and the refresh) on a clock it moves. The library is started only where
// a test needs the bus.
class DwloadTest : public Installation {
protected:
    void SetUp() override {
        Installation::SetUp();
        MakeWindowObjects();
        FanStr = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
        ASSERT_TRUE(FanStr->Load());
        FancoilData = std::make_unique<TFancoil>(*FanStr);
        Scheduler->AddEntry(TFuncPtr{&TFancoil::PollEntry, FancoilData.get()});
        DwlFc = std::make_unique<TDwlFc>();
        app->CreateForm(MenuForm);
        app->CreateForm(DwldUIForm);
        window = DwldUIForm;
    }

    // The window opened from the menu with F6, as the user opens it.
    void Open() {
        drive::Activate(*MenuForm);
        drive::PressKey(*MenuForm, VK_F6);
        ASSERT_TRUE(window->Visible());
        ASSERT_EQ(app->ActiveForm(), window);
    }
    // Moves the clock and runs a scheduler pass; its refresh reaches the windows.
    void Tick(uint32_t ms = 101) {
        clock.Advance(ms);
        Scheduler->Pass();
        app->ProcessMessages();
    }
    // Paints the window whole, as the screen does; the grid's cells refill the table.
    QImage Paint() { return window->Widget()->grab().toImage(); }
    // The model's presence set directly, without the library.
    void Present(std::initializer_list<int> nodes) {
        uint16_t words[7] = {};
        for (int n : nodes) words[(n - 21) / 16] |= uint16_t(1u << ((n - 21) % 16));
        for (int k = 0; k < 7; ++k) FancoilData->Store(127, 5 + k, int16_t(words[k]), TFancoil::kTypeInteger);
        FancoilData->SetChanged(127);
    }
    // The library started on the network, and the model reading its presence bitmaps once every
    // node has sent two operational heartbeats since (the second surely reached the library).
    void StartLibrary() {
        net->SetCapture(true);
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        ASSERT_TRUE(TwoHeartbeatsSinceCapture(net->NodeNumbers()));
        // Values an earlier test left in the library's database do not change again: the model
        // reads them all once.
        for (int n = 21; n <= 127; ++n) _ForceNodeChanged(uint8_t(n), 0xFF);
        ASSERT_TRUE(ModelShows({40, 41, 42, 45, 127}));
    }
    // True once each node has sent two operational heartbeats since the capture was switched on
    // (the second surely reached the library); the capture ends.
    bool TwoHeartbeatsSinceCapture(const std::vector<uint8_t>& nodes) {
        std::map<int, int> seen;
        const bool sent = Eventually([&] {
            for (const sim::BusFrame& b : net->TakeCapture())
                if ((b.frame.id & 0x780) == 0x700 && b.frame.data[0] == 5) ++seen[int(b.frame.id & 0x7F)];
            for (uint8_t n : nodes)
                if (seen[n] < 2) return false;
            return true;
        });
        net->SetCapture(false);
        return sent;
    }
    // The library keeps its database across instances: have the model read the bitmaps afresh.
    bool ModelShows(std::initializer_list<int> present, std::initializer_list<int> absent = {}) {
        return Eventually([&] {
            _ForceNodeChanged(127, 0x80);
            Scheduler->Pass();
            app->ProcessMessages();
            for (int n : present)
                if (!FancoilData->IsPresent(n)) return false;
            for (int n : absent)
                if (FancoilData->IsPresent(n)) return false;
            return true;
        });
    }
    void RightClick(int row, int x = 20) {
        const TRect cell = window->SGWin1.CellRect(0, row);
        drive::MouseUp(window->SGWin1, TMouseButton::mbRight, x, cell.Top + cell.Height() / 2);
    }
    uint8_t DownloadState() const { return window->Sequence()->GetDownloadState(); }
    uint8_t CollectState() const { return window->Sequence()->GetCollectState(); }
    bool ButtonsEnabled() const { return window->BDwLd.Enabled() && window->BCollVers.Enabled(); }
    bool ButtonsDisabled() const { return !window->BDwLd.Enabled() && !window->BCollVers.Enabled(); }
    // The colour of a grid row, well right of its texts.
    QColor RowColour(const QImage& image, int row) const {
        const TRect cell = window->SGWin1.CellRect(1, row);
        const QPoint at = window->SGWin1.Widget()->mapTo(window->Widget(), QPoint(cell.Left + 180, cell.Top + 8));
        return image.pixelColor(at);
    }

    rtl::ManualClock clock{50'000};
    rtl::ScopedClock scopedClock{clock};
    TDwldUIForm* window = nullptr;
};

}  // namespace

TEST_F(DwloadTest, CreatedIdleWithItsTitleRefreshAndGrid) {
    Open();
    EXPECT_EQ(window->Caption(), "TELVX - DWLD PANEL");
    EXPECT_EQ(window->LockColour(), 0x00FF00u);
    EXPECT_EQ(window->LSelFile.Caption(), "");
    ASSERT_NE(window->Sequence(), nullptr);
    EXPECT_EQ(DownloadState(), Idle);
    EXPECT_EQ(window->SGWin1.RowCount(), 107);
    EXPECT_EQ(window->SGWin1.ColCount(), 2);
    EXPECT_EQ(window->SGWin1.ColWidth(0), 60);
    EXPECT_EQ(window->SGWin1.ColWidth(1), 200);
    EXPECT_EQ(window->SGWin1.Top() + window->SGWin1.Height(), window->SBMonitor.Top() - 10);
    ASSERT_EQ(RefreshList->size(), 2u);
    EXPECT_EQ((*RefreshList)[1].Data, window);
    EXPECT_EQ(InvalidateList->size(), 2u);
    // Resizing keeps the grid ending above the status bar.
    window->SetClientSize(500, 700);
    app->ProcessMessages();
    EXPECT_EQ(window->SBMonitor.Top(), 700 - window->SBMonitor.Height());
    EXPECT_EQ(window->SGWin1.Top() + window->SGWin1.Height(), window->SBMonitor.Top() - 10);
}

TEST_F(DwloadTest, GridListsThePresentNodesInTheirStateColours) {
    Present({40, 41, 42, 45, 127});
    Open();
    Tick();
    Paint();
    const uint8_t expected[] = {40, 41, 42, 45, 127, 0};
    for (int slot = 0; slot < 6; ++slot) EXPECT_EQ(DwlFc->GetNode(slot), expected[slot]) << slot;
    DwlFc->Select(1);
    DwlFc->MarkDone(2);
    DwlFc->MarkFailed(3);
    window->StatusText = "";
    const QImage image = Screenshot(*window, "dwload");
    ASSERT_FALSE(image.isNull());
    const QColor background(208, 208, 255);
    EXPECT_EQ(RowColour(image, 0), background);
    EXPECT_EQ(RowColour(image, 1), QColor(255, 255, 0)) << "selected: yellow";
    EXPECT_EQ(RowColour(image, 2), QColor(0, 255, 0)) << "done: green";
    EXPECT_EQ(RowColour(image, 3), QColor(255, 0, 0)) << "failed: red";
    EXPECT_EQ(RowColour(image, 5), background) << "an empty slot";
    const QPoint lock = window->Lock.Widget()->mapTo(window->Widget(), QPoint(100, 5));
    EXPECT_EQ(image.pixelColor(lock), QColor(0, 255, 0));
    const QPoint panel = window->SBMonitor.Widget()->mapTo(window->Widget(), QPoint(4, window->SBMonitor.Height() / 2));
    EXPECT_EQ(image.pixelColor(panel), background);

    // A node that leaves the bus leaves the list at the next paint; the marks stay with the slots.
    Present({40, 42, 45, 127});
    Tick();
    app->ProcessMessages();  // the paint the refresh asked for
    EXPECT_EQ(DwlFc->GetNode(1), 42) << "the refresh redraws the cells by itself";
    Paint();
    EXPECT_EQ(DwlFc->GetNode(1), 42);
    EXPECT_EQ(DwlFc->GetState(1), TDwlFc::StateSelected);
    EXPECT_EQ(DwlFc->GetNode(4), 0);
}

TEST_F(DwloadTest, RightClickTogglesTheRowUnderThePointer) {
    Present({40, 41, 42, 45});
    Open();
    Paint();
    struct Case {
        uint8_t before, after;
    };
    const Case cases[] = {{TDwlFc::StateNone, TDwlFc::StateSelected},
                          {TDwlFc::StateSelected, TDwlFc::StateNone},
                          {TDwlFc::StateDone, TDwlFc::StateSelected},
                          {TDwlFc::StateFailed, TDwlFc::StateSelected}};
    for (int row = 0; row < 4; ++row) {
        const Case& c = cases[row];
        if (c.before == TDwlFc::StateNone) DwlFc->ClearState(row);
        if (c.before == TDwlFc::StateSelected) DwlFc->Select(row);
        if (c.before == TDwlFc::StateDone) DwlFc->MarkDone(row);
        if (c.before == TDwlFc::StateFailed) DwlFc->MarkFailed(row);
        RightClick(row);
        EXPECT_EQ(DwlFc->GetState(row), c.after) << "row " << row;
    }
    DwlFc->ClearState(0);
    drive::MouseUp(window->SGWin1, TMouseButton::mbLeft, 20, window->SGWin1.CellRect(0, 0).Top + 8);
    EXPECT_EQ(DwlFc->GetState(0), TDwlFc::StateNone) << "the left button selects nothing";
    RightClick(0, 300);
    EXPECT_EQ(DwlFc->GetState(0), TDwlFc::StateNone) << "right of the columns";
    RightClick(0, 100);
    EXPECT_EQ(DwlFc->GetState(0), TDwlFc::StateSelected) << "the version column is the same row";
}

TEST_F(DwloadTest, SelectAllSelectsEveryListedNode) {
    Present({40, 41, 42, 45});
    Open();
    Paint();
    DwlFc->MarkDone(1);
    DwlFc->MarkFailed(2);
    DwlFc->Select(3);
    window->BSelAll.Click();
    for (int slot = 0; slot < 4; ++slot) EXPECT_EQ(DwlFc->GetState(slot), TDwlFc::StateSelected) << slot;
    EXPECT_EQ(DwlFc->GetState(4), TDwlFc::StateNone) << "slots without a node";
}

TEST_F(DwloadTest, WithoutNodesTheGridIsEmptyAndCollectionEndsAtOnce) {
    Open();
    Paint();
    EXPECT_EQ(DwlFc->GetNode(0), 0);
    window->BSelAll.Click();
    EXPECT_EQ(DwlFc->GetState(0), TDwlFc::StateNone);
    window->BCollVers.Click();
    EXPECT_EQ(CollectState(), 1);
    Tick();
    EXPECT_EQ(CollectState(), 0);
    EXPECT_TRUE(ButtonsEnabled());
}

TEST_F(DwloadTest, FileChoiceOffersTheFirmwareFolder) {
    Present({40, 41});
    Open();
    Paint();
    DwlFc->MarkDone(0);
    DwlFc->Select(1);

    // Cancelled: nothing changes.
    window->BDwLd.Click();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], ".\\IN hexadecimal|*.hex");
    EXPECT_EQ(DownloadState(), Idle);
    EXPECT_EQ(DwlFc->GetState(0), TDwlFc::StateDone);

    // A file that is not there: the marks of the rows not selected are gone, and the warning
    // carries the whole name as the dialog gave it.
    chosen = (work / "IN" / "gone.hex").string();
    window->BDwLd.Click();
    EXPECT_EQ(window->LSelFile.Caption(), "gone.hex");
    EXPECT_EQ(DwlFc->GetState(0), TDwlFc::StateNone);
    EXPECT_EQ(DwlFc->GetState(1), TDwlFc::StateSelected);
    EXPECT_EQ(DownloadState(), Opening);
    Tick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "File: " + *chosen + "\r\nNot found") << "as the system writes paths";
    EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    EXPECT_EQ(DownloadState(), Idle);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(window->LockColour(), 0x00FF00u);
    EXPECT_TRUE(window->Visible());
}

// A file that fails any check is refused before the first frame: the selected nodes stay in their
// program, present with their versions, and the window stays as it was.
TEST_F(DwloadTest, RefusedFilesNeverReachANode) {
    StartLibrary();
    Open();
    Paint();
    window->BSelAll.Click();
    const std::string start = ":020000040000FA\r\n", data = ":" + HexRecord(0, 0, {1, 2}) + "\r\n", end = ":00000001FF\r\n";
    struct TCase {
        std::string text, message;
        std::string name = "bad.hex", shown = name;  // as the file system spells it, as the window shows it
    };
    const TCase cases[] = {
        {data + end, "Start Of File record missing"},
        {start + end, "No data record"},
        {":020000040001F9\r\n" + data + end, "Contains invalid (CHKS) record at 0000"},
        {start + ":" + HexRecord(0x100, 0, {1}) + "\r\n" + end, "Starting page not zero"},
        // UTF-8 names, opened as they are and shown in the windows' code page.
        {data + end, "Start Of File record missing", "nuovo firmware per\xC3\xB2.hex", "nuovo firmware per\xF2.hex"},
        {data + end, "Start Of File record missing", "firmware \xC5\x82.hex", "firmware ?.hex"},
    };
    net->SetCapture(true);
    for (const TCase& c : cases) {
        chosen = (work / "IN" / c.name).string();
        WriteText(*chosen, c.text);
        window->BDwLd.Click();
        Tick();
        EXPECT_EQ(window->LSelFile.Caption(), c.shown);
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().text, "File: " + (work / "IN").string() + "/" + c.shown + "\r\n" + c.message);
        EXPECT_EQ(DownloadState(), Idle);
        EXPECT_TRUE(ButtonsEnabled() && window->Visible() && DwlFc->GetState(4) == TDwlFc::StateSelected);
        EXPECT_EQ(window->LockColour(), 0x00FF00u);
    }
    EXPECT_EQ(boxes.size(), std::size(cases));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const sim::BusFrame& b : net->TakeCapture())
        EXPECT_FALSE(sim::BootLoader::IsDownloadFrame(b.frame.id) || (b.frame.id & 0x780) == 0x600) << std::hex << b.frame.id;
    EXPECT_TRUE(ModelShows({40, 41, 42, 45, 127}));
    for (uint8_t n : {40, 41, 42, 45}) EXPECT_EQ(net->NodeState(n)->version, OldVersion) << int(n);
}

// The sending checks again what it sends: a file changed after its check stops the download.
TEST_F(DwloadTest, FileChangedAfterItsCheckStopsAndReturnsToTheMenu) {
    WriteText(work / "IN" / "bad.hex", FirmwareFile());
    Open();
    chosen = "IN/bad.hex";
    window->BDwLd.Click();
    Tick();  // opened; no node selected: erase at once
    EXPECT_EQ(window->LockColour(), 0x0000FFu);
    EXPECT_TRUE(ButtonsDisabled());
    EXPECT_EQ(DownloadState(), ReadFile);
    WriteText(work / "IN" / "bad.hex", ":" + HexRecord(0, 0, {1, 2, 3, 4}) + "\r\n:00000001FF\r\n");
    Tick(2001);
    Tick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "File: IN/bad.hex\r\nStart Of File record missing");
    EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    EXPECT_EQ(DownloadState(), Idle);
    EXPECT_FALSE(window->Visible());
    EXPECT_TRUE(MenuForm->Visible());
    EXPECT_EQ(app->ActiveForm(), MenuForm);
    // The window can be used again at once; the strip stays red until COLL.VERS.
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(window->LockColour(), 0x0000FFu);
    drive::PressKey(*MenuForm, VK_F6);
    window->BCollVers.Click();
    EXPECT_EQ(window->LockColour(), 0x00FF00u);
}

TEST_F(DwloadTest, F10AndTheMenuButtonReturnToTheMenu) {
    Open();
    drive::PressKey(*window, VK_F10);
    EXPECT_FALSE(window->Visible());
    EXPECT_TRUE(MenuForm->Visible());
    EXPECT_EQ(app->ActiveForm(), MenuForm);
    EXPECT_FALSE(app->Terminated());

    drive::PressKey(*MenuForm, VK_F6);
    window->BMenu.Click();
    EXPECT_FALSE(window->Visible());
    EXPECT_EQ(app->ActiveForm(), MenuForm);

    drive::PressKey(*MenuForm, VK_F6);
    window->HideOnMenuTag(98);
    EXPECT_TRUE(window->Visible()) << "only the menu button's tag";
    window->BMenu.SetEnabled(false);
    drive::PressKey(*window, VK_F10);
    EXPECT_TRUE(window->Visible()) << "only while the menu button is enabled";
    window->BMenu.SetEnabled(true);
    MenuForm->rdbSpeed.ClickItem(1);
    EXPECT_EQ(MenuForm->RestartRequested, 1) << "the speed switch restarts at once";
    drive::PressKey(*window, VK_F4, ssAlt);
    EXPECT_TRUE(app->Terminated()) << "Alt+F4 ends the program";
    EXPECT_TRUE(boxes.empty()) << "without asking while no download runs";
}

// Ending the program or switching the bus speed while nodes wait in their boot loader asks first,
// whichever way it is ended; No keeps the download going and the speed as stored, Yes ends the
// program.
TEST_F(DwloadTest, EndingTheProgramOrSwitchingTheSpeedDuringADownloadAsksFirst) {
    WriteText(work / "IN" / "app.hex", FirmwareFile());
    Open();
    chosen = "IN/app.hex";
    window->BDwLd.Click();
    Tick();  // no node selected: the erase puts every waiting node into its boot loader
    ASSERT_EQ(DownloadState(), ReadFile);
    boxAnswer = rtl::IDNO;
    struct Way {
        std::function<void()> act;
        const char* question;
    };
    const Way ways[] = {
        {[&] { drive::PressKey(*window, VK_F4, ssAlt); }, "USCIRE COMUNQUE?"},
        {[&] { drive::CloseRequest(*window); }, "USCIRE COMUNQUE?"},
        {[&] {  // F10 pauses the download; EXIT of the menu would leave it so
             drive::PressKey(*window, VK_F10);
             drive::PressKey(*MenuForm, VK_F10);
         },
         "USCIRE COMUNQUE?"},
        {[&] { MenuForm->rdbSpeed.ClickItem(1); }, "CAMBIARE VELOCITA' COMUNQUE?"},
    };
    for (const Way& way : ways) {
        way.act();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back().text, std::string("DOWNLOAD IN CORSO!\r\n") + way.question);
        EXPECT_EQ(boxes.back().caption, "ATTENZIONE");
        EXPECT_EQ(boxes.back().flags, rtl::MB_YESNO | rtl::MB_DEFBUTTON2) << "No is the default";
        EXPECT_FALSE(app->Terminated());
        EXPECT_EQ(DownloadState(), ReadFile);
    }
    EXPECT_EQ(boxes.size(), std::size(ways));
    EXPECT_EQ(MenuForm->rdbSpeed.ItemIndex(), 0) << "the switch shows the stored speed again";
    EXPECT_EQ(MenuForm->RestartRequested, 0);
    EXPECT_EQ(rtl::GetPrivateProfileString("General", "topSpeed", "", (work / "Morvand.ini").string()), "1");
    drive::PressKey(*MenuForm, VK_F6);
    boxAnswer = rtl::IDYES;
    drive::PressKey(*window, VK_F4, ssAlt);
    EXPECT_TRUE(app->Terminated());
}

TEST_F(DwloadTest, RefreshWorksOnlyWhileTheWindowIsInFront) {
    Open();
    Tick();
    EXPECT_EQ(window->TimeShown, TimeText.Get());
    EXPECT_FALSE(window->TimeShown.empty());
    window->StatusText = "x";
    Tick(2000);
    EXPECT_EQ(window->StatusText, "x");
    Tick(1000);
    EXPECT_EQ(window->StatusText, "") << "emptied 3000 ms after creation";

    StartLibrary();
    window->BCollVers.Click();
    drive::PressKey(*window, VK_F10);
    const std::string shown = window->TimeShown;
    for (int i = 0; i < 2; ++i) {
        Tick(600);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(TimeText.Get(), shown);
    EXPECT_EQ(window->TimeShown, shown);
    EXPECT_EQ(CollectState(), 1) << "the collection waits while the window is away";
    EXPECT_TRUE(ButtonsEnabled());

    drive::PressKey(*MenuForm, VK_F6);
    Tick();
    EXPECT_EQ(CollectState(), 2) << "and goes on when it is back";
    EXPECT_TRUE(ButtonsDisabled());
    EXPECT_EQ(window->TimeShown, TimeText.Get());
    // The library keeps an open exchange across instances: let the collection end.
    for (int i = 0; i < 500 && CollectState() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Tick();
    }
    EXPECT_TRUE(ButtonsEnabled());
}

// The whole road: three selected nodes, of which one refuses the image, the file sent with the
// Lock strip red and the progress running, the window left and taken back in the middle, the
// versions collected, the nodes marked; then COLL.VERS shows the new versions afresh.
TEST_F(DwloadTest, DownloadIntoSelectedNodesMarksThemAndCollectsTheVersions) {
    sim::NodeFaults refuses;
    refuses.crcRefused = true;
    net->SetFaults(42, refuses);
    WriteText(work / "IN" / "app.hex", FirmwareFile());
    StartLibrary();
    Open();
    Tick();
    Paint();
    ASSERT_EQ(DwlFc->GetNode(2), 42);
    ASSERT_EQ(DwlFc->GetNode(4), 127);
    for (int row : {0, 1, 2}) RightClick(row);

    chosen = (work / "IN" / "app.hex").string();
    window->BDwLd.Click();
    EXPECT_EQ(window->LSelFile.Caption(), "app.hex");
    Tick();
    EXPECT_EQ(DownloadState(), BootLoaders);
    EXPECT_EQ(window->LockColour(), 0x0000FFu);
    EXPECT_TRUE(ButtonsDisabled());
    EXPECT_TRUE(window->BMenu.Enabled());
    RightClick(3);
    EXPECT_EQ(DwlFc->GetState(3), TDwlFc::StateNone) << "no selection while a download runs";

    int progress = 0;
    bool leftOnce = false;
    for (int i = 0; i < 3000 && !(DownloadState() == Idle && CollectState() == 0); ++i) {
        switch (DownloadState()) {
            case Erase: clock.Advance(5900); break;
            case ReadFile: clock.Advance(1900); break;
            case SendRecords:
                if (!leftOnce && window->DwlProgBar.Position() > 20) {
                    // Away from the window, nothing goes on.
                    leftOnce = true;
                    drive::PressKey(*window, VK_F10);
                    ASSERT_EQ(app->ActiveForm(), MenuForm);
                    const int position = window->DwlProgBar.Position();
                    for (int k = 0; k < 5; ++k) {
                        Tick();
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    EXPECT_EQ(DownloadState(), SendRecords);
                    EXPECT_EQ(window->DwlProgBar.Position(), position);
                    drive::PressKey(*MenuForm, VK_F6);
                    ASSERT_EQ(app->ActiveForm(), window);
                    // Selected for the next download: this one does not mark them.
                    window->BSelAll.Click();
                }
                break;
            case AwaitRestart:
                // The nodes that took the image restart; the one that refused stays in its boot
                // loader, silent. Once the 15 s are nearly over the model knows who is back.
                EXPECT_TRUE(Eventually([&] {
                    for (uint8_t n : {40, 41})
                        if (net->NodeState(n)->version != NewVersion ||
                            net->NodeState(n)->mode != sim::NodeMode::Operational)
                            return false;
                    return true;
                }));
                // The jump passes every heartbeat deadline: the library drops each node at its next
                // pass (up to 100 ms on) until the node's next heartbeat. Once each has sent two
                // since, none is dropped, and the collection that follows finds them all.
                net->SetCapture(true);
                clock.Advance(14900);
                EXPECT_TRUE(TwoHeartbeatsSinceCapture({40, 41, 45, 127}));
                EXPECT_TRUE(ModelShows({40, 41, 45, 127}, {42}));
                break;
            default: break;
        }
        Tick();
        progress = std::max(progress, window->DwlProgBar.Position());
        std::this_thread::sleep_for(std::chrono::milliseconds(DownloadState() == SendRecords ? 2 : 10));
    }
    ASSERT_EQ(DownloadState(), Idle);
    ASSERT_EQ(CollectState(), 0);
    EXPECT_TRUE(leftOnce);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(progress, 100);
    EXPECT_EQ(window->DwlProgBar.Position(), 0) << "reset when the collection starts";
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(window->LockColour(), 0x0000FFu) << "red until COLL.VERS";

    EXPECT_EQ(net->NodeState(42)->bootLoaderCrcMismatches, 1u);
    EXPECT_EQ(net->NodeState(45)->version, OldVersion);
    struct Row {
        uint8_t node, state;
        uint16_t version;
    };
    const Row rows[] = {{40, TDwlFc::StateDone, NewVersion},
                        {41, TDwlFc::StateDone, NewVersion},
                        {42, TDwlFc::StateFailed, 0xFFFF},  // not asked: absent
                        {45, TDwlFc::StateSelected, OldVersion},
                        {127, TDwlFc::StateSelected, ZemVersion}};
    const QImage image = Paint();
    for (int slot = 0; slot < 5; ++slot) {
        const Row& r = rows[slot];
        EXPECT_EQ(DwlFc->GetNode(slot), r.node) << "the table is kept as the download left it";
        EXPECT_EQ(DwlFc->GetState(slot), r.state) << int(r.node);
        if (r.version != 0xFFFF) {
            EXPECT_EQ(DwlFc->GetVersion(slot), r.version) << int(r.node);
        }
    }
    EXPECT_EQ(RowColour(image, 0), QColor(0, 255, 0));
    EXPECT_EQ(RowColour(image, 2), QColor(255, 0, 0));
    Screenshot(*window, "dwload_done");

    // COLL.VERS: the present nodes afresh, marks cleared, the strip green, the versions asked.
    window->BCollVers.Click();
    EXPECT_EQ(window->LockColour(), 0x00FF00u);
    EXPECT_EQ(DwlFc->GetNode(2), 45);
    for (int slot = 0; slot < 4; ++slot) EXPECT_EQ(DwlFc->GetState(slot), TDwlFc::StateNone);
    Tick();
    EXPECT_TRUE(ButtonsDisabled());
    for (int i = 0; i < 500 && CollectState() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Tick();
    }
    EXPECT_EQ(CollectState(), 0);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(DwlFc->VersionText(0), "04.07.002");
    EXPECT_EQ(DwlFc->VersionText(1), "04.07.002");
    EXPECT_EQ(DwlFc->VersionText(2), "04.06.001");
    EXPECT_EQ(DwlFc->VersionText(3), "03.01.007");
}

// The whole program: start-up, the windows WinMain creates, F6 to the download window and back.
using ProgramTest = Installation;

TEST_F(ProgramTest, MenuOpensTheDownloadWindowAndF10BringsItBack) {
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_TRUE(boxes.empty());
    int step = 0;
    std::string caption;
    bool refreshed = false;
    EXPECT_EQ(RunProgram([&] {
        if (step == 0 && MenuForm && MenuForm->Visible() && DwldUIForm) {
            step = 1;
            drive::PressKey(*MenuForm, VK_F6);
        } else if (step == 1 && DwldUIForm->Visible() && !DwldUIForm->TimeShown.empty()) {
            step = 2;
            caption = DwldUIForm->Caption();
            refreshed = true;
            drive::PressKey(*DwldUIForm, VK_F10);
        } else if (step == 2 && MenuForm->Visible()) {
            step = 3;
            drive::PressKey(*MenuForm, VK_F10);
        }
    }), 0);
    EXPECT_EQ(step, 3);
    EXPECT_TRUE(refreshed);
    EXPECT_EQ(caption, "TELVX - DWLD PANEL");
    ASSERT_NE(DwldUIForm, nullptr);
    EXPECT_FALSE(DwldUIForm->Visible());
}
