#pragma once

#include <QColor>
#include <QPoint>
#include <QWidget>

namespace Marlet::About {

// The drawn decorations of a window: they paint themselves in their palette's WindowText
// colour, never take the focus, and let mouse events through to what lies behind them.
// Outside what they paint they are transparent, so their stacking among the other
// controls holds.

// A rectangle drawn as a one-pixel outline along the inside of its geometry.
class Shape final : public QWidget
{
    Q_OBJECT

public:
    // `geometry` in logical pixels, in `parent`'s coordinates.
    Shape(QWidget* parent, const QRect& geometry);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A horizontal or vertical line from `from` to `to`, the end point excluded, in logical
// pixels. A horizontal line `width` pixels wide covers that many rows from `from.y()`
// downwards; a vertical one as many columns from `from.x()` rightwards.
class Line final : public QWidget
{
    Q_OBJECT

public:
    Line(QWidget* parent, QPoint from, QPoint to, int width);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Sets the colour a control draws its text, outline or line in: its palette's WindowText.
void setForegroundColor(QWidget* control, const QColor& color);

} // namespace Marlet::About
