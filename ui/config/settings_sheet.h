// The settings sheet: a modal window with the pages "Access control", "Lock" and "Logging",
// opened from the Status page's "Settings" link once the agent is unlocked. OK saves every
// setting to the registry and applies them; Cancel leaves everything as it was.
#pragma once

#include <QDialog>

class QPushButton;

namespace kv {

class CAgentApp;
class CMyPropertySheet;
class CPageCrypt;
class CPageLock;
class CPageLog;
class QtUserInterface;

class CSettingsSheet : public QDialog {
    Q_OBJECT
  public:
    CSettingsSheet(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);

    CMyPropertySheet* Sheet() const { return m_sheet; }
    CPageCrypt* CryptPage() const { return m_crypt; }
    CPageLock* LockPage() const { return m_lock; }
    CPageLog* LogPage() const { return m_log; }
    QPushButton* OkButton() const { return m_ok; }

    // Closes with OK only when the active page accepts its fields; the shown pages have
    // then written their controls into the settings.
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnHelp();

    CAgentApp& m_app;
    CMyPropertySheet* m_sheet;
    CPageCrypt* m_crypt;
    CPageLock* m_lock;
    CPageLog* m_log;
    QPushButton* m_ok = nullptr;
};

// The "Settings" link: at most one sheet at a time (a second request brings the open one
// forward); unlock on demand first; then the sheet on the modal prompt stack; on OK the
// settings are saved and applied.
void OpenSettingsSheet(CAgentApp& app, QtUserInterface& ui, QWidget* owner);

}  // namespace kv
