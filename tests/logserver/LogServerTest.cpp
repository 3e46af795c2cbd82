#include "logserver/Pelkin.h"
#include "rtl/Clock.h"
#include "rtl/Messages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t kStampLength = 24;  // "YYYY-MM-DD hh:mm:ss.mmm "

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The texts of a log file, stamps cut off.
std::vector<std::string> Texts(const fs::path& file) {
    std::vector<std::string> texts;
    for (const std::string& line : ReadLines(file)) texts.push_back(line.substr(kStampLength));
    return texts;
}

std::string Stamp(const rtl::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond);
    return buf;
}

std::string DateName(const rtl::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "LOG_%04d%02d%02d.log", t.year, t.month, t.day);
    return buf;
}

struct Post {
    rtl::HWND window;
    uint32_t msg;
    uintptr_t wParam;
};

class LogServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() /
               ("pelkin_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(dir_);
        previous_ = rtl::SetPostMessageHandler([this](rtl::HWND w, uint32_t msg, uintptr_t wp, intptr_t) {
            std::lock_guard lk(postsLock_);
            posts_.push_back({w, msg, wp});
            return true;
        });
    }
    void TearDown() override {
        _PELKINEnd();
        _PELKINDestroy();
        _PELKINUnsubscribe();
        rtl::SetPostMessageHandler(previous_);
        fs::remove_all(dir_);
    }
    void Create(uint16_t duration = 0) { _PELKINCreate(dir_.c_str(), "LOG", duration); }
    fs::path Log() const { return dir_ / "LOG.log"; }
    std::vector<uintptr_t> States() {
        std::lock_guard lk(postsLock_);
        std::vector<uintptr_t> states;
        for (const Post& p : posts_) {
            EXPECT_EQ(p.msg, uint32_t(UM_LOGSTATE));
            EXPECT_EQ(p.window, window());
            states.push_back(p.wParam);
        }
        return states;
    }
    rtl::HWND window() { return &windowObject_; }

    fs::path dir_;
    rtl::PostMessageHandler previous_;
    std::mutex postsLock_;
    std::vector<Post> posts_;
    int windowObject_ = 0;
};

TEST_F(LogServerTest, ConcurrentSendersLoseNothingAndKeepTheirOrder) {
    constexpr int kThreads = 8, kTexts = 2000;
    static_assert(kThreads * kTexts <= PELKIN_QUEUE_CAPACITY);
    Create();
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < kTexts; ++i)
                _PELKINSendString(("T" + std::to_string(t) + " " + std::to_string(i)).c_str());
        });
    for (auto& s : senders) s.join();
    _PELKINEnd();

    std::vector<int> next(kThreads, 0);
    std::vector<std::string> texts = Texts(Log());
    ASSERT_EQ(texts.size(), size_t(kThreads * kTexts));
    for (const std::string& text : texts) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "T%d %d", &t, &i), 2) << text;
        ASSERT_TRUE(t >= 0 && t < kThreads) << text;
        ASSERT_EQ(i, next[t]++) << "out of order: " << text;
    }
}

TEST_F(LogServerTest, LinesCarryTheLocalTimeOfSendingAndAreAppended) {
    rtl::ManualClock clock;
    rtl::ScopedClock scoped(clock);
    clock.Advance(123);
    rtl::LocalTime first = rtl::GetLocalTime();
    Create();
    _PELKINSendString("first");
    clock.Advance(1001);
    rtl::LocalTime second = rtl::GetLocalTime();
    _PELKINSendString("second line, with blanks  ");
    _PELKINSendString(nullptr);  // ignored
    _PELKINEnd();
    _PELKINDestroy();
    Create();  // a new run appends to the same file
    _PELKINSendString("third");
    _PELKINEnd();

    std::vector<std::string> lines = ReadLines(Log());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], Stamp(first) + "first");
    EXPECT_EQ(lines[1], Stamp(second) + "second line, with blanks  ");
    EXPECT_EQ(lines[2], Stamp(second) + "third");
}

TEST_F(LogServerTest, DisabledTextsAreNotRecorded) {
    Create();
    _PELKINEnDisReq(0);
    _PELKINSendString("off");
    _PELKINEnDisReq(1);
    _PELKINSendString("on");
    _PELKINEnDisReq(0);
    _PELKINSendString("off again");
    _PELKINEnd();
    EXPECT_EQ(Texts(Log()), std::vector<std::string>{"on"});
}

// Calls in any order: S subscribe, U unsubscribe, C create, 1/0 enable/disable, s send "t<position>",
// E end, D destroy. The teardown then ends, destroys and unsubscribes once more.
struct OrderCase {
    const char* calls;
    std::vector<std::string> recorded;
};

