#include "WindowStyle.h"

#include <QFrame>
#include <QHash>
#include <QPainter>
#include <QStyleOption>

#include <cmath>

namespace kav {
namespace {

// Sharper variants by the shown picture's cache key: the window's pictures are loaded once.
QHash<qint64, QPixmap>& sharpVariants()
{
    static QHash<qint64, QPixmap> variants;
    return variants;
}

} // namespace

WindowStyle::WindowStyle() = default;

QRectF WindowStyle::alignedToDevice(const QPainter& painter, const QRectF& rect)
{
    const QTransform toDevice = painter.deviceTransform();
    const QRectF device = toDevice.mapRect(rect);
    // The same rounding Qt applies to the widget's clip, so the edges stay inside it.
    const QRectF whole(QPointF(std::round(device.left()), std::round(device.top())),
                       QPointF(std::round(device.right()), std::round(device.bottom())));
    return toDevice.inverted().mapRect(whole);
}

void WindowStyle::drawDeviceBorder(QPainter& painter, const QRectF& rect, const QColor& colour, int width)
{
    const QRectF outer = alignedToDevice(painter, rect);
    const QTransform toDevice = painter.deviceTransform();
    // One device pixel in logical units, along each axis.
    const qreal px = 1.0 / std::max<qreal>(toDevice.m11(), 1e-6);
    const qreal py = 1.0 / std::max<qreal>(toDevice.m22(), 1e-6);
    const qreal wx = px * std::max(width, 1);
    const qreal wy = py * std::max(width, 1);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(QRectF(outer.left(), outer.top(), outer.width(), wy), colour);
    painter.fillRect(QRectF(outer.left(), outer.bottom() - wy, outer.width(), wy), colour);
    painter.fillRect(QRectF(outer.left(), outer.top(), wx, outer.height()), colour);
    painter.fillRect(QRectF(outer.right() - wx, outer.top(), wx, outer.height()), colour);
    painter.restore();
}

void WindowStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    const auto* frame = qobject_cast<const QFrame*>(widget);
    if (element == CE_ShapedFrame && frame && frame->frameShape() == QFrame::Box) {
        const int scale = std::max(1, int(std::lround(painter->deviceTransform().m11())));
        drawDeviceBorder(*painter, QRectF(option->rect), Qt::black, frame->lineWidth() * scale);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void WindowStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                     const QWidget* widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control == CC_ScrollBar && (option->state & State_HasFocus)) {
        const int scale = std::max(1, int(std::lround(painter->deviceTransform().m11())));
        drawDeviceBorder(*painter, QRectF(option->rect), option->palette.color(QPalette::Highlight), 2 * scale);
    }
}

void WindowStyle::drawItemPixmap(QPainter* painter, const QRect& rect, int alignment, const QPixmap& pixmap) const
{
    const auto sharp = sharpVariants().constFind(pixmap.cacheKey());
    // The device's dots per pixel: a widget's painter reports the widget as its device even
    // when it draws into another one, whose scale its transform holds.
    if (sharp == sharpVariants().cend() || painter->deviceTransform().m11() <= pixmap.devicePixelRatio() ||
        sharp->width() <= pixmap.width()) {
        QProxyStyle::drawItemPixmap(painter, rect, alignment, pixmap);
        return;
    }
    QPixmap large = *sharp;
    large.setDevicePixelRatio(large.width() / pixmap.deviceIndependentSize().width());
    QProxyStyle::drawItemPixmap(painter, rect, alignment, large);
}

void WindowStyle::addSharpVariant(const QPixmap& shown, const QPixmap& sharp)
{
    sharpVariants().insert(shown.cacheKey(), sharp);
}

} // namespace kav
