// Start-up and shutdown of the program on a temporary installation and the simulated network.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "AppStrings.h"
#include "DwlFc.h"
#include "Fancoil.h"
#include "InstallFixture.h"
#include "Morvand.h"
#include "Scheduler.h"
#include "SetupFile.h"
#include "UIFile.h"

namespace {

// --- command line

struct CmdCase {
    std::vector<const char*> args;
    uint8_t flags;
    std::string fileName;
};

TEST(CommandLine, SwitchesGiveFlagsAndFileName) {
    const CmdCase cases[] = {
        {{}, 0x00, ""},
        {{"/Wdata.txt"}, 0x46, "data.txt"},
        {{"/Ra"}, 0x49, "a"},
        {{"/R"}, 0x00, ""},
        {{"/W"}, 0x00, ""},
        {{"/Wa", "/Rb"}, 0x00, "b"},
        {{"/Ra", "/Rb"}, 0x49, "b"},
        {{"/Ra", "/R"}, 0x00, ""},
        {{"/wa"}, 0x00, ""},
        {{"/X"}, 0x00, ""},
        {{"/X", "/Wout.txt", "plain"}, 0x46, "out.txt"},
        {{"W/a", "-Ra", "/"}, 0x00, ""},
    };
    for (const CmdCase& c : cases) {
        std::vector<const char*> argv{"telvox"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ParseCommandLine(int(argv.size()), argv.data());
        std::string shown;
        for (const char* a : c.args) shown += std::string(a) + " ";
        EXPECT_EQ(int(_CmdLineData::Flags), int(c.flags)) << shown;
        EXPECT_EQ(_CmdLineData::FileName, c.fileName) << shown;
    }
    ParseCommandLine(0, nullptr);
    EXPECT_EQ(_CmdLineData::Flags, 0);
}

// --- start-up and shutdown

class Startup : public Installation {
public:
    int otherProgram = -1;  // the base directory as another program holds it

protected:
    void TearDown() override {
        if (otherProgram >= 0) close(otherProgram);
        otherProgram = -1;
        Installation::TearDown();
    }
    bool AllCreated() const {
        return AppStr && FanStr && SetupFile && UIFile && Scheduler && FancoilData && DwlFc &&
               InvalidateList && RefreshList;
    }
    static bool AllNull() {
        return !AppStr && !FanStr && !SetupFile && !UIFile && !Scheduler && !FancoilData && !DwlFc &&
               !InvalidateList && !RefreshList;
    }
};

TEST_F(Startup, NormalStartRunsSchedulerAndPollerAndShutdownFreesAll) {
    net->AddNode(SimNode(30));
    net->AddNode(SimNode(127));
    const char* argv[] = {"telvox", "/Rsaved.txt"};
    ScheduleStartup(2, argv);

    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(terminateRequests, 0);
    EXPECT_FALSE(StartRefused);
    ASSERT_TRUE(AllCreated());
    EXPECT_EQ(BaseDir, base.string() + "/");
    EXPECT_EQ(_CmdLineData::Flags, 0x49);
    EXPECT_EQ(Scheduler->EntryCount(), 1u);
    EXPECT_EQ(FancoilData->GetDescription(21), "Reception");
    const int other = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_NE(flock(other, LOCK_SH | LOCK_NB), 0) << "the folder is held for this program alone";
    close(other);
    EXPECT_TRUE(Eventually([&] { return PostedCount(UM_REFRESH) > 0 && PostedCount(UM_TICK500) > 0; }));
    for (const Posted& p : TakePosted()) {
        if (p.msg == UM_REFRESH) {
            EXPECT_EQ(p.window, &windowTag);
        }
    }
    EXPECT_FALSE(DateText.Get().empty());

    // The poller on the scheduler thread brings the nodes and their frames in.
    net->Advance(1500 * sim::kMs);
    EXPECT_TRUE(Eventually([] { return FancoilData->IsPresent(30) && FancoilData->IsPresent(127); }));
    EXPECT_TRUE(Eventually([] { return RxMsgRing.WriteIndex() >= 2; }));
    EXPECT_EQ(RxMsgRing.Record(0).Id, 0u) << "the first frame goes to slot 1";

    ScheduleShutdown();
    EXPECT_TRUE(AllNull());
    TRxMsg m;
    EXPECT_FALSE(_GetRxMsg(&m)) << "the library's instance is gone";
    const std::string log = LogText();
    const auto start = log.find("Scheduler start event"), begin = log.find("BEGIN APPLICATION"),
               end = log.find("Scheduler on terminate event"), created = log.find("MORVAND Protocol Created");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(created, begin);
    EXPECT_LT(start, end);
    EXPECT_NE(log.find("SETPOINT"), std::string::npos) << "the parameter rows were dumped";
}

// Each failing step shows its text, asks for termination once and leaves the later objects null.
TEST_F(Startup, FatalStepsStopWhereTheyFail) {
    struct Case {
        const char* what;
        std::function<void(Startup&)> breakIt;
        std::function<std::string()> expectedText;
        int created;  // objects in start-up order that exist afterwards
        const char* logged = "";  // the reason, in the diagnostic log
    };
    const Case cases[] = {
        {"another program in the same base directory",
         [](Startup& t) {
             t.otherProgram = open(t.base.c_str(), O_RDONLY | O_DIRECTORY);
             ASSERT_EQ(flock(t.otherProgram, LOCK_EX | LOCK_NB), 0);
         },
         [] { return "TELVOX GIA' IN ESECUZIONE IN QUESTA CARTELLA\r\n" + BaseDir; }, 0},
        {"no AppStr.cfg", [](Startup& t) { fs::remove(t.base / "USR" / "AppStr.cfg"); },
         [] { return AppStr->ErrorText(); }, 1},
        {"no FanStr.cfg", [](Startup& t) { fs::remove(t.base / "USR" / "FanStr.cfg"); },
         [] { return FanStr->ErrorText(); }, 2},
        {"no UI.csv", [](Startup& t) { fs::remove(t.base / "USR" / "UI.csv"); },
         [] { return UIFile->ErrorText(); }, 4},
        {"no Morvand.ini", [](Startup& t) { fs::remove(t.work / "Morvand.ini"); },
         [] { return std::string("Create Protocol error: 1; USB-CAN or file.ini"); }, 7},
        {"no topSpeed", [](Startup& t) { t.MorvandIni("[General]\r\nlogEn=1\r\n"); },
         [] { return std::string("Create Protocol error: 2; USB-CAN or file.ini"); }, 7},
        {"no board", [](Startup& t) { WriteText(t.root / "Xat11reg.reg", "simulated 1\n"); },
         [] { return std::string("Create Protocol error: 3; USB-CAN or file.ini"); }, 7},
        {"a simulated network file with one bad value",
         [](Startup& t) {
             WriteText(t.root / "network.ini", "[Network]\nNodes = 30\n[Node30]\nSensors = 25.6; 12.0 x\n");
             sim::Network::Install(nullptr);
             sim::Network::SetDescriptionPath((t.root / "network.ini").string());
         },
         [] { return std::string("Create Protocol error: 3; USB-CAN or file.ini"); }, 7,
         "/network.ini: line 4: [Node30] Sensors: wants 4 temperatures"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        net = std::make_shared<sim::Network>();
        boxes.boxes.clear();
        terminateRequests = 0;
        SetUp();
        c.breakIt(*this);
        ScheduleStartup();

        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].caption, "FATAL ERROR");
        EXPECT_EQ(boxes.boxes[0].text, c.expectedText());
        EXPECT_EQ(terminateRequests, 1);
        EXPECT_TRUE(StartRefused) << "the program ends with a non-zero status";
        const bool exists[] = {bool(AppStr), bool(FanStr), bool(SetupFile), bool(UIFile),
                               bool(Scheduler), bool(FancoilData), bool(DwlFc)};
        for (int i = 0; i < 7; ++i) EXPECT_EQ(exists[i], i < c.created) << "object " << i;
        EXPECT_TRUE(!Scheduler || Scheduler->Suspended());

        ScheduleShutdown();
        EXPECT_TRUE(AllNull());
        EXPECT_EQ(PostedCount(UM_REFRESH), 0u) << "a scheduler never resumed posts nothing";
        const std::string log = LogText();
        EXPECT_EQ(log.find("BEGIN APPLICATION"), std::string::npos);
        EXPECT_EQ(log.find("Scheduler start event"), std::string::npos);
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        // The end of a scheduler that never ran is logged (when the settings enable the log).
        const bool logging = fs::exists(work / "Morvand.ini");
        EXPECT_EQ(log.find("Scheduler on terminate event") != std::string::npos, c.created == 7 && logging);
    }
}

TEST_F(Startup, ShutdownIsHarmlessInAnyState) {
    ScheduleShutdown();
    ScheduleShutdown();
    EXPECT_TRUE(AllNull());
    ScheduleStartup();
    ASSERT_TRUE(AllCreated());
    ScheduleShutdown();
    ScheduleShutdown();
    EXPECT_TRUE(AllNull());
    ScheduleGlobalsExit();
    EXPECT_TRUE(BaseDir.empty());
    EXPECT_TRUE(DateText.Get().empty());
}

TEST_F(Startup, LeftOverBackupReplacesTheDescriptionsBeforeTheyAreRead) {
    const fs::path file = base / "USR" / "FanStr.cfg", backup = base / "USR" / "FanStr.cfg.bak";
    struct Case {
        const char* what;
        bool fileThere;
    };
    for (const Case& c : {Case{"file and backup", true}, Case{"backup alone", false}}) {
        SCOPED_TRACE(c.what);
        if (c.fileThere) WriteText(file, "\"FC30\" \"half\" \"\" \"\" \"\"\n");
        else fs::remove(file);
        WriteText(backup, "\"FC30\" \"Sala riunioni\" \"\" \"\" \"\"\n");
        ScheduleStartup();
        ASSERT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text;
        EXPECT_EQ(FancoilData->GetDescription(30), "Sala riunioni");
        EXPECT_FALSE(fs::exists(backup));
        EXPECT_EQ(ReadText(file), "\"FC30\" \"Sala riunioni\" \"\" \"\" \"\"\n");
        ScheduleShutdown();
    }
}

// logEn and logDur of Morvand.ini: which log file the lines go to, and whether they are kept.
TEST_F(Startup, LogSettingsChooseDurationAndEnable) {
    struct Case {
        const char* general;
        bool recorded;
        bool dated;  // a non-zero duration names the file by date
    };
    const Case cases[] = {
        {"", false, false},
        {"logEn=99\r\nlogDur=5\r\n", false, true},
        {"logEn=0\r\nlogDur=5\r\n", false, true},
        {"logEn=1\r\n", true, false},
        {"logEn=7\r\nlogDur=998\r\n", true, true},
        {"logEn=1\r\nlogDur=999\r\n", true, false},
        {"logEn=1\r\nlogDur=1000\r\n", true, false},
        {"logEn=1\r\nlogDur=-1\r\n", true, false},
        {"logEn=1\r\nlogDur=0\r\n", true, false},
        {"logEn=yes\r\nlogDur=3\r\n", false, true},
        {"logEn=1\r\nlogDur=x\r\n", true, false},
        {"logEn=1 ; on\r\nlogDur=3\r\n", false, true},
        {"logEn=1\r\nlogDur=3 days\r\n", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.general);
        for (const auto& e : fs::directory_iterator(base))
            if (e.path().extension() == ".log") fs::remove(e.path());
        // Without topSpeed the start ends at the library, after the rows were dumped to the log.
        MorvandIni(std::string("[General]\r\n") + c.general);
        boxes.boxes.clear();
        ScheduleStartup();
        ScheduleShutdown();
        const std::string log = LogText();
        EXPECT_EQ(log.find("SETPOINT") != std::string::npos, c.recorded) << log;
        if (!c.recorded) continue;
        const auto files = LogFiles();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0] != "LOG.log", c.dated) << files[0];
    }
}

}  // namespace
