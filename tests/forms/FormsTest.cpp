// The application object and forms: events, the active form, closing, the message hook for posted
// messages and keys, refresh coalescing and the message-box service.
#include <gtest/gtest.h>

#include <QApplication>
#include <QAbstractButton>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <thread>
#include <tuple>

#include "FormsFixture.h"
#include "forms/Dialogs.h"
#include "forms/Keys.h"
#include "forms/StdCtrls.h"
#include "forms/Testing.h"
#include "rtl/Messages.h"

using namespace forms;

namespace {

constexpr uint32_t kRefresh = rtl::WM_USER + 102;
constexpr uint32_t kOther = rtl::WM_USER + 201;

struct Seen {
    uint32_t msg;
    uintptr_t wParam;
    bool guiThread;
};

class MessageTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        app->OnMessage = [this](TMsg& m, bool& handled) {
            if (m.Message < rtl::WM_USER) {
                hookKeys.push_back({m.Message, m.WParam, true});
                handled = m.WParam == swallowKey;
                return;
            }
            seen.push_back({m.Message, m.WParam, QThread::currentThread() == qApp->thread()});
            EXPECT_EQ(m.Window, app->Handle());
            if (m.Message == kRefresh && coalesce) app->RemoveQueuedMessages(kRefresh);
            handled = true;
        };
    }
    size_t Count(uint32_t msg) const {
        size_t n = 0;
        for (const Seen& s : seen) n += s.msg == msg;
        return n;
    }
    std::vector<Seen> seen, hookKeys;
    bool coalesce = true;
    uintptr_t swallowKey = 0;
};

class TKeyForm : public TRecordingForm {
public:
    TKeyForm() : edit(this, "edit"), ok(this, "ok") {
        edit.SetBounds(10, 10, 100, 24);
        ok.SetBounds(10, 50, 80, 24);
        ok.SetDefault(true);
        ok.OnClick = [this](TControl*) { ++okClicks; };
        edit.OnKeyDown = [this](TControl* sender, uint16_t& key, TShiftState) {
            EXPECT_EQ(sender, &edit);
            editKeys.push_back(key);
        };
    }
    TEdit edit;
    TButton ok;
    int okClicks = 0;
    std::vector<uint16_t> editKeys;
};

}  // namespace

TEST_F(AppTest, FirstFormIsMainAndEveryFormIsCreatedOnce) {
    TRecordingForm* first = nullptr;
    TRecordingForm* second = nullptr;
    app->CreateForm(first);
    app->CreateForm(second);
    second->Name = "Second";
    EXPECT_EQ(app->MainForm(), first);
    EXPECT_EQ(first->events, std::vector<std::string>{"create"});
    EXPECT_EQ(app->FindForm("Second"), second);
    EXPECT_EQ(app->FindForm("Nobody"), nullptr);
    EXPECT_FALSE(first->Visible());
}

TEST_F(AppTest, ActiveFormIsTheLastOfOursActivated) {
    TRecordingForm* a = nullptr;
    TRecordingForm* b = nullptr;
    app->CreateForm(a);
    app->CreateForm(b);
    drive::Activate(*a);
    EXPECT_EQ(app->ActiveForm(), a);
    drive::Activate(*b);
    EXPECT_EQ(app->ActiveForm(), b);
    b->Hide();
    app->ProcessMessages();
    EXPECT_EQ(app->ActiveForm(), b) << "hiding does not hand the activity on";
    drive::Activate(*a);
    EXPECT_EQ(app->ActiveForm(), a);
    const std::vector<std::string> expected{"create", "resize", "show", "activate", "activate"};
    EXPECT_EQ(a->events, expected);
    EXPECT_EQ(b->events, (std::vector<std::string>{"create", "resize", "show", "activate", "hide"}));
}

// The window manager may minimise a form, and there may be no task bar: the program's next Show
// brings it back restored and in front, whether it stayed shown or was hidden meanwhile.
TEST_F(AppTest, AMinimisedFormComesBackRestoredWhenShown) {
    TRecordingForm* form = nullptr;
    TRecordingForm* other = nullptr;
    app->CreateForm(form);
    app->CreateForm(other);
    for (const bool hiddenMeanwhile : {false, true}) {
        SCOPED_TRACE(hiddenMeanwhile ? "hidden meanwhile" : "shown meanwhile");
        drive::Activate(*form);
        form->SetWindowState(TWindowState::wsMinimized);
        ASSERT_EQ(form->WindowState(), TWindowState::wsMinimized);
        if (hiddenMeanwhile) form->Hide();
        drive::Activate(*other);
        form->Show();
        app->ProcessMessages();
        EXPECT_EQ(form->WindowState(), TWindowState::wsNormal);
        EXPECT_TRUE(form->Visible());
        EXPECT_EQ(app->ActiveForm(), form);
    }
}

