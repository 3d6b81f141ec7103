#include "ui/keys/key_file_chooser.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <cstdlib>
#include <filesystem>

#include "keys/key_file_names.h"
#include "platform/paths.h"
#include "ui/qt_user_interface.h"

namespace kv {

namespace {

// The filter list of the key file dialogs. "All files" matches names without a dot too, as
// most key files on this platform have none.
QStringList NameFilters() { return {"public key files (*.pub)", "all files (*)"}; }

// Qt's dialog adds the default extension to a name typed without one even when a file of
// that very name exists. OpenSSH's private key files have no extension, and the import takes
// them alone, so a typed name that names an existing file is taken as it is.
class KeyFileDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        if (acceptMode() == AcceptOpen) {
            setDefaultSuffix(QString());
            const QStringList typed = selectedFiles();
            const bool exists_as_typed = typed.size() == 1 && QFileInfo(typed.first()).isFile();
            setDefaultSuffix(exists_as_typed ? QString() : QString(kPublicKeyFileExtension));
        }
        QFileDialog::accept();
    }
};

std::string DataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const std::string home = paths::HomeDir();
    return home.empty() ? std::string() : home + "/.local/share";
}

}  // namespace

std::optional<std::string> QtKeyFileChooser::ChooseImportFile(const std::string& start_folder) {
    return Choose(false, start_folder);
}

std::optional<std::string> QtKeyFileChooser::ChooseExportFile(const std::string& start_folder) {
    return Choose(true, start_folder);
}

std::optional<std::string> QtKeyFileChooser::Choose(bool save, const std::string& start_folder) {
    KeyFileDialog dialog(m_owner, save ? QStringLiteral("Save As") : QStringLiteral("Open"),
                         QString::fromStdString(start_folder));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(NameFilters());
    dialog.setDefaultSuffix(kPublicKeyFileExtension);
    if (save) {
        // Qt asks before overwriting, and refuses a folder that does not exist.
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (m_ui.RunDialog(dialog) != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen.first()).toStdString();
}

std::string ImportStartFolder() {
    const std::string data = DataFolder();
    if (!data.empty()) {
        const std::string folder = data + "/Korvenix SSH/UserKeys";
        std::error_code error;
        if (std::filesystem::is_directory(folder, error)) return folder;
    }
    return paths::HomeDir();
}

std::string ExportStartFolder() { return paths::HomeDir(); }

}  // namespace kv
