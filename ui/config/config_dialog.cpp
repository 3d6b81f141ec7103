#include "ui/config/config_dialog.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "app/agent_app.h"
#include "res/string_ids.h"
#include "res/tray_menu.h"
#include "ui/config/config_widgets.h"
#include "ui/config/page_event_log.h"
#include "ui/config/page_images.h"
#include "ui/config/page_keys.h"
#include "ui/config/page_status.h"
#include "ui/config/property_sheet.h"
#include "ui/config/settings_sheet.h"
#include "ui/prompts/prompt_widgets.h"
#include "ui/qt_user_interface.h"

namespace kv {

CConfigDialog::CConfigDialog(CAgentApp& app, QtUserInterface& ui)
    : QDialog(nullptr), m_app(app), m_ui(ui) {
    setWindowTitle(ProductCaption());
    setWindowIcon(AgentIcon(app.Keys().IsLocked()));
    setModal(false);

    // Made first, so that Tab goes from the page list into the page, then to the buttons.
    QListWidget* page_list = MakePageList();
    MakeSheet();
    auto* right = new QVBoxLayout;
    right->addWidget(MakeHeading());
    right->addWidget(m_sheet, 1);
    auto* body = new QHBoxLayout;
    body->addWidget(page_list);
    body->addLayout(right, 1);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(separator);
    layout->addLayout(MakeButtonRow());

    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &CConfigDialog::OnHelp);

    connect(m_page_list, &QListWidget::currentRowChanged, this, &CConfigDialog::ShowPage);
    resize(640, 460);
    m_page_list->setCurrentRow(kStatusPage);
    RefreshNow();  // not yet shown, and filled now: it is centred at the size its texts need
    ShowPage(kStatusPage);
    FocusFirstControl(m_sheet->GetActivePage());
}

CConfigDialog::~CConfigDialog() = default;

void CConfigDialog::MakeSheet() {
    m_status = new CPageStatus(m_app, {[this] { m_ui.ShowKeysAndImport(); },
                                       [this] { OpenSettingsSheet(m_app, m_ui, this); }});
    m_event_log = new CPageEventLog(m_app, m_ui);
    m_keys = new CPageKeys(m_app, m_ui);
    m_sheet = new CMyPropertySheet(this);
    m_sheet->AddPage(m_status);
    m_sheet->AddPage(m_event_log);
    m_sheet->AddPage(m_keys);
    m_sheet->HideTabs();
    m_sheet->setDocumentMode(true);  // the pages bring their own frames
}

// The title of the active page, above it.
QLabel* CConfigDialog::MakeHeading() {
    m_heading = new QLabel(this);
    QFont font = m_heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    m_heading->setFont(font);
    return m_heading;
}

QListWidget* CConfigDialog::MakePageList() {
    m_page_list = Named(new QListWidget(this), tr("Pages"));
    m_page_list->setViewMode(QListView::IconMode);
    m_page_list->setFlow(QListView::TopToBottom);
    m_page_list->setMovement(QListView::Static);
    m_page_list->setWrapping(false);
    m_page_list->setIconSize(QSize(40, 40));
    const QIcon images[] = {StatusPageImage(), EventLogPageImage(), KeysPageImage()};
    const QString titles[] = {tr("Status"), tr("Event Log"), tr("Keys")};
    // The classic size, or larger where the user's font needs it to show the titles whole.
    const QFontMetrics metrics = m_page_list->fontMetrics();
    int widest = 0;
    for (const QString& title : titles) widest = std::max(widest, metrics.horizontalAdvance(title));
    m_page_list->setFixedWidth(std::max(112, widest + 28));
    m_page_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_page_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Each item as wide as the list, so that its picture and title sit in the middle.
    const QSize item_size(m_page_list->width() - 2 * m_page_list->frameWidth() - 4,
                          std::max(76, 40 + metrics.height() + 19));
    for (int i = 0; i < 3; ++i) {
        auto* item = new QListWidgetItem(images[i], titles[i], m_page_list);
        item->setData(Qt::UserRole, kPageCommands[i]);
        item->setTextAlignment(Qt::AlignHCenter);
        item->setSizeHint(item_size);
    }
    return m_page_list;
}

