#include "forms/StdCtrls.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <optional>

#include "forms/Forms.h"
#include "forms/QtBridge.h"

namespace forms {

// ---- TLabel ----

namespace {
QLabel* AsLabel(QWidget* w) { return static_cast<QLabel*>(w); }
QLineEdit* AsEdit(QWidget* w) { return static_cast<QLineEdit*>(w); }
QPushButton* AsButton(QWidget* w) { return static_cast<QPushButton*>(w); }
QPlainTextEdit* AsMemo(QWidget* w) { return static_cast<QPlainTextEdit*>(w); }
QScrollBar* AsScroll(QWidget* w) { return static_cast<QScrollBar*>(w); }

Qt::Alignment ToQt(TAlignment a) {
    switch (a) {
        case TAlignment::taRightJustify: return Qt::AlignRight | Qt::AlignTop;
        case TAlignment::taCenter: return Qt::AlignHCenter | Qt::AlignTop;
        default: return Qt::AlignLeft | Qt::AlignTop;
    }
}

// Windows texts break lines with CR LF; the widgets with LF.
QString ToQtLines(const std::string& text) {
    QString q = ToQString(text);
    q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    q.replace(QChar('\r'), QChar('\n'));
    return q;
}
}  // namespace

TLabel::TLabel(TForm* owner, std::string name) : TControl(owner, new QLabel, std::move(name)) {
    AsLabel(Widget())->setTextFormat(Qt::PlainText);
    AsLabel(Widget())->setAlignment(ToQt(TAlignment::taLeftJustify));
}

std::string TLabel::Caption() const { return FromQString(AsLabel(Widget())->text()); }

void TLabel::SetCaption(const std::string& caption) {
    AsLabel(Widget())->setText(ToQtLines(caption));
    Fit();
}

void TLabel::SetAlignment(TAlignment alignment) { AsLabel(Widget())->setAlignment(ToQt(alignment)); }

void TLabel::SetAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    Fit();
}

void TLabel::SetTransparent(bool transparent) { Widget()->setAutoFillBackground(!transparent); }

void TLabel::FontChanged() { Fit(); }

void TLabel::Fit() {
    if (autoSize_) Widget()->resize(Widget()->sizeHint());
}

// ---- TEdit ----

