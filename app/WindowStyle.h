#pragma once

#include <QProxyStyle>

namespace kav {

// The window's own drawing on top of the desktop's style: borders of the labels
// with fixed light backgrounds, and a focus mark the style would not draw.
//
// Boxed labels get a black border on whole device pixels: at fractional scale
// factors the style's one-pixel line can round outside the label and vanish,
// and a dark theme's line colour vanishes on the light backgrounds.
// A scroll bar with the focus gets a ring in the highlight colour.
// A picture with a sharper variant is drawn from it where the painter's device has
// more dots per pixel than the picture, as the printout has.
class WindowStyle final : public QProxyStyle
{
    Q_OBJECT

public:
    WindowStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override;
    void drawItemPixmap(QPainter* painter, const QRect& rect, int alignment, const QPixmap& pixmap) const override;

    // The picture drawn instead of shown, at the same size, where it has more dots.
    static void addSharpVariant(const QPixmap& shown, const QPixmap& sharp);

    // The rectangle of whole device pixels that painting rect in logical
    // coordinates with this painter covers, given back in logical coordinates.
    static QRectF alignedToDevice(const QPainter& painter, const QRectF& rect);
    // Draws a border of width device pixels (at least one) just inside rect.
    static void drawDeviceBorder(QPainter& painter, const QRectF& rect, const QColor& colour, int width);
};

} // namespace kav
