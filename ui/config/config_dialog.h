// The configuration window: the page list (Status, Event Log, Keys) beside the page it
// selects, and the buttons Lock/Unlock, Help and Close. It is modeless and made once; Close
// and Escape only hide it, so the next open shows it as it was left.
#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;

namespace kv {

class CAgentApp;
class CMyPropertySheet;
class CPageEventLog;
class CPageKeys;
class CPageStatus;
class QtUserInterface;

class CConfigDialog : public QDialog {
    Q_OBJECT
  public:
    enum Page { kStatusPage = 0, kEventLogPage = 1, kKeysPage = 2 };
    // The page list's command ids, one per page, in page order.
    static constexpr int kPageCommands[] = {100, 200, 300};

    CConfigDialog(CAgentApp& app, QtUserInterface& ui);
    ~CConfigDialog() override;

    // Every status row, the Lock button's caption and the key list, from the agent's state;
    // while hidden, once it is shown again.
    void Refresh();
    // The page list's commands: page 0, 1 or 2 becomes the active one.
    void ShowPage(int index);
    // The Keys page, then its import command (queued, so the caller returns first).
    void ShowKeysAndImport();

    void OnLock();
    void OnHelp();
    // The help context of the active page, 0 when there is none.
    unsigned HelpContext() const;

    int ActivePage() const;
    CPageStatus* StatusPage() const { return m_status; }
    CPageEventLog* EventLogPage() const { return m_event_log; }
    CPageKeys* KeysPage() const { return m_keys; }
    QListWidget* PageList() const { return m_page_list; }
    QPushButton* LockButton() const { return m_lock; }
    QPushButton* HelpButton() const { return m_help; }
    QPushButton* CloseButton() const { return m_close; }

  protected:
    bool event(QEvent* event) override;

  private:
    QListWidget* MakePageList();
    void MakeSheet();
    QLabel* MakeHeading();
    QLayout* MakeButtonRow();
    void CenterOnScreen();
    void RefreshNow();
    void RefreshOnce();

    CAgentApp& m_app;
    QtUserInterface& m_ui;
    QListWidget* m_page_list;
    QLabel* m_heading;
    CMyPropertySheet* m_sheet;
    CPageStatus* m_status;
    CPageEventLog* m_event_log;
    CPageKeys* m_keys;
    QPushButton* m_lock = nullptr;
    QPushButton* m_help = nullptr;
    QPushButton* m_close = nullptr;
    bool m_refreshing = false;
    bool m_refresh_again = false;
    bool m_stale = false;  // a refresh came while hidden
    bool m_centred = false;
};

}  // namespace kv