namespace {
class EditWidget : public QLineEdit {
public:
    std::optional<QColor> focusFrame;

protected:
    void paintEvent(QPaintEvent* e) override {
        QLineEdit::paintEvent(e);
        if (!focusFrame || !hasFocus()) return;
        QPainter painter(this);
        painter.setPen(QPen(*focusFrame, 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
    // The frame comes and goes with the focus.
    void focusInEvent(QFocusEvent* e) override {
        QLineEdit::focusInEvent(e);
        update();
    }
    void focusOutEvent(QFocusEvent* e) override {
        QLineEdit::focusOutEvent(e);
        update();
    }
};
}  // namespace

TEdit::TEdit(TForm* owner, std::string name) : TControl(owner, new EditWidget, std::move(name)) {}

std::string TEdit::Text() const { return FromQString(AsEdit(Widget())->text()); }
void TEdit::SetText(const std::string& text) { AsEdit(Widget())->setText(ToQString(text)); }
void TEdit::SelectAll() { AsEdit(Widget())->selectAll(); }
void TEdit::SetFocusFrame(TColor color) {
    static_cast<EditWidget*>(Widget())->focusFrame = ToQColor(color);
    Widget()->update();
}

// Keeps the caption label above its field wherever either goes.
class LabelFollower : public QObject {
public:
    explicit LabelFollower(TLabeledEdit* edit) : edit_(edit) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Move || e->type() == QEvent::Resize) edit_->PlaceLabel();
        return false;
    }

private:
    TLabeledEdit* edit_;
};

TLabeledEdit::TLabeledEdit(TForm* owner, std::string name)
    : TEdit(owner, std::move(name)), EditLabel(owner, Name + "Label"), follower_(new LabelFollower(this)) {
    Widget()->installEventFilter(follower_);
    EditLabel.Widget()->installEventFilter(follower_);
}

TLabeledEdit::~TLabeledEdit() { delete follower_; }

void TLabeledEdit::SetLabelSpacing(int spacing) {
    spacing_ = spacing;
    PlaceLabel();
}

void TLabeledEdit::PlaceLabel() {
    EditLabel.Widget()->move(Left(), Top() - EditLabel.Height() - spacing_);
}

// ---- TButton ----

TButton::TButton(TForm* owner, std::string name) : TControl(owner, new QPushButton, std::move(name)) {
    AsButton(Widget())->setAutoDefault(false);
    QObject::connect(AsButton(Widget()), &QPushButton::clicked, [this] {
        if (OnClick) OnClick(this);
    });
}

std::string TButton::Caption() const { return FromQString(AsButton(Widget())->text()); }
void TButton::SetCaption(const std::string& caption) { AsButton(Widget())->setText(ToQString(caption)); }

void TButton::SetDefault(bool isDefault) {
    if (isDefault) Owner()->SetDefaultButton(this);
    else if (Owner()->DefaultButton() == this) Owner()->SetDefaultButton(nullptr);
}

void TButton::Click() { AsButton(Widget())->click(); }

// ---- TMemo ----

TMemo::TMemo(TForm* owner, std::string name) : TControl(owner, new QPlainTextEdit, std::move(name)) {
    AsMemo(Widget())->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The windows rewrite their memos all day long: a history would keep every text ever shown.
    AsMemo(Widget())->setUndoRedoEnabled(false);
}

bool TMemo::Empty() const { return !hasLines_ && AsMemo(Widget())->document()->isEmpty(); }

int TMemo::LineCount() const { return Empty() ? 0 : AsMemo(Widget())->document()->blockCount(); }

std::string TMemo::Line(int index) const {
    if (index < 0 || index >= LineCount()) return {};
    return FromQString(AsMemo(Widget())->document()->findBlockByNumber(index).text());
}

void TMemo::SetLine(int index, const std::string& text) {
    if (index < 0 || index >= LineCount()) return;
    QTextCursor cursor(AsMemo(Widget())->document()->findBlockByNumber(index));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(ToQtLines(text));
}

void TMemo::AddLine(const std::string& text) {
    auto* memo = AsMemo(Widget());
    if (Empty()) {
        memo->setPlainText(ToQtLines(text));
    } else {
        QTextCursor cursor(memo->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(ToQtLines(text));
    }
    hasLines_ = true;
}

void TMemo::DeleteLine(int index) {
    const int count = LineCount();
    if (index < 0 || index >= count) return;
    if (count == 1) {
        Clear();
        return;
    }
    QTextDocument* doc = AsMemo(Widget())->document();
    const QTextBlock block = doc->findBlockByNumber(index);
    QTextCursor cursor(doc);
    // The line break goes too: the one after the line, or before it for the last line.
    if (index + 1 < count) {
        cursor.setPosition(block.position());
        cursor.setPosition(block.next().position(), QTextCursor::KeepAnchor);
    } else {
        cursor.setPosition(block.position() - 1);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

void TMemo::Clear() {
    AsMemo(Widget())->clear();
    hasLines_ = false;
}

std::string TMemo::Text() const {
    std::string text;
    for (int i = 0, n = LineCount(); i < n; ++i) {
        if (i) text += "\r\n";
        text += Line(i);
    }
    return text;
}

namespace {
// Rows one line takes in the memo.
int RowsOf(const QPlainTextEdit* memo, const QString& text) {
    if (memo->lineWrapMode() == QPlainTextEdit::NoWrap) return 1;
    const qreal width = memo->viewport()->width() - 2 * memo->document()->documentMargin();
    QTextLayout layout(text, memo->font());
    QTextOption option = layout.textOption();
    option.setWrapMode(memo->wordWrapMode());
    layout.setTextOption(option);
    layout.beginLayout();
    int rows = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max<qreal>(width, 1));
        ++rows;
    }
    layout.endLayout();
    return rows;
}
}  // namespace

int TMemo::DisplayLineCount() const {
    auto* memo = AsMemo(Widget());
    if (memo->lineWrapMode() == QPlainTextEdit::NoWrap) return LineCount();
    int rows = 0;
    for (int i = 0, n = LineCount(); i < n; ++i) rows += RowsOf(memo, memo->document()->findBlockByNumber(i).text());
    return rows;
}

void TMemo::KeepLastRows(int rows) {
    if (LineCount() == 0) return;
    auto* memo = AsMemo(Widget());
    // From the bottom up, the first line that no longer fits: it and every line above it go.
    int shown = 0;
    QTextBlock cut = memo->document()->lastBlock();
    while (cut.isValid() && (shown += RowsOf(memo, cut.text())) <= rows) cut = cut.previous();
    if (!cut.isValid()) return;
    if (!cut.next().isValid()) return Clear();
    QTextCursor cursor(memo->document());
    cursor.setPosition(cut.next().position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

namespace {
// Qt counts a line break as one character, the memo's callers as two.
int ToQtPosition(const QTextDocument* doc, int position) {
    int qt = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const int length = b.length() - 1;  // without the break
        if (position <= length) return qt + position;
        position -= std::min(position, length + 2);
        qt += length + 1;
        if (!b.next().isValid()) return qt - 1;
    }
    return 0;
}

int FromQtPosition(const QTextDocument* doc, int qt) {
    const QTextBlock block = doc->findBlock(qt);
    return qt + block.blockNumber();
}
}  // namespace

int TMemo::SelStart() const {
    auto* memo = AsMemo(Widget());
    return FromQtPosition(memo->document(), memo->textCursor().selectionStart());
}

void TMemo::SetSelStart(int position) {
    auto* memo = AsMemo(Widget());
    QTextCursor cursor = memo->textCursor();
    cursor.setPosition(ToQtPosition(memo->document(), std::max(position, 0)));
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
}

int TMemo::SelLength() const {
    auto* memo = AsMemo(Widget());
    const QTextCursor c = memo->textCursor();
    return FromQtPosition(memo->document(), c.selectionEnd()) - FromQtPosition(memo->document(), c.selectionStart());
}

void TMemo::SetSelLength(int length) {
    auto* memo = AsMemo(Widget());
    QTextCursor cursor = memo->textCursor();
    const int start = FromQtPosition(memo->document(), cursor.selectionStart());
    cursor.setPosition(cursor.selectionStart());
    cursor.setPosition(ToQtPosition(memo->document(), start + std::max(length, 0)), QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
}

void TMemo::SetReadOnly(bool readOnly) { AsMemo(Widget())->setReadOnly(readOnly); }

void TMemo::SetWordWrap(bool wrap) {
    AsMemo(Widget())->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void TMemo::SetScrollBars(TScrollStyle style) {
    auto* memo = AsMemo(Widget());
    const bool vertical = style != TScrollStyle::ssNone;
    memo->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(style == TScrollStyle::ssBoth ? Qt::ScrollBarAlwaysOn
                                                                      : Qt::ScrollBarAlwaysOff);
}

// ---- TScrollBar ----

TScrollBar::TScrollBar(TForm* owner, std::string name)
    : TControl(owner, new QScrollBar(Qt::Vertical), std::move(name)) {
    AsScroll(Widget())->setRange(0, 100);
    QObject::connect(AsScroll(Widget()), &QScrollBar::valueChanged, [this] {
        if (OnChange) OnChange(this);
    });
}

int TScrollBar::Position() const { return AsScroll(Widget())->value(); }
void TScrollBar::SetPosition(int position) { AsScroll(Widget())->setValue(position); }

void TScrollBar::SetParams(int min, int max, int pageSize) {
    // The last position leaves a page's room below it.
    AsScroll(Widget())->setRange(min, pageSize > 0 ? std::max(min, max - pageSize + 1) : max);
}

void TScrollBar::SetLargeChange(int change) { AsScroll(Widget())->setPageStep(change); }

}  // namespace forms
