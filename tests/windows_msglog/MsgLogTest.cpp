// The message log driven as the user drives it: the capture states with their labels, colours and
// buttons, the display raw and decoded, paging, saving, clearing, the way back to the menu, and
// the frames of the simulated network reaching the window through the library and the poller.
#include <time.h>

#include <QImage>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <optional>

#include "Fancoil.h"
#include "LogFixture.h"

using namespace forms;

namespace {

constexpr TColor kGreen = 0x00FF00, kYellow = 0x00FFFF, kRed = 0x0000FF;

// Enabled buttons, in the order start, stop, suspend, save, clear, up, down, up end, down end.
std::string Buttons(const TMsgUIForm& log) {
    std::string s;
    for (const TButton* b : {&log.BStart, &log.BStop, &log.BSuspend, &log.BSave, &log.BClear, &log.BUp, &log.BDown,
                             &log.BUpEnd, &log.BDwEnd})
        s += b->Enabled() ? '1' : '0';
    return s;
}

}  // namespace

TEST_F(LogTest, OpensInStopWithAnEmptyMemoAndTheFramesOfStartUpKept) {
    Put(7);
    TMsgUIForm& log = Open();
    EXPECT_EQ(app->ActiveForm(), &log);
    EXPECT_FALSE(MenuForm->Visible());
    EXPECT_EQ(log.Caption(), "TELVX - MESSAGE LOG");
    EXPECT_EQ(log.LState.Caption(), "STOP");
    EXPECT_EQ(log.LState.Color(), kRed);
    EXPECT_EQ(Buttons(log), "100000000");
    EXPECT_TRUE(log.BMenu.Enabled() && log.BExpand.Enabled() && log.BLegend.Enabled());
    EXPECT_EQ(log.MSGWin.LineCount(), 0);
    EXPECT_TRUE(RxMsgRing.Stopped());
    EXPECT_EQ(RxMsgRing.Anchor(), 7);
    EXPECT_EQ(log.ShownIndex, 7);
    EXPECT_EQ(log.WindowLines, 23) << "482 px of memo at 20 px a line";
    ASSERT_EQ(RefreshList->size(), 2u);
    EXPECT_EQ((*RefreshList)[1].Data, &log);

    Put(3);
    EXPECT_EQ(RxMsgRing.WriteIndex(), 7) << "stopped: frames are dropped";
    Press(VK_F12);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines.back(), Raw(7));
    EXPECT_EQ(lines.front(), Raw(9985));
    EXPECT_NE(lines.back().find("Id: 107"), std::string::npos);
}

struct StateCase {
    const char* name;
    std::function<void(TMsgUIForm&)> command;
    const char* label;
    TColor colour;
    bool suspended, stopped;
    const char* buttons;
};

class LogStateTest : public LogTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(LogStateTest, CommandSetsLabelColourButtonsAndCapture) {
    const StateCase& c = GetParam();
    TMsgUIForm& log = Open();
    Put(100);  // dropped: the window opens in STOP
    log.RunLog();
    Put(40);
    c.command(log);
    app->ProcessMessages();
    EXPECT_EQ(log.LState.Caption(), c.label);
    EXPECT_EQ(log.LState.Color(), c.colour);
    EXPECT_EQ(RxMsgRing.Suspended(), c.suspended);
    EXPECT_EQ(RxMsgRing.Stopped(), c.stopped);
    EXPECT_EQ(Buttons(log), c.buttons);
    EXPECT_TRUE(log.BMenu.Enabled() && log.BExpand.Enabled() && log.BLegend.Enabled());
    if (c.suspended) {
        EXPECT_EQ(RxMsgRing.Anchor(), 5040);
    }
    if (c.stopped) {
        EXPECT_EQ(RxMsgRing.Anchor(), 40);
    }
}

void Key(TMsgUIForm& log, uint16_t key) { drive::PressKey(log, key); }

