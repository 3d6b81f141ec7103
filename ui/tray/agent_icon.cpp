#include "ui/tray/agent_icon.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace kv {

namespace {

// The drawing is laid out on a 34 x 34 grid and scaled to the box; the lifted shackle of the
// open padlock reaches up to y = -2, hence the shift.
constexpr qreal kGrid = 34.0;
constexpr qreal kShiftX = 1.0;
constexpr qreal kShiftY = 2.4;
const QColor kOutline(38, 44, 52);

void PaintShackle(QPainter& p, bool locked) {
    // Locked, both legs sit in the body; unlocked, the shackle is lifted and its left leg
    // stands free above the body.
    const qreal lift = locked ? 0.0 : 4.0;
    const qreal left_end = locked ? 15.0 : 12.0;
    QPainterPath shackle;
    shackle.moveTo(10.0, left_end - lift);
    shackle.lineTo(10.0, 10.5 - lift);
    shackle.arcTo(QRectF(10.0, 4.5 - lift, 12.0, 12.0), 180.0, -180.0);
    shackle.lineTo(22.0, 15.0);
    // A dark rim under a lighter core keeps the shackle visible on dark and light panels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kOutline, 5.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(shackle);
    p.setPen(QPen(QColor(176, 184, 194), 2.6, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(shackle);
}

void PaintBody(QPainter& p, bool locked) {
    const QRectF body(4.0, 13.5, 24.0, 17.0);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    if (locked) {
        fill.setColorAt(0.0, QColor(232, 98, 84));
        fill.setColorAt(1.0, QColor(168, 40, 34));
    } else {
        fill.setColorAt(0.0, QColor(102, 196, 104));
        fill.setColorAt(1.0, QColor(34, 130, 58));
    }
    p.setPen(QPen(kOutline, 1.3));
    p.setBrush(fill);
    p.drawRoundedRect(body, 3.5, 3.5);
    // A soft highlight along the top edge gives the body some depth.
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
    p.drawLine(QPointF(7.0, 15.2), QPointF(25.0, 15.2));
}

void PaintKeyhole(QPainter& p) {
    QPainterPath hole;
    hole.addEllipse(QPointF(16.0, 20.5), 2.6, 2.6);
    QPainterPath slot;
    slot.moveTo(14.9, 21.5);
    slot.lineTo(17.1, 21.5);
    slot.lineTo(17.8, 26.5);
    slot.lineTo(14.2, 26.5);
    slot.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 246, 236));
    p.drawPath(hole.united(slot));
}

class PadlockIconEngine final : public QIconEngine {
  public:
    explicit PadlockIconEngine(bool locked) : m_locked(locked) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        if (mode == QIcon::Disabled) painter->setOpacity(0.45);
        PaintPadlock(*painter, rect, m_locked);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}};
    }

    QIconEngine* clone() const override { return new PadlockIconEngine(m_locked); }
    QString key() const override { return QStringLiteral("kvsshaa-padlock"); }

  private:
    bool m_locked;
};

}  // namespace

void PaintPadlock(QPainter& painter, const QRectF& box, bool locked) {
    const qreal side = std::min(box.width(), box.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / kGrid, side / kGrid);
    painter.translate(kShiftX, kShiftY);
    PaintShackle(painter, locked);
    PaintBody(painter, locked);
    PaintKeyhole(painter);
    painter.restore();
}

QIcon AgentIcon(bool locked) { return QIcon(new PadlockIconEngine(locked)); }

}  // namespace kv
