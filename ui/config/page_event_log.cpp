#include "ui/config/page_event_log.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/agent_app.h"
#include "ui/config/config_widgets.h"

namespace kv {

namespace {

constexpr int kSlotRole = Qt::UserRole;

// At least the classic widths, and wide enough for the text at the user's font.
int ColumnWidth(const QFontMetrics& metrics, int classic, const QStringList& samples) {
    int width = classic;
    for (const QString& sample : samples) {
        width = std::max(width, metrics.horizontalAdvance(sample) + 16);
    }
    return width;
}

}  // namespace

CPageEventLog::CPageEventLog(CAgentApp& app, QtUserInterface& ui, QWidget* parent)
    : CPropertyPage(tr("Event Log"), kHelpContext, parent), m_app(app), m_ui(ui) {
    m_list = Named(new QTreeWidget(this), tr("Event Log"));
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({tr("Time"), tr("Event"), tr("Message")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->header()->setStretchLastSection(true);
    const QFontMetrics metrics = m_list->fontMetrics();
    m_list->setColumnWidth(0, ColumnWidth(metrics, 60, {"00:00:00"}));
    m_list->setColumnWidth(1, ColumnWidth(metrics, 60, {"Operation", "Unlock", "Delete"}));
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ShowDetails(item); });
    // The list shows a long entry cut short: Enter shows it whole, as the double-click does.
    m_list->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);  // the window's heading and frame align with it
    layout->addWidget(m_list);

    const EventLog& log = m_app.Log();
    for (int slot = log.Tail(); slot != log.Head(); slot = (slot + 1) % EventLog::kRingSize) {
        OnEntryAppended(slot, log.Slot(slot));
    }
    m_app.Log().SetObserver(this);
}

CPageEventLog::~CPageEventLog() { m_app.Log().SetObserver(nullptr); }

void CPageEventLog::OnEntryAppended(int slot, const LogEntry& entry) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(entry.time),
                                      QString::fromUtf8(LogCategoryName(entry.category)),
                                      QString::fromStdString(entry.message)});
    item->setData(0, kSlotRole, slot);
    m_list->addTopLevelItem(item);
    // Scrolling lays the whole list out: with every request logging, a hidden page does that
    // once, when it is shown, and not for each entry.
    if (m_list->isVisible()) {
        m_list->scrollToItem(item);
    } else {
        m_scroll_when_shown = true;
    }
}

void CPageEventLog::showEvent(QShowEvent* event) {
    CPropertyPage::showEvent(event);
    if (!m_scroll_when_shown) return;
    m_scroll_when_shown = false;
    const int rows = m_list->topLevelItemCount();
    if (rows > 0) m_list->scrollToItem(m_list->topLevelItem(rows - 1));
}

void CPageEventLog::OnOldestRemoved() { delete m_list->takeTopLevelItem(0); }

QString CPageEventLog::EntryDetails(int slot) const {
    const LogEntry& entry = m_app.Log().Slot(slot);
    QString text = QString::fromStdString(entry.stamp);
    if (entry.category != LogContinuation) {
        text += QString(" [%1] : ").arg(QString::fromUtf8(LogCategoryName(entry.category)));
    }
    return text + QString::fromStdString(entry.message);
}

bool CPageEventLog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
            m_list->currentItem() != nullptr) {
            ShowDetails(m_list->currentItem());
            return true;
        }
    }
    return CPropertyPage::eventFilter(watched, event);
}

void CPageEventLog::ShowDetails(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    ShowMessage(m_ui, this, EntryDetails(item->data(0, kSlotRole).toInt()), QMessageBox::NoIcon);
}

}  // namespace kv
