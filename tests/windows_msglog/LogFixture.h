// The installation with the menu, the message log and the legend as the program creates them.
// The scheduler is never resumed: Tick runs one pass on a clock the test moves, and its refresh
// reaches the windows through the application's message hook.
#pragma once
#include <string>
#include <vector>

#include "AppStrings.h"
#include "MsgDecoder.h"
#include "RxMsgRing.h"
#include "Scheduler.h"
#include "forms/Keys.h"
#include "forms/Testing.h"
#include "rtl/Clock.h"
#include "windows_common/InstallFixture.h"

inline TRxMsg Msg(uint32_t id, std::vector<uint8_t> data, uint32_t stamp = 0) {
    TRxMsg m{};
    m.TimeStamp = stamp;
    m.Id = id;
    m.Len = uint8_t(data.size());
    for (size_t i = 0; i < data.size() && i < 8; ++i) m.Data[i] = data[i];
    return m;
}

// The capture ring is emptied and running before and after each test.
class LogInstallTest : public InstallTest {
protected:
    void SetUp() override {
        InstallTest::SetUp();
        RxMsgRing.Run();
        RxMsgRing.Clear();
    }
    void TearDown() override {
        InstallTest::TearDown();
        RxMsgRing.Run();
        RxMsgRing.Clear();
    }
};

// The objects the windows work with; the library only where a test starts it.
class LogTest : public LogInstallTest {
protected:
    void SetUp() override {
        LogInstallTest::SetUp();
        MakeWindowObjects();
    }

    // The windows as start-up creates them; the log opened from the menu with F5.
    TMsgUIForm& Open() {
        app->CreateForm(MenuForm);
        app->CreateForm(MsgUIForm);
        app->CreateForm(LegendForm);
        forms::drive::Activate(*MenuForm);
        forms::drive::PressKey(*MenuForm, forms::VK_F5);
        app->ProcessMessages();
        return *MsgUIForm;
    }
    void Press(uint16_t key) {
        forms::drive::PressKey(*MsgUIForm, key);
        app->ProcessMessages();
    }
    // Moves the clock and runs a scheduler pass; its refresh reaches the windows.
    void Tick(uint32_t ms = 150) {
        clock.Advance(ms);
        Scheduler->Pass();
        app->ProcessMessages();
    }
    // n frames of the capture, identifiers id, id + 1, ...
    void Put(int n, uint32_t id = 0x101) {
        for (int i = 0; i < n; ++i) RxMsgRing.Capture(Msg(id + uint32_t(i) % 0x600, {uint8_t(i), 2, 3}, stamp += 25));
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (int i = 0; i < MsgUIForm->MSGWin.LineCount(); ++i) lines.push_back(MsgUIForm->MSGWin.Line(i));
        return lines;
    }
    // The memo lines of one record: a decoded status or command line takes two.
    static std::vector<std::string> Split(const std::string& text) {
        std::vector<std::string> lines;
        size_t from = 0;
        for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            lines.push_back(text.substr(from, at - from));
        lines.push_back(text.substr(from));
        return lines;
    }
    static std::string Raw(uint16_t slot) { return RawMsgText(RxMsgRing, slot); }

    uint32_t stamp = 1000;
    rtl::ManualClock clock{50'000};
    rtl::ScopedClock scopedClock{clock};
};
