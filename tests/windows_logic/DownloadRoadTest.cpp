// The download sequence on the simulated network through libMorvand: the nodes' boot loaders take
// the file the sequence sends and check the image CRC it computed; the restarted nodes report
// their new versions. The sequence's waits run on a manual clock that the test moves when the
// sequence waits for time alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/core/AppStrings.h"
#include "app/core/DwlFc.h"
#include "app/core/Fancoil.h"
#include "app/windows/DownloadSequence.h"
#include "protocol_roads/HexRecords.h"
#include "protocol_server/Morvand.h"
#include "rtl/Clock.h"
#include "sim/BootLoader.h"
#include "sim/Network.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t OldVersion = 0x4601, NewVersion = 0x4702;

bool Eventually(const std::function<bool()>& condition, int ms = 20000) {
    for (int i = 0; i < ms; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// CRC-16/MODBUS bit by bit: the boot loaders' rule, apart from the program's table.
uint16_t ModbusCrc(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

struct TQuietView : TDownloadView {
    void EnableButtons(bool enabled) override { Enabled = enabled; }
    void SetLockColour(uint32_t) override {}
    void SetProgress(int percent) override { Progress = std::max(Progress, percent); }
    void RepaintGrid() override {}
    void ShowWarning(const std::string& text) override { Warnings.push_back(text); }
    void ReturnToMenu() override {}
    bool Enabled = true;
    int Progress = 0;
    std::vector<std::string> Warnings;
};

// The file: an address record, 1 kB of code, the version word at its place, the end record. The
// expected CRC is the boot loaders' own over the image area.
struct TImage {
    std::string Text;
    size_t Records = 0;
    uint16_t Crc = 0;
};

TImage BuildImage() {
    std::vector<uint8_t> image(sim::kImageSize, 0xFF);
    std::vector<std::string> records = {HexRecord(0, 4, {0, 0})};
    for (size_t a = 0; a < 1024; a += 16) {
        std::vector<uint8_t> data;
        for (size_t i = a; i < a + 16; ++i) data.push_back(uint8_t(i * 7 + (i >> 8)));
        std::copy(data.begin(), data.end(), image.begin() + long(a));
        records.push_back(HexRecord(uint16_t(a), 0, data));
    }
    const std::vector<uint8_t> word = {uint8_t(NewVersion), uint8_t(NewVersion >> 8)};
    std::copy(word.begin(), word.end(), image.begin() + sim::kVersionAddress);
    records.push_back(HexRecord(sim::kVersionAddress, 0, word));
    records.push_back(HexRecord(0, 1, {}));
    TImage out;
    for (const std::string& r : records) out.Text += ":" + r + "\r\n";
    out.Records = records.size();
    out.Crc = sim::Crc16(image.data(), image.size());
    return out;
}

class DownloadRoad : public ::testing::Test {
protected:
    enum : uint8_t { Idle, Opening, BootLoaders, Erase, ReadFile, SendRecords, SendCrc, AwaitRestart, AwaitVersions };

    void SetUp() override {
        previous = fs::current_path();
        char pattern[] = "/tmp/dwlroadXXXXXX";
        root = mkdtemp(pattern);
        WriteFile(root / "work" / "Morvand.ini", "[General]\r\ntopSpeed=1\r\nlogEn=0\r\nlogDur=7\r\n");
        WriteFile(root / "Xat11reg.reg", "simulated 0\n");
        setenv("XAT11REG_FILE", (root / "Xat11reg.reg").c_str(), 1);
        fs::current_path(root / "work");
        for (uint8_t n : {40, 41, 42, 45}) {
            sim::NodeConfig c;
            c.number = n;
            c.version = OldVersion;
            c.heartbeatPeriod = 100 * sim::kMs;
            c.values.master = n;
            net->AddNode(c);
        }
        sim::NodeConfig controller;
        controller.number = 127;
        controller.version = 0x3107;
        controller.heartbeatPeriod = 100 * sim::kMs;
        net->AddNode(controller);
        sim::Network::Install(net);
        net->SetCapture(true);
    }
    void TearDown() override {
        _DestroyCANThread();
        sim::Network::Install(nullptr);
        fs::current_path(previous);
        fs::remove_all(root);
    }

    void Drain() {
        for (auto& f : net->TakeCapture()) carried.push_back(f);
    }
    // Two operational heartbeats from each node on the bus from now on: the second one surely
    // reached the library after anything the test did before.
    bool FreshHeartbeats(const std::vector<uint8_t>& nodes) {
        Drain();
        const size_t from = carried.size();
        return Eventually([&] {
            Drain();
            std::map<uint8_t, int> seen;
            for (size_t i = from; i < carried.size(); ++i) {
                const sim::Frame& f = carried[i].frame;
                if ((f.id & 0x780) == 0x700 && f.data[0] == 5) ++seen[uint8_t(f.id & 0x7F)];
            }
            for (uint8_t n : nodes)
                if (seen[n] < 2) return false;
            return true;
        });
    }
    // The library's download frames on the bus, in order: go-boot-loader requests by their
    // identifier, the erase, each record's first piece, the CRC with its text.
    std::vector<std::string> DownloadFrames(size_t from = 0) const {
        std::vector<std::string> out;
        for (size_t i = from; i < carried.size(); ++i) {
            const sim::BusFrame& b = carried[i];
            const sim::Frame& f = b.frame;
            if (b.sender != sim::kSenderHost) continue;
            char text[32];
            if ((f.id & 0x780) == 0x600 && f.data[0] == 0x2B && f.data[1] == 0x10 && f.data[2] == 0x20)
                std::snprintf(text, sizeof text, "boot %u", unsigned(f.id & 0x7F));
            else if (f.id == 0x494)
                std::snprintf(text, sizeof text, "erase");
            else if (f.id == 0x114)
                std::snprintf(text, sizeof text, "record");
            else if (f.id == 0x414)
                std::snprintf(text, sizeof text, "crc %.4s", reinterpret_cast<const char*>(f.data.data()));
            else
                continue;
            if (out.empty() || out.back() != "record" || std::string(text) != "record") out.push_back(text);
        }
        return out;
    }
    bool ModelShows(const std::vector<uint8_t>& nodes) {
        return Eventually([&] {
            model.Poll();
            for (uint8_t n : nodes)
                if (!model.IsPresent(n)) return false;
            return true;
        });
    }
    // The host's version requests (upload of 0x200F) the bus carried so far.
    size_t VersionRequests() const {
        return size_t(std::count_if(carried.begin(), carried.end(), [](const sim::BusFrame& b) {
            const auto& d = b.frame.data;
            return b.sender == sim::kSenderHost && (b.frame.id & 0x780) == 0x600 && d[0] == 0x40 && d[1] == 0x0F &&
                   d[2] == 0x20;
        }));
    }
    bool Restarted(uint8_t node, uint16_t version) {
        const auto s = net->NodeState(node);
        return s->version == version && s->mode == sim::NodeMode::Operational;
    }

    // The library started and the model and the table filled from the bus.
    void Begin() {
        ASSERT_EQ(_CreateCANThread(".//Morvand"), 0);
        ASSERT_TRUE(FreshHeartbeats({40, 41, 42, 45, 127}));
        // The library's database outlives its instances: have the fresh model read it whole.
        for (uint8_t n : {40, 41, 42, 45, 126}) _ForceNodeChanged(n, 0x02);
        _ForceNodeChanged(127, 0x80);
        ASSERT_TRUE(ModelShows({40, 41, 42, 45, 127}));
        table.Fill(model);
        ASSERT_EQ(table.GetNode(4), 127);
    }
    // One download of the file into the nodes of slots 0 to 2 (40, 41, 42), to its end; the
    // sequence's waits are cut short by moving the clock.
    bool Download(const std::string& path, uint16_t version) {
        const std::vector<uint8_t> selected = {40, 41, 42};
        for (int slot = 0; slot < 3; ++slot) table.Select(slot);
        seq.Start(path);
        int sameState = 0;
        uint8_t last = Idle;
        // The collection's progress: the slots it gave a version, and the requests sent before it.
        constexpr uint16_t Unread = 0xFFFF;
        size_t requestsBefore = 0;
        const auto read = [&] {
            int n = 0;
            for (int slot = 0; slot < TDwlFc::kSlots; ++slot) n += table.GetVersion(slot) != Unread;
            return size_t(n);
        };
        const bool ended = Eventually([&] {
            Drain();
            model.Poll();
            seq.CollectVersionsStep();
            seq.DownloadStep();
            const uint8_t state = seq.GetDownloadState();
            sameState = state == last ? sameState + 1 : 0;
            last = state;
            switch (state) {
                case BootLoaders:  // a node that does not confirm is waited for 1000 ms
                    if (sameState >= 200) clock.Advance(1001), sameState = 0;
                    break;
                case Erase: clock.Advance(6001); break;
                case ReadFile: clock.Advance(2001); break;
                case AwaitRestart: {
                    // The nodes that took the image restart; the 15 s wait then ends. The jump
                    // makes every earlier heartbeat too old: the restarted nodes are present
                    // again once fresh ones came in.
                    EXPECT_TRUE(Eventually([&] {
                        for (uint8_t n : selected)
                            if (!Restarted(n, version)) return false;
                        return true;
                    }));
                    clock.Advance(15001);
                    EXPECT_TRUE(FreshHeartbeats(selected));
                    EXPECT_TRUE(ModelShows(selected));
                    for (int slot = 0; slot < TDwlFc::kSlots; ++slot) table.SetVersion(slot, Unread);
                    requestsBefore = VersionRequests();
                    break;
                }
                default: break;
            }
            // The window's next refresh reads the state of the node it asked; in the program it
            // comes 100 ms later, long after the library's next pass took the request. Here it
            // comes once the request is on the bus (the library sets the state before it sends),
            // whatever keeps the library's thread off a CPU meanwhile.
            if (seq.GetCollectState() == 2) {
                const size_t asked = requestsBefore + read() + 1;
                EXPECT_TRUE(Eventually([&] {
                    Drain();
                    model.Poll();
                    return VersionRequests() >= asked;
                })) << "a version request never reached the bus";
            }
            return state == Idle && seq.GetCollectState() == 0;
        }, 60000);
        EXPECT_TRUE(ended) << "stuck in state " << int(seq.GetDownloadState());
        return ended;
    }

    fs::path root, previous;
    std::shared_ptr<sim::Network> net = std::make_shared<sim::Network>();
    rtl::ManualClock clock;
    rtl::ScopedClock scoped{clock};
    TAppStrings descriptions{"USR\\FanStr.cfg"};  // never loaded: no descriptions
    TFancoil model{descriptions};
    TDwlFc table;
    TQuietView view;
    TDownloadSequence seq{table, model, view};
    std::vector<sim::BusFrame> carried;
};

TEST_F(DownloadRoad, SelectedNodesTakeTheImageAndAreMarkedDone) {
    const std::vector<uint8_t> selected = {40, 41, 42};
    const TImage image = BuildImage();
    WriteFile(root / "work" / "IN" / "app.hex", image.Text);
    Begin();
    ASSERT_TRUE(Download((root / "work" / "IN" / "app.hex").string(), NewVersion));
    EXPECT_TRUE(view.Warnings.empty());
    EXPECT_EQ(view.Progress, 100);
    EXPECT_TRUE(view.Enabled);

    // What the bus carried from the library: the CRC the program computed, which the boot loaders
    // of the restarted nodes found equal to their own.
    char crc[16];
    std::snprintf(crc, sizeof crc, "crc %04X", unsigned(image.Crc));
    EXPECT_EQ(DownloadFrames(), (std::vector<std::string>{"boot 40", "boot 41", "boot 42", "erase", "record", crc}));
    EXPECT_EQ(std::count_if(carried.begin(), carried.end(), [](const auto& b) { return b.frame.id == 0x114; }),
              long(image.Records));
    for (uint8_t n : selected) {
        EXPECT_EQ(net->NodeState(n)->bootLoaderCrcMismatches, 0u) << int(n);
        EXPECT_EQ(table.GetState(n - 40), TDwlFc::StateDone) << int(n);
        EXPECT_EQ(table.GetVersion(n - 40), NewVersion) << int(n);
    }
    EXPECT_EQ(table.GetState(3), TDwlFc::StateNone);  // 45, not selected
    EXPECT_EQ(net->NodeState(45)->version, OldVersion);
}

}  // namespace

namespace {

// Files written by the usual HEX tools from random images of a few sizes, the version word at
// its place: those with a leading address record and at most 16 bytes a record are taken by
// every selected node, with the CRC of the image the test lays out itself; the others are refused
// before the first frame.
TEST_F(DownloadRoad, FilesOfTheHexToolsAreTakenWholeOrNotAtAll) {
    struct TCase {
        size_t Size;
        std::string Command;  // in the folder of app.bin and ver.bin, writing app.hex
        std::string Refusal;
    };
    const std::string srec = "srec_cat app.bin -binary ver.bin -binary -offset 0xEFFE -o app.hex -intel -obs=16";
    const TCase cases[] = {
        {1, srec, ""},
        {700, srec + " -line-termination=cr", ""},
        {1500, srec + " -line-termination=crlf", ""},
        // Read from each line's ':': blanks before it, and a byte-order mark opening the file.
        {200, srec + R"( && sed -i -e 's/^/ \t/' -e '1s/^/\xEF\xBB\xBF/' app.hex)", ""},
        {300, "objcopy -I binary -O ihex app.bin app.hex", "Start Of File record missing"},
        {300, "srec_cat app.bin -binary -o app.hex -intel -obs=16 -address-length=2", "Start Of File record missing"},
        {300, "srec_cat app.bin -binary -o app.hex -intel", "Contains invalid (CHKS) record at 0000"},
        {300, "objcopy -I binary -O ihex --change-addresses 0x10000 app.bin app.hex",
         "Contains invalid (CHKS) record at 0000"},
    };
    Begin();
    const fs::path dir = root / "work" / "IN";
    std::mt19937 random(9);
    uint16_t version = 0x4800;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Command);
        std::vector<uint8_t> binary(c.Size);
        for (uint8_t& b : binary) b = uint8_t(random());
        ++version;
        WriteFile(dir / "app.bin", std::string(binary.begin(), binary.end()));
        WriteFile(dir / "ver.bin", std::string{char(version & 0xFF), char(version >> 8)});
        fs::remove(dir / "app.hex");
        ASSERT_EQ(std::system(("cd '" + dir.string() + "' && " + c.Command).c_str()), 0);

        Drain();
        const size_t from = carried.size();
        view.Warnings.clear();
        const std::string path = (dir / "app.hex").string();
        if (!c.Refusal.empty()) {
            seq.Start(path);
            seq.DownloadStep();
            EXPECT_EQ(view.Warnings, std::vector<std::string>{"File: " + path + "\r\n" + c.Refusal});
            EXPECT_EQ(seq.GetDownloadState(), Idle);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Drain();
            EXPECT_TRUE(DownloadFrames(from).empty());
            continue;
        }
        ASSERT_TRUE(Download(path, version));
        EXPECT_TRUE(view.Warnings.empty());
        std::vector<uint8_t> image(0xF000, 0xFF);
        std::copy(binary.begin(), binary.end(), image.begin());
        image[0xEFFE] = uint8_t(version);
        image[0xEFFF] = uint8_t(version >> 8);
        char crc[16];
        std::snprintf(crc, sizeof crc, "crc %04X", unsigned(ModbusCrc(image)));
        EXPECT_EQ(DownloadFrames(from), (std::vector<std::string>{"boot 40", "boot 41", "boot 42", "erase", "record", crc}));
        for (uint8_t n : {40, 41, 42}) {
            EXPECT_EQ(net->NodeState(n)->bootLoaderCrcMismatches, 0u) << int(n);
            EXPECT_EQ(table.GetState(n - 40), TDwlFc::StateDone) << int(n);
            EXPECT_EQ(table.GetVersion(n - 40), version) << int(n);
        }
    }
}

}  // namespace
