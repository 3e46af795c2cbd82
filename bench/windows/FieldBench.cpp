// A day in the field, shortened: the program in one process with all its windows, on the
// simulated 20-node network in real time, under the offscreen platform.
//   memo: log lines pushed through the message log's display path, and refreshes of the nodes
//         tree's value memo; resident memory after warm-up.
//   idle: CPU of every thread on the main menu.
//   log:  the message log capturing in front at 100 % load of 125 kbit/s: CPU of every thread,
//         resident memory at each step, the frames captured with their overrun marks, and the gaps
//         between the poller's drains of the library's receive ring (the long ones taken apart).
//   windows: the nodes panel, the nodes tree and the download window each in front while the
//         nodes' values keep changing; resident memory before and after.
// Built as bench_flood (FIELD_FLOOD), the program runs on the shipped network instead:
//   idle:  CPU of every thread, beside a bare 4 ms sleeper in the same process.
//   flood: the bus at its limit with the shortest frames (1 data byte) and then with 8-byte ones,
//         each once as it is and once with busy loops on all cores but two: frames on the bus and
//         seen by the poller, overrun marks, most frames in one drain, the drains' period, CPU.
// CPU is read per thread from /proc (time on a CPU, in ns); the simulated network's thread is
// listed apart from the program's and the library's. BENCH_SHORT=1 runs each part for seconds; an
// argument gives the seconds of the capture (600 in full, 5 short), of bench_flood each flood's
// (300 in full, 3 short).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Menu.h"
#include "Msgui.h"
#include "Program.h"
#include "RxMsgRing.h"
#include "Dwload.h"
#include "Schedule.h"
#include "Ui.h"
#include "Tree.h"
#include "bench/Short.h"
#include "bench/protocol_server/BusSetup.h"
#include "forms/Forms.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "rtl/Messages.h"

namespace fs = std::filesystem;

namespace {

// The program's poller, watched from outside: this program defines _GetRxMsg, so the poller's calls
// land here first and go on to the library's. A drain is the run of calls that ends with the one
// finding the ring empty; its gap is the time since the previous drain began.
class DrainWatch {
public:
    static constexpr uint64_t kLongGapUs = 6000;
    static constexpr size_t kLongShown = 40;
    struct Long {  // a drain after a long gap or with an overrun mark
        uint64_t gapUs, schedulerWaitUs, busWaitUs;
        unsigned frames, late;  // frames taken; those the bus had finished before the previous drain
        bool overrun;
    };

