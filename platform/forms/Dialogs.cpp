#include "forms/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include "forms/Forms.h"
#include "forms/QtBridge.h"
#include "rtl/Files.h"
#include "rtl/Messages.h"

namespace forms {
namespace {

OpenDialogHandler openHandler;

// "a|*.x|b|*.y" as Qt writes it: "a (*.x);;b (*.y)".
QString QtFilter(const std::string& filter) {
    const QStringList parts = ToQString(filter).split(QChar('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QChar(';'), QChar(' ')) + QChar(')');
    return out.join(QStringLiteral(";;"));
}

std::optional<std::string> PlatformOpenDialog(const TOpenDialog& dialog) {
    const TApplication::TSystemModal modal;
    const QString folder = QFile::decodeName(QByteArray::fromStdString(rtl::NativePath(dialog.InitialDir)));
    const QString chosen = QFileDialog::getOpenFileName(nullptr, QString(), QDir(folder).absolutePath(),
                                                        QtFilter(dialog.Filter));
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen).toStdString();
}

// The width a box needs for its caption to be read whole in the window manager's title bar: the
// caption in a bold title font beside the window icon and three buttons.
int CaptionRoom(const std::string& caption) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(ToQString(caption)) + 4 * (metrics.height() + 4);
}

}  // namespace

std::string FileNameText(std::string_view name) {
    return FromQString(QFile::decodeName(QByteArray(name.data(), qsizetype(name.size()))));
}

int ShowMessageBox(const std::string& text, const std::string& caption, int flags) {
    QMessageBox box;
    box.setWindowTitle(ToQString(caption));
    box.setText(ToQString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    switch (flags & 0xF0) {
        case rtl::MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case rtl::MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case rtl::MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case rtl::MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    QMessageBox::StandardButton second = QMessageBox::NoButton;
    switch (flags & 0x0F) {
        case rtl::MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            second = QMessageBox::Cancel;
            break;
        case rtl::MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            second = QMessageBox::No;
            break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    if ((flags & 0xF00) == rtl::MB_DEFBUTTON2) box.setDefaultButton(second);
    // The box sizes itself to its layout, built whole by now: a row of no height as wide as the
    // caption needs.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(CaptionRoom(caption), 0), grid->rowCount(), 0, 1, grid->columnCount());
    const TApplication::TSystemModal modal;
    switch (box.exec()) {
        case QMessageBox::Cancel: return rtl::IDCANCEL;
        case QMessageBox::Yes: return rtl::IDYES;
        case QMessageBox::No: return rtl::IDNO;
        default: return rtl::IDOK;
    }
}

OpenDialogHandler SetOpenDialogHandler(OpenDialogHandler handler) {
    std::swap(openHandler, handler);
    return handler;
}

bool TOpenDialog::Execute() {
    const std::optional<std::string> chosen = openHandler ? openHandler(*this) : PlatformOpenDialog(*this);
    if (!chosen) return false;
    // The windows take folders apart at '\', as the system writes paths.
    FileName = *chosen;
    for (char& c : FileName)
        if (c == '/') c = '\\';
    return true;
}

}  // namespace forms
