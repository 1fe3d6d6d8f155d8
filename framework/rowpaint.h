#pragma once
// What the list's cell painter keeps of a row between paints; the row store
// holds it with the row. Used by framework sources only.
#include <QImage>
#include <QString>
#include <QTextLayout>
#include <memory>
#include <vector>

// A cell's text laid out for a width, shared by every cell that shows the
// same text at that width.
struct LaidText {
    QString text;       // the whole text, converted from GBK
    QTextLayout shown;  // as drawn: its first line, elided to the width, laid out
    // `shown` drawn once in `ink` on `paper`, copied to the screen for cells
    // that show it on that paper: cheaper than drawing its glyphs each time.
    mutable QImage sprite;
    mutable QRgb ink = 0, paper = 0;
    mutable qreal spriteTop = 0;
    // Paints of this text so far: the image is made at the second. A text
    // shown once (a payload, at a rate where every shown row is new each
    // paint) would cost an image and a copy for nothing.
    mutable unsigned paints = 0;
};

struct RowPaint {
    struct Cell {
        std::shared_ptr<const LaidText> laid;
        int width = -1;  // the width it was laid out for
        int generation = -1;
    };
    std::vector<Cell> cells;
};
