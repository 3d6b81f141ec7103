#include "ui/keys/key_properties_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

namespace {

QLineEdit* ReadOnlyField(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setReadOnly(true);
    return field;
}

}  // namespace

CKeyPropertiesDialog::CKeyPropertiesDialog(QWidget* parent) : QDialog(parent) {
    setWindowIcon(AgentIcon(false));
    m_type = ReadOnlyField(this);
    m_name = new QLineEdit(this);
    m_comment = new QLineEdit(this);
    // One line of text in a box twice the usual height, as long comments are common.
    m_comment->setMinimumHeight(m_comment->sizeHint().height() * 2);
    m_compat =
        new QCheckBox(tr("This key can be used in old-style (SSH1) authentication attempts"), this);
    m_expiry = new QCheckBox(tr("This key will expire in"), this);
    m_seconds = new QLineEdit(this);
    m_seconds->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_seconds));

    auto* form = new QFormLayout;
    form->addRow(tr("Key Type"), m_type);
    form->addRow(tr("Key Name"), m_name);
    form->addRow(tr("Key Comment"), m_comment);
    auto* expiry = new QHBoxLayout;
    expiry->addWidget(m_expiry);
    expiry->addWidget(m_seconds, 1);
    expiry->addWidget(new QLabel(tr("seconds"), this));
    // Made before the buttons, so that Tab reaches them in the order they stand in.
    QWidget* fingerprints = MakeFingerprintGroup();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_compat);
    layout->addLayout(expiry);
    layout->addWidget(fingerprints);
    layout->addWidget(buttons);
    setMinimumWidth(560);

    connect(m_name, &QLineEdit::textEdited, this, &CKeyPropertiesDialog::MarkChanged);
    connect(m_comment, &QLineEdit::textEdited, this, &CKeyPropertiesDialog::MarkChanged);
    connect(m_seconds, &QLineEdit::textEdited, this, &CKeyPropertiesDialog::MarkExpiryEdited);
    connect(m_compat, &QCheckBox::clicked, this, &CKeyPropertiesDialog::MarkChanged);
    connect(m_expiry, &QCheckBox::clicked, this, &CKeyPropertiesDialog::OnExpiryClicked);
    m_tell = [this](const QString& text) { QMessageBox::warning(this, ProductCaption(), text); };
}

QWidget* CKeyPropertiesDialog::MakeFingerprintGroup() {
    auto* group = new QGroupBox(tr("Fingerprints"), this);
    m_sha1 = ReadOnlyField(group);
    m_md5 = ReadOnlyField(group);
    m_sha256 = ReadOnlyField(group);
    auto* form = new QFormLayout(group);
    form->addRow(tr("SHA1"), m_sha1);
    form->addRow(tr("MD5"), m_md5);
    // The form OpenSSH's tools show, so that a key can be compared with `ssh-keygen -l`.
    form->addRow(tr("SHA256"), m_sha256);
    return group;
}

void CKeyPropertiesDialog::SetProperties(const KeyProperties& properties) {
    m_properties = properties;
    setWindowTitle(properties.name);
    m_type->setText(properties.type_text);
    m_name->setText(properties.name);
    m_comment->setText(properties.comment);
    m_compat->setChecked(properties.compat && properties.ssh1_capable);
    m_compat->setEnabled(properties.ssh1_capable);
    m_expiry->setChecked(properties.has_expiry);
    m_seconds->setText(QString::number(properties.seconds));
    m_seconds->setEnabled(properties.has_expiry);
    m_sha1->setText(properties.sha1_fingerprint);
    m_md5->setText(properties.md5_fingerprint);
    m_sha256->setText(properties.sha256_fingerprint);
    m_changed = false;
    m_expiry_edited = false;
    m_ok->setText(tr("OK"));
    m_name->setFocus();  // the first field the user can change
}

void CKeyPropertiesDialog::MarkChanged() {
    m_changed = true;
    m_ok->setText(QString::fromUtf8(LoadString(IDS_BUTTON_APPLY)));
}

void CKeyPropertiesDialog::MarkExpiryEdited() {
    m_expiry_edited = true;
    MarkChanged();
}

void CKeyPropertiesDialog::OnExpiryClicked() {
    m_seconds->setEnabled(m_expiry->isChecked());
    MarkExpiryEdited();
}

void CKeyPropertiesDialog::accept() {
    bool is_integer = false;
    const int seconds = m_seconds->text().toInt(&is_integer);
    if (!is_integer) {
        m_tell(tr("Please enter an integer."));
        m_seconds->setFocus();
        m_seconds->selectAll();
        return;
    }
    m_properties.name = m_name->text();
    m_properties.comment = m_comment->text();
    m_properties.compat = m_compat->isChecked();
    m_properties.has_expiry = m_expiry->isChecked();
    m_properties.seconds = seconds;
    m_properties.expiry_edited = m_expiry_edited;
    QDialog::accept();
}

}  // namespace kv
