#include "ui/config/page_lock.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "res/string_ids.h"
#include "res/tray_menu.h"
#include "ui/config/config_widgets.h"
#include "ui/qt_user_interface.h"

namespace kv {

CPageLock::CPageLock(CAgentApp& app, QtUserInterface& ui, QWidget* parent)
    : CSettingsPage(tr("Lock"), kHelpContext, app, ui, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeNote(tr("Treat your passphrase in the same way as all sensitive "
                                  "passwords, and always lock Agent when not using it."),
                               this));
    layout->addWidget(MakeAutoLockRow());

    auto* requests = Named(new QGroupBox(tr("Unlock Requests"), this), tr("Unlock Requests"));
    auto* requests_layout = new QVBoxLayout(requests);
    requests_layout->addWidget(
        MakeFlag(tr("Request passphrase and unlock at startup"), IDS_SETTING_UNLOCK_ON_STARTUP));
    requests_layout->addWidget(
        MakeFlag(tr("Request passphrase when SSH client needs to access Agent"),
                 IDS_SETTING_UNLOCK_ON_ACCESS));
    layout->addWidget(requests);

    m_change =
        Named(new QPushButton(tr("&Change Passphrase..."), this), tr("&Change Passphrase..."));
    // Enter on the focused button presses it; elsewhere Enter is the sheet's OK.
    m_change->setAutoDefault(true);
    auto* change_row = new QHBoxLayout;
    change_row->addWidget(m_change);
    change_row->addStretch(1);
    layout->addLayout(change_row);
    layout->addWidget(MakeSessionGroup());
    layout->addStretch(1);
    connect(m_change, &QPushButton::clicked, this,
            [this] { Ui().RunCommand(ID_CHANGE_PASSPHRASE); });
    LoadSettings();
}

QWidget* CPageLock::MakeAutoLockRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeFlag(tr("Automatically lock Agent after"), IDS_SETTING_AUTO_LOCK_CHECK));
    const QString unit = tr("minutes of inactivity");
    m_minutes = Named(new QLineEdit(row), unit);
    m_minutes->setObjectName("AutoLockMinutes");
    m_minutes->setMaximumWidth(m_minutes->fontMetrics().horizontalAdvance("0000000") + 16);
    m_minutes->setAlignment(Qt::AlignRight);
    Bindings().Number(m_minutes, IDS_SETTING_AUTO_LOCK_MINUTES, 0, kMaxMinutes);
    auto* unit_label = new QLabel(unit, row);
    unit_label->setBuddy(m_minutes);
    layout->addWidget(m_minutes);
    layout->addWidget(Named(unit_label, unit));
    layout->addStretch(1);
    return row;
}

}  // namespace kv
