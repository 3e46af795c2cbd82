// The nodes panel and its edit dialog, driven as the user drives them, on a temporary installation
// with the shipped library and the simulated network: grids of devices and of the controller,
// states and the old-firmware hint, the version request, the edit of a value along the whole road
// to the node and back into the grid, refusals, cancelling, and the refresh gated by activation.
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <map>
#include <thread>

#include "AppStrings.h"
#include "Fancoil.h"
#include "Scheduler.h"
#include "SetupFile.h"
#include "UIFile.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "rtl/Clock.h"
#include "windows_common/InstallFixture.h"

using namespace forms;

namespace {

sim::NodeConfig Device(uint8_t number, uint16_t version, bool operational = true) {
    sim::NodeConfig c;
    c.number = number;
    c.version = version;
    c.operational = operational;
    c.heartbeatPeriod = 100 * sim::kMs;
    c.statusPeriod = 200 * sim::kMs;
    c.analogPeriod = 200 * sim::kMs;
    c.values.master = number;
    c.values.setPoint = 21;
    c.values.offset = -2;
    c.values.mode = 1;
    c.values.fan = 2;
    c.values.analog = {215, 215, 215, 215};
    return c;
}

// The installation, the library on the simulated network, the objects start-up makes, and the
// menu, the edit dialog and the panel. The scheduler is never resumed: Run moves bus and clock
// together and runs its passes, whose refreshes reach the windows.
class NodesTest : public InstallTest {
protected:
    NodesTest() {
        for (const sim::NodeConfig& c : {Device(21, 0x4601), Device(22, 0x4601, false), Device(23, 0x4600),
                                         Device(30, 0)})
            net->AddNode(c);
        sim::NodeConfig zem;
        zem.number = 127;
        zem.version = 0x4702;
        zem.heartbeatPeriod = 100 * sim::kMs;
        zem.systemPeriod = 200 * sim::kMs;
        zem.values.system = {85, 450};
        zem.values.systemByte = 1;
        net->AddNode(zem);
    }