    static DrainWatch& Instance() {
        static DrainWatch watch;
        return watch;
    }
    // From now on every drain is kept; busTid: the simulated network's bus thread.
    void Start(int busTid) {
        std::lock_guard lock(m_);
        busFd_ = busTid > 0 ? open(("/proc/self/task/" + std::to_string(busTid) + "/schedstat").c_str(), O_RDONLY) : -1;
        gaps_.clear();
        longs_.clear();
        full_ = overruns_ = drains_ = seen_ = most_ = 0;
        on_ = true;
    }
    bool Call(TRxMsg* msg) {
        static const auto real = reinterpret_cast<bool (*)(TRxMsg*)>(dlsym(RTLD_NEXT, "_GetRxMsg"));
        const bool got = real(msg);
        if (!on_) return got;
        if (frames_ == 0) begun_ = std::chrono::steady_clock::now();
        if (got) {
            // Bus time (stamps of 100 us) against this clock: the smallest difference seen is a frame
            // taken as soon as it ended.
            const int64_t stamp = int64_t(msg->TimeStamp) * 100, now = Us(begun_);
            if (now - stamp < offset_) offset_ = now - stamp;
            late_ += stamp + offset_ + kStampSlackUs < Us(previous_);
            ++frames_;
            overrun_ = overrun_ || (msg->Status & MORVAND_RX_OVERRUN);
            return got;
        }
        EndDrain();
        return got;
    }
    void Print() {
        std::lock_guard lock(m_);
        on_ = false;
        std::vector<uint32_t> g = gaps_;
        std::sort(g.begin(), g.end());
        auto at = [&](double q) { return g.empty() ? 0u : g[std::min(g.size() - 1, size_t(q * double(g.size())))]; };
        std::printf("  poller: %llu drains, gap between drains p50 %.2f ms, p99 %.2f ms, p99.99 %.2f ms, max %.2f ms\n",
                    (unsigned long long)drains_, at(0.5) / 1e3, at(0.99) / 1e3, at(0.9999) / 1e3,
                    g.empty() ? 0 : g.back() / 1e3);
        std::printf("  poller: %llu frames seen, most in one drain %llu; drains that found the ring full (19 frames)"
                    " %llu, with an overrun mark %llu; longest drain %.2f ms; gaps over %.0f ms %zu:\n",
                    (unsigned long long)seen_, (unsigned long long)most_, (unsigned long long)full_,
                    (unsigned long long)overruns_, longestDrainUs_ / 1e3, kLongGapUs / 1e3,
                    size_t(g.end() - std::upper_bound(g.begin(), g.end(), uint32_t(kLongGapUs))));
        for (const Long& l : longs_)
            std::printf("    gap %6.2f ms, %2u frames (%2u ended on the bus before the previous drain)%s; waiting for"
                        " a CPU: poller %.2f ms, bus %.2f ms\n", l.gapUs / 1e3, l.frames, l.late,
                        l.overrun ? ", OVERRUN" : "", l.schedulerWaitUs / 1e3, l.busWaitUs / 1e3);
    }

private:
    static constexpr int64_t kStampSlackUs = 300;
    static int64_t Us(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
    }
    static uint64_t WaitNs(int fd) {
        char text[96] = {};
        unsigned long long onCpu = 0, waiting = 0;
        if (fd < 0 || pread(fd, text, sizeof text - 1, 0) <= 0) return 0;
        return std::sscanf(text, "%llu %llu", &onCpu, &waiting) == 2 ? waiting : 0;
    }
    void EndDrain() {
        const auto drainUs = uint64_t(Us(std::chrono::steady_clock::now()) - Us(begun_));
        if (ownFd_ < 0) ownFd_ = open("/proc/thread-self/schedstat", O_RDONLY);
        const uint64_t own = WaitNs(ownFd_);
        std::lock_guard lock(m_);
        const uint64_t bus = WaitNs(busFd_);
        if (previous_ != std::chrono::steady_clock::time_point{}) {
            const auto gap = uint64_t(Us(begun_) - Us(previous_));
            gaps_.push_back(uint32_t(std::min<uint64_t>(gap, UINT32_MAX)));
            ++drains_;
            seen_ += frames_;
            most_ = std::max<uint64_t>(most_, frames_);
            full_ += frames_ >= 19;
            overruns_ += overrun_;
            longestDrainUs_ = std::max(longestDrainUs_, drainUs);
            if ((gap > kLongGapUs || overrun_) && longs_.size() < kLongShown)
                longs_.push_back({gap, (own - lastOwn_) / 1000, (bus - lastBus_) / 1000, frames_, late_, overrun_});
        }
        previous_ = begun_;
        lastOwn_ = own;
        lastBus_ = bus;
        frames_ = late_ = 0;
        overrun_ = false;
    }

