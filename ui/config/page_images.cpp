#include "ui/config/page_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "ui/prompts/prompt_widgets.h"

namespace kv {

namespace {

constexpr int kSize = 64;  // drawn large, shown smaller: crisp at high DPI too

QIcon Draw(const std::function<void(QPainter&)>& paint) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return QIcon(pixmap);
}

const QColor kBlue(40, 100, 180);
const QColor kGreen(40, 150, 60);
const QColor kRed(190, 40, 40);
const QColor kInk(60, 60, 60);

}  // namespace

// A gauge: the agent's state at a glance.
QIcon StatusPageImage() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kInk, 4));
        p.setBrush(Qt::white);
        p.drawEllipse(6, 6, 52, 52);
        p.setPen(QPen(kGreen, 6, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(14, 14, 36, 36, 30 * 16, 120 * 16);
        p.setPen(QPen(kBlue, 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(32, 36, 44, 20);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawEllipse(27, 31, 10, 10);
    });
}

// A page with lines: the list of events.
QIcon EventLogPageImage() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kInk, 3));
        p.setBrush(Qt::white);
        p.drawRoundedRect(12, 4, 40, 56, 4, 4);
        p.setPen(QPen(kBlue, 4, Qt::SolidLine, Qt::RoundCap));
        for (int y = 16; y <= 48; y += 8) p.drawLine(20, y, y % 16 == 0 ? 44 : 38, y);
    });
}

// A key: bow, shaft and bit.
QIcon KeysPageImage() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kInk, 3));
        p.setBrush(QColor(225, 180, 50));
        QPainterPath key;
        key.addEllipse(4, 20, 26, 26);
        key.addRect(26, 29, 32, 8);
        key.addRect(46, 37, 6, 10);
        key.addRect(36, 37, 5, 7);
        p.drawPath(key.simplified());
        p.setBrush(Qt::white);
        p.drawEllipse(11, 28, 9, 9);
    });
}

QIcon StatusStateIcon(StatusIcon state) {
    switch (state) {
        case StatusIcon::Ok:
            return Draw([](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(kGreen);
                p.drawEllipse(4, 4, 56, 56);
                p.setPen(QPen(Qt::white, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.drawPolyline(QPolygon({QPoint(18, 33), QPoint(28, 43), QPoint(46, 22)}));
            });
        case StatusIcon::Error:
            return Draw([](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(kRed);
                p.drawEllipse(4, 4, 56, 56);
                p.setPen(QPen(Qt::white, 8, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(21, 21, 43, 43);
                p.drawLine(43, 21, 21, 43);
            });
        case StatusIcon::Locked:
            return AgentIcon(true);
        case StatusIcon::None:
            break;
    }
    return QIcon();
}

}  // namespace kv
