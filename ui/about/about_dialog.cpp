#include "ui/about/about_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "app/module_description.h"
#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/about/about_picture.h"

namespace kv {

namespace {

QString Text(unsigned id) {
    const char* text = LoadString(id);
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

// Arial at the given size in points at 96 dots per inch; another sans-serif face where Arial
// is not installed. Sized in pixels: the text must fit the picture, whose size is fixed, and a
// font setting of more dots per inch drew it over the picture's edges and over itself.
QFont ArialFont(int points, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize((points * 96 + 36) / 72);
    font.setBold(bold);
    return font;
}

}  // namespace

CAboutDialog::CAboutDialog(int /*bitmap_id*/, int close_after_ms, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      m_close_after(close_after_ms),
      m_notice(NoticeText()) {
    setFixedSize(kAboutPictureSize);
    Centre(owner);
    if (m_close_after != 0) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &QDialog::accept);
        m_timer.start(m_close_after);
    }
}

QString CAboutDialog::ProductName() { return Text(IDS_CAPTION); }

QString CAboutDialog::Version() { return QStringLiteral("1.0 Build 56"); }

QString CAboutDialog::NoticeText() {
    const std::string module =
        DescribeModule(LoadString(IDS_MODULE_DESCRIPTION), CurrentModuleFacts());
    return Text(IDS_LEGAL_NOTICE) + QString::fromStdString(module);
}

void CAboutDialog::Centre(QWidget* owner) {
    QScreen* screen = QGuiApplication::primaryScreen();
    QPoint centre = screen != nullptr ? screen->availableGeometry().center() : QPoint();
    if (m_close_after == 0 && owner != nullptr) centre = owner->frameGeometry().center();
    move(centre - QPoint(width() / 2, height() / 2));
}

void CAboutDialog::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Drawn again when the window moves to a screen of another pixel density.
    if (m_picture.isNull() || m_picture.devicePixelRatio() != devicePixelRatioF())
        m_picture = AboutPicture(devicePixelRatioF());
    p.drawPixmap(0, 0, m_picture);

    p.setPen(Qt::black);
    QRect text = rect();
    text.setTop(height() * 28 / 100);
    text.translate(70, 0);
    const int centred = Qt::AlignHCenter | Qt::AlignTop;
    p.setFont(ArialFont(8, true));
    p.drawText(text, centred, ProductName());
    text.translate(0, 12);
    p.drawText(text, centred, Version());
    p.setFont(ArialFont(7, false));
    p.drawText(text, centred, m_notice);
}

void CAboutDialog::keyPressEvent(QKeyEvent*) { accept(); }

void CAboutDialog::mouseReleaseEvent(QMouseEvent* event) {
    const Qt::MouseButtons ends = Qt::LeftButton | Qt::RightButton | Qt::MiddleButton;
    if ((event->button() & ends) != 0) accept();
}

}  // namespace kv
