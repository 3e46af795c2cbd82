#include "forms/Forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <mutex>

#include "forms/Dialogs.h"
#include "forms/Keys.h"
#include "forms/QtBridge.h"
#include "forms/StdCtrls.h"

namespace forms {

TApplication* Application = nullptr;

namespace {

constexpr char kFormProperty[] = "formsForm";

TShiftState ShiftOf(const QKeyEvent& key, bool repeat) {
    const Qt::KeyboardModifiers m = key.modifiers();
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::AltModifier) s |= ssAlt;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (repeat) s |= ssRepeat;
    return s;
}

// The X server repeats a held key as a release and a press with one time stamp. Qt tells such a
// pair only when the press is already queued as the release is read; the stamps tell it always.
class RepeatWatch {
public:
    void Released(const QKeyEvent& key) {
        key_ = key.key();
        time_ = key.timestamp();
    }
    bool IsRepeat(const QKeyEvent& press) const {
        return press.isAutoRepeat() || (press.timestamp() != 0 && press.timestamp() == time_ && press.key() == key_);
    }

private:
    int key_ = 0;
    quint64 time_ = 0;
};

// Every key passes the application's hook, the form and the focused control before Qt sees it.
class QtApp : public QApplication {
public:
    QtApp(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* e) override {
        // An exception in a handler is shown, and the loop goes on.
        try {
            if (e->type() == QEvent::KeyRelease) repeats_.Released(*static_cast<QKeyEvent*>(e));
            if (e->type() == QEvent::KeyPress && receiver->isWidgetType() && Application) {
                auto* key = static_cast<QKeyEvent*>(e);
                const uint16_t vk = VirtualKey(*key);
                if (vk && Application->HandleKey(static_cast<QWidget*>(receiver), vk, ShiftOf(*key, repeats_.IsRepeat(*key))))
                    return true;
            }
            return QApplication::notify(receiver, e);
        } catch (const std::exception& ex) {
            if (Application) Application->ShowException(ex.what());
        } catch (...) {
            if (Application) Application->ShowException("");
        }
        return true;
    }

private:
    RepeatWatch repeats_;
};

class PostedEvent : public QEvent {
public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    PostedEvent(uint32_t msg, uintptr_t wParam, intptr_t lParam, uint64_t sequence)
        : QEvent(Kind()), msg(msg), wParam(wParam), lParam(lParam), sequence(sequence) {}
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    uint64_t sequence;
};

// The application's hidden window: the receiver of posted messages.
class AppWindow : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != PostedEvent::Kind()) return QObject::event(e);
        auto* p = static_cast<PostedEvent*>(e);
        if (Application) Application->Deliver(p->msg, p->wParam, p->lParam, p->sequence);
        return true;
    }
};

}  // namespace

// The form's window: turns Qt's events into the form's events.
class FormWidget : public QWidget {
public:
    explicit FormWidget(TForm* form) : form_(form) {}

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::WindowActivate && !form_->quiet_ && isVisible() && Application)
            Application->Activated(form_);
        return QWidget::event(e);
    }
    void showEvent(QShowEvent* e) override {
        if (!e->spontaneous() && !form_->quiet_) form_->DoShow();
    }
    void hideEvent(QHideEvent* e) override {
        if (!e->spontaneous() && !form_->quiet_) form_->DoHide();
    }
    void paintEvent(QPaintEvent*) override {
        if (!form_->quiet_) form_->DoPaint();
    }
    void resizeEvent(QResizeEvent*) override {
        if (!form_->quiet_) form_->DoResize(width(), height());
    }
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        if (!form_->quiet_) form_->CloseRequested();
    }
    // A modal form that the window manager minimises would stay hidden while it holds every other
    // window: it comes back at once.
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() != QEvent::WindowStateChange || !form_->modal_ || !isMinimized()) return;
        QMetaObject::invokeMethod(this, [this] {
            if (!form_->modal_ || !isMinimized()) return;
            showNormal();
            activateWindow();
        }, Qt::QueuedConnection);
    }

private:
    TForm* form_;
};

// ---- TForm ----

TForm::TForm(std::string name, int clientWidth, int clientHeight)
    : Name(std::move(name)), widget_(new FormWidget(this)), laidOutWidth_(clientWidth),
      laidOutHeight_(clientHeight) {
    widget_->setProperty(kFormProperty, QVariant::fromValue(static_cast<void*>(this)));
    widget_->setAttribute(Qt::WA_QuitOnClose, false);
    widget_->resize(clientWidth, clientHeight);
    SetFont(font_);
    SetColor(color_);
}