class LogServerOrderTest : public LogServerTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(LogServerOrderTest, WrongOrdersAreHarmless) {
    const OrderCase& c = GetParam();
    for (size_t i = 0; c.calls[i] != '\0'; ++i) {
        switch (c.calls[i]) {
            case 'S': _PELKINSubscribe(window()); break;
            case 'U': _PELKINUnsubscribe(); break;
            case 'C': Create(); break;
            case '1': _PELKINEnDisReq(1); break;
            case '0': _PELKINEnDisReq(0); break;
            case 's': _PELKINSendString(("t" + std::to_string(i)).c_str()); break;
            case 'E': _PELKINEnd(); break;
            case 'D': _PELKINDestroy(); break;
            default: FAIL() << "bad call " << c.calls[i];
        }
    }
    _PELKINEnd();
    EXPECT_EQ(Texts(Log()), c.recorded) << c.calls;
    if (c.recorded.empty()) {
        EXPECT_FALSE(fs::exists(Log())) << c.calls;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Orders, LogServerOrderTest,
    ::testing::Values(OrderCase{"EDU", {}}, OrderCase{"UDE", {}}, OrderCase{"DDEEUU", {}},
                      OrderCase{"s1s0sCsE", {"t6"}},   // silent before Create; Create enables
                      OrderCase{"CsDs", {"t1"}},       // Destroy without End keeps what was sent
                      OrderCase{"CsEs1s", {"t1"}},     // silent after End
                      OrderCase{"CsECs", {"t1"}},      // no second Create before Destroy
                      OrderCase{"CCsE", {"t2"}},
                      OrderCase{"CsEDCsE", {"t1", "t5"}},
                      OrderCase{"CsDDCsDE", {"t1", "t5"}},
                      OrderCase{"C0EsDs", {}},
                      OrderCase{"USsCUsSsEDU", {"t5", "t7"}}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.calls); });

TEST_F(LogServerTest, StateChangesArePostedToTheSubscriber) {
    _PELKINSubscribe(window());
    _PELKINEnDisReq(1);  // nothing to change before Create
    Create();
    _PELKINEnDisReq(0);
    _PELKINEnDisReq(0);
    _PELKINEnDisReq(1);
    _PELKINEnd();
    _PELKINEnd();
    _PELKINDestroy();
    _PELKINUnsubscribe();
    Create();
    _PELKINDestroy();
    EXPECT_EQ(States(), (std::vector<uintptr_t>{PELKIN_STATE_ON, PELKIN_STATE_OFF, PELKIN_STATE_ON,
                                                PELKIN_STATE_ENDED, PELKIN_STATE_NONE}));
}

// A file where the log folder should be: no open succeeds, even for root.
TEST_F(LogServerTest, AnUnwritableFolderIsReportedAsFileErrorAndOnceOnStandardError) {
    std::ofstream(dir_ / "plain").put('x');
    _PELKINSubscribe(window());
    ::testing::internal::CaptureStderr();
    _PELKINCreate((dir_ / "plain" / "sub").c_str(), "LOG", 0);
    _PELKINSendString("lost");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (States().size() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    _PELKINSendString("lost too");  // written by End: the second failing open says nothing
    _PELKINEnd();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Pelkin: cannot open " + (dir_ / "plain" / "sub" / "LOG.log").string() + ": " +
                  std::strerror(ENOTDIR) + "\n");
    EXPECT_EQ(States(), (std::vector<uintptr_t>{PELKIN_STATE_ON, PELKIN_STATE_FILE_ERROR,
                                                PELKIN_STATE_ENDED}));
}

// The writer held: the queue fills and further texts are dropped, while the senders go on.
class HeldWriterTest : public LogServerTest {
protected:
    static constexpr int kSent = 3 * PELKIN_QUEUE_CAPACITY;

    void FloodHeld() {
        Create();
        _PELKINTestHold(1);
        for (int i = 0; i < kSent; ++i) _PELKINSendString(std::to_string(i).c_str());
    }
    void TearDown() override {
        _PELKINTestHold(0);
        LogServerTest::TearDown();
    }
    static void ExpectQueueful(const std::vector<std::string>& texts) {
        for (int i = 0; i < PELKIN_QUEUE_CAPACITY; ++i) ASSERT_EQ(texts[i], std::to_string(i));
    }
    const std::string droppedLine_ =
        std::to_string(kSent - PELKIN_QUEUE_CAPACITY) + " texts dropped (log queue full)";
};

