// The download sequence and the version collection, step by step, against recorded library calls
// and a recording window; time moves only when a test moves it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "FakeLibrary.h"
#include "app/core/AppStrings.h"
#include "app/core/DwlFc.h"
#include "app/core/Fancoil.h"
#include "app/windows/DownloadSequence.h"
#include "protocol_roads/HexRecords.h"
#include "rtl/Clock.h"
#include "sim/BootLoader.h"

namespace fs = std::filesystem;

namespace {

struct TRecordingView : TDownloadView {
    void EnableButtons(bool enabled) override { Enabled = enabled; }
    void SetLockColour(uint32_t colour) override { Lock = colour; }
    void SetProgress(int percent) override { Progress = percent; }
    void RepaintGrid() override { ++Repaints; }
    void ShowWarning(const std::string& text) override { Warnings.push_back(text); }
    void ReturnToMenu() override { ++Menus; }

    bool Enabled = true;
    uint32_t Lock = TDownloadSequence::kLockFree;
    int Progress = -1;
    int Repaints = 0;
    std::vector<std::string> Warnings;
    int Menus = 0;
};

enum : uint8_t { Idle, Opening, BootLoaders, Erase, ReadFile, SendRecords, SendCrc, AwaitRestart, AwaitVersions };

const std::string Start4 = HexRecord(0, 4, {0x00, 0x00});  // extended linear address 0
const std::string End = "00000001FF";
const std::vector<std::string> Smallest = {Start4, HexRecord(0, 0, {1}), End};  // the least a node takes

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
    return b;
}

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        Fake = TFakeLibrary{};
        char pattern[] = "/tmp/dwlseqXXXXXX";
        dir = mkdtemp(pattern);
        file = dir + "/app.hex";
    }
    void TearDown() override { fs::remove_all(dir); }

    void Present(std::initializer_list<int> nodes) {
        uint16_t words[7] = {};
        for (int n : nodes) words[(n - 21) / 16] |= uint16_t(1u << ((n - 21) % 16));
        for (int k = 0; k < 7; ++k) model.Store(127, 5 + k, int16_t(words[k]), TFancoil::kTypeInteger);
    }
    void SelectNodes(std::initializer_list<int> nodes) {
        for (int slot = 0; table.GetNode(slot) != 0; ++slot)
            if (std::find(nodes.begin(), nodes.end(), table.GetNode(slot)) != nodes.end()) table.Select(slot);
    }
    // Records as the file holds them: ':' + text + CR LF each.
    void WriteHex(const std::vector<std::string>& records, const std::string& tail = "") {
        std::string bytes;
        for (const std::string& r : records) bytes += ":" + r + "\r\n";
        std::ofstream(file, std::ios::binary) << bytes + tail;
    }
    void Refresh() {
        seq.CollectVersionsStep();
        seq.DownloadStep();
    }
    // Refreshes (moving time by the given step) until the sequence reaches the state.
    bool RunTo(uint8_t state, uint32_t stepMs = 0, int refreshes = 1000) {
        for (int i = 0; i < refreshes && seq.GetDownloadState() != state; ++i) {
            clock.Advance(stepMs);
            Refresh();
        }
        return seq.GetDownloadState() == state;
    }
    // The record texts sent, each checked to go out as pieces 0 to 5 in order.
    static std::vector<std::string> SentRecords(const std::vector<std::string>& calls) {
        std::vector<std::string> records;
        for (size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].rfind("line0 ", 0) != 0) continue;
            const std::string text = calls[i].substr(6);
            for (int k = 1; k <= 5; ++k)
                EXPECT_EQ(i + k < calls.size() ? calls[i + k] : "", "line" + std::to_string(k) + " " + text);
            records.push_back(text);
        }
        return records;
    }

    rtl::ManualClock clock;
    rtl::ScopedClock scoped{clock};
    TAppStrings descriptions{"USR\\FanStr.cfg"};  // never loaded: no descriptions
    TFancoil model{descriptions};
    TDwlFc table;
    TRecordingView view;
    TDownloadSequence seq{table, model, view};
    std::string dir, file;
};

