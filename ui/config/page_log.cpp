#include "ui/config/page_log.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/agent_app.h"
#include "core/settings_table.h"
#include "res/string_ids.h"
#include "ui/config/config_widgets.h"
#include "ui/qt_user_interface.h"

namespace kv {

namespace {

constexpr const char* kProposedLogName = "kv-ssh-aa";

}  // namespace

CPageLog::CPageLog(CAgentApp& app, QtUserInterface& ui, QWidget* parent)
    : CSettingsPage(tr("Logging"), kHelpContext, app, ui, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeFiltersGroup());
    layout->addWidget(MakeFileGroup());
    layout->addStretch(1);
    LoadSettings();
}

QWidget* CPageLog::MakeFiltersGroup() {
    auto* group = Named(new QGroupBox(tr("Log Filters"), this), tr("Log Filters"));
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(MakeNote(tr("Choose the types of messages that you want to log"), group));
    auto* boxes = new QGridLayout;
    boxes->setColumnStretch(1, 1);
    boxes->addWidget(MakeFlag(tr("Cryptographic operation with private keys (sign, encrypt)"),
                              IDS_SETTING_LOG_OPS),
                     0, 0, 1, 2);
    boxes->addWidget(MakeFlag(tr("Keypair added"), IDS_SETTING_LOG_ADD), 1, 0);
    boxes->addWidget(MakeFlag(tr("Keypair deleted"), IDS_SETTING_LOG_DELETE), 1, 1);
    boxes->addWidget(MakeFlag(tr("Request for a list of public keys"), IDS_SETTING_LOG_LIST), 2, 0);
    boxes->addWidget(MakeFlag(tr("Agent locked or unlocked"), IDS_SETTING_LOG_LOCK), 2, 1);
    boxes->addWidget(MakeFlag(tr("Informational message"), IDS_SETTING_LOG_INFO), 3, 0);
    boxes->addWidget(MakeFlag(tr("Error"), IDS_SETTING_LOG_ERROR), 3, 1);
    layout->addLayout(boxes);
    return group;
}

QWidget* CPageLog::MakeFileGroup() {
    auto* group = Named(new QGroupBox(tr("Log File"), this), tr("Log File"));
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(MakeNote(
        tr("Select a file to log to, or leave this field empty to disable logging to file"),
        group));

    m_path = Named(new QLineEdit(group), tr("Log file"));
    m_path->setObjectName("LogToFile");
    Bindings().Text(m_path, IDS_SETTING_LOG_TO_FILE, kSettingTextCapacity - 1);
    m_browse = Named(new QPushButton(tr("..."), group), tr("Choose log file"));
    // Enter on a focused button presses it; elsewhere Enter is the sheet's OK.
    m_browse->setAutoDefault(true);
    m_browse->setMaximumWidth(m_browse->fontMetrics().horizontalAdvance("....") + 24);
    auto* path_row = new QHBoxLayout;
    path_row->addWidget(m_path, 1);
    path_row->addWidget(m_browse);
    layout->addLayout(path_row);

    m_empty = Named(new QPushButton(tr("&Empty log file"), group), tr("&Empty log file"));
    m_empty->setAutoDefault(true);
    auto* empty_row = new QHBoxLayout;
    empty_row->addWidget(m_empty);
    empty_row->addStretch(1);
    layout->addLayout(empty_row);

    connect(m_browse, &QPushButton::clicked, this, &CPageLog::OnBrowse);
    connect(m_empty, &QPushButton::clicked, this, &CPageLog::OnEmptyLogFile);
    return group;
}

void CPageLog::OnBrowse() {
    const QString typed = m_path->text();
    QFileDialog dialog(this);
    PrepareLogFileDialog(dialog, typed.isEmpty() ? QString(kProposedLogName) : typed);
    if (Ui().RunDialog(dialog) != QDialog::Accepted) return;
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty()) m_path->setText(QFileInfo(chosen.first()).absoluteFilePath());
}

void CPageLog::OnEmptyLogFile() {
    const QString typed = m_path->text();
    if (typed.isEmpty()) return;
    App().EmptyLogFile(typed.toStdString());
}

void PrepareLogFileDialog(QFileDialog& dialog, const QString& proposed) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("log");
    // "*" is what "all files" means here: "*.*" would hide every name without a dot.
    dialog.setNameFilters({CPageLog::tr("Log Files (*.log)"), CPageLog::tr("All Files (*)")});
    // Qt asks before an existing file is chosen unless told not to.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    const QFileInfo info(proposed);
    dialog.setDirectory(info.isAbsolute() ? info.absolutePath() : QDir::homePath());
    dialog.selectFile(info.isAbsolute() ? info.fileName() : proposed);
}

}  // namespace kv
