// The file dialogs of the key commands, behind a small interface so that tests can answer them
// from a script. The Qt chooser opens Qt's own (non-native) file dialog on the modal prompt
// stack, so it looks and behaves the same on every desktop.
#pragma once

#include <optional>
#include <string>

class QWidget;

namespace kv {

class QtUserInterface;

class KeyFileChooser {
  public:
    virtual ~KeyFileChooser() = default;
    // The public key file to import, chosen among existing files; nothing when cancelled.
    virtual std::optional<std::string> ChooseImportFile(const std::string& start_folder) = 0;
    // The public key file to export to (the user confirmed overwriting an existing one);
    // nothing when cancelled.
    virtual std::optional<std::string> ChooseExportFile(const std::string& start_folder) = 0;
};

class QtKeyFileChooser : public KeyFileChooser {
  public:
    QtKeyFileChooser(QtUserInterface& ui, QWidget* owner) : m_ui(ui), m_owner(owner) {}

    std::optional<std::string> ChooseImportFile(const std::string& start_folder) override;
    std::optional<std::string> ChooseExportFile(const std::string& start_folder) override;

  private:
    std::optional<std::string> Choose(bool save, const std::string& start_folder);

    QtUserInterface& m_ui;
    QWidget* m_owner;
};

// Where the import dialog starts: the agent's folder of user keys under the desktop's data
// folder ($XDG_DATA_HOME, else ~/.local/share), or the home folder when that does not exist.
std::string ImportStartFolder();
// Where the export dialog starts: the home folder.
std::string ExportStartFolder();

}  // namespace kv