TEST_F(Download, WithoutSelectionErasesAtOnceAndSendsTheWholeFile) {
    Present({40});
    table.Fill(model);
    const std::vector<std::string> records = {Start4, HexRecord(0, 0, Bytes(16, 1)), HexRecord(0x10, 0, {9}), End};
    WriteHex(records);
    seq.Start(file);
    EXPECT_FALSE(seq.NodesInBootLoader()) << "not before the file is open";
    Refresh();
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"erase"});
    EXPECT_TRUE(seq.NodesInBootLoader()) << "the erase holds every waiting node";
    EXPECT_FALSE(view.Enabled);
    EXPECT_EQ(view.Lock, TDownloadSequence::kLockBusy);
    EXPECT_EQ(seq.GetDownloadRan(), 1);
    // The file is read once the erase has had its 2000 ms.
    clock.Advance(2000);
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), ReadFile);
    clock.Advance(1);
    Refresh();
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), SendCrc);
    EXPECT_EQ(view.Progress, 100);
    EXPECT_EQ(SentRecords(Fake.TakeCalls()), records);
    EXPECT_TRUE(seq.NodesInBootLoader()) << "until the CRC is sent";
    Refresh();
    EXPECT_FALSE(seq.NodesInBootLoader());
    std::vector<uint8_t> image(sim::kImageSize, 0xFF);
    std::copy_n(Bytes(16, 1).begin(), 16, image.begin());
    image[0x10] = 9;
    char crc[16];
    std::snprintf(crc, sizeof crc, "crc %04X", unsigned(sim::Crc16(image.data(), image.size())));
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{crc});
    // 15 s to the ms for the nodes to restart, then the versions; nothing was selected, nothing
    // is marked.
    clock.Advance(15000);
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), AwaitRestart);
    clock.Advance(1);
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), AwaitVersions);
    EXPECT_EQ(seq.GetCollectState(), 1);
    EXPECT_EQ(view.Progress, 0);
    ASSERT_TRUE(RunTo(Idle));
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"ask 40"});
    EXPECT_EQ(table.GetState(0), TDwlFc::StateNone);
    EXPECT_TRUE(view.Enabled);
}

TEST_F(Download, ConfirmingNodesFollowOneRefreshApartThenSixSecondsToTheErase) {
    Present({40, 41, 42});
    table.Fill(model);
    SelectNodes({40, 41, 42});
    Fake.Confirmed = {40, 41, 42};
    WriteHex(Smallest);
    seq.Start(file);
    for (int node : {40, 41, 42}) {
        Refresh();
        EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"boot " + std::to_string(node)});
        EXPECT_TRUE(seq.NodesInBootLoader());
    }
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), Erase);
    clock.Advance(6000);
    Refresh();
    EXPECT_TRUE(Fake.TakeCalls().empty());
    clock.Advance(1);
    Refresh();
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"erase"});
}

// The controller is addressed as 127 here; its acknowledgement is booked as 126, so it never
// confirms and the sequence moves on after 1000 ms.
TEST_F(Download, UnconfirmedNodeIsPassedOverAfterASecond) {
    Present({40, 127});
    table.Fill(model);
    SelectNodes({40, 127});
    Fake.Confirmed = {40, 126};
    WriteHex(Smallest);
    seq.Start(file);
    Refresh();
    Refresh();
    EXPECT_EQ(Fake.TakeCalls(), (std::vector<std::string>{"boot 40", "boot 127"}));
    clock.Advance(1000);
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), BootLoaders);
    clock.Advance(1);
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), Erase);
}

// Up to four records a batch; a record that opens a page or runs into the next ends its batch,
// and two idle refreshes follow. A batch waits for an empty transmit queue.
TEST_F(Download, BatchesFollowPagesAndTheTransmitQueue) {
    const std::string r00 = HexRecord(0x0000, 0, Bytes(16, 0)), r10 = HexRecord(0x0010, 0, Bytes(16, 1)),
                      r20 = HexRecord(0x0020, 0, Bytes(16, 2)), r30 = HexRecord(0x0030, 0, Bytes(16, 3)),
                      rF0 = HexRecord(0x00F0, 0, Bytes(16, 4)),  // ends exactly at the page end
        r100 = HexRecord(0x0100, 0, Bytes(16, 5)),                // opens page 1
        r1F8 = HexRecord(0x01F8, 0, Bytes(16, 6)),                // runs into page 2
        r208 = HexRecord(0x0208, 0, Bytes(16, 7));                // page 2: no change any more
    WriteHex({Start4, r00, r10, r20, r30, rF0, r100, r1F8, r208, End},
             ":JUNK AFTER THE END\r\n:" + HexRecord(0x0300, 0, {1}) + "\r\nNO COLON AFTER THE END\r\n");
    seq.Start(file);
    ASSERT_TRUE(RunTo(SendRecords, 3000, 3));
    Fake.TakeCalls();

    const std::vector<std::vector<std::string>> batches = {
        {Start4, r00, r10, r20}, {r30, rF0, r100}, {}, {}, {r1F8}, {}, {}, {r208, End}};
    for (size_t b = 0; b < batches.size(); ++b) {
        // A queue still draining holds everything back, the page pause too.
        Fake.QueueLevel = 3;
        Refresh();
        EXPECT_TRUE(Fake.TakeCalls().empty()) << "batch " << b;
        Fake.QueueLevel = b % 2 ? -1 : 0;  // an error reading the queue does not hold the sending back
        Refresh();
        EXPECT_EQ(SentRecords(Fake.TakeCalls()), batches[b]) << "batch " << b;
    }
    // The end-of-file record ends the reading: what follows it is never read, nor checked, nor sent.
    EXPECT_EQ(seq.GetDownloadState(), SendCrc);
    EXPECT_EQ(view.Progress, 100);
}

