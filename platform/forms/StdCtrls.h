// Labels, edit fields, buttons, memos and scroll bars.
#pragma once
#include <string>

#include "forms/Controls.h"

class QObject;

namespace forms {

class TLabel : public TControl {
public:
    explicit TLabel(TForm* owner, std::string name = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    void SetAlignment(TAlignment alignment);
    // On by default: the label takes the size of its text.
    void SetAutoSize(bool autoSize);
    // A transparent label lets the form (or a picture) show through; SetColor makes it opaque.
    void SetTransparent(bool transparent);

protected:
    void FontChanged() override;

private:
    void Fit();
    bool autoSize_ = true;
};

class TEdit : public TControl {
public:
    explicit TEdit(TForm* owner, std::string name = {});
    std::string Text() const;
    void SetText(const std::string& text);
    void SelectAll();
    // While the field has the focus, a frame of this colour two pixels wide marks it.
    void SetFocusFrame(TColor color);
};

// An edit field with its caption label standing above it.
class TLabeledEdit : public TEdit {
public:
    explicit TLabeledEdit(TForm* owner, std::string name = {});
    ~TLabeledEdit() override;
    TLabel EditLabel;
    // Pixels between the label's bottom and the field's top.
    void SetLabelSpacing(int spacing);

private:
    friend class LabelFollower;
    void PlaceLabel();
    int spacing_ = 3;
    QObject* follower_;
};

class TButton : public TControl {
public:
    explicit TButton(TForm* owner, std::string name = {});
    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // Makes the button the form's default one: Enter presses it.
    void SetDefault(bool isDefault);
    // Presses the button as a click does (nothing while it is disabled).
    void Click();
    TNotifyEvent OnClick;
};

enum class TScrollStyle { ssNone, ssVertical, ssBoth };

// Lines are numbered from 0; a CR LF or LF inside an added text starts a new line. Character
// positions count each line break as two characters.
class TMemo : public TControl {
public:
    explicit TMemo(TForm* owner, std::string name = {});

    int LineCount() const;
    std::string Line(int index) const;
    void SetLine(int index, const std::string& text);
    void AddLine(const std::string& text);
    void DeleteLine(int index);
    void Clear();
    // The lines joined by CR LF.
    std::string Text() const;
    // Lines as the memo shows them, a wrapped line counting once per row.
    int DisplayLineCount() const;
    // Deletes top lines until DisplayLineCount is at most rows (a line that alone needs more rows
    // goes as well): the result of DeleteLine(0) while it is larger, with one layout per line kept.
    void KeepLastRows(int rows);

    int SelStart() const;
    void SetSelStart(int position);  // also brings the caret's line into view
    int SelLength() const;
    void SetSelLength(int length);

    void SetReadOnly(bool readOnly);
    void SetWordWrap(bool wrap);
    void SetScrollBars(TScrollStyle style);
    // Off: Enter goes to the form (its default button) instead of starting a line.
    void SetWantReturns(bool want) { wantReturns_ = want; }
    bool WantsReturn() const override { return wantReturns_; }

private:
    bool Empty() const;
    bool hasLines_ = false;
    bool wantReturns_ = true;
};

class TScrollBar : public TControl {
public:
    // Vertical.
    explicit TScrollBar(TForm* owner, std::string name = {});
    int Position() const;
    // OnChange follows when the position changes.
    void SetPosition(int position);
    void SetParams(int min, int max, int pageSize);
    void SetLargeChange(int change);
    TNotifyEvent OnChange;
};

}  // namespace forms