    std::atomic<bool> on_{false};
    // The poller's own: when this drain and the previous one began.
    std::chrono::steady_clock::time_point begun_, previous_;
    unsigned frames_ = 0, late_ = 0;
    int64_t offset_ = INT64_MAX;
    bool overrun_ = false;
    int ownFd_ = -1;
    // Shared with the reader.
    std::mutex m_;
    uint64_t lastOwn_ = 0, lastBus_ = 0, drains_ = 0, full_ = 0, overruns_ = 0, longestDrainUs_ = 0, seen_ = 0, most_ = 0;
    int busFd_ = -1;
    std::vector<uint32_t> gaps_;
    std::vector<Long> longs_;
};

struct ThreadCpu {
    std::string name;
    uint64_t ns = 0;
};

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::map<int, ThreadCpu> SampleThreads() {
    std::map<int, ThreadCpu> threads;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return threads;
    while (dirent* e = readdir(dir)) {
        const int tid = std::atoi(e->d_name);
        if (tid <= 0) continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        threads[tid] = {ReadFirstLine(base + "/comm"), std::strtoull(ReadFirstLine(base + "/schedstat").c_str(), nullptr, 10)};
    }
    closedir(dir);
    return threads;
}

double ResidentMb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

// Runs the application's message loop for ms milliseconds.
void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool IsSimulation(const std::string& name) { return name.rfind("sim", 0) == 0; }

// What 4 ms rests cost by themselves, to set the scheduler's share beside.
constexpr const char* kSleeperName = "bare sleeper";

int BusThread() {
    for (const auto& [tid, t] : SampleThreads())
        if (t.name == "sim bus") return tid;
    return 0;
}

// CPU per thread from its making to Print, as a share of one core; the sums with and without the
// simulated network (a bare sleeper is listed apart).
class CpuMeter {
public:
    void Print(const char* title) const {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const auto after = SampleThreads();
        std::printf("%s: CPU per thread over %.0f s, %% of one core\n", title, wall);
        double own = 0, simulated = 0;
        for (const auto& [tid, t] : after) {
            const auto was = before_.find(tid);
            const uint64_t ns = t.ns - (was == before_.end() ? 0 : was->second.ns);
            const double share = double(ns) / 1e9 / wall * 100;
            const bool sim = IsSimulation(t.name), sleeper = t.name == kSleeperName;
            if (!sleeper) (sim ? simulated : own) += share;
            std::printf("  %-16s %6d %7.2f %%%s\n", tid == getpid() ? "main (GUI)" : t.name.c_str(), tid, share,
                        sim ? "   (simulated network)" : sleeper ? "   (not counted)" : "");
        }
        std::printf("  program and library threads %7.2f %%, simulated network %7.2f %%\n", own, simulated);
    }

private:
    std::map<int, ThreadCpu> before_ = SampleThreads();
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void PrintCpu(const char* title, int seconds) {
    const CpuMeter meter;
    Wait(seconds * 1000);
    meter.Print(title);
}

// Lines through the message log's display path as its refresh shows them, a page of
// WindowLines records at a time; resident memory after the first tenth.
void MemoRun(long lines) {
    TMsgUIForm& log = *MsgUIForm;
    const long pages = lines / std::max(log.WindowLines, 1);
    double warm = 0;
    uint16_t first = 1;
    const auto start = std::chrono::steady_clock::now();
    for (long p = 0; p < pages; ++p) {
        const uint16_t last = uint16_t((first + log.WindowLines - 1) % 10000);
        log.ShowRecords(first, last, false);
        first = uint16_t((last + 1) % 10000);
        if (p % 64 == 0) forms::Application->ProcessMessages();
        if (p == pages / 10) warm = ResidentMb();
    }
    forms::Application->ProcessMessages();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("memo: %ld lines through the message log's display (%d a refresh) in %.1f s\n",
                pages * log.WindowLines, log.WindowLines, secs);
    std::printf("  resident memory after warm-up %.1f MB, at the end %.1f MB: growth %.2f MB\n", warm, ResidentMb(),
                ResidentMb() - warm);
}

// Refreshes of the nodes tree's value memo as its refresh makes them for the selected node.
void TreeMemoRun(long refreshes) {
    TTreeUIForm& tree = *TreeUIForm;
    tree.ShowNodeValues(21);
    double warm = 0;
    for (long i = 0; i < refreshes; ++i) {
        tree.RefreshNodeValues(21);
        if (i % 64 == 0) forms::Application->ProcessMessages();
        if (i == refreshes / 10) warm = ResidentMb();
    }
    forms::Application->ProcessMessages();
    std::printf("tree memo: %ld refreshes of %d lines: resident memory after warm-up %.1f MB, at the end %.1f MB: "
                "growth %.2f MB\n", refreshes, tree.Memo1.LineCount(), warm, ResidentMb(), ResidentMb() - warm);
}

// Each window that refreshes while in front, opened from the menu, while every node's values
// change ten times a second.
void OtherWindows(sim::Network& net, bool brief) {
    QTimer changer;
    int round = 0;
    QObject::connect(&changer, &QTimer::timeout, [&] {
        ++round;
        for (uint8_t n = 21; n < 40; ++n)
            net.ChangeValues(n, [&](sim::NodeValues& v) {
                v.setPoint = int8_t(round % 40);
                v.analog[0] = int16_t(200 + round % 50);
            });
    });
    changer.start(100);
    struct Window {
        uint16_t key;
        forms::TForm* form;
        const char* name;
    };
    const int seconds = brief ? 3 : 120;
    std::printf("windows in front at 100 %% load, values changing, %d s each: resident memory\n", seconds);
    for (const Window& w : {Window{forms::VK_F3, NodesUIForm, "nodes panel"}, {forms::VK_F4, TreeUIForm, "nodes tree"},
                            {forms::VK_F6, DwldUIForm, "download"}}) {
        forms::drive::Activate(*MenuForm);
        forms::drive::PressKey(*MenuForm, w.key);
        forms::drive::Activate(*w.form);
        if (w.form == TreeUIForm) {
            TreeUIForm->SelectedNode = 21;
            TreeUIForm->ShowNodeValues(21);
        }
        Wait(brief ? 500 : 10'000);
        const double before = ResidentMb();
        Wait(seconds * 1000);
        std::printf("  %-12s %7.1f MB -> %7.1f MB\n", w.name, before, ResidentMb());
        forms::drive::PressKey(*w.form, forms::VK_F10);
    }
}

[[maybe_unused]] void Scenario(const std::shared_ptr<sim::Network>& net, int captureSeconds) {
    const bool brief = benchshort::Short();
    forms::drive::Activate(*MenuForm);
    Wait(brief ? 1000 : 5000);
    PrintCpu("idle menu", brief ? 3 : 60);

    forms::drive::PressKey(*MenuForm, forms::VK_F5);
    Wait(200);
    MemoRun(brief ? 20'000 : 1'000'000);
    TreeMemoRun(brief ? 2'000 : 50'000);

    forms::drive::PressKey(*MsgUIForm, forms::VK_F1);
    net->SetBackgroundLoad(100);
    Wait(brief ? 1000 : 5000);
    PrintCpu("message log capturing at 100 % load", brief ? 3 : 60);
    const int seconds = captureSeconds, every = seconds < 60 ? 1 : 60;
    std::printf("message log capturing at 100 %% load: resident memory each %s\n", brief ? "second" : "minute");
    // The captured frames are counted each second, well before the 10,000-frame ring wraps.
    uint16_t seen = RxMsgRing.WriteIndex();
    uint64_t frames = 0, overruns = 0;
    DrainWatch::Instance().Start(BusThread());
    for (int s = 0; s <= seconds; ++s) {
        if (s) Wait(1000);
        for (const uint16_t w = RxMsgRing.WriteIndex(); seen != w; ++frames) {
            seen = uint16_t((seen + 1) % TRxMsgRing::kSlots);
            if (RxMsgRing.Record(seen).Status & MORVAND_RX_OVERRUN) ++overruns;
        }
        if (s % every == 0) std::printf("  %3d %7.1f MB\n", s / every, ResidentMb());
    }
    std::printf("  frames captured %llu, overrun marks among them %llu\n", (unsigned long long)frames,
                (unsigned long long)overruns);
    DrainWatch::Instance().Print();
    forms::drive::PressKey(*MsgUIForm, forms::VK_F10);
    OtherWindows(*net, brief);
    net->SetBackgroundLoad(0);
    forms::Application->Terminate();
}

// Processes spinning on a CPU each, for as long as this object lives.
class BusyLoops {
public:
    explicit BusyLoops(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                for (;;) __asm__ __volatile__("");
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    size_t Count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

void Flood(const std::shared_ptr<sim::Network>& net, int seconds) {
    const bool brief = benchshort::Short();
    forms::drive::Activate(*MenuForm);
    {
        std::atomic<bool> stop{false};
        std::thread sleeper([&] {
            pthread_setname_np(pthread_self(), kSleeperName);
            while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(4));
        });
        Wait(brief ? 1000 : 5000);
        PrintCpu("shipped network idle", brief ? 3 : 60);
        stop = true;
        sleeper.join();
    }
    struct Kind {
        const char* name;
        sim::Frame pattern;
    };
    const unsigned cores = std::thread::hardware_concurrency();
    const int busTid = BusThread();
    for (const Kind& kind : {Kind{"1-byte frames", sim::Frame(0x7C0, {0})},
                             Kind{"8-byte frames", sim::Frame(0x7C0, {0, 0, 0, 0, 0, 0, 0, 0})}}) {
        for (bool loaded : {false, true}) {
            const BusyLoops loops(loaded && cores > 2 ? cores - 2 : 0);
            std::printf("bus at its limit with %s, %d s, %zu busy loops on %u cores\n", kind.name, seconds,
                        loops.Count(), cores);
            net->SetCapture(true);
            net->TakeCapture();
            DrainWatch::Instance().Start(busTid);
            const CpuMeter meter;
            net->SetBackgroundLoad(100, kind.pattern);
            uint64_t onBus = 0;
            auto count = [&] {
                for (const sim::BusFrame& f : net->TakeCapture()) onBus += f.sender != sim::kSenderHost;
            };
            for (int s = 0; s < seconds; ++s) {
                Wait(1000);
                count();
            }
            net->SetBackgroundLoad(0);
            Wait(200);
            count();
            net->SetCapture(false);
            meter.Print("  CPU");
            std::printf("  frames on the bus %llu (%.0f a second)\n", (unsigned long long)onBus, double(onBus) / seconds);
            DrainWatch::Instance().Print();
        }
    }
    forms::Application->Terminate();
}

}  // namespace

extern "C" bool _GetRxMsg(TRxMsg* msg) { return DrainWatch::Instance().Call(msg); }

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is measured
    const fs::path root = fs::temp_directory_path() / ("telvox_field_" + std::to_string(getpid()));
    const fs::path base = root / "base", work = root / "work";
    fs::create_directories(work);
    fs::create_directories(base);
    for (const char* folder : {"USR", "IN"})
        fs::copy(fs::path(TELVOX_DIST) / folder, base / folder, fs::copy_options::recursive);
    fs::copy_file(fs::path(TELVOX_DIST) / "Morvand.ini", work / "Morvand.ini");
    std::ofstream(root / "Xat11reg.reg") << "simulated 0\n";
    setenv("XAT11REG_FILE", (root / "Xat11reg.reg").c_str(), 1);
    fs::current_path(work);
#ifdef FIELD_FLOOD
    std::string why;
    auto net = sim::Network::Load(std::string(TELVOX_DIST) + "/sim/network.ini", &why);
    if (!net) {
        std::printf("shipped network: %s\n", why.c_str());
        return 1;
    }
    const int capture = benchshort::Seconds(argc, argv, 300, 3);
#else
    auto net = morvandbench::TwentyNodes(sim::TimeMode::RealTime);
    const int capture = benchshort::Seconds(argc, argv, 600, 5);
#endif
    sim::Network::Install(net);

    forms::TApplication application(argc, argv);
    InstallApplicationHooks(application);
    ScheduleGlobalsInit();
    BaseDirSource = [base] { return base.string() + "/"; };
    // A box would wait for a hand that never comes: it is printed instead.
    rtl::SetMessageBoxHandler([](const std::string& text, const std::string& caption, int) {
        std::printf("box \"%s\": %s\n", caption.c_str(), text.c_str());
        return rtl::IDOK;
    });
    ScheduleStartup(argc, argv);
    const bool started = !forms::Application->Terminated();
    if (started) {
#ifdef FIELD_FLOOD
        QTimer::singleShot(0, [net, capture] { Flood(net, capture); });
#else
        QTimer::singleShot(0, [net, capture] { Scenario(net, capture); });
#endif
        WinMain();
    }
    ScheduleShutdown();
    ScheduleGlobalsExit();
    RemoveApplicationHooks();
    sim::Network::Install(nullptr);
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(root);
    return started ? 0 : 1;
}