TEST_F(Download, ProgressCountsEveryByteAndTheLastLineNeedsNoLineEnd) {
    const std::vector<std::string> records = {Start4, HexRecord(0, 0, Bytes(4, 0)), HexRecord(4, 0, Bytes(4, 4)),
                                              HexRecord(8, 0, Bytes(4, 8)), HexRecord(12, 0, Bytes(4, 12))};
    std::string bytes;
    for (const std::string& r : records) bytes += ":" + r + "\r\n";
    bytes += "\r\n \t \r\n:" + End;  // empty lines and blanks pass; the last line needs no line end
    std::ofstream(file, std::ios::binary) << bytes;
    seq.Start(file);
    ASSERT_TRUE(RunTo(SendRecords, 3000, 3));
    Refresh();
    size_t firstFour = 0;
    for (int i = 0; i < 4; ++i) firstFour += records[i].size() + 3;
    EXPECT_EQ(view.Progress, int(double(firstFour) / double(bytes.size()) * 100 + 0.5));
    Refresh();
    EXPECT_EQ(view.Progress, 100);
    EXPECT_EQ(seq.GetDownloadState(), SendCrc);
    Fake.TakeCalls();
}

struct TStopCase {
    const char* Name;
    std::vector<std::string> Records;  // of the file, one line each
    std::string Message;               // after "File: <name>\r\n"
    std::vector<std::string> Sent;     // records sent before the stop, had the file passed the check
};

class DownloadStop : public Download, public ::testing::WithParamInterface<TStopCase> {};

// The whole file is checked before the first frame: nothing reaches a node, the window stays as it
// was. The batches check again what they send, should the file change after that check.
TEST_P(DownloadStop, RefusedBeforeAnyFrameAndStoppedInTheBatches) {
    const TStopCase& c = GetParam();
    Present({40});
    table.Fill(model);
    SelectNodes({40});
    WriteHex(c.Records);
    seq.Start(file);
    Refresh();
    const std::string warning = "File: " + file + "\r\n" + c.Message;
    EXPECT_EQ(view.Warnings, std::vector<std::string>{warning});
    EXPECT_TRUE(Fake.TakeCalls().empty());
    EXPECT_EQ(seq.GetDownloadState(), Idle);
    EXPECT_EQ(seq.GetDownloadRan(), 0);
    EXPECT_EQ(view.Menus, 0);
    EXPECT_TRUE(view.Enabled);
    EXPECT_EQ(view.Lock, TDownloadSequence::kLockFree);
    EXPECT_EQ(table.GetState(0), TDwlFc::StateSelected);

    table.ClearState(0);
    WriteHex(Smallest);
    seq.Start(file);
    ASSERT_TRUE(RunTo(ReadFile, 3000, 3));
    WriteHex(c.Records);
    ASSERT_TRUE(RunTo(SendRecords, 3000, 3));
    Fake.TakeCalls();
    Refresh();
    EXPECT_EQ(seq.GetDownloadState(), Idle);
    EXPECT_EQ(view.Warnings, (std::vector<std::string>{warning, warning}));
    EXPECT_EQ(SentRecords(Fake.TakeCalls()), c.Sent);
    EXPECT_EQ(view.Menus, 1);
    EXPECT_TRUE(view.Enabled);
    EXPECT_EQ(view.Lock, TDownloadSequence::kLockBusy);
    // Another download may start from the beginning.
    WriteHex(Smallest);
    seq.Start(file);
    ASSERT_TRUE(RunTo(SendCrc, 3000, 10));
}