// Tab and Shift+Tab pass over a disabled and a hidden control of the tab order, round either way.
TEST_F(AppTest, TabOrderPassesOverDisabledAndHiddenControls) {
    TRecordingForm* form = nullptr;
    app->CreateForm(form);
    TEdit a(form, "a"), disabled(form, "disabled"), d(form, "d"), hidden(form, "hidden");
    disabled.SetEnabled(false);
    hidden.SetVisible(false);
    form->SetTabOrder({&a, &disabled, &d, &hidden});
    drive::Activate(*form);
    struct Case {
        TEdit* from;
        TShiftState shift;
        TEdit* to;
    };
    const Case cases[] = {{&a, 0, &d}, {&d, 0, &a}, {&d, ssShift, &a}, {&a, ssShift, &d}};
    for (const Case& c : cases) {
        c.from->SetFocus();
        drive::PressKey(*form, VK_TAB, c.shift);
        EXPECT_TRUE(c.to->Focused()) << c.from->Name << (c.shift ? " Shift+Tab" : " Tab");
    }
}

// The X server repeats a held key as a release and a press with one time stamp, which Qt does not
// always tell: the press is a repeat all the same. Rows: the release's stamp, the press's, a repeat?
TEST_F(AppTest, APressStampedLikeTheReleaseBeforeItIsARepeat) {
    TRecordingForm* form = nullptr;
    app->CreateForm(form);
    drive::Activate(*form);
    const std::tuple<quint64, quint64, bool> rows[] = {{1000, 1000, true}, {1000, 1040, false}, {0, 0, false}};
    for (auto [released, pressed, repeat] : rows) {
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier);
        release.setTimestamp(released);
        QApplication::sendEvent(form->Widget(), &release);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
        press.setTimestamp(pressed);
        QApplication::sendEvent(form->Widget(), &press);
        ASSERT_FALSE(form->shifts.empty());
        EXPECT_EQ((form->shifts.back() & ssRepeat) != 0, repeat) << released << " " << pressed;
    }
}

TEST_F(AppTest, ClosingTheMainFormEndsTheProgramOthersHide) {
    TRecordingForm* main = nullptr;
    TRecordingForm* other = nullptr;
    app->CreateForm(main);
    app->CreateForm(other);
    drive::Activate(*other);

    other->closeAction = TCloseAction::caNone;
    other->Close();
    EXPECT_TRUE(other->Visible());
    other->closeAction = TCloseAction::caFree;
    other->Close();
    EXPECT_FALSE(other->Visible());
    EXPECT_FALSE(app->Terminated());

    main->Close();
    EXPECT_TRUE(app->Terminated());
    app->Run();  // returns at once: the quit request is already there
}

TEST_F(AppTest, AnchoredControlsFollowTheClientArea) {
    TRecordingForm* form = nullptr;
    app->CreateForm(form);
    TLabel right(form, "right");
    right.SetAutoSize(false);
    right.SetBounds(250, 150, 40, 20);
    right.Anchors = akRight | akBottom;
    TLabel wide(form, "wide");
    wide.SetAutoSize(false);
    wide.SetBounds(10, 10, 100, 20);
    wide.Anchors = akLeft | akTop | akRight;
    drive::Activate(*form);
    form->SetClientSize(400, 260);
    app->ProcessMessages();
    EXPECT_EQ(right.Left(), 350);
    EXPECT_EQ(right.Top(), 210);
    EXPECT_EQ(wide.Width(), 200);
    EXPECT_EQ(wide.Left(), 10);
}

TEST_F(MessageTest, PostedMessagesReachTheHookOnTheGuiThread) {
    EXPECT_TRUE(rtl::PostMessage(app->Handle(), kOther, 0x1234, 0));
    EXPECT_FALSE(rtl::PostMessage(&seen, kOther, 0, 0)) << "only the application window takes them";
    std::thread([this] { rtl::PostMessage(app->Handle(), kOther, 7, 0); }).join();
    app->ProcessMessages();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].wParam, 0x1234u);
    EXPECT_EQ(seen[1].wParam, 7u);
    EXPECT_TRUE(seen[0].guiThread && seen[1].guiThread);
}