TEST_F(HeldWriterTest, TheDropCountIsWrittenWhenRoomReturns) {
    FloodHeld();
    _PELKINTestHold(0);
    _PELKINSendString("after");
    _PELKINEnd();
    std::vector<std::string> texts = Texts(Log());
    ASSERT_EQ(texts.size(), size_t(PELKIN_QUEUE_CAPACITY) + 2);
    ExpectQueueful(texts);
    EXPECT_EQ(texts[PELKIN_QUEUE_CAPACITY], droppedLine_);
    EXPECT_EQ(texts[PELKIN_QUEUE_CAPACITY + 1], "after");
}

TEST_F(HeldWriterTest, TheDropCountIsWrittenAtEnd) {
    FloodHeld();
    _PELKINEnd();
    std::vector<std::string> texts = Texts(Log());
    ASSERT_EQ(texts.size(), size_t(PELKIN_QUEUE_CAPACITY) + 1);
    ExpectQueueful(texts);
    EXPECT_EQ(texts.back(), droppedLine_);
}

TEST_F(HeldWriterTest, DestroyDiscardsNothingQueued) {
    FloodHeld();
    _PELKINDestroy();
    EXPECT_EQ(Texts(Log()).size(), size_t(PELKIN_QUEUE_CAPACITY) + 1);
}

// Rotation: each step moves the clock by whole days (negative: back) and sends its text; expected
// files by the day offset they are dated with (-100: the single file of duration 0).
struct RotationCase {
    uint16_t duration;
    std::vector<std::pair<int, std::string>> steps;
    std::map<int, std::vector<std::string>> files;
};

// The clock at noon local time, so that whole days never cross a date boundary twice.
class DatedLogTest : public LogServerTest {
protected:
    DatedLogTest() {
        clock_.Advance(uint32_t((36 - rtl::GetLocalTime().hour) % 24) * 3600000u);
        start_ = clock_.SystemTime();
    }
    // The clock set to the given day from the start; its date.
    rtl::LocalTime dateAt(int day) {
        clock_.SetSystemTime(start_ + uint64_t(int64_t(day) * 86400 * 10'000'000));
        return rtl::GetLocalTime();
    }

private:
    rtl::ManualClock clock_;
    rtl::ScopedClock scoped_{clock_};
    uint64_t start_ = 0;
};

// A day's file name taken by a folder: its open fails; the next day's file opens, and a later
// failing open is said again.
TEST_F(DatedLogTest, AnOpenFailingAgainAfterAnOpenIsSaidAgain) {
    for (int day : {0, 2}) fs::create_directory(dir_ / DateName(dateAt(day)));
    ::testing::internal::CaptureStderr();
    Create(1);
    for (int day : {0, 1, 2}) {
        dateAt(day);
        _PELKINSendString("text");
    }
    _PELKINEnd();
    std::string expected;
    for (int day : {0, 2})
        expected += "Pelkin: cannot open " + (dir_ / DateName(dateAt(day))).string() + ": " +
                    std::strerror(EISDIR) + "\n";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
    EXPECT_EQ(Texts(dir_ / DateName(dateAt(1))), std::vector<std::string>{"text"});
}

class LogRotationTest : public DatedLogTest, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(LogRotationTest, AFileCoversDurationDays) {
    const RotationCase& c = GetParam();
    Create(c.duration);
    int day = 0;
    for (const auto& [advance, text] : c.steps) {
        day += advance;
        dateAt(day);
        _PELKINSendString(text.c_str());
    }
    _PELKINEnd();

    std::map<std::string, std::vector<std::string>> expected, actual;
    for (const auto& [offset, texts] : c.files) expected[offset == -100 ? "LOG.log" : DateName(dateAt(offset))] = texts;
    for (const auto& entry : fs::directory_iterator(dir_)) actual[entry.path().filename()] = Texts(entry.path());
    EXPECT_EQ(actual, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Durations, LogRotationTest,
    ::testing::Values(
        RotationCase{0, {{0, "a"}, {1, "b"}, {30, "c"}}, {{-100, {"a", "b", "c"}}}},
        RotationCase{1, {{0, "a"}, {0, "b"}, {1, "c"}, {2, "d"}}, {{0, {"a", "b"}}, {1, {"c"}}, {3, {"d"}}}},
        RotationCase{2,
                     {{0, "a"}, {1, "b"}, {1, "c"}, {3, "d"}, {-1, "e"}},
                     {{0, {"a", "b"}}, {2, {"c"}}, {5, {"d"}}, {4, {"e"}}}},
        RotationCase{998, {{0, "a"}, {997, "b"}, {1, "c"}}, {{0, {"a", "b"}}, {998, {"c"}}}}));

}  // namespace
