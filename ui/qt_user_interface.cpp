#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QStyle>
#include <QUrl>
#include <cstdio>

#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

QMessageBox::Icon IconFor(std::uint32_t style) {
    switch (style & MB_ICON_MASK) {
        case MB_ICONSTOP: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONEXCLAMATION: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsFor(std::uint32_t style) {
    switch (style & MB_BUTTONS_MASK) {
        case MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
        case MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
        case MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        default: return QMessageBox::Ok;
    }
}

int ResultOf(int button) {
    switch (button) {
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Cancel: return IDCANCEL;
        default: return IDOK;
    }
}

}  // namespace

QtUserInterface::QtUserInterface(std::string askpass_program)
    : AskpassUserInterface(std::move(askpass_program)) {}

QtUserInterface::~QtUserInterface() = default;

int QtUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                std::uint32_t style) {
    QMessageBox box(IconFor(style), QString::fromStdString(caption), QString::fromStdString(text),
                    ButtonsFor(style));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return ResultOf(box.exec());
}

void QtUserInterface::ShowTrayLocked(bool locked) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        static bool told = false;
        if (!told) std::fprintf(stderr, "kvsshaa: the desktop has no tray; the agent runs without one\n");
        told = true;
        return;
    }
    if (!m_tray) m_tray = std::make_unique<QSystemTrayIcon>();
    const QStyle* style = QApplication::style();
    m_tray->setIcon(style->standardIcon(locked ? QStyle::SP_DialogNoButton
                                               : QStyle::SP_DialogYesButton));
    const char* product = LoadString(IDS_PRODUCT_NAME);
    const char* state = LoadString(locked ? IDS_TIP_LOCKED : IDS_TIP_UNLOCKED);
    m_tray->setToolTip(QString("%1 : %2").arg(product ? product : "", state ? state : ""));
    m_tray->show();
}

bool QtUserInterface::OpenHelpPage(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace kv