INSTANTIATE_TEST_SUITE_P(
    States, LogStateTest,
    ::testing::Values(StateCase{"F1", [](TMsgUIForm& l) { Key(l, VK_F1); }, "RUN", kGreen, false, false, "011000000"},
                      StateCase{"BStartWhileDisabled", [](TMsgUIForm& l) { l.BStart.Click(); }, "RUN", kGreen, false,
                                false, "011000000"},
                      StateCase{"F3", [](TMsgUIForm& l) { Key(l, VK_F3); }, "SUSP", kYellow, true, false, "110001100"},
                      StateCase{"BSuspend", [](TMsgUIForm& l) { l.BSuspend.Click(); }, "SUSP", kYellow, true, false,
                                "110001100"},
                      StateCase{"F2", [](TMsgUIForm& l) { Key(l, VK_F2); }, "STOP", kRed, false, true, "100111111"},
                      StateCase{"BStop", [](TMsgUIForm& l) { l.BStop.Click(); }, "STOP", kRed, false, true,
                                "100111111"},
                      StateCase{"SuspendThenF2", [](TMsgUIForm& l) { Key(l, VK_F3), Key(l, VK_F2); }, "STOP", kRed,
                                false, true, "100111111"},
                      StateCase{"StopThenF3", [](TMsgUIForm& l) { Key(l, VK_F2), Key(l, VK_F3); }, "SUSP", kYellow,
                                true, false, "110001100"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, RunAppendsTheNewRecordsAtEachRefreshKeepingTheWindowLines) {
    TMsgUIForm& log = Open();
    log.SetClientSize(900, 578);
    app->ProcessMessages();
    ASSERT_EQ(log.WindowLines, 22);
    Press(VK_F1);
    Put(30);
    Tick();
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines.front(), Raw(9));
    EXPECT_EQ(lines.back(), Raw(30));
    EXPECT_EQ(log.ShownIndex, 30);
    Put(3);
    Tick();
    lines = Lines();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines.front(), Raw(12));
    EXPECT_EQ(lines.back(), Raw(33));
}

TEST_F(LogTest, RefreshWorksOnlyWhileTheLogOrTheLegendIsActive) {
    TMsgUIForm& log = Open();
    Press(VK_F1);
    Put(5);
    drive::Activate(*MenuForm);
    Tick();
    EXPECT_EQ(log.MSGWin.LineCount(), 0);
    EXPECT_TRUE(log.TimeShown.empty());

    drive::Activate(log);
    Press(VK_F9);
    ASSERT_TRUE(LegendForm->Visible());
    ASSERT_EQ(app->ActiveForm(), &log) << "the legend leaves the log in front";
    Tick();
    EXPECT_EQ(log.TimeShown, TimeText.Get());
    ASSERT_EQ(log.MSGWin.LineCount(), 5);
    EXPECT_EQ(Lines().back(), Raw(5));

    // Back in front after a while: everything captured meanwhile, trimmed to the window.
    drive::Activate(*MenuForm);
    Put(12000);
    Tick();
    EXPECT_EQ(log.MSGWin.LineCount(), 5);
    drive::Activate(log);
    Tick();
    EXPECT_EQ(log.MSGWin.LineCount(), 23);
    EXPECT_EQ(Lines().back(), Raw(RxMsgRing.WriteIndex()));
}

TEST_F(LogTest, DecodedLinesTakeTheirLineBreakAndExpandRedrawsThePageInTheOtherForm) {
    RxMsgRing.Capture(Msg(0x1A8, {1, 21, 0, 1, 3, 0xF3, 0, 0}, 100));  // status of node 40
    RxMsgRing.Capture(Msg(0x728, {5}, 350));                           // heartbeat
    RxMsgRing.Capture(Msg(0x4A8, {1, 2}, 400));                        // not decoded
    TMsgUIForm& log = Open();
    Press(VK_F12);
    EXPECT_EQ(Lines().back(), Raw(3));

    Press(VK_F8);
    EXPECT_EQ(log.Expanded, 1);
    std::string status, heartbeat, unused;
    ASSERT_TRUE(DecodeMsg(RxMsgRing, 1, status));
    ASSERT_TRUE(DecodeMsg(RxMsgRing, 2, heartbeat));
    ASSERT_FALSE(DecodeMsg(RxMsgRing, 3, unused));
    EXPECT_NE(heartbeat.find("HBT OPERATIONAL"), std::string::npos);
    const std::vector<std::string> statusLines = Split(status);
    ASSERT_EQ(statusLines.size(), 2u);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 23u) << "the status line's second line pushed one more off the top";
    EXPECT_EQ(lines[19], statusLines[0]);
    EXPECT_EQ(lines[20], statusLines[1]);
    EXPECT_EQ(lines[21], heartbeat);
    EXPECT_EQ(lines[22], Raw(3));
    EXPECT_EQ(log.MSGWin.DisplayLineCount(), 23) << "no line wraps";

    Press(VK_F8);
    lines = Lines();
    EXPECT_EQ(lines[20], Raw(1));
    EXPECT_EQ(lines[21], Raw(2));
    EXPECT_TRUE(RxMsgRing.Stopped()) << "expand does not change the state";
}