    void SetUp() override {
        // Each test starts an hour after the last, so the library's static records of earlier
        // tests have expired.
        static uint64_t hour = 0;
        clock.SetSystemTime(clock.SystemTime() + ++hour * 36'000'000'000ULL);
        InstallTest::SetUp();
    }

    void TearDown() override {
        dialogDriver.reset();
        InstallTest::TearDown();
    }

    // What start-up makes, the library and the three windows in their order; the panel in front.
    void Start() {
        MakeWindowObjects();
        FanStr = std::make_unique<TAppStrings>("USR\\FanStr.cfg");
        ASSERT_TRUE(FanStr->Load());
        SetupFile = std::make_unique<TSetupFile>("IN\\TELVOX.ini");
        UIFile = std::make_unique<TUIFile>();
        UIFile->SetFile("UI.csv");
        ASSERT_TRUE(UIFile->Load());
        FancoilData = std::make_unique<TFancoil>(*FanStr);
        Scheduler->AddEntry(TFuncPtr{&TFancoil::PollEntry, FancoilData.get()});
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        // The library's database outlives its instance: values an earlier test left there do not
        // change again, so this model reads them all once.
        for (int n = 21; n <= 127; ++n) _ForceNodeChanged(uint8_t(n), 0xFF);

        app->CreateForm(MenuForm);
        app->CreateForm(EditParForm);
        app->CreateForm(NodesUIForm);
        panel = NodesUIForm;
        for (int k = 1; k <= 4; ++k) {
            TStringGrid& grid = panel->Grid(k);
            grid.OnDrawCell = [this, k, original = grid.OnDrawCell](TStringGrid* g, int col, int row, const TRect& r,
                                                                     TGridDrawState s) {
                original(g, col, row, r, s);
                ++draws[k - 1];
                if (col == 1) drawnValue[k - 1][row] = panel->CellText(k, 1, row);
            };
        }
        StartDialogDriver();
        drive::Activate(*MenuForm);
        drive::PressKey(*MenuForm, VK_F3);
        ASSERT_EQ(app->ActiveForm(), panel);
        // Past the nodes' boot-up: each has sent its state since this bus started.
        RunFor(300);
        ASSERT_TRUE(Run([&] { return AllPresent(); }));
    }

    // Moves bus and clock together in steps of 10 ms, with the scheduler's passes, until the
    // condition holds; the bound only keeps a failing test from hanging.
    bool Run(const std::function<bool()>& condition, int ms = 5000) {
        for (int t = 0; t < ms; t += 10) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the protocol thread's turn
            Step(10);
        }
        return condition();
    }
    void Step(uint32_t ms) {
        net->Advance(ms * sim::kMs);
        clock.Advance(ms);
        Scheduler->Pass();
        app->ProcessMessages();
    }
    void RunFor(int ms) {
        Run([] { return false; }, ms);
    }
    // Draws every visible cell of grid k now, as a paint of the screen would.
    void Draw(int k) { panel->Grid(k).Widget()->grab(); }
    // The library holds the node's version word and no version exchange is open.
    static bool VersionKnown(int node, uint16_t version) {
        const uint8_t m = uint8_t(node == 127 ? 126 : node);
        uint16_t v = 0, open = 1;
        _RdDBValue(m, 16, 3, &v);
        _RdDBValue(m, 18, 3, &open);
        return v == version && open == 0;
    }
    // Enters the node in grid k and waits until its version request went out and ended.
    void EnterAndAwaitVersion(int k, int node, uint16_t version) {
        net->SetCapture(true);
        net->TakeCapture();
        EnterNode(k, std::to_string(node));
        ASSERT_TRUE(Run([&] { return Sent(0x600u + uint32_t(node), {0x40, 0x0F, 0x20}); })) << node;
        ASSERT_TRUE(Run([&] { return VersionKnown(node, version); })) << node;
    }
    // Node 21 shown in grid k with its version known and its status values in the model.
    void ShowNode21(int k) {
        EnterAndAwaitVersion(k, 21, 0x4601);
        ASSERT_TRUE(Run([&] { return FancoilData->ReadInteger(16, 21) == 0x4601 && FancoilData->ReadInteger(1, 21) == 21; }));
    }
    bool AllPresent() {
        for (int n : {21, 22, 23, 30, 127})
            if (!FancoilData->IsPresent(n)) return false;
        return true;
    }

    void EnterNode(int k, const std::string& text) {
        TEdit& field = panel->NodeField(k);
        field.SetText(text);
        field.SetFocus();
        drive::PressKey(*panel, VK_RETURN);
    }
    static int RowOf(const TUIWinDefRows& rows, const std::string& name) {
        for (size_t i = 0; i < rows.Count(); ++i)
            if (rows.Row(i).Name == name) return int(i);
        ADD_FAILURE() << "no row " << name;
        return -1;
    }
    void RightClick(int k, int row, TMouseButton button = TMouseButton::mbRight) {
        const TRect cell = panel->Grid(k).CellRect(1, row);
        drive::MouseUp(panel->Grid(k), button, cell.Left + 4, cell.Top + 4);
    }
    // Frames the library sent since the last call with that identifier and first data bytes.
    bool Sent(uint32_t id, std::vector<uint8_t> head) {
        for (const sim::BusFrame& f : net->TakeCapture())
            if (f.sender == sim::kSenderHost && f.frame.id == id &&
                std::equal(head.begin(), head.end(), f.frame.data.begin()))
                return true;
        return false;
    }

    // Each opening of the dialog runs the next step, which must close it; an opening without a
    // step is a failure and leaves by "ESCI".
    using TDialogStep = std::function<void(TEditParForm&)>;
    void StartDialogDriver() {
        dialogDriver = std::make_unique<QTimer>();
        QObject::connect(dialogDriver.get(), &QTimer::timeout, [this] {
            TEditParForm& dialog = *EditParForm;
            if (!dialog.Visible() || dialog.ModalResult() != mrNone) return;
            ++openings;
            if (steps.empty()) {
                ADD_FAILURE() << "the dialog opened once more than expected";
                dialog.BExit.Click();
                return;
            }
            TDialogStep step = std::move(steps.front());
            steps.erase(steps.begin());
            step(dialog);
        });
        dialogDriver->start(1);
    }
    static TDialogStep Type(const std::string& text, uint16_t key) {
        return [text, key](TEditParForm& d) {
            d.LEValue.SetText(text);
            drive::PressKey(d, key);
        };
    }

