#include "about/drawn_controls.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace Marlet::About {

namespace {

void makeDecoration(QWidget* control)
{
    control->setAttribute(Qt::WA_TransparentForMouseEvents);
    control->setFocusPolicy(Qt::NoFocus);
}

} // namespace

Shape::Shape(QWidget* parent, const QRect& geometry) : QWidget(parent)
{
    makeDecoration(this);
    setGeometry(geometry);
}

void Shape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

Line::Line(QWidget* parent, QPoint from, QPoint to, int width) : QWidget(parent)
{
    Q_ASSERT(from.x() == to.x() || from.y() == to.y());
    makeDecoration(this);
    const int left = std::min(from.x(), to.x());
    const int top = std::min(from.y(), to.y());
    if (from.y() == to.y())
        setGeometry(left, top, std::abs(to.x() - from.x()), width);
    else
        setGeometry(left, top, width, std::abs(to.y() - from.y()));
}

void Line::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::WindowText));
}

void setForegroundColor(QWidget* control, const QColor& color)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, color);
    control->setPalette(palette);
}

} // namespace Marlet::About