TEST_F(MessageTest, QueuedRefreshesRunOnceAndLaterOnesAgain) {
    for (int i = 0; i < 10; ++i) rtl::PostMessage(app->Handle(), kRefresh, 0, 0);
    rtl::PostMessage(app->Handle(), kOther, 0, 0);
    app->ProcessMessages();
    EXPECT_EQ(Count(kRefresh), 1u);
    EXPECT_EQ(Count(kOther), 1u) << "other messages stay queued";

    rtl::PostMessage(app->Handle(), kRefresh, 0, 0);
    app->ProcessMessages();
    EXPECT_EQ(Count(kRefresh), 2u);

    coalesce = false;
    for (int i = 0; i < 3; ++i) rtl::PostMessage(app->Handle(), kRefresh, 0, 0);
    app->ProcessMessages();
    EXPECT_EQ(Count(kRefresh), 5u);
}

TEST_F(MessageTest, NoMessageReachesTheHookWhileABoxIsOpen) {
    int answer = 0;
    QTimer::singleShot(0, [&] {
        rtl::PostMessage(app->Handle(), kRefresh, 0, 0);
        QTimer::singleShot(20, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QString("ATTENZIONE"));
            EXPECT_EQ(box->text(), QString::fromUtf8("File: x\u20AC\nNot found"));
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No)) << "Enter answers No";
            box->button(QMessageBox::No)->click();
        });
    });
    answer = rtl::MessageBox("File: x\x80\r\nNot found", "ATTENZIONE", rtl::MB_YESNO | rtl::MB_DEFBUTTON2);
    EXPECT_EQ(answer, rtl::IDNO);
    EXPECT_EQ(Count(kRefresh), 0u);
    rtl::PostMessage(app->Handle(), kRefresh, 0, 0);
    app->ProcessMessages();
    EXPECT_EQ(Count(kRefresh), 1u);
}

// Wide enough for the caption, bold, beside the window manager's icon and three buttons, whatever
// the box holds.
TEST_F(MessageTest, BoxesAreWideEnoughForTheirCaption) {
    struct TBox {
        const char* text;
        const char* caption;
        int flags;
    };
    const TBox boxes[] = {{"File: x\r\nNot found", "ATTENZIONE", rtl::MB_OK},
                          {"x", "FATAL ERROR", rtl::MB_OK | rtl::MB_ICONERROR}};
    QFont title = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    title.setBold(true);
    const QFontMetrics metrics(title);
    for (const TBox& b : boxes) {
        int width = 0;
        QTimer::singleShot(20, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            width = box->width();
            box->close();
        });
        rtl::MessageBox(b.text, b.caption, b.flags);
        EXPECT_GE(width, metrics.horizontalAdvance(QString(b.caption)) + 4 * metrics.height()) << b.caption;
    }
}

TEST_F(MessageTest, KeysPassTheHookThenTheFormThenTheControl) {
    TKeyForm* form = nullptr;
    app->CreateForm(form);
    form->KeyPreview = true;
    drive::Activate(*form);
    form->edit.SetFocus();

    drive::PressKey(*form, VK_F3);
    drive::PressKey(*form, VK_F10);
    drive::PressKey(*form, VK_F4, ssAlt);
    ASSERT_EQ(hookKeys.size(), 3u);
    EXPECT_EQ(hookKeys[0].msg, WM_KEYDOWN);
    EXPECT_EQ(hookKeys[1].msg, WM_SYSKEYDOWN) << "F10 is a system key";
    EXPECT_EQ(hookKeys[2].msg, WM_SYSKEYDOWN);
    EXPECT_EQ(hookKeys[2].wParam, VK_F4);
    EXPECT_EQ(form->keys, (std::vector<uint16_t>{VK_F3, VK_F10, VK_F4}));
    EXPECT_EQ(form->editKeys, (std::vector<uint16_t>{VK_F3, VK_F10, VK_F4}));

    swallowKey = VK_F5;  // the hook handles it: nobody else sees it
    drive::PressKey(*form, VK_F5);
    form->consume = VK_F6;  // the form consumes it: the control does not see it
    drive::PressKey(*form, VK_F6);
    EXPECT_EQ(form->keys.back(), VK_F6);
    EXPECT_EQ(form->editKeys.back(), VK_F4);

    form->KeyPreview = false;
    drive::PressKey(*form, VK_F7);
    EXPECT_EQ(form->keys.back(), VK_F6) << "without preview the form does not see the control's keys";
    EXPECT_EQ(form->editKeys.back(), VK_F7);

    drive::PressKey(*form, VK_RETURN);
    EXPECT_EQ(form->okClicks, 1) << "Enter presses the default button";
    form->ok.SetEnabled(false);
    drive::PressKey(*form, VK_RETURN);
    EXPECT_EQ(form->okClicks, 1);
}