QLayout* CConfigDialog::MakeButtonRow() {
    const auto make = [this](const QString& text) {
        auto* button = Named(new QPushButton(text, this), text);
        // Enter in the lists must not press a button by accident.
        button->setAutoDefault(false);
        return button;
    };
    m_lock = make(tr("&Lock"));
    m_help = make(tr("&Help"));
    m_close = make(tr("&Close"));
    connect(m_lock, &QPushButton::clicked, this, &CConfigDialog::OnLock);
    connect(m_help, &QPushButton::clicked, this, &CConfigDialog::OnHelp);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addWidget(m_lock);
    row->addStretch(1);
    row->addWidget(m_help);
    row->addWidget(m_close);
    return row;
}

void CConfigDialog::CenterOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = geometry();
    const QRect available = screen->availableGeometry();
    frame.moveCenter(available.center());
    // Larger than the screen: its caption stays on the screen.
    move(std::max(frame.left(), available.left()), std::max(frame.top(), available.top()));
}

void CConfigDialog::Refresh() {
    // A hidden window is brought up to date when it is shown again: refilling its key list
    // for every entry logged would make each request cost time that grows with the keys.
    if (!isVisible()) {
        m_stale = true;
        return;
    }
    RefreshNow();
}

void CConfigDialog::RefreshNow() {
    // Logging from a row refreshes the window again; run that once this one is done.
    if (m_refreshing) {
        m_refresh_again = true;
        return;
    }
    m_refreshing = true;
    do {
        m_refresh_again = false;
        RefreshOnce();
    } while (m_refresh_again);
    m_refreshing = false;
}

void CConfigDialog::RefreshOnce() {
    m_status->Refresh();
    const bool locked = m_app.Keys().IsLocked();
    const QString caption = TableText(locked ? IDS_BUTTON_UNLOCK : IDS_BUTTON_LOCK);
    if (m_lock->text() != caption) {
        m_lock->setText(caption);
        Named(m_lock, caption);
        setWindowIcon(AgentIcon(locked));
    }
    m_keys->RefreshKeyList();
}

void CConfigDialog::ShowPage(int index) {
    if (!m_sheet->SetActivePage(index)) return;
    if (m_page_list->currentRow() != index) {
        const QSignalBlocker quiet(m_page_list);
        m_page_list->setCurrentRow(index);
    }
    m_heading->setText(m_sheet->GetActivePage()->Title());
    m_sheet->update();
}

void CConfigDialog::ShowKeysAndImport() {
    ShowPage(kKeysPage);
    repaint();
    QMetaObject::invokeMethod(m_keys, &CPageKeys::OnImport, Qt::QueuedConnection);
}

void CConfigDialog::OnLock() { m_ui.RunCommand(m_app.Keys().IsLocked() ? ID_UNLOCK : ID_LOCK); }

void CConfigDialog::OnHelp() { m_app.ShowHelp(HelpContext()); }

unsigned CConfigDialog::HelpContext() const { return m_sheet->ActiveHelpContext(); }

int CConfigDialog::ActivePage() const { return m_sheet->GetActiveIndex(); }

bool CConfigDialog::event(QEvent* event) {
    if (event->type() == QEvent::Show && m_stale) {
        m_stale = false;
        RefreshNow();
    }
    // Centred at its first showing, at the size it shows with: at a large font the layout
    // makes it larger than it was made, and one centred by that smaller size runs off the
    // bottom of the screen.
    if (event->type() == QEvent::Show && !m_centred) {
        m_centred = true;
        CenterOnScreen();
    }
    if (event->type() == QEvent::WindowActivate) {
        update();
        // A prompt the user cannot see would block the agent; show it above this window.
        if (m_app.PromptDepth() > 0) m_ui.BringToFront();
    }
    return QDialog::event(event);
}

}  // namespace kv