const std::string Data00 = HexRecord(0, 0, {1}), Data10 = HexRecord(0x10, 0, {2});

INSTANTIATE_TEST_SUITE_P(
    Stops, DownloadStop,
    ::testing::Values(
        TStopCase{"FirstRecordIsData", {Data00, End}, "Start Of File record missing", {}},
        TStopCase{"BadChecksum",
                  {Start4, Data00, "0100AB0001FF", End},
                  "Contains invalid (CHKS) record at 00ab",
                  {Start4, Data00}},
        TStopCase{"RecordLongerThanSixteenBytes",
                  {Start4, HexRecord(0x20, 0, Bytes(17, 0))},
                  "Contains invalid (CHKS) record at 0020",
                  {Start4}},
        TStopCase{"FirstDataRecordNotInPageZero",
                  {Start4, HexRecord(0x0100, 0, {1}), End},
                  "Starting page not zero",
                  {Start4}},
        // No record at all, or no data: the erased nodes are not sent the CRC of a blank image.
        TStopCase{"EmptyFile", {}, "Start Of File record missing", {}},
        TStopCase{"NoDataRecord", {Start4, End}, "No data record", {Start4, End}},
        TStopCase{"OnlyAnEmptyDataRecord", {Start4, "0000000000", End}, "No data record", {Start4, "0000000000", End}},
        // Cut off at a line end: what was read is not the whole image.
        TStopCase{"NoEndRecord", {Start4, Data00}, "End Of File record missing", {Start4, Data00}},
        // A record whose ':' was lost, refused at the address its text gives.
        TStopCase{"LineWithoutColon",
                  {Start4, Data00 + "\r\n " + Data10, End},
                  "Contains invalid (CHKS) record at 0010",
                  {Start4, Data00}},
        // Malformed lines that a checksum alone lets through.
        TStopCase{"NotAHexDigit", {Start4, "01001000G0EF", End}, "Contains invalid (CHKS) record at 0010", {Start4}},
        TStopCase{"LowerCaseDigits", {Start4, "0100100002ed", End}, "Contains invalid (CHKS) record at 0010", {Start4}},
        TStopCase{"TwoRecordsOnOneLine",
                  {Start4, Data00 + ":" + Data10, End},
                  "Contains invalid (CHKS) record at 0000",
                  {Start4}},
        TStopCase{"TextAfterTheRecord", {Start4, Data10 + " ;x", End}, "Contains invalid (CHKS) record at 0010", {Start4}},
        TStopCase{"DataAfterAnUpperAddress",
                  {HexRecord(0, 4, {0x00, 0x01}), Data10, End},
                  "Contains invalid (CHKS) record at 0010",
                  {HexRecord(0, 4, {0x00, 0x01})}},
        TStopCase{"DataAfterASegment",
                  {Start4, Data00, HexRecord(0, 2, {0x10, 0x00}), Data10, End},
                  "Contains invalid (CHKS) record at 0010",
                  {Start4, Data00, HexRecord(0, 2, {0x10, 0x00})}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Download, MissingFileChangesNothing) {
    // Shown as the system writes paths, whatever the dialog gave.
    seq.Start(dir + "\\missing.hex");
    Refresh();
    EXPECT_EQ(view.Warnings, std::vector<std::string>{"File: " + dir + "/missing.hex\r\nNot found"});
    EXPECT_EQ(seq.GetDownloadState(), Idle);
    EXPECT_EQ(seq.GetDownloadRan(), 0);
    EXPECT_TRUE(view.Enabled);
    EXPECT_EQ(view.Menus, 0);
    EXPECT_TRUE(Fake.TakeCalls().empty());
}

// When no node came back the collection touches no button; the download still gives them back.
TEST_F(Download, NoNodeBackStillEndsWithTheButtonsEnabled) {
    Present({40});
    table.Fill(model);
    SelectNodes({40});
    WriteHex(Smallest);
    seq.Start(file);
    ASSERT_TRUE(RunTo(AwaitRestart, 1000, 20));
    Present({});
    ASSERT_TRUE(RunTo(Idle, 1000, 30));
    EXPECT_EQ(table.GetState(0), TDwlFc::StateFailed);
    EXPECT_TRUE(view.Enabled);
}

TEST_F(Download, CollectionAsksEveryPresentNodeInSlotOrder) {
    Present({40, 127});
    table.Fill(model);
    table.Select(0);
    table.MarkFailed(1);
    Fake.Versions = {{40, 0x1603}, {126, 0x3107}};
    Fake.OpenReadsPerRequest = 2;
    seq.CollectVersions();
    EXPECT_EQ(table.GetState(0), TDwlFc::StateNone);
    EXPECT_EQ(table.GetState(1), TDwlFc::StateNone);
    Refresh();
    EXPECT_FALSE(view.Enabled);
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"ask 40"});
    Refresh();
    Refresh();  // the exchange is still open for two reads
    EXPECT_TRUE(Fake.TakeCalls().empty());
    Refresh();
    // The controller is asked through node 126.
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"ask 126"});
    EXPECT_EQ(table.VersionText(0), "01.06.003");
    for (int i = 0; i < 3; ++i) Refresh();
    EXPECT_EQ(seq.GetCollectState(), 0);
    EXPECT_EQ(table.VersionText(1), "03.01.007");
    EXPECT_TRUE(view.Enabled);
}