TEST_F(LogTest, SuspendedCaptureStopsItselfAtTheAnchorAndTheWindowShowsStop) {
    TMsgUIForm& log = Open();
    Press(VK_F1);
    Put(9000);
    Tick();
    Press(VK_F3);
    EXPECT_EQ(RxMsgRing.Anchor(), 4000);
    const std::vector<std::string> frozen = Lines();
    Put(4999);
    Tick();
    EXPECT_TRUE(RxMsgRing.Suspended());
    EXPECT_EQ(Lines(), frozen) << "nothing is appended while suspended";
    Put(2);
    EXPECT_TRUE(RxMsgRing.Stopped());
    EXPECT_EQ(RxMsgRing.WriteIndex(), 4000);
    EXPECT_EQ(log.LState.Caption(), "SUSP") << "the label changes on the window's own thread";
    drive::Activate(*MenuForm);
    Tick();
    EXPECT_EQ(log.LState.Caption(), "STOP");
    EXPECT_EQ(log.LState.Color(), kRed);
    EXPECT_EQ(Buttons(log), "100111111");
    EXPECT_EQ(RxMsgRing.Anchor(), 4000);
    EXPECT_EQ(Lines(), frozen);
}

TEST_F(LogTest, StopShowsWhatRunCapturedAndWhatSuspendCapturedOnlyOnRequest) {
    TMsgUIForm& log = Open();
    Press(VK_F1);
    Put(10);
    Tick();
    Put(5);
    Press(VK_F2);
    EXPECT_EQ(Lines().back(), Raw(15)) << "the rest is shown at the stop";
    EXPECT_EQ(RxMsgRing.Anchor(), 15);
    Put(3);
    EXPECT_EQ(RxMsgRing.WriteIndex(), 15);

    Press(VK_F1);
    EXPECT_EQ(log.MSGWin.LineCount(), 0) << "run after stop starts afresh";
    Put(20);
    Tick();
    EXPECT_EQ(Lines().front(), Raw(16));
    Press(VK_F3);
    Put(20);
    log.BStop.Click();
    EXPECT_EQ(RxMsgRing.Anchor(), 55) << "the last captured frame";
    EXPECT_EQ(Lines().back(), Raw(35)) << "display unchanged";
    Press(VK_F12);
    EXPECT_EQ(Lines().back(), Raw(55));

    // STOP and stop again after paging: the records from the page bottom on are appended.
    Press(VK_PRIOR);
    ASSERT_EQ(log.ShownIndex, 45);
    log.BStop.Click();
    EXPECT_EQ(log.ShownIndex, 45) << "the button is disabled in STOP";
    Press(VK_F2);
    EXPECT_EQ(log.ShownIndex, 55);
    EXPECT_EQ(Lines().back(), Raw(55));
    EXPECT_EQ(Lines()[Lines().size() - 11], Raw(45));
}

TEST_F(LogTest, PagingDownStepsByTenThenByOneAndEndsAtTheAnchor) {
    Put(1000);
    TMsgUIForm& log = Open();
    log.ShownIndex = 985;
    std::vector<int> bottoms;
    for (int i = 0; i < 8; ++i) {
        Press(VK_NEXT);
        bottoms.push_back(log.ShownIndex);
    }
    EXPECT_EQ(bottoms, (std::vector<int>{995, 996, 997, 998, 999, 1000, 1000, 1000}));
    EXPECT_EQ(log.DownAllowed, 0);
    EXPECT_EQ(Lines().back(), Raw(1000));
    EXPECT_EQ(Lines().front(), Raw(978));

    log.MSGWin.Clear();
    Press(VK_NEXT);
    EXPECT_EQ(log.MSGWin.LineCount(), 0) << "no longer allowed: nothing shown";
    Press(VK_PRIOR);
    EXPECT_EQ(log.ShownIndex, 990);
    EXPECT_EQ(log.DownAllowed, 1);
    drive::Activate(*MenuForm);
    log.DownAllowed = 0;
    drive::Activate(log);
    EXPECT_EQ(log.DownAllowed, 1) << "activation allows paging again";
    log.BDown.Click();
    EXPECT_EQ(log.ShownIndex, 990) << "the buttons wait for the first state command";
    Press(VK_NEXT);
    EXPECT_EQ(log.ShownIndex, 991);
}