    rtl::ManualClock clock{50'000};
    rtl::ScopedClock scopedClock{clock};
    TNodesUIForm* panel = nullptr;
    std::array<int, 4> draws{};
    std::array<std::map<int, std::string>, 4> drawnValue;
    std::unique_ptr<QTimer> dialogDriver;
    std::vector<TDialogStep> steps;
    int openings = 0;
};

// The windows in front of a running installation.
class PanelTest : public NodesTest {
protected:
    void SetUp() override {
        NodesTest::SetUp();
        Start();
    }
};

}  // namespace

TEST_F(PanelTest, GridsListTheRowsOfDevicesAndOfTheController) {
    ShowNode21(1);
    EnterAndAwaitVersion(2, 22, 0x4601);
    EnterAndAwaitVersion(3, 127, 0x4702);  // asked as 126, sent to 127
    ASSERT_TRUE(Run([&] { return panel->SelectPending == std::array<uint8_t, 4>{}; }));
    ASSERT_TRUE(Run([&] { return FancoilData->ReadAnalog(1, 127) == 85; }));
    Draw(3);

    const TUIWinDefRows& rows = UIFile->ParamRows;
    EXPECT_EQ(panel->SGWin1.RowCount(), int(rows.Count()));
    EXPECT_EQ(panel->CellText(1, 0, 0), "SETPOINT");
    EXPECT_EQ(panel->CellText(1, 1, 0), "21");
    EXPECT_EQ(panel->CellText(1, 2, 0), "\xB0" "C");
    EXPECT_EQ(panel->CellText(1, 1, RowOf(rows, "CORREZIONE SP")), "-2") << "signed";
    EXPECT_EQ(panel->CellText(1, 1, RowOf(rows, "VERSIONE FW")), "04.06.001");
    const std::string room = panel->CellText(1, 1, RowOf(rows, "TEMP. AMBIENTE"));
    EXPECT_TRUE(room.size() == 6 && room.starts_with("  2") && room[4] == '.') << "'A', one decimal: " << room;
    EXPECT_EQ(panel->CellText(1, 1, RowOf(rows, "ISTERESI")), "   0.0") << "'I', one decimal";
    EXPECT_EQ(drawnValue[0][0], "21") << "the panel drew the value";
    EXPECT_EQ(panel->FCState1.Caption(), "OPERATIONAL");
    EXPECT_EQ(panel->FCState2.Caption(), "PRE-OP");
    EXPECT_EQ(panel->UpdVers1.Caption(), "");

    const TUIWinDefRows& zem = UIFile->ZemRows;
    EXPECT_EQ(panel->SGWin3.RowCount(), int(zem.Count()));
    EXPECT_EQ(panel->CellText(3, 0, 0), "TEMP. ESTERNA");
    EXPECT_EQ(panel->CellText(3, 1, 0), "   8.5");
    EXPECT_EQ(panel->CellText(3, 1, RowOf(zem, "SETPOINT ACQUA")), "  45.0");
    EXPECT_EQ(panel->CellText(3, 1, RowOf(zem, "STAGIONE")), "1");
    EXPECT_EQ(panel->FCState3.Caption(), "OPERATIONAL");
    EXPECT_EQ(panel->UpdVers3.Caption(), "") << "node 126's version 0x4702";
}

TEST_F(PanelTest, NodeTextsThatAreNoDeviceShowBlankRowsAndOnlyPresentNodesAreAsked) {
    for (const char* text : {"20", "128", "abc", "", "21 ", "-21"}) {
        EnterNode(1, "21");
        EnterNode(1, text);
        Draw(1);
        EXPECT_EQ(panel->FCNum1.Text(), "--") << text;
        EXPECT_EQ(panel->GridNode[0], 0) << text;
        EXPECT_EQ(panel->SGWin1.RowCount(), int(UIFile->ParamRows.Count())) << text;
        EXPECT_EQ(panel->CellText(1, 0, 0), "") << text;
        EXPECT_EQ(panel->FCState1.Caption(), "NOT PRESENT") << text;
    }
    for (const char* text : {"0x15", "$15", " 21"}) {
        EnterNode(2, text);
        EXPECT_EQ(panel->GridNode[1], 21) << text;
        EXPECT_EQ(panel->FCNum2.Text(), text) << "a valid text stays as typed";
    }
    RunFor(2000);
    net->SetCapture(true);
    net->TakeCapture();
    EnterNode(4, "40");  // not on the bus
    EXPECT_EQ(panel->GridNode[3], 40);
    EXPECT_EQ(panel->SelectPending[3], 0);
    EnterNode(4, "30");
    EXPECT_EQ(panel->SelectPending[3], 1);
    ASSERT_TRUE(Run([&] { return Sent(0x61E, {0x40, 0x0F, 0x20}); }));
    EXPECT_FALSE(Sent(0x628, {0x40}));
}

TEST_F(PanelTest, HeaderTextsOfTheShippedStringTableFitBetweenTheirNeighbours) {
    struct Header {
        TLabel &hint, &state, &caption;
        TEdit& field;
    };
    const Header headers[] = {{panel->UpdVers1, panel->FCState1, panel->Label1, panel->FCNum1},
                              {panel->UpdVers2, panel->FCState2, panel->Label2, panel->FCNum2},
                              {panel->UpdVers3, panel->FCState3, panel->Label3, panel->FCNum3},
                              {panel->UpdVers4, panel->FCState4, panel->Label4, panel->FCNum4}};
    for (const Header& h : headers) {
        h.hint.SetCaption("Upd.SW V.");
        EXPECT_LE(h.hint.Left() + h.hint.Width(), h.state.Left()) << h.hint.Name;
        EXPECT_LE(h.caption.Left() + h.caption.Width(), h.field.Left()) << h.caption.Name;
        for (const char* key : {"UIFORM_OPERATIONAL", "UIFORM_PRE_OPERATIONAL", "UIFORM_NOT_PRESENT"}) {
            h.state.SetCaption(AppStr->GetString(key));
            EXPECT_LE(h.state.Left() + h.state.Width(), h.caption.Left()) << h.state.Name << " " << key;
        }
    }
}

TEST_F(PanelTest, OldFirmwareHintFollowsTheVersionWordAndKeepsTheDialogShut) {
    struct Case {
        int node;
        uint16_t version;
        const char* hint;
        uint8_t old;
    };
    for (const Case& c : {Case{23, 0x4600, "Upd.SW V.", 1}, Case{21, 0x4601, "", 0}, Case{30, 0, "", 0}}) {
        EnterAndAwaitVersion(1, c.node, c.version);
        Draw(1);
        EXPECT_EQ(panel->UpdVers1.Caption(), c.hint) << c.node;
        EXPECT_EQ(panel->OldFirmware[0], c.old) << c.node;
    }
    EnterAndAwaitVersion(1, 23, 0x4600);
    Draw(1);
    RightClick(1, 0);
    RightClick(1, RowOf(UIFile->ParamRows, "CONTATTO FINESTRA"));
    EXPECT_EQ(openings, 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PanelTest, EditedValueReachesTheNodeAndComesBackIntoTheGrid) {
    ShowNode21(1);
    const int row = RowOf(UIFile->ParamRows, "VELOCITA VENTIL.");
    steps.push_back([&](TEditParForm& d) {
        EXPECT_EQ(d.Caption(), "EDIT VALUE");
        EXPECT_EQ(d.LEValue.EditLabel.Caption(), "VELOCITA VENTIL.");
        EXPECT_EQ(d.LEValue.Text(), "2");
        EXPECT_FALSE(d.LErrMsg.Visible());
        EXPECT_EQ(d.Left(), panel->Left() + panel->Width() - panel->ClientWidth() + panel->SGWin1.Left());
        EXPECT_EQ(d.Top(), panel->Top() + panel->Height() - panel->ClientHeight() + panel->SGWin1.Top());
        d.LEValue.SetText("3");
        d.BApply.Click();
    });
    RightClick(1, row);
    EXPECT_EQ(openings, 1);
    EXPECT_TRUE(EditParForm->IsDone());
    EXPECT_EQ(app->ActiveForm(), panel) << "the panel is in front again";
    ASSERT_TRUE(Run([&] { return net->NodeState(21)->values.fan == 3; }));
    ASSERT_TRUE(Run([&] { return drawnValue[0][row] == "3"; })) << "the grid shows the node's new value";
}

TEST_F(PanelTest, ControllerRowIsCheckedAgainstItsOwnRangeAndStoredForNode127) {
    EnterAndAwaitVersion(2, 127, 0x4702);
    Draw(2);
    net->TakeCapture();
    steps.push_back(Type("3", VK_RETURN));
    steps.push_back([](TEditParForm& d) {
        EXPECT_EQ(d.LErrMsg.Caption(), "VALORE FUORI RANGE");
        d.LEValue.SetText("2");
        d.BApply.Click();
    });
    RightClick(2, RowOf(UIFile->ZemRows, "STAGIONE"));
    EXPECT_EQ(openings, 2);
    uint16_t v = 0;
    ASSERT_TRUE(_RdDBValue(127, 1, 3, &v));
    EXPECT_EQ(v, 2);
    RunFor(100);
    for (const sim::BusFrame& f : net->TakeCapture())
        EXPECT_NE(f.sender, sim::kSenderHost) << "sent " << std::hex << f.frame.id;
}

TEST_F(PanelTest, ReadOnlyRowGivesItsBoxAndOtherClicksOpenNothing) {
    ShowNode21(1);
    EnterNode(2, "40");  // not on the bus
    EnterAndAwaitVersion(3, 127, 0x4702);
    Draw(3);
    const int readOnly = RowOf(UIFile->ParamRows, "CONTATTO FINESTRA");
    RightClick(1, readOnly, TMouseButton::mbLeft);
    RightClick(1, readOnly, TMouseButton::mbMiddle);
    RightClick(2, 0);
    RightClick(4, 0);  // no node
    const TRect below = panel->SGWin3.CellRect(0, int(UIFile->ZemRows.Count()));
    drive::MouseUp(panel->SGWin3, TMouseButton::mbRight, 10, below.Top + 4);
    EXPECT_TRUE(boxes.empty());
    RightClick(1, readOnly);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "PARAMETRO READ ONLY!");
    EXPECT_EQ(boxes[0].caption, "ATTENZIONE");
    EXPECT_EQ(openings, 0);
}

TEST_F(PanelTest, RefusedValueIsShownAndTheDialogOpensAgainUntilEsci) {
    ShowNode21(1);
    net->TakeCapture();
    steps.push_back(Type("31", VK_RETURN));  // Enter presses APPLICA
    steps.push_back([](TEditParForm& d) {
        EXPECT_TRUE(d.LErrMsg.Visible());
        EXPECT_EQ(d.LErrMsg.Caption(), "VALORE FUORI RANGE");
        EXPECT_EQ(d.LEValue.Text(), "31") << "the entry is kept";
        drive::PressKey(d, VK_ESCAPE);
    });
    steps.push_back([](TEditParForm& d) {
        EXPECT_TRUE(d.LErrMsg.Visible()) << "Esc after a refusal only opens the dialog again";
        drive::PressKey(d, VK_F10);
    });
    steps.push_back([](TEditParForm& d) { drive::CloseRequest(d); });  // as Esc: opens again
    steps.push_back([](TEditParForm& d) { d.BExit.Click(); });
    RightClick(1, 0);
    EXPECT_EQ(openings, 5);
    EXPECT_TRUE(EditParForm->IsDone());
    RunFor(500);
    EXPECT_FALSE(Sent(0x215, {})) << "nothing was written";

    // The next edit starts afresh; a value within range after a refusal is written.
    steps.push_back([](TEditParForm& d) {
        EXPECT_FALSE(d.LErrMsg.Visible());
        EXPECT_EQ(d.LEValue.Text(), "21") << "the node's value again";
        d.LEValue.SetText("9");
        d.BApply.Click();
    });
    steps.push_back(Type("25", VK_RETURN));
    RightClick(1, 0);
    EXPECT_EQ(openings, 7);
    ASSERT_TRUE(Run([&] { return net->NodeState(21)->values.setPoint == 25; }));
}

TEST_F(PanelTest, EscF10AndTheCloseButtonCancelWithoutWriting) {
    ShowNode21(1);
    net->TakeCapture();
    const int row = RowOf(UIFile->ParamRows, "VELOCITA VENTIL.");
    const TDialogStep cancels[] = {Type("3", VK_ESCAPE), Type("3", VK_F10), [](TEditParForm& d) {
                                       d.LEValue.SetText("3");
                                       drive::CloseRequest(d);
                                   }};
    for (const TDialogStep& cancel : cancels) {
        steps.push_back(cancel);
        RightClick(1, row);
    }
    EXPECT_EQ(openings, 3);
    EXPECT_FALSE(app->Terminated()) << "the dialog's close button does not end the program";
    EXPECT_TRUE(panel->Visible()) << "F10 in the dialog does not go back to the menu";
    RunFor(500);
    EXPECT_FALSE(Sent(0x215, {}));
    EXPECT_EQ(net->NodeState(21)->values.fan, 2);
}

TEST_F(PanelTest, EndingTheProgramEndsAnEditThatAwaitsAValidValue) {
    ShowNode21(1);
    steps.push_back(Type("31", VK_RETURN));
    steps.push_back([](TEditParForm& d) { drive::PressKey(d, VK_F4, ssAlt); });
    RightClick(1, 0);  // returns: the dialog is not opened again and again
    EXPECT_TRUE(app->Terminated());
    EXPECT_EQ(openings, 2);
    EXPECT_TRUE(EditParForm->IsDone());
}

// Rows the shipped file does not have: a value text longer than a cell takes, a row of an unknown
// type, and no "[ZEM]" rows at all.
TEST_F(NodesTest, UnusualRowsAreShownAndEditedSafely) {
    WriteText(base / "USR" / "UI.csv", "[PARAMETRI]\r\n" + UiRow("SETPOINT", 0, "I", 10, 30, 1) +
                                          UiRow("LONG", 97, "I", -100, 100, 2) + UiRow("ODD", 0, "X", 0, 9, 3) +
                                          "[ZEM]\r\n");
    Start();
    ShowNode21(1);
    EnterAndAwaitVersion(3, 127, 0x4702);
    Draw(1);
    Draw(3);
    EXPECT_EQ(panel->CellText(1, 1, 1).size(), 99u);
    EXPECT_EQ(panel->CellText(1, 1, 1).substr(0, 6), "-0.000") << "-2 with 97 decimals, cut";
    EXPECT_EQ(panel->CellText(1, 0, 2), "ODD");
    EXPECT_EQ(panel->CellText(1, 1, 2), "");
    EXPECT_EQ(panel->SGWin3.RowCount(), 1) << "an empty list leaves one row";
    EXPECT_EQ(panel->CellText(3, 0, 0), "");

    net->TakeCapture();
    steps.push_back([](TEditParForm& d) {
        EXPECT_EQ(d.LEValue.Text().size(), 99u);
        d.LEValue.SetText("1");  // 10^97: outside every range
        d.BApply.Click();
    });
    steps.push_back([](TEditParForm& d) {
        EXPECT_EQ(d.LErrMsg.Caption(), "VALORE FUORI RANGE");
        d.BExit.Click();
    });
    steps.push_back([](TEditParForm& d) {
        EXPECT_EQ(d.LEValue.Text(), "1") << "an unknown type keeps the previous text";
        d.BApply.Click();  // neither written nor refused
    });
    RightClick(1, 1);
    RightClick(1, 2);
    RightClick(3, 0);
    EXPECT_EQ(openings, 3);
    RunFor(300);
    EXPECT_FALSE(Sent(0x215, {}));
}

TEST_F(PanelTest, RefreshWorksOnlyWhileThePanelIsActive) {
    ShowNode21(1);
    RunFor(300);
    EXPECT_EQ(panel->DateShown, DateText.Get());
    EXPECT_EQ(panel->TimeShown, TimeText.Get());

    // The menu in front of the visible panel: nothing is copied, no grid repainted, and a
    // version request stays pending.
    MenuForm->Show();
    ASSERT_EQ(app->ActiveForm(), MenuForm);
    EnterNode(4, "22");
    ASSERT_EQ(panel->SelectPending[3], 1);
    const std::string time = panel->TimeShown;
    const int drawn = draws[0];
    net->ChangeValues(21, [](sim::NodeValues& v) { v.setPoint = 24; });
    RunFor(2000);
    EXPECT_EQ(panel->TimeShown, time);
    EXPECT_EQ(draws[0], drawn);
    EXPECT_EQ(panel->SelectPending[3], 1);

    // In front again: the first tick repaints the grid whose node changed.
    drive::Activate(*panel);
    EXPECT_EQ(draws[0], drawn) << "activation alone repaints nothing";
    ASSERT_TRUE(Run([&] { return drawnValue[0][0] == "24"; }, 200));
    EXPECT_EQ(panel->SelectPending[3], 0);
    EXPECT_NE(panel->TimeShown, time);
}

TEST_F(PanelTest, F10AndTheMenuButtonGoBackToTheMenu) {
    drive::PressKey(*panel, VK_F10);
    EXPECT_FALSE(panel->Visible());
    EXPECT_TRUE(MenuForm->Visible());
    drive::PressKey(*MenuForm, VK_F3);
    ASSERT_TRUE(panel->Visible());
    panel->BMenu.Click();
    EXPECT_FALSE(panel->Visible());
    EXPECT_TRUE(MenuForm->Visible());
    EXPECT_FALSE(app->Terminated());
}

// Caught: the first focus on "F10 - MENU" (a node typed after F3 and its Enter went back to the
// menu), Tab into the grids or out of reading order, and a focused field that looks like the rest.
TEST_F(PanelTest, KeysStartInTheFirstNodeFieldAndTabGoesRoundTheFourInReadingOrder) {
    TEdit* fields[] = {&panel->FCNum1, &panel->FCNum2, &panel->FCNum3, &panel->FCNum4};
    auto focusedAlone = [&](TEdit* expected) {
        for (TEdit* f : fields) {
            const bool marked = f->Widget()->grab().toImage().pixelColor(1, 1) == QColor(0, 0, 128);
            if (f->Focused() != (f == expected) || marked != (f == expected)) return false;
        }
        return true;
    };
    EXPECT_TRUE(focusedAlone(&panel->FCNum1));
    drive::TypeText(*panel, "21");
    drive::PressKey(*panel, VK_RETURN);
    EXPECT_EQ(panel->FCNum1.Text(), "21") << "the typed number replaced the field's text";
    EXPECT_EQ(panel->GridNode[0], 21);
    EXPECT_EQ(app->ActiveForm(), panel);

    for (TEdit* f : {&panel->FCNum3, &panel->FCNum2, &panel->FCNum4, &panel->FCNum1}) {
        drive::PressKey(*panel, VK_TAB);
        EXPECT_TRUE(focusedAlone(f)) << "Tab to " << f->Name;
    }
    for (TEdit* f : {&panel->FCNum4, &panel->FCNum2, &panel->FCNum3, &panel->FCNum1}) {
        drive::PressKey(*panel, VK_TAB, ssShift);
        EXPECT_TRUE(focusedAlone(f)) << "Shift+Tab to " << f->Name;
    }
    panel->SGWin4.SetFocus();  // clicked into
    drive::PressKey(*panel, VK_TAB);
    EXPECT_TRUE(focusedAlone(&panel->FCNum1)) << "from a grid Tab goes to the first field";

    drive::PressKey(*panel, VK_TAB);
    drive::PressKey(*panel, VK_F10);
    drive::PressKey(*MenuForm, VK_F3);
    app->ProcessMessages();  // the platform's activation
    EXPECT_TRUE(focusedAlone(&panel->FCNum1)) << "each showing starts there";
}

TEST_F(PanelTest, LayoutCaptionAndLook) {
    EXPECT_EQ(panel->Caption(), "TELVX - NODES PANEL");
    EXPECT_EQ(panel->SGWin1.Height(), 236);
    EXPECT_EQ(panel->SGWin3.Height(), 236);
    EXPECT_EQ(panel->Label2.Top(), 357);
    EXPECT_EQ(panel->FCNum4.Top(), 357);
    EXPECT_EQ(panel->SGWin2.Top(), 385);
    EXPECT_EQ(panel->SGWin4.Top(), 385);
    EXPECT_EQ(panel->SGWin1.Top(), 111) << "the upper row stays";
    EXPECT_EQ(panel->FCNum1.Text(), "--");

    // Taller: the grids share the height, the status bar keeps to the bottom.
    panel->SetClientSize(677, 763);
    app->ProcessMessages();
    EXPECT_EQ(panel->SBMonitor.Top(), 731);
    EXPECT_EQ(panel->SGWin1.Height(), 286);
    EXPECT_EQ(panel->SGWin2.Top(), 435);
    panel->SetClientSize(677, 663);
    app->ProcessMessages();

    EnterAndAwaitVersion(1, 21, 0x4601);
    EnterAndAwaitVersion(3, 127, 0x4702);
    EnterAndAwaitVersion(2, 23, 0x4600);
    RunFor(300);
    ASSERT_FALSE(Screenshot(*panel, "nodes").isNull());  // to look at
    const QImage image = panel->Widget()->grab().toImage();
    EXPECT_EQ(image.width(), 677);
    const QColor grid(208, 208, 255);
    EXPECT_EQ(image.pixelColor(panel->SGWin4.Left() + 40, panel->SGWin4.Top() + 40), grid) << "empty grid colour";
    EXPECT_EQ(image.pixelColor(4, panel->SBMonitor.Top() + 16), grid) << "status panel colour";

    steps.push_back(Type("40", VK_RETURN));
    steps.push_back([this](TEditParForm& d) {
        EXPECT_FALSE(Screenshot(d, "editpar").isNull());
        d.BExit.Click();
    });
    RightClick(1, 0);
    EXPECT_EQ(openings, 2);
}

// The program's main routine creates the dialog and the panel in their order; F3 reaches the panel.
TEST_F(NodesTest, ProgramCreatesBothWindowsAndF3ShowsThePanel) {
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_TRUE(boxes.empty());
    bool shown = false;
    EXPECT_EQ(RunProgram([&] {
        clock.Advance(10);  // the scheduler thread reads the test's clock
        if (!shown && MenuForm && MenuForm->Visible()) {
            drive::PressKey(*MenuForm, VK_F3);
            shown = NodesUIForm && NodesUIForm->Visible();
        } else if (shown && !NodesUIForm->TimeShown.empty()) {
            drive::PressKey(*NodesUIForm, VK_F10);
            drive::PressKey(*MenuForm, VK_F10);
        }
    }), 0);
    ASSERT_TRUE(shown);
    ASSERT_NE(EditParForm, nullptr);
    EXPECT_EQ(NodesUIForm->Caption(), "TELVX - NODES PANEL");
    EXPECT_FALSE(NodesUIForm->TimeShown.empty()) << "refreshed while in front";
}