TEST_F(Download, CollectionWithoutNodesEndsAtOnce) {
    seq.CollectVersions();
    view.Enabled = false;  // whatever the buttons show, the collection leaves them
    Refresh();
    EXPECT_EQ(seq.GetCollectState(), 0);
    EXPECT_FALSE(view.Enabled);
    EXPECT_TRUE(Fake.TakeCalls().empty());
}

// A version request nobody ends holds the collection only so long.
TEST_F(Download, CollectionGivesUpAnExchangeThatNeverEnds) {
    Present({40, 41});
    table.Fill(model);
    Fake.OpenReadsPerRequest = 1000000;
    seq.CollectVersions();
    Refresh();
    clock.Advance(TDownloadSequence::kCollectTimeoutMs);
    Refresh();
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"ask 40"});
    clock.Advance(1);
    Refresh();
    EXPECT_EQ(Fake.TakeCalls(), std::vector<std::string>{"ask 41"});
}

TEST_F(Download, SelectionDuringADownload) {
    Present({40, 41, 42});
    table.Fill(model);
    table.MarkDone(0);
    table.Select(1);
    table.MarkFailed(2);
    // A right click selects a done row, a second one clears it.
    seq.ToggleSelection(0);
    EXPECT_EQ(table.GetState(0), TDwlFc::StateSelected);
    seq.ToggleSelection(0);
    EXPECT_EQ(table.GetState(0), TDwlFc::StateNone);
    table.MarkDone(0);
    // Choosing the file clears the marks of the rows not selected and keeps the selections.
    WriteHex(Smallest);
    seq.Start(file);
    EXPECT_EQ(table.GetState(0), TDwlFc::StateNone);
    EXPECT_EQ(table.GetState(1), TDwlFc::StateSelected);
    EXPECT_EQ(table.GetState(2), TDwlFc::StateNone);
    Refresh();
    seq.ToggleSelection(1);
    EXPECT_EQ(table.GetState(1), TDwlFc::StateSelected);
    seq.SelectAll();
    for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(table.GetState(slot), TDwlFc::StateSelected);
    EXPECT_EQ(table.GetState(3), TDwlFc::StateNone);
    // Only the nodes the download put into their boot loader are marked: 42, still ahead of it,
    // was taken; 40 waits, selected, for the next download.
    ASSERT_TRUE(RunTo(Idle, 1000, 100));
    EXPECT_EQ(table.GetState(0), TDwlFc::StateSelected);
    EXPECT_EQ(table.GetState(1), TDwlFc::StateDone);
    EXPECT_EQ(table.GetState(2), TDwlFc::StateDone);
    // The next download marks its own nodes only.
    seq.Start(file);
    ASSERT_TRUE(RunTo(Idle, 1000, 100));
    EXPECT_EQ(table.GetState(0), TDwlFc::StateDone);
    EXPECT_EQ(table.GetState(1), TDwlFc::StateNone);
    EXPECT_EQ(table.GetState(2), TDwlFc::StateNone);
}

TEST(ShownFileName, DropsTheFolders) {
    EXPECT_EQ(ShownFileName("C:\\fw\\IN\\app.hex"), "app.hex");
    EXPECT_EQ(ShownFileName("/home/user/IN/app.hex"), "app.hex");
    EXPECT_EQ(ShownFileName("app.hex"), "app.hex");
    EXPECT_EQ(ShownFileName("IN\\"), "");
}

}  // namespace
