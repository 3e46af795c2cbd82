// A grid of owner-drawn cells: columns of given widths, rows of one height, a vertical scroll bar,
// whole-row selection. The grid keeps no texts; OnDrawCell draws every cell.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "forms/Controls.h"

namespace forms {

enum TGridDrawStateFlag : uint8_t { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = uint8_t;

class TStringGrid;
// Rect is the cell without its grid lines, in the grid's coordinates; draw on the grid's Canvas().
using TDrawCellEvent =
    std::function<void(TStringGrid* Sender, int ACol, int ARow, const TRect& Rect, TGridDrawState State)>;

class TStringGrid : public TControl {
public:
    explicit TStringGrid(TForm* owner, std::string name = {});

    int ColCount() const { return static_cast<int>(colWidths_.size()); }
    void SetColCount(int count);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);
    void SetDefaultColWidth(int width);
    int RowCount() const { return rowCount_; }
    // Redraws only when the count changes, so a draw handler may set it.
    void SetRowCount(int count);
    int DefaultRowHeight() const { return rowHeight_; }
    void SetDefaultRowHeight(int height);
    void SetGridLines(bool shown);
    // The selected row, -1 for none; the first row shown.
    int Row() const { return row_; }
    void SetRow(int row);
    int TopRow() const;

    // The cell under a point of the grid's coordinates; false (and -1, -1) outside the cells.
    bool MouseToCell(int x, int y, int& col, int& row) const;
    TRect CellRect(int col, int row) const;

    // The cells, not only the frame around them.
    void Repaint() override;
    void Invalidate() override;

    TCanvas& Canvas() { return canvas_; }
    TDrawCellEvent OnDrawCell;
    // Runs when a mouse button is released over the grid; X and Y in the grid's coordinates.
    TMouseEvent OnMouseUp;

private:
    friend class GridWidget;
    void Paint();
    void UpdateScroll();
    int VisibleRows() const;
    int LineWidth() const { return gridLines_ ? 1 : 0; }

    std::vector<int> colWidths_;
    int defaultColWidth_ = 64;
    int rowCount_ = 5;
    int rowHeight_ = 24;
    int row_ = 0;
    bool gridLines_ = true;
    TCanvas canvas_;
};

}  // namespace forms