TForm::~TForm() {
    quiet_ = true;
    delete widget_;
}

TForm* TForm::Of(QWidget* widget) {
    if (!widget) return nullptr;
    const QVariant v = widget->window()->property(kFormProperty);
    return v.isValid() ? static_cast<TForm*>(v.value<void*>()) : nullptr;
}

rtl::HWND TForm::Handle() const { return widget_; }

int TForm::FrameWidth() const { return widget_->frameGeometry().width() - widget_->width(); }
int TForm::FrameHeight() const { return widget_->frameGeometry().height() - widget_->height(); }
int TForm::Left() const { return widget_->x(); }
int TForm::Top() const { return widget_->y(); }
int TForm::Width() const { return widget_->width() + FrameWidth(); }
int TForm::Height() const { return widget_->height() + FrameHeight(); }
int TForm::ClientWidth() const { return widget_->width(); }
int TForm::ClientHeight() const { return widget_->height(); }

void TForm::SetBounds(int left, int top, int width, int height) {
    widget_->move(left, top);
    SetClientSize(width - FrameWidth(), height - FrameHeight());
}

void TForm::SetClientSize(int width, int height) {
    const QSize size(std::max(width, 0), std::max(height, 0));
    if (fixedSize_) widget_->setFixedSize(size);
    else widget_->resize(size);
}

void TForm::SetLeft(int left) { widget_->move(left, Top()); }
void TForm::SetTop(int top) { widget_->move(Left(), top); }

void TForm::SetMinSize(int width, int height) {
    widget_->setMinimumSize(std::max(width - FrameWidth(), 0), std::max(height - FrameHeight(), 0));
}

void TForm::SetPosition(TPosition position) { position_ = position; }