TEST_F(LogTest, PagingUpEndsWithTheSlotAfterTheAnchorAtTheTop) {
    Put(9999);
    TMsgUIForm& log = Open();
    ASSERT_EQ(RxMsgRing.Anchor(), 9999);
    Press(VK_F11);
    EXPECT_EQ(log.ShownIndex, 23);
    EXPECT_EQ(Lines().front(), Raw(1));
    Press(VK_PRIOR);
    EXPECT_EQ(Lines().front(), Raw(0));
    EXPECT_EQ(log.UpAllowed, 1);
    Press(VK_PRIOR);
    EXPECT_EQ(Lines().front(), Raw(0));
    EXPECT_EQ(log.UpAllowed, 0);
    log.BUp.Click();
    EXPECT_EQ(Lines().front(), Raw(0));
    EXPECT_EQ(log.ShownIndex, 22);

    // From further down: steps of ten, then single ones.
    log.UpAllowed = 1;
    log.ShownIndex = 60;
    std::vector<int> tops;
    for (int i = 0; i < 6; ++i) {
        Press(VK_PRIOR);
        tops.push_back(log.ShownIndex - 22);
    }
    EXPECT_EQ(tops, (std::vector<int>{28, 18, 8, 7, 6, 5}));
}

TEST_F(LogTest, PagingActsOnlyInSuspendOrStop) {
    Put(100);
    TMsgUIForm& log = Open();
    Press(VK_F1);
    log.ShownIndex = 50;
    log.UpAllowed = 0;
    Press(VK_NEXT);
    Press(VK_PRIOR);
    EXPECT_EQ(log.ShownIndex, 50);
    EXPECT_EQ(log.MSGWin.LineCount(), 0);
    EXPECT_EQ(log.UpAllowed, 1) << "page down allows page up in any case";
}

struct OldestCase {
    const char* name;
    std::function<void()> fill;
    uint16_t first;
};

class LogOldestTest : public LogTest, public ::testing::WithParamInterface<OldestCase> {};

TEST_P(LogOldestTest, OldestPageStartsAtSlotOneUntilTheRingWraps) {
    TMsgUIForm& log = Open();
    Press(VK_F1);
    GetParam().fill();
    Press(VK_F2);
    Press(VK_F11);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines.front(), Raw(GetParam().first));
    EXPECT_EQ(log.ShownIndex, (GetParam().first + 22) % 10000);
    EXPECT_EQ(log.DownAllowed, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Oldest, LogOldestTest,
    ::testing::Values(OldestCase{"FewFrames", [] { RxMsgRing.Capture(Msg(0x101, {1})); }, 1},
                      OldestCase{"Wrapped",
                                 [] {
                                     for (int i = 0; i < 10005; ++i) RxMsgRing.Capture(Msg(0x181, {uint8_t(i)}));
                                 },
                                 6},
                      OldestCase{"WrappedWithNodeManagementInSlotZero",
                                 [] {
                                     for (int i = 0; i < 10005; ++i)
                                         RxMsgRing.Capture(Msg(i == 9999 ? 0 : 0x181, {uint8_t(i)}));
                                 },
                                 1}),
    [](const auto& info) { return std::string(info.param.name); });

// 100 ns units since 1601 of a UTC calendar time.
uint64_t FileTime(std::chrono::sys_days day, std::chrono::milliseconds ms) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(day.time_since_epoch()) + ms;
    return (uint64_t(sinceEpoch.count()) + 11'644'473'600'000ull) * 10'000ull;
}