TEST_F(MessageTest, ACloseRequestIsAltF4ForTheHookAndElseCloses) {
    TRecordingForm* main = nullptr;
    TRecordingForm* other = nullptr;
    app->CreateForm(main);
    app->CreateForm(other);
    drive::Activate(*other);
    swallowKey = VK_F4;
    drive::CloseRequest(*other);
    ASSERT_EQ(hookKeys.size(), 1u);
    EXPECT_EQ(hookKeys[0].msg, WM_SYSKEYDOWN);
    EXPECT_EQ(hookKeys[0].wParam, VK_F4);
    EXPECT_TRUE(other->Visible()) << "the hook took it";
    swallowKey = 0;
    drive::CloseRequest(*other);
    EXPECT_FALSE(other->Visible());
    EXPECT_EQ(other->events.back(), "hide");
}

TEST_F(AppTest, AFormThatTakesNoFocusLeavesTheActivityWhereItWas) {
    TRecordingForm* main = nullptr;
    TRecordingForm* aside = nullptr;
    app->CreateForm(main);
    app->CreateForm(aside);
    aside->SetTakesFocus(false);
    drive::Activate(*main);
    drive::Activate(*aside);
    EXPECT_TRUE(aside->Visible());
    EXPECT_EQ(app->ActiveForm(), main);
    EXPECT_EQ(QApplication::activeWindow(), main->Widget());
    EXPECT_EQ(aside->events, (std::vector<std::string>{"create", "resize", "show"}));
}

TEST_F(AppTest, ShowModalReturnsTheResultAButtonSets) {
    TKeyForm* dialog = nullptr;
    app->CreateForm(dialog);
    dialog->ok.OnClick = [&](TControl*) { dialog->SetModalResult(mrOk); };
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(dialog->Visible());
        EXPECT_EQ(app->ActiveForm(), dialog);
        dialog->ok.Click();
    });
    EXPECT_EQ(dialog->ShowModal(), mrOk);
    EXPECT_FALSE(dialog->Visible());
    EXPECT_EQ(dialog->events.back(), "hide");

    QTimer::singleShot(0, [&] { dialog->Close(); });
    EXPECT_EQ(dialog->ShowModal(), mrCancel) << "closing a modal form cancels it";

    // Minimised by the window manager, a modal form would hold the program hidden: it comes back.
    QTimer::singleShot(0, [&] {
        dialog->SetWindowState(TWindowState::wsMinimized);
        app->ProcessMessages();
        EXPECT_EQ(dialog->WindowState(), TWindowState::wsNormal);
        EXPECT_TRUE(dialog->Visible());
        dialog->ok.Click();
    });
    EXPECT_EQ(dialog->ShowModal(), mrOk);
}

TEST_F(AppTest, ShowModalHandsTheActivityBackToTheFormBeforeIt) {
    TRecordingForm* owner = nullptr;
    TKeyForm* dialog = nullptr;
    TRecordingForm* hidden = nullptr;
    app->CreateForm(owner);
    app->CreateForm(dialog);
    app->CreateForm(hidden);
    dialog->ok.OnClick = [&](TControl*) { dialog->SetModalResult(mrOk); };
    drive::Activate(*owner);
    owner->events.clear();
    QTimer::singleShot(0, [&] { dialog->ok.Click(); });
    EXPECT_EQ(dialog->ShowModal(), mrOk);
    EXPECT_EQ(app->ActiveForm(), owner);
    EXPECT_EQ(owner->events, std::vector<std::string>{"activate"});
    app->ProcessMessages();
    EXPECT_EQ(QApplication::activeWindow(), owner->Widget()) << "the platform's activation too";
    EXPECT_EQ(app->ActiveForm(), owner);

    // A form hidden meanwhile is not brought back: the dialog stays the last one activated.
    drive::Activate(*hidden);
    QTimer::singleShot(0, [&] {
        hidden->Hide();
        dialog->ok.Click();
    });
    EXPECT_EQ(dialog->ShowModal(), mrOk);
    EXPECT_FALSE(hidden->Visible());
    EXPECT_EQ(app->ActiveForm(), dialog);
}
