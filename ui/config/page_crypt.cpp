#include "ui/config/page_crypt.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "res/string_ids.h"
#include "ui/config/config_widgets.h"

namespace kv {

CPageCrypt::CPageCrypt(CAgentApp& app, QtUserInterface& ui, QWidget* parent)
    : CSettingsPage(tr("Access control"), kHelpContext, app, ui, parent) {
    auto* crypto = Named(new QGroupBox(tr("Cryptography"), this), tr("Cryptography"));
    auto* crypto_layout = new QVBoxLayout(crypto);
    crypto_layout->addWidget(MakeNote(
        tr("SSH1 protocol is considered to be much less secure than the current version, SSH2. "
           "Korvenix does not recommend to use it in any environment except legacy systems."),
        crypto));
    crypto_layout->addWidget(MakeFlag(tr("Allow to use keys for SSH1 public key authentications"),
                                      IDS_SETTING_ALLOW_SSH1_ACCESS));
    crypto_layout->addSpacing(6);
    crypto_layout->addWidget(MakeNote(
        tr("You can set cryptographic library to allow only algororithms certified by NIST for "
           "FIPS-140-2. Note that this might prevent you from connecting to some servers."),
        crypto));
    crypto_layout->addWidget(
        MakeFlag(tr("Use only FIPS-140 certified cryptography algorithms"), IDS_SETTING_FIPS_MODE));

    auto* operations = Named(new QGroupBox(tr("Operations"), this), tr("Operations"));
    auto* operations_layout = new QVBoxLayout(operations);
    operations_layout->addWidget(
        MakeNote(tr("Remote systems can send requests to add or remove keys from this agent if "
                    "agent forwarding is enabled in SSH Client. See \"man ssh-add2\" on a remote "
                    "Unix system for details."),
                 operations));
    operations_layout->addWidget(
        MakeFlag(tr("Allow remote agents to add keys"), IDS_SETTING_ALLOW_AGENT_ADD));
    operations_layout->addWidget(
        MakeFlag(tr("Allow remote agents to delete keys"), IDS_SETTING_ALLOW_AGENT_REMOVE));
    operations_layout->addWidget(
        MakeFlag(tr("Always ask before performing a private key operation"),
                 IDS_SETTING_ASK_BEFORE_AGENT_OP));
    operations_layout->addWidget(MakeRememberRow(operations));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(crypto);
    layout->addWidget(operations);
    layout->addStretch(1);
    LoadSettings();
}

}  // namespace kv
