#include "CorvelEncoder/ui/GlyphIcon.h"

#include "CorvelEncoder/ui/Theme.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvel {

QIcon glyphIcon(Glyph glyph, const QColor& color, int size)
{
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPen pen(color, s / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case Glyph::plus:
        p.drawLine(QPointF(s / 2, s * 0.2), QPointF(s / 2, s * 0.8));
        p.drawLine(QPointF(s * 0.2, s / 2), QPointF(s * 0.8, s / 2));
        break;
    case Glyph::play: {
        QPainterPath path;
        path.moveTo(s * 0.3, s * 0.18);
        path.lineTo(s * 0.82, s * 0.5);
        path.lineTo(s * 0.3, s * 0.82);
        path.closeSubpath();
        p.setBrush(color);
        p.drawPath(path);
        break;
    }
    case Glyph::pause:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(s * 0.24, s * 0.18, s * 0.18, s * 0.64), 1, 1);
        p.drawRoundedRect(QRectF(s * 0.58, s * 0.18, s * 0.18, s * 0.64), 1, 1);
        break;
    case Glyph::stop:
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56), 2, 2);
        break;
    case Glyph::folder: {
        QPainterPath path;
        path.moveTo(s * 0.1, s * 0.28);
        path.lineTo(s * 0.4, s * 0.28);
        path.lineTo(s * 0.48, s * 0.36);
        path.lineTo(s * 0.9, s * 0.36);
        path.lineTo(s * 0.9, s * 0.8);
        path.lineTo(s * 0.1, s * 0.8);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Glyph::film: {
        // A strip of film: a frame between two rows of perforations.
        const QRectF strip(s * 0.12, s * 0.18, s * 0.76, s * 0.64);
        p.drawRoundedRect(strip, s * 0.06, s * 0.06);
        p.drawLine(QPointF(s * 0.3, strip.top()), QPointF(s * 0.3, strip.bottom()));
        p.drawLine(QPointF(s * 0.7, strip.top()), QPointF(s * 0.7, strip.bottom()));
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        for (int i = 0; i < 4; ++i) {
            const qreal y = strip.top() + s * 0.07 + i * s * 0.145;
            p.drawRect(QRectF(s * 0.17, y, s * 0.08, s * 0.07));
            p.drawRect(QRectF(s * 0.75, y, s * 0.08, s * 0.07));
        }
        break;
    }
    case Glyph::eye:
    case Glyph::eyeSlash: {
        QPainterPath path;
        path.moveTo(s * 0.08, s * 0.5);
        path.quadTo(s * 0.5, s * 0.05, s * 0.92, s * 0.5);
        path.quadTo(s * 0.5, s * 0.95, s * 0.08, s * 0.5);
        p.drawPath(path);
        p.setBrush(color);
        p.drawEllipse(QPointF(s * 0.5, s * 0.5), s * 0.1, s * 0.1);
        if (glyph == Glyph::eyeSlash)
            p.drawLine(QPointF(s * 0.15, s * 0.85), QPointF(s * 0.85, s * 0.15));
        break;
    }
    case Glyph::warning: {
        QPainterPath path;
        path.moveTo(s * 0.5, s * 0.08);
        path.lineTo(s * 0.95, s * 0.88);
        path.lineTo(s * 0.05, s * 0.88);
        path.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(path);
        p.setPen(QPen(Theme::window(), s / 9.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.5, s * 0.38), QPointF(s * 0.5, s * 0.6));
        p.drawPoint(QPointF(s * 0.5, s * 0.75));
        break;
    }
    }
    return QIcon(pixmap);
}

} // namespace corvel