void TForm::SetBorderStyle(TFormBorderStyle style) {
    fixedSize_ = style != TFormBorderStyle::bsSizeable;
    if (fixedSize_) widget_->setFixedSize(widget_->size());
    else {
        widget_->setMinimumSize(0, 0);
        widget_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

void TForm::SetBorderIcons(bool shown) {
    Qt::WindowFlags flags = widget_->windowFlags() & (Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    flags |= Qt::Window;
    if (!shown) flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    widget_->setWindowFlags(flags);
}

void TForm::SetStayOnTop(bool onTop) { widget_->setWindowFlag(Qt::WindowStaysOnTopHint, onTop); }

void TForm::SetTakesFocus(bool takesFocus) {
    takesFocus_ = takesFocus;
    widget_->setWindowFlag(Qt::WindowDoesNotAcceptFocus, !takesFocus);
    widget_->setAttribute(Qt::WA_ShowWithoutActivating, !takesFocus);
}

std::string TForm::Caption() const { return FromQString(widget_->windowTitle()); }
void TForm::SetCaption(const std::string& caption) { widget_->setWindowTitle(ToQString(caption)); }

void TForm::SetColor(TColor color) {
    color_ = color;
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::Window, ToQColor(color));
    widget_->setPalette(palette);
    widget_->setAutoFillBackground(true);
}

void TForm::SetFont(const TFont& font) {
    font_ = font;
    widget_->setFont(ToQFont(font));
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::WindowText, ToQColor(font.Color));
    widget_->setPalette(palette);
}

bool TForm::Visible() const { return widget_->isVisible(); }

void TForm::Show() {
    if (!shownOnce_) {
        shownOnce_ = true;
        if (position_ == TPosition::poScreenCenter) {
            if (QScreen* screen = QGuiApplication::primaryScreen()) {
                const QRect area = screen->availableGeometry();
                widget_->move(area.center() - QPoint(Width() / 2, Height() / 2));
            }
        }
    }
    // Minimised by the window manager (there may be no task bar to bring it back), it is restored.
    widget_->setWindowState(widget_->windowState() & ~Qt::WindowMinimized);
    widget_->show();
    widget_->raise();
    if (!takesFocus_) return;
    widget_->activateWindow();
    // The platform reports activation later; our bookkeeping follows the show at once.
    if (Application && widget_->isVisible()) Application->Activated(this);
}

void TForm::Hide() { widget_->hide(); }

void TForm::Close() {
    if (modal_) {
        SetModalResult(mrCancel);
        return;
    }
    TCloseAction action = TCloseAction::caHide;
    FormClose(action);
    if (action == TCloseAction::caNone) return;
    if (Application && Application->MainForm() == this) {
        Application->Terminate();
        return;
    }
    // A freed form goes with the application; until then it is only hidden.
    if (action == TCloseAction::caMinimize) SetWindowState(TWindowState::wsMinimized);
    else Hide();
}

int TForm::ShowModal() {
    TForm* before = Application ? Application->ActiveForm() : nullptr;
    modalResult_ = mrNone;
    modal_ = true;
    widget_->setWindowModality(Qt::ApplicationModal);
    Show();
    QEventLoop loop;
    modalLoop_ = &loop;
    for (;;) {
        if (modalResult_ == mrNone && !(Application && Application->Terminated())) loop.exec();
        if (modalResult_ == mrNone) modalResult_ = mrCancel;  // the application is ending
        TCloseAction action = TCloseAction::caHide;
        FormClose(action);
        if (action != TCloseAction::caNone || (Application && Application->Terminated())) break;
        modalResult_ = mrNone;
    }
    modalLoop_ = nullptr;
    modal_ = false;
    Hide();
    widget_->setWindowModality(Qt::NonModal);
    // The form that was active before takes the activity back, as the platform may not hand it on.
    if (before && before != this && before->Visible()) {
        before->widget_->activateWindow();
        Application->Activated(before);
    }
    return modalResult_;
}

void TForm::SetModalResult(int result) {
    modalResult_ = result;
    if (result != mrNone)
        if (modalLoop_) modalLoop_->quit();
}

TWindowState TForm::WindowState() const {
    if (widget_->isMinimized()) return TWindowState::wsMinimized;
    if (widget_->isMaximized()) return TWindowState::wsMaximized;
    return TWindowState::wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
    switch (state) {
        case TWindowState::wsNormal: widget_->setWindowState(Qt::WindowNoState); break;
        case TWindowState::wsMinimized: widget_->setWindowState(Qt::WindowMinimized); break;
        case TWindowState::wsMaximized: widget_->setWindowState(Qt::WindowMaximized); break;
    }
}

void TForm::Repaint() { widget_->repaint(); }
void TForm::Invalidate() { widget_->update(); }
void TForm::SetFocus() { widget_->setFocus(Qt::OtherFocusReason); }

void TForm::CloseRequested() {
    if (Application && Application->HookKey(*this, VK_F4, ssAlt)) return;
    Close();
}

void TForm::DoShow() { FormShow(); }
void TForm::DoHide() { FormHide(); }

void TForm::DoPaint() {
    QPainter painter(widget_);
    canvas_.Font = font_;
    canvas_.Brush.Color = color_;
    canvas_.Attach(&painter);
    FormPaint();
    canvas_.Detach();
}

void TForm::DoResize(int width, int height) {
    ApplyAnchors(width - laidOutWidth_, height - laidOutHeight_);
    laidOutWidth_ = width;
    laidOutHeight_ = height;
    FormResize();
}

void TForm::ApplyAnchors(int dx, int dy) {
    if (dx == 0 && dy == 0) return;
    for (TControl* c : controls_) {
        int left = c->Left(), top = c->Top(), width = c->Width(), height = c->Height();
        if (c->Anchors & akRight) {
            if (c->Anchors & akLeft) width += dx;
            else left += dx;
        }
        if (c->Anchors & akBottom) {
            if (c->Anchors & akTop) height += dy;
            else top += dy;
        }
        c->SetBounds(left, top, width, height);
    }
}

bool TForm::Tab(TControl* from, bool back) {
    const int n = static_cast<int>(tabOrder_.size());
    if (n == 0) return false;
    const auto at = std::find(tabOrder_.begin(), tabOrder_.end(), from);
    // From a control outside the order, Tab goes to the first and Shift+Tab to the last.
    int i = at != tabOrder_.end() ? static_cast<int>(at - tabOrder_.begin()) : back ? 0 : n - 1;
    for (int tried = 0; tried < n; ++tried) {
        i = (i + (back ? n - 1 : 1)) % n;
        TControl* next = tabOrder_[static_cast<size_t>(i)];
        if (next->Visible() && next->Enabled()) {
            next->Widget()->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
            break;
        }
    }
    return true;
}

// ---- TApplication ----

struct TApplication::Mailbox {
    std::mutex lock;
    QObject* receiver = nullptr;
    std::atomic<uint64_t> sequence{0};
};

TApplication::TApplication(int& argc, char** argv)
    : qtApp_(std::make_unique<QtApp>(argc, argv)), window_(std::make_unique<AppWindow>()),
      mailbox_(std::make_shared<Mailbox>()) {
    Application = this;
    QApplication::setQuitOnLastWindowClosed(false);
    mailbox_->receiver = window_.get();
    oldPost_ = rtl::SetPostMessageHandler(
        [box = mailbox_](rtl::HWND window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
            std::lock_guard guard(box->lock);
            if (!box->receiver || window != box->receiver) return false;
            QCoreApplication::postEvent(box->receiver, new PostedEvent(msg, wParam, lParam, ++box->sequence));
            return true;
        });
    oldBox_ = rtl::SetMessageBoxHandler(ShowMessageBox);
    exeName_ = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    Title = FromQString(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

void TApplication::ShowException(const std::string& message) {
    rtl::MessageBox(message, Title, rtl::MB_OK | rtl::MB_ICONERROR);
}

TApplication::~TApplication() {
    {
        std::lock_guard guard(mailbox_->lock);
        mailbox_->receiver = nullptr;
    }
    rtl::SetPostMessageHandler(oldPost_);
    rtl::SetMessageBoxHandler(oldBox_);
    for (auto& form : forms_) {
        form->quiet_ = true;
        form->widget_->hide();
    }
    active_ = nullptr;
    while (!forms_.empty()) forms_.pop_back();
    window_.reset();
    qtApp_.reset();
    Application = nullptr;
}

void TApplication::Adopt(std::unique_ptr<TForm> form) {
    TForm* f = form.get();
    forms_.push_back(std::move(form));
    f->DoCreate();
}

void TApplication::Run() {
    if (terminated_) return;
    if (TForm* main = MainForm()) main->Show();
    QApplication::exec();
}

void TApplication::Terminate() {
    terminated_ = true;
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

rtl::HWND TApplication::Handle() const { return window_.get(); }

TForm* TApplication::FindForm(const std::string& name) const {
    for (const auto& form : forms_)
        if (form->Name == name) return form.get();
    return nullptr;
}

void TApplication::RemoveQueuedMessages(uint32_t msg) { discardUpTo_[msg] = mailbox_->sequence.load(); }

void TApplication::Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam, uint64_t sequence) {
    // A box of the platform runs its own loop, which does not pass messages to the hook.
    if (systemModal_ > 0) return;
    if (auto it = discardUpTo_.find(msg); it != discardUpTo_.end() && sequence <= it->second) return;
    TMsg m{Handle(), msg, wParam, lParam};
    bool handled = false;
    if (OnMessage) OnMessage(m, handled);
}

TApplication::TSystemModal::TSystemModal() {
    if (Application) ++Application->systemModal_;
}
TApplication::TSystemModal::~TSystemModal() {
    if (Application) --Application->systemModal_;
}

bool TApplication::HookKey(TForm& form, uint16_t vk, TShiftState shift) {
    // F10 and every key with Alt are system keys, as the hook expects them.
    TMsg msg{form.Handle(), (shift & ssAlt) || vk == VK_F10 ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, 0};
    bool handled = false;
    if (OnMessage) OnMessage(msg, handled);
    return handled;
}

bool TApplication::HandleKey(QWidget* target, uint16_t vk, TShiftState shift) {
    TForm* form = TForm::Of(target);
    if (!form || form->quiet_) return false;
    if (HookKey(*form, vk, shift)) return true;
    uint16_t key = vk;
    TControl* control = TControl::Of(target);
    if (form->KeyPreview || !control) {
        form->DoKeyDown(key, shift);
        if (key == 0) return true;
    }
    if (control && control->OnKeyDown) {
        control->OnKeyDown(control, key, shift);
        if (key == 0) return true;
    }
    if (key == VK_TAB && !(shift & (ssAlt | ssCtrl)) && form->Tab(control, (shift & ssShift) != 0)) return true;
    if (key == VK_RETURN && !(control && control->WantsReturn())) {
        auto* button = dynamic_cast<TButton*>(control);
        if (!button) button = form->defaultButton_;
        if (button && button->Enabled() && button->Visible()) {
            button->Click();
            return true;
        }
    }
    return false;
}

void TApplication::Activated(TForm* form) {
    if (form == active_) return;
    // Activated all the same (a click into it): the keyboard goes back to the form in front.
    if (!form->takesFocus_) {
        if (active_ && active_->Visible()) active_->widget_->activateWindow();
        return;
    }
    active_ = form;
    form->DoActivate();
}

}  // namespace forms