class LogSaveTest : public LogTest {
protected:
    void SetUp() override {
        LogTest::SetUp();
        const char* tz = getenv("TZ");
        oldTz = tz ? tz : "";
        hadTz = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
        using namespace std::chrono;
        clock.SetSystemTime(FileTime(sys_days{2024y / 3 / 5}, hours(7) + minutes(8) + seconds(9) + milliseconds(127)));
    }
    void TearDown() override {
        if (hadTz) setenv("TZ", oldTz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        LogTest::TearDown();
    }
    const fs::path saved = fs::path("OUT") / "TV20240305_07080912.txt";
    std::string oldTz;
    bool hadTz = false;
};

TEST_F(LogSaveTest, NameComesFromTheLocalTimeToTheHundredth) {
    EXPECT_EQ(TMsgUIForm::LogFileName(), ".//OUT//TV20240305_07080912.txt");
    setenv("TZ", "CET-1", 1);
    tzset();
    EXPECT_EQ(TMsgUIForm::LogFileName(), ".//OUT//TV20240305_08080912.txt");
}

TEST_F(LogSaveTest, SaveWritesTenThousandLinesFromTheSlotAfterTheAnchor) {
    RxMsgRing.Capture(Msg(0x1A8, {1, 21, 0, 1, 3, 0xF3, 0, 0}, 100));
    RxMsgRing.Capture(Msg(0x228, {0x95, 0x09, 0, 0, 0, 0xD7, 0x80, 0}, 200));  // command
    RxMsgRing.Capture(Msg(0x728, {5}, 350));
    TMsgUIForm& log = Open();
    Press(VK_F2);
    Press(VK_F12);
    const std::vector<std::string> shown = Lines();

    log.BSave.Click();
    EXPECT_TRUE(boxes.empty());
    std::string file = ReadText(saved);
    std::vector<std::string> lines = Split(file);
    ASSERT_EQ(lines.size(), 10001u) << "10,000 lines, each ended by CR LF";
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(lines[0], Raw(4));
    EXPECT_EQ(lines[9996], Raw(0));
    EXPECT_EQ(lines[9997], Raw(1));
    EXPECT_EQ(lines[9999], Raw(3));
    EXPECT_EQ(Lines(), shown) << "the display does not change";
    EXPECT_TRUE(RxMsgRing.Stopped());

    Press(VK_F8);
    Press(VK_F4);
    file = ReadText(saved);
    lines = Split(file);
    ASSERT_EQ(lines.size(), 10003u) << "the status and command lines hold one more line break";
    std::string zero, status, command, heartbeat;
    ASSERT_TRUE(DecodeMsg(RxMsgRing, 4, zero));
    ASSERT_TRUE(DecodeMsg(RxMsgRing, 1, status));
    ASSERT_TRUE(DecodeMsg(RxMsgRing, 2, command));
    ASSERT_TRUE(DecodeMsg(RxMsgRing, 3, heartbeat));
    EXPECT_EQ(lines[0], zero) << "an empty slot as a node-management line";
    EXPECT_NE(command.find("CMD "), std::string::npos);
    EXPECT_EQ(file.substr(file.size() - (status + command + heartbeat).size() - 6),
              status + "\r\n" + command + "\r\n" + heartbeat + "\r\n");
    EXPECT_NE(file.find('\xB0'), std::string::npos) << "single-byte text";
}

struct SaveFailure {
    const char* name;
    std::function<void(const fs::path& saved)> prepare;
    std::vector<std::string> boxes;
    rlim_t diskFullPast = 0;  // non-zero: no file may grow beyond this many bytes
};

class LogSaveFailureTest : public LogSaveTest, public ::testing::WithParamInterface<SaveFailure> {};

TEST_P(LogSaveFailureTest, FailuresAreReportedAndTheRingKept) {
    Put(3);
    TMsgUIForm& log = Open();
    GetParam().prepare(saved);
    {
        std::optional<FileSizeLimit> full;
        if (GetParam().diskFullPast) full.emplace(GetParam().diskFullPast);
        Press(VK_F4);
    }
    std::vector<std::string> texts;
    for (const Box& b : boxes) {
        EXPECT_EQ(b.caption, "ATTENZIONE");
        texts.push_back(b.text);
    }
    EXPECT_EQ(texts, GetParam().boxes);
    EXPECT_EQ(RxMsgRing.Anchor(), 3);
    EXPECT_EQ(RxMsgRing.Record(3).Id, 0x103u);
    EXPECT_EQ(log.ShownIndex, 3);
    std::error_code ec;
    for (const auto& f : fs::recursive_directory_iterator("OUT", ec))
        EXPECT_FALSE(f.is_regular_file()) << "no cut-off file looks like a saved log: " << f.path();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LogSaveFailureTest,
    ::testing::Values(SaveFailure{"FolderIsAFile", [](const fs::path&) { std::ofstream("OUT") << "x"; },
                                  {"Creazione DIRECTORY ./OUT non riuscita!", "SALVATAGGIO FALLITO!"}},
                      SaveFailure{"FileCannotBeReplaced", [](const fs::path& f) { fs::create_directories(f / "x"); },
                                  {"SALVATAGGIO FALLITO!"}},
                      SaveFailure{"DiskFull", [](const fs::path&) {}, {"SALVATAGGIO FALLITO!"}, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, ClearEmptiesRingAndMemoAndKeepsTheState) {
    Put(5);
    TMsgUIForm& log = Open();
    Press(VK_F2);
    Press(VK_F12);
    Press(VK_F5);
    EXPECT_EQ(log.MSGWin.LineCount(), 0);
    EXPECT_EQ(RxMsgRing.WriteIndex(), 0);
    EXPECT_EQ(RxMsgRing.Anchor(), 0);
    EXPECT_EQ(log.ShownIndex, 0);
    for (uint16_t s : {0, 1, 5, 9999}) EXPECT_EQ(RxMsgRing.Record(s).Id, 0u) << s;
    EXPECT_EQ(log.LState.Caption(), "STOP");
    EXPECT_EQ(Buttons(log), "100011111") << "only save is disabled";

    // In RUN the capture goes on from slot 1.
    Press(VK_F1);
    Put(4);
    Press(VK_F5);
    EXPECT_TRUE(!RxMsgRing.Stopped() && !RxMsgRing.Suspended());
    Put(2, 0x201);
    Tick();
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Raw(1));
    EXPECT_NE(lines[0].find("Id: 201"), std::string::npos);
}

// F5 held on the menu opens the log and its auto-repeats reach the log as F5 CLEAR: they leave
// the capture whole. A held Page Up goes on paging.
TEST_F(LogTest, HeldF5ClearsNothingAndHeldPagingPagesOn) {
    Put(300);
    TMsgUIForm& log = Open();
    for (int i = 0; i < 3; ++i) drive::PressKey(log, VK_F5, ssRepeat);
    EXPECT_EQ(RxMsgRing.WriteIndex(), 300);
    EXPECT_EQ(RxMsgRing.Record(300).Id, 0x101u + 299);
    Press(VK_F12);
    for (uint16_t shown : {290, 280, 270}) {
        drive::PressKey(log, VK_PRIOR, ssRepeat);
        EXPECT_EQ(log.ShownIndex, shown);
    }
}

TEST_F(LogTest, WindowLinesFollowTheHeightAndALowWindowShowsNothing) {
    TMsgUIForm& log = Open();
    struct Case {
        int clientHeight, lines;
    };
    for (const Case& c : {Case{600, 23}, Case{578, 22}, Case{800, 33}, Case{140, 0}, Case{94, -1}}) {
        log.SetClientSize(900, c.clientHeight);
        app->ProcessMessages();
        EXPECT_EQ(log.WindowLines, c.lines) << c.clientHeight;
        EXPECT_EQ(log.MSGWin.Height(), std::max(c.clientHeight - 118, 0));
    }
    Press(VK_F1);
    Put(30);
    Tick();
    EXPECT_EQ(log.MSGWin.LineCount(), 0);
    Press(VK_F2);
    Press(VK_F12);
    Press(VK_PRIOR);
    Press(VK_NEXT);
    EXPECT_EQ(log.MSGWin.LineCount(), 0);
    EXPECT_EQ(log.ShownIndex, 30);
}

struct BackCase {
    const char* name;
    std::function<void(TMsgUIForm&)> action;
};

class LogBackTest : public LogTest, public ::testing::WithParamInterface<BackCase> {};

TEST_P(LogBackTest, HidesLogAndLegendAndShowsTheMenu) {
    TMsgUIForm& log = Open();
    Press(VK_F9);
    ASSERT_TRUE(LegendForm->Visible());
    GetParam().action(log);
    app->ProcessMessages();
    EXPECT_FALSE(log.Visible());
    EXPECT_FALSE(LegendForm->Visible());
    EXPECT_TRUE(MenuForm->Visible());
    EXPECT_EQ(app->ActiveForm(), MenuForm);
    EXPECT_FALSE(app->Terminated());

    drive::PressKey(*MenuForm, VK_F5);
    EXPECT_TRUE(log.Visible());
    EXPECT_EQ(log.LegendShown, 0) << "showing the log resets the legend toggle";
    EXPECT_EQ(log.LState.Caption(), "STOP") << "the label keeps its state";
    Press(VK_F9);
    EXPECT_TRUE(LegendForm->Visible());
}

INSTANTIATE_TEST_SUITE_P(Back, LogBackTest,
                         ::testing::Values(BackCase{"F10", [](TMsgUIForm& l) { drive::PressKey(l, VK_F10); }},
                                           BackCase{"BMenu", [](TMsgUIForm& l) { l.BMenu.Click(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, UnmappedKeysAreLeftToTheControls) {
    TMsgUIForm& log = Open();
    for (uint16_t key : {VK_F6, VK_F7, VK_RETURN, uint16_t('A')}) EXPECT_EQ(TMsgUIForm::KeyCommand(key), 0);
    uint16_t f3 = VK_F3;
    log.MSGWin.SetFocus();
    drive::PressKey(log, f3);
    EXPECT_TRUE(RxMsgRing.Suspended()) << "keys act from the memo too";
}

TEST_F(LogTest, FramesOfTheSimulatedNetworkReachTheLogThroughLibraryAndPoller) {
    sim::NodeConfig node;
    node.number = 40;
    node.heartbeatPeriod = 200 * sim::kMs;
    node.statusPeriod = 300 * sim::kMs;
    net->AddNode(node);
    ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
    TRxMsg m;
    while (_GetRxMsg(&m)) {
    }
    TAppStrings descriptions("USR\\FanStr.cfg");
    ASSERT_TRUE(descriptions.Load());
    TFancoil model(descriptions);
    TMsgUIForm& log = Open();
    Press(VK_F1);
    Press(VK_F8);
    for (int i = 0; i < 50; ++i) {
        net->Advance(20 * sim::kMs);
        model.Poll();
    }
    Tick();
    const uint16_t w = RxMsgRing.WriteIndex();
    ASSERT_GE(w, 6);
    std::string all;
    for (const std::string& line : Lines()) all += line + "\n";
    EXPECT_NE(all.find("ID: 40 HBT OPERATIONAL"), std::string::npos) << all;
    EXPECT_NE(all.find("ID: 40 DT1 "), std::string::npos) << all;
    EXPECT_EQ(log.ShownIndex, w);
    std::string newest;
    ASSERT_TRUE(DecodeMsg(RxMsgRing, w, newest));
    EXPECT_EQ(Lines().back(), Split(newest).back());
}

TEST_F(LogTest, LooksRightInEachState) {
    RxMsgRing.Capture(Msg(0x1A8, {1, 21, 0, 1, 3, 0xF3, 0, 0}, 100));
    RxMsgRing.Capture(Msg(0x228, {0x95, 0x09, 0, 0, 0, 0xD7, 0x80, 0}, 200));
    RxMsgRing.Capture(Msg(0x2A8, {0xD7, 0, 0xFB, 0xFF, 0, 0, 0, 0}, 300));
    for (int i = 0; i < 8; ++i) RxMsgRing.Capture(Msg(0x700 + 21 + i, {5}, 400 + 10 * i));
    TMsgUIForm& log = Open();
    Tick();
    Press(VK_F8);
    Press(VK_F12);
    QImage image = Screenshot(log, "msglog");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 900);
    EXPECT_EQ(image.height(), 600);
    EXPECT_EQ(image.pixelColor(log.LState.Left() + 2, log.LState.Top() + 2), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(4, log.SBMonitor.Top() + log.SBMonitor.Height() / 2), QColor(208, 208, 255));
    Press(VK_F1);
    image = Screenshot(log, "msglog_run");
    EXPECT_EQ(image.pixelColor(log.LState.Left() + 2, log.LState.Top() + 2), QColor(0, 255, 0));
}

// The whole program: start-up, the windows in their order, F5 to the log, F9 to the legend, F10
// back to the menu, F10 to the end.
using LogProgramTest = LogInstallTest;

TEST_F(LogProgramTest, TheLogAndItsLegendAreCreatedAtStartUpAndReachedFromTheMenu) {
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_TRUE(boxes.empty());
    int step = 0;
    bool legendSeen = false, menuBack = false;
    EXPECT_EQ(RunProgram([&] {
        if (step == 0 && MenuForm && MenuForm->Visible()) {
            step = 1;
            drive::PressKey(*MenuForm, VK_F5);
        } else if (step == 1 && MsgUIForm->Visible() && !MsgUIForm->TimeShown.empty()) {
            step = 2;
            drive::PressKey(*MsgUIForm, VK_F9);
        } else if (step == 2) {
            legendSeen = LegendForm->Visible() && LegendForm->MemoLegend.LineCount() > 10;
            step = 3;
            drive::PressKey(*MsgUIForm, VK_F10);
        } else if (step == 3) {
            menuBack = MenuForm->Visible() && !LegendForm->Visible() && !MsgUIForm->Visible();
            step = 4;
            drive::PressKey(*MenuForm, VK_F10);
        }
    }), 0);
    EXPECT_EQ(step, 4);
    EXPECT_TRUE(legendSeen);
    EXPECT_TRUE(menuBack);
    EXPECT_EQ(app->FindForm("MsgUIForm"), MsgUIForm);
    EXPECT_EQ(app->FindForm("LegendForm"), LegendForm);
    EXPECT_TRUE(boxes.empty());
}

// The whole program on the shipped simulated network, in the locale of the environment (the CI
// runs it once more under it_IT.UTF-8): every node of the description is present, and the raw and
// the decoded save spell their numbers with a point.
TEST_F(LogProgramTest, ShippedNodesArePresentAndSavedNumbersCarryThePointInAnyLocale) {
    sim::Network::Install(nullptr);  // the description beside the installed libraries
    const char* argv[] = {"telvox"};
    ScheduleStartup(1, argv);
    ASSERT_TRUE(boxes.empty());
    const std::vector<uint8_t> nodes = sim::Network::Shared()->NodeNumbers();
    ASSERT_EQ(nodes.size(), 13u);
    auto allPresent = [&] {
        return std::all_of(nodes.begin(), nodes.end(), [](uint8_t n) { return FancoilData->IsPresent(n); });
    };
    auto sensorLineCaptured = [] {
        std::string line;
        for (uint16_t i = 0; i < RxMsgRing.WriteIndex(); ++i)
            if (DecodeMsg(RxMsgRing, i, line) && line.find(" DT2 ") != std::string::npos) return true;
        return false;
    };
    std::string raw, decoded;
    auto takeSaved = [](std::string& into) {
        for (const auto& f : fs::directory_iterator("OUT")) {
            into = ReadText(f.path());
            fs::remove(f.path());
        }
    };
    int step = 0;
    EXPECT_EQ(RunProgram([&] {
        if (step == 0 && MenuForm && MenuForm->Visible()) {
            step = 1;
            drive::PressKey(*MenuForm, VK_F5);
        } else if (step == 1 && MsgUIForm->Visible()) {
            step = 2;
            drive::PressKey(*MsgUIForm, VK_F1);
        } else if (step == 2 && allPresent() && sensorLineCaptured()) {
            step = 3;
            drive::PressKey(*MsgUIForm, VK_F2);
            drive::PressKey(*MsgUIForm, VK_F4);
            takeSaved(raw);
            drive::PressKey(*MsgUIForm, VK_F8);
            drive::PressKey(*MsgUIForm, VK_F4);
            takeSaved(decoded);
            drive::PressKey(*MsgUIForm, VK_F10);
        } else if (step == 3 && MenuForm->Visible()) {
            step = 4;
            drive::PressKey(*MenuForm, VK_F10);
        }
    }), 0);
    ASSERT_EQ(step, 4) << "nodes present and a sensor frame captured";
    EXPECT_NE(raw.find("Data:"), std::string::npos);
    EXPECT_EQ(raw.find(','), std::string::npos);
    const size_t sensor = decoded.find("S1[\xB0" "C]:");
    ASSERT_NE(sensor, std::string::npos);
    EXPECT_NE(decoded.substr(sensor, 13).find('.'), std::string::npos) << decoded.substr(sensor, 40);
    EXPECT_EQ(decoded.find(','), std::string::npos);
    EXPECT_TRUE(boxes.empty());
}
