#include "ui/about/about_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace kv {

namespace {

const QColor kNavy(20, 50, 79);
const QColor kSteel(31, 95, 139);
const QColor kAmber(224, 165, 38);

void PaintBackground(QPainter& p, const QRectF& all) {
    QLinearGradient paper(all.topLeft(), all.bottomLeft());
    paper.setColorAt(0.0, QColor(255, 255, 255));
    paper.setColorAt(1.0, QColor(234, 239, 245));
    p.fillRect(all, paper);
    // A wide, faint sweep across the lower right corner.
    QPainterPath sweep;
    sweep.moveTo(all.width() * 0.30, all.bottom());
    sweep.cubicTo(all.width() * 0.55, all.height() * 0.80, all.width() * 0.80, all.height() * 0.86,
                  all.right(), all.height() * 0.70);
    sweep.lineTo(all.bottomRight());
    sweep.closeSubpath();
    p.fillPath(sweep, QColor(31, 95, 139, 18));
}

void PaintBanner(QPainter& p, const QRectF& all) {
    const QRectF banner(0, 0, all.width(), 56);
    QLinearGradient sky(banner.topLeft(), banner.bottomRight());
    sky.setColorAt(0.0, kNavy);
    sky.setColorAt(1.0, kSteel);
    p.fillRect(banner, sky);
    // Thin rising lines, like the teeth of a key's bit, fading to the right.
    for (int i = 0; i < 14; ++i) {
        const qreal x = all.width() - 12.0 - i * 11.0;
        const qreal h = 10.0 + ((i * 7) % 5) * 6.0;
        p.setPen(QPen(QColor(255, 255, 255, 22 + i * 2), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x, banner.bottom() - 8), QPointF(x, banner.bottom() - 8 - h));
    }
    p.fillRect(QRectF(0, banner.bottom(), all.width(), 3), kAmber);
}

void PaintKey(QPainter& p) {
    // Drawn around the origin, pointing right; the caller turns and places it.
    QPainterPath key;
    key.addEllipse(QPointF(-26, 0), 17, 17);
    key.addRoundedRect(QRectF(-12, -4.5, 52, 9), 2, 2);
    key.addRect(QRectF(24, 4, 6, 10));
    key.addRect(QRectF(34, 4, 6, 14));
    QPainterPath bow_hole;
    bow_hole.addEllipse(QPointF(-30, 0), 6.5, 6.5);
    p.fillPath(key.simplified().subtracted(bow_hole), QColor(255, 255, 255));
}

void PaintEmblem(QPainter& p, const QPointF& centre) {
    const qreal radius = 64;
    QRadialGradient shadow(centre + QPointF(0, 6), radius + 10);
    shadow.setColorAt(0.80, QColor(20, 50, 79, 60));
    shadow.setColorAt(1.00, QColor(20, 50, 79, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(centre + QPointF(0, 6), radius + 10, radius + 10);

    QLinearGradient disc(centre - QPointF(0, radius), centre + QPointF(0, radius));
    disc.setColorAt(0.0, kSteel);
    disc.setColorAt(1.0, kNavy);
    p.setBrush(disc);
    p.setPen(QPen(kAmber, 3));
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius - 7, radius - 7);

    p.save();
    p.translate(centre + QPointF(4, -3));
    p.rotate(-40);
    p.scale(1.2, 1.2);
    PaintKey(p);
    p.restore();
}

}  // namespace

QPixmap AboutPicture(qreal device_pixel_ratio) {
    const qreal ratio = device_pixel_ratio > 0 ? device_pixel_ratio : 1.0;
    QPixmap picture(kAboutPictureSize * ratio);
    picture.setDevicePixelRatio(ratio);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF all(QPointF(0, 0), QSizeF(kAboutPictureSize));
    PaintBackground(p, all);
    PaintBanner(p, all);
    PaintEmblem(p, QPointF(92, 168));
    // A hairline frame, as the window itself has no border.
    p.setPen(QPen(QColor(20, 50, 79, 140), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(all.adjusted(0.5, 0.5, -0.5, -0.5));
    return picture;
}

}  // namespace kv
