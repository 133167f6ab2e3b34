#include "transport_icons.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace Marlet::Transport {

namespace {

// Glyphs are drawn on a 16 x 16 grid.
constexpr qreal kGrid = 16.0;

void addTriangle(QPainterPath& path, QPointF a, QPointF b, QPointF c)
{
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
}

QPainterPath glyphPath(Glyph glyph)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    switch (glyph) {
    case Glyph::Prev:
        path.addRect(QRectF(3, 3, 2, 10));
        addTriangle(path, {13, 3}, {5, 8}, {13, 13});
        break;
    case Glyph::Next:
        addTriangle(path, {3, 3}, {11, 8}, {3, 13});
        path.addRect(QRectF(11, 3, 2, 10));
        break;
    case Glyph::Play:
        addTriangle(path, {4.5, 2.5}, {12.5, 8}, {4.5, 13.5});
        break;
    case Glyph::Pause:
        path.addRect(QRectF(4, 3, 3, 10));
        path.addRect(QRectF(9, 3, 3, 10));
        break;
    case Glyph::Back:
        addTriangle(path, {8, 3}, {1.5, 8}, {8, 13});
        addTriangle(path, {14.5, 3}, {8, 8}, {14.5, 13});
        break;
    case Glyph::Step:
        addTriangle(path, {1.5, 3}, {8, 8}, {1.5, 13});
        addTriangle(path, {8, 3}, {14.5, 8}, {8, 13});
        break;
    case Glyph::Stop:
        path.addRect(QRectF(3.5, 3.5, 9, 9));
        break;
    case Glyph::Record:
        path.addEllipse(QPointF(8, 8), 5, 5);
        break;
    case Glyph::Eject:
        addTriangle(path, {2, 9}, {8, 2.5}, {14, 9});
        path.addRect(QRectF(2, 11, 12, 2.5));
        break;
    }
    return path;
}

QColor glyphColor(Glyph glyph, QIcon::Mode mode)
{
    const QPalette palette = QGuiApplication::palette();
    if (mode == QIcon::Disabled)
        return palette.color(QPalette::Disabled, QPalette::ButtonText);
    if (glyph == Glyph::Record)
        return QColor(0xc0, 0x10, 0x10);
    if (mode == QIcon::Selected)
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    return palette.color(QPalette::Active, QPalette::ButtonText);
}

class GlyphIconEngine final : public QIconEngine
{
public:
    explicit GlyphIconEngine(Glyph glyph) : m_glyph(glyph) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal side = qMin(rect.width(), rect.height());
        if (side <= 0)
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(glyphColor(m_glyph, mode));
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / kGrid, side / kGrid);
        painter->drawPath(glyphPath(m_glyph));
        painter->restore();
    }

    // `size` is in device pixels; QIcon sets the pixel ratio on the result.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new GlyphIconEngine(m_glyph); }
    QString key() const override { return QStringLiteral("marlet-glyph"); }
    bool isNull() override { return false; }

private:
    Glyph m_glyph;
};

} // namespace

QIcon glyphIcon(Glyph glyph)
{
    return QIcon(new GlyphIconEngine(glyph));
}

} // namespace Marlet::Transport
