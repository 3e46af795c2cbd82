// Forms and the application object. A form is a top-level window with the framework's events
// (create, show, hide, activate, close, paint, resize, key preview); the application owns the
// forms, runs the message loop, hands every posted message and every key to its message hook
// first, and knows the active form: the last of its forms to be activated (a window of another
// program in front does not change it).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "forms/Controls.h"
#include "forms/Graphics.h"
#include "rtl/Messages.h"

class QEventLoop;
class QObject;
class QWidget;

namespace forms {

class TButton;
class TApplication;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };
enum class TFormBorderStyle { bsSizeable, bsSingle, bsDialog };
enum class TPosition { poDefault, poScreenCenter };
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

class TForm {
public:
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    std::string Name;
    int Tag = 0;
    // The form's key handler sees every key before the focused control.
    bool KeyPreview = false;

    // Outer window (frame included) and client area.
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    int ClientWidth() const;
    int ClientHeight() const;
    void SetBounds(int left, int top, int width, int height);
    void SetClientSize(int width, int height);
    void SetLeft(int left);
    void SetTop(int top);
    // Smallest outer size the user can give the window.
    void SetMinSize(int width, int height);
    void SetPosition(TPosition position);
    // Single and dialog borders fix the size; no border icons leaves the caption bar bare.
    void SetBorderStyle(TFormBorderStyle style);
    void SetBorderIcons(bool shown);
    void SetStayOnTop(bool onTop);
    // A form that takes no focus is shown without being activated and is never the active form:
    // keys stay with the form in front of it.
    void SetTakesFocus(bool takesFocus);

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    const TFont& Font() const { return font_; }
    void SetFont(const TFont& font);
    // Draws on the form inside FormPaint; its brush is the form's colour, its font the form's.
    TCanvas& Canvas() { return canvas_; }

    bool Visible() const;
    // Shows the form restored (when minimised) and in front.
    void Show();
    void Hide();
    // Runs FormClose; the main form's close ends the program, another form hides.
    void Close();
    // Shows the form modally until ModalResult becomes non-zero; returns it. The form active
    // before is the active form again afterwards (while still visible).
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result);
    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);
    void Repaint();
    void Invalidate();
    // Takes the focus from the controls: keys go to the form alone.
    void SetFocus();
    // Tab and Shift+Tab move the focus through these controls alone, in this order and round
    // (a hidden or disabled one is passed over); the others still take the focus by click.
    // Without a tab order the platform's own order holds.
    void SetTabOrder(std::vector<TControl*> controls) { tabOrder_ = std::move(controls); }
    // The default button is pressed by Enter when the focused control does not take Enter.
    void SetDefaultButton(TButton* button) { defaultButton_ = button; }
    TButton* DefaultButton() const { return defaultButton_; }

    rtl::HWND Handle() const;
    QWidget* Widget() const { return widget_; }
    static TForm* Of(QWidget* widget);

protected:
    // The controls are placed for the design client area; anchored ones follow later changes.
    TForm(std::string name, int clientWidth, int clientHeight);

    // The framework's events. FormCreate runs once, after construction, when the application
    // creates the form; FormClose may change the action.
    virtual void FormCreate() {}
    virtual void FormShow() {}
    virtual void FormHide() {}
    virtual void FormActivate() {}
    virtual void FormClose(TCloseAction& /*Action*/) {}
    virtual void FormPaint() {}
    virtual void FormResize() {}
    virtual void FormKeyDown(uint16_t& /*Key*/, TShiftState /*Shift*/) {}
    // The window manager asks the window to close (its close button; on a desktop that takes the
    // key for itself, Alt+F4 too). By default the request is Alt+F4 of the form: the hook's, or
    // else Close.
    virtual void CloseRequested();

