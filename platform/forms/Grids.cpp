#include "forms/Grids.h"

#include <QAbstractScrollArea>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "forms/QtBridge.h"

namespace forms {

class GridWidget : public QAbstractScrollArea {
public:
    explicit GridWidget(TStringGrid* grid) : grid_(grid) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override { grid_->Paint(); }
    void scrollContentsBy(int, int) override { viewport()->update(); }
    void resizeEvent(QResizeEvent* e) override {
        QAbstractScrollArea::resizeEvent(e);
        grid_->UpdateScroll();
    }
    void mousePressEvent(QMouseEvent* e) override {
        int col, row;
        if (e->button() == Qt::LeftButton && grid_->MouseToCell(Point(e).x(), Point(e).y(), col, row))
            grid_->SetRow(row);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!grid_->OnMouseUp) return;
        const TMouseButton button = e->button() == Qt::RightButton ? TMouseButton::mbRight
                                    : e->button() == Qt::MiddleButton ? TMouseButton::mbMiddle
                                                                      : TMouseButton::mbLeft;
        TShiftState shift = 0;
        if (e->modifiers() & Qt::ShiftModifier) shift |= ssShift;
        if (e->modifiers() & Qt::ControlModifier) shift |= ssCtrl;
        if (e->modifiers() & Qt::AltModifier) shift |= ssAlt;
        grid_->OnMouseUp(grid_, button, shift, Point(e).x(), Point(e).y());
    }
    void keyPressEvent(QKeyEvent* e) override {
        const int page = std::max(1, grid_->VisibleRows());
        switch (e->key()) {
            case Qt::Key_Up: grid_->SetRow(grid_->Row() - 1); break;
            case Qt::Key_Down: grid_->SetRow(grid_->Row() + 1); break;
            case Qt::Key_PageUp: grid_->SetRow(grid_->Row() - page); break;
            case Qt::Key_PageDown: grid_->SetRow(grid_->Row() + page); break;
            case Qt::Key_Home: grid_->SetRow(0); break;
            case Qt::Key_End: grid_->SetRow(grid_->RowCount() - 1); break;
            default: QAbstractScrollArea::keyPressEvent(e);
        }
    }

private:
    static QPoint Point(QMouseEvent* e) { return e->position().toPoint(); }
    TStringGrid* grid_;
};

namespace {
GridWidget* AsGrid(QWidget* w) { return static_cast<GridWidget*>(w); }
}

TStringGrid::TStringGrid(TForm* owner, std::string name)
    : TControl(owner, new GridWidget(this), std::move(name)), colWidths_(5, 64) {
    SetColor(clWindow);
    UpdateScroll();
}

// The cells live on the scroll area's viewport, a widget of its own.
void TStringGrid::Repaint() { AsGrid(Widget())->viewport()->repaint(); }
void TStringGrid::Invalidate() { AsGrid(Widget())->viewport()->update(); }

void TStringGrid::SetColCount(int count) {
    colWidths_.resize(static_cast<size_t>(std::max(count, 0)), defaultColWidth_);
    Invalidate();
}

int TStringGrid::ColWidth(int col) const {
    return col >= 0 && col < ColCount() ? colWidths_[static_cast<size_t>(col)] : 0;
}

void TStringGrid::SetColWidth(int col, int width) {
    if (col < 0 || col >= ColCount()) return;
    colWidths_[static_cast<size_t>(col)] = std::max(width, 0);
    Invalidate();
}

void TStringGrid::SetDefaultColWidth(int width) {
    defaultColWidth_ = width;
    std::fill(colWidths_.begin(), colWidths_.end(), width);
    Invalidate();
}

void TStringGrid::SetRowCount(int count) {
    count = std::max(count, 0);
    if (count == rowCount_) return;
    rowCount_ = count;
    if (row_ >= rowCount_) row_ = rowCount_ - 1;
    UpdateScroll();
    Invalidate();
}

void TStringGrid::SetDefaultRowHeight(int height) {
    rowHeight_ = std::max(height, 1);
    UpdateScroll();
    Invalidate();
}

void TStringGrid::SetGridLines(bool shown) {
    gridLines_ = shown;
    UpdateScroll();
    Invalidate();
}

int TStringGrid::VisibleRows() const {
    return AsGrid(Widget())->viewport()->height() / (rowHeight_ + LineWidth());
}

int TStringGrid::TopRow() const { return AsGrid(Widget())->verticalScrollBar()->value(); }

void TStringGrid::UpdateScroll() {
    QScrollBar* bar = AsGrid(Widget())->verticalScrollBar();
    bar->setRange(0, std::max(0, rowCount_ - VisibleRows()));
    bar->setPageStep(std::max(1, VisibleRows()));
}

void TStringGrid::SetRow(int row) {
    if (rowCount_ == 0) return;
    row_ = std::clamp(row, 0, rowCount_ - 1);
    QScrollBar* bar = AsGrid(Widget())->verticalScrollBar();
    if (row_ < TopRow()) bar->setValue(row_);
    else if (row_ >= TopRow() + VisibleRows()) bar->setValue(row_ - VisibleRows() + 1);
    Invalidate();
}

TRect TStringGrid::CellRect(int col, int row) const {
    int x = 0;
    for (int c = 0; c < col && c < ColCount(); ++c) x += ColWidth(c) + LineWidth();
    const int y = (row - TopRow()) * (rowHeight_ + LineWidth());
    return TRect{x, y, x + ColWidth(col), y + rowHeight_};
}

bool TStringGrid::MouseToCell(int x, int y, int& col, int& row) const {
    col = row = -1;
    if (x < 0 || y < 0) return false;
    const int r = TopRow() + y / (rowHeight_ + LineWidth());
    int c = 0;
    for (int left = 0; c < ColCount(); ++c) {
        left += ColWidth(c) + LineWidth();
        if (x < left) break;
    }
    if (r >= rowCount_ || c >= ColCount()) return false;
    col = c;
    row = r;
    return true;
}

void TStringGrid::Paint() {
    QWidget* viewport = AsGrid(Widget())->viewport();
    QPainter painter(viewport);
    painter.fillRect(viewport->rect(), ToQColor(Color()));
    canvas_.Attach(&painter);
    const int line = LineWidth();
    for (int r = TopRow(), y = 0; r < rowCount_ && y < viewport->height(); ++r, y += rowHeight_ + line) {
        for (int c = 0, x = 0; c < ColCount() && x < viewport->width(); x += ColWidth(c) + line, ++c) {
            const TRect rect{x, y, x + ColWidth(c), y + rowHeight_};
            TGridDrawState state = 0;
            if (r == row_) state |= gdSelected | (Widget()->hasFocus() ? gdFocused : 0);
            canvas_.Font = Font();
            canvas_.Brush.Color = Color();
            painter.save();
            painter.setClipRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()));
            if (OnDrawCell) OnDrawCell(this, c, r, rect, state);
            painter.restore();
            if (line) {
                painter.setPen(ToQColor(clGray));
                painter.drawLine(rect.Right, rect.Top, rect.Right, rect.Bottom);
                painter.drawLine(rect.Left, rect.Bottom, rect.Right, rect.Bottom);
            }
        }
    }
    canvas_.Detach();
}

}  // namespace forms
