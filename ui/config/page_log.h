// The settings sheet's "Logging" page: which categories of events are recorded, the log
// file (chosen with a save dialog), and emptying that file.
#pragma once

#include "ui/config/settings_page.h"

class QFileDialog;
class QLineEdit;
class QPushButton;

namespace kv {

class CPageLog : public CSettingsPage {
    Q_OBJECT
  public:
    static constexpr unsigned kHelpContext = 135;

    CPageLog(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);

    QLineEdit* PathField() const { return m_path; }
    QPushButton* BrowseButton() const { return m_browse; }
    QPushButton* EmptyButton() const { return m_empty; }

    // "...": a save dialog proposing the typed path, or "kv-ssh-aa"; OK puts the chosen path
    // in the field (the setting changes only when the sheet closes with OK).
    void OnBrowse();
    // "&Empty log file": truncates the file typed in the field; nothing when it is empty.
    void OnEmptyLogFile();

  private:
    QWidget* MakeFiltersGroup();
    QWidget* MakeFileGroup();

    QLineEdit* m_path = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_empty = nullptr;
};

// The save dialog of "...": default extension "log", the two filters, and a question
// before an existing file is chosen.
void PrepareLogFileDialog(QFileDialog& dialog, const QString& proposed);

}  // namespace kv
