// The key properties dialog: what the agent knows of one key pair, with its name, comment,
// SSH1 flag and expiry editable. It only shows and collects; the command saves.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kv {

struct KeyProperties {
    QString
        type_text;  // the key description: "RSA (1024 bits)", "ED25519 (256 bits)", "Invalid key"
    QString name;
    QString comment;
    bool compat = true;
    // False for Ed25519 and ECDSA keys, which SSH1 cannot use: the box shows them unchecked
    // and cannot be changed, and the stored flag is left as it is.
    bool ssh1_capable = true;
    bool has_expiry = false;
    std::int32_t seconds = 0;  // until expiry
    // Set when the user touched the expiry box or the seconds: only then is the lifetime
    // counted anew from the moment of saving.
    bool expiry_edited = false;
    QString sha1_fingerprint;
    QString md5_fingerprint;
    QString sha256_fingerprint;  // "SHA256:..." as ssh-keygen -l shows it
};

class CKeyPropertiesDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CKeyPropertiesDialog(QWidget* parent = nullptr);

    // Shows the fields; the title becomes the name and the dialog counts as unchanged.
    void SetProperties(const KeyProperties& properties);
    // The fields as the user left them; valid after the dialog closed with OK.
    const KeyProperties& Properties() const { return m_properties; }
    bool Changed() const { return m_changed; }
    // How "Please enter an integer." reaches the user; a message box unless set.
    void SetMessageSink(std::function<void(const QString&)> tell) { m_tell = std::move(tell); }

    QLineEdit* NameField() const { return m_name; }
    QLineEdit* CommentField() const { return m_comment; }
    QLineEdit* SecondsField() const { return m_seconds; }
    QCheckBox* CompatBox() const { return m_compat; }
    QCheckBox* ExpiryBox() const { return m_expiry; }
    QPushButton* OkButton() const { return m_ok; }
    QLineEdit* TypeField() const { return m_type; }
    QLineEdit* Sha1Field() const { return m_sha1; }
    QLineEdit* Md5Field() const { return m_md5; }
    QLineEdit* Sha256Field() const { return m_sha256; }

    void accept() override;

  private:
    QWidget* MakeFingerprintGroup();
    void MarkChanged();
    void OnExpiryClicked();
    void MarkExpiryEdited();

    QLineEdit* m_type;
    QLineEdit* m_name;
    QLineEdit* m_comment;
    QCheckBox* m_compat;
    QCheckBox* m_expiry;
    QLineEdit* m_seconds;
    QLineEdit* m_sha1;
    QLineEdit* m_md5;
    QLineEdit* m_sha256;
    QPushButton* m_ok;
    KeyProperties m_properties;
    bool m_changed = false;
    bool m_expiry_edited = false;
    std::function<void(const QString&)> m_tell;
};

}  // namespace kv
