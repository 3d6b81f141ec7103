// The configuration window's "Event Log" page: the event log's ring as a list with the
// columns "Time", "Event" and "Message". Rows are appended and removed as the ring changes;
// double-clicking a row, or Enter on it, shows the whole entry with its date.
#pragma once

#include "core/event_log.h"
#include "ui/config/property_page.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace kv {

class CAgentApp;
class QtUserInterface;

class CPageEventLog : public CPropertyPage, public EventLogObserver {
    Q_OBJECT
  public:
    // The configuration window's Help opens this context for the Event Log page.
    static constexpr unsigned kHelpContext = 143;

    CPageEventLog(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);
    ~CPageEventLog() override;

    void OnEntryAppended(int slot, const LogEntry& entry) override;
    void OnOldestRemoved() override;

    QTreeWidget* List() const { return m_list; }
    // The text the double-click shows for the entry in `slot`.
    QString EntryDetails(int slot) const;
    void ShowDetails(QTreeWidgetItem* item);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    CAgentApp& m_app;
    QtUserInterface& m_ui;
    QTreeWidget* m_list;
    bool m_scroll_when_shown = false;  // entries came while the page was hidden
};

}  // namespace kv