private:
    friend class TApplication;
    friend class TControl;
    friend class FormWidget;
    void DoCreate() { FormCreate(); }
    void DoShow();
    void DoHide();
    void DoActivate() { FormActivate(); }
    void DoPaint();
    void DoResize(int oldWidth, int oldHeight);
    void DoKeyDown(uint16_t& key, TShiftState shift) { FormKeyDown(key, shift); }
    void ApplyAnchors(int dx, int dy);
    // Moves the focus from the control to the next (back: the previous) of the tab order; false
    // without one.
    bool Tab(TControl* from, bool back);
    int FrameWidth() const;
    int FrameHeight() const;

    QWidget* widget_;
    std::vector<TControl*> controls_;
    TColor color_ = clBtnFace;
    TFont font_;
    TCanvas canvas_;
    TPosition position_ = TPosition::poDefault;
    bool shownOnce_ = false;
    bool fixedSize_ = false;
    bool takesFocus_ = true;
    int laidOutWidth_;   // client size the controls are laid out for
    int laidOutHeight_;
    bool quiet_ = false;  // being destroyed: events are no longer passed on
    int modalResult_ = mrNone;
    bool modal_ = false;
    QEventLoop* modalLoop_ = nullptr;
    TButton* defaultButton_ = nullptr;
    std::vector<TControl*> tabOrder_;
};

// A message as the application's loop takes it from its queue.
struct TMsg {
    rtl::HWND Window = nullptr;
    uint32_t Message = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};
// Set Handled to keep the message from going further.
using TMessageEvent = std::function<void(TMsg& Msg, bool& Handled)>;

class TApplication {
public:
    // Starts Qt and installs the message services (posted messages, message boxes). One at a time.
    TApplication(int& argc, char** argv);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Creates a form (the first becomes the main form), sets ref before FormCreate runs.
    template <class T>
    void CreateForm(T*& ref) {
        auto form = std::make_unique<T>();
        ref = form.get();
        Adopt(std::move(form));
    }

    // Shows the main form and runs the message loop until Terminate (returns at once when that
    // was already asked for).
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Handles every message waiting in the queue.
    void ProcessMessages();

    TMessageEvent OnMessage;

    // The application's own window, to which posted messages go.
    rtl::HWND Handle() const;
    TForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }
    TForm* ActiveForm() const { return active_; }
    // The form of that Name, or nullptr while none was created.
    TForm* FindForm(const std::string& name) const;
    // Removes every message msg still waiting in the queue.
    void RemoveQueuedMessages(uint32_t msg);
    // The caption of the application's own boxes: the program's file name.
    std::string Title;
    // The standard display of an exception: its message in a box with the title.
    void ShowException(const std::string& message);
    // Path of the running program (tests may point it elsewhere).
    const std::string& ExeName() const { return exeName_; }
    void SetExeName(std::string name) { exeName_ = std::move(name); }

    // While a box or a dialog of the platform is open, posted messages are not handed to the hook.
    class TSystemModal {
    public:
        TSystemModal();
        ~TSystemModal();
        TSystemModal(const TSystemModal&) = delete;
        TSystemModal& operator=(const TSystemModal&) = delete;
    };

    // Form layer internals.
    struct Mailbox;
    void Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam, uint64_t sequence);
    bool HandleKey(QWidget* target, uint16_t vk, TShiftState shift);
    // Hands a key of the form to the message hook alone; true when the hook handled it.
    bool HookKey(TForm& form, uint16_t vk, TShiftState shift);
    void Activated(TForm* form);

private:
    void Adopt(std::unique_ptr<TForm> form);

    std::unique_ptr<QObject> qtApp_;
    std::unique_ptr<QObject> window_;
    std::shared_ptr<Mailbox> mailbox_;
    rtl::PostMessageHandler oldPost_;
    rtl::MessageBoxHandler oldBox_;
    std::vector<std::unique_ptr<TForm>> forms_;
    TForm* active_ = nullptr;
    bool terminated_ = false;
    int systemModal_ = 0;
    std::map<uint32_t, uint64_t> discardUpTo_;
    std::string exeName_;
};

extern TApplication* Application;

}  // namespace forms
