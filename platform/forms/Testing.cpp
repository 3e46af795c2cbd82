#include "forms/Testing.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>

#include "forms/Forms.h"
#include "forms/QtBridge.h"

namespace forms::drive {

namespace {
// A press and a release in the form's focused control (or the form itself).
void SendKey(TForm& form, int key, Qt::KeyboardModifiers modifiers, const QString& text = {}, bool repeat = false) {
    QWidget* target = form.Widget()->focusWidget();
    if (!target) target = form.Widget();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text, repeat);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text, repeat);
    QApplication::sendEvent(target, &release);
}
}  // namespace

void PressKey(TForm& form, uint16_t vk, TShiftState shift) {
    Qt::KeyboardModifiers modifiers;
    if (shift & ssShift) modifiers |= Qt::ShiftModifier;
    if (shift & ssAlt) modifiers |= Qt::AltModifier;
    if (shift & ssCtrl) modifiers |= Qt::ControlModifier;
    SendKey(form, QtKeyFor(vk), modifiers, {}, (shift & ssRepeat) != 0);
}

void TypeText(TForm& form, const std::string& text) {
    for (const QChar ch : ToQString(text))
        SendKey(form, ch.isLetterOrNumber() ? int(ch.toUpper().unicode()) : int(Qt::Key_unknown), Qt::NoModifier,
                QString(ch));
}

void MouseUp(TControl& control, TMouseButton button, int x, int y) {
    QWidget* target = control.Widget();
    if (auto* area = qobject_cast<QAbstractScrollArea*>(target)) target = area->viewport();
    const Qt::MouseButton b = button == TMouseButton::mbRight    ? Qt::RightButton
                              : button == TMouseButton::mbMiddle ? Qt::MiddleButton
                                                                 : Qt::LeftButton;
    const QPointF local(x, y);
    QMouseEvent release(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), b, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

void Activate(TForm& form) {
    form.Show();
    if (Application) Application->ProcessMessages();
}

void CloseRequest(TForm& form) { form.Widget()->close(); }

bool SaveScreenshot(TForm& form, const std::string& path) {
    return form.Widget()->grab().save(QString::fromStdString(path), "PNG");
}

}  // namespace forms::drive
