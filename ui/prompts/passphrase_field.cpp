#include "ui/prompts/passphrase_field.h"

#include <algorithm>

namespace kv {

namespace {

// Room for the longest passphrase anyone types, so that the field's text never moves to a
// larger buffer (leaving the old one unwiped) while it is being typed.
constexpr qsizetype kReservedCharacters = 1024;
// The undo history holds one record per character typed or deleted; this many records of
// filler overwrite the ones a passphrase left.
constexpr qsizetype kMinimumUndoOverwrite = 256;

void WipeBytes(QByteArray& bytes) {
    if (bytes.isEmpty() || !bytes.isDetached()) return;
    SecureWipe(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

// An empty text with room reserved: setText shares its buffer with the field.
void ReserveRoom(QLineEdit* field) {
    QString room;
    room.reserve(kReservedCharacters);
    field->setText(room);
}

}  // namespace

bool WipeIfSoleHolder(QString& text) {
    if (text.isEmpty() || !text.isDetached()) return false;
    // data() of a text nobody else holds writes to its own buffer, without copying it first.
    SecureWipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    return true;
}

PassphraseField::PassphraseField(QWidget* parent) : QLineEdit(parent) {
    setEchoMode(QLineEdit::Password);
    setStyleSheet("lineedit-password-character: 42");  // '*'
    ReserveRoom(this);
}

PassphraseField::~PassphraseField() {
    // The dialog around the field may be half gone: nobody is told of these last changes.
    blockSignals(true);
    TakePassphrase(this);
}

SecureBytes TakePassphrase(QLineEdit* field) {
    QString text = field->text();  // shares the field's buffer
    const qsizetype typed = text.size();
    // setText drops the field's reference and its undo history; the buffer lives on in `text`
    // alone (for text that was typed) until it is overwritten below.
    field->setText(QString());
    QByteArray utf8 = text.toUtf8();
    SecureBytes passphrase(utf8.begin(), utf8.end());
    WipeBytes(utf8);
    WipeIfSoleHolder(text);
    // Clearing the history only forgets its records; inserting filler writes over them, one
    // record per character, from the first one on.
    const qsizetype filler = std::max(kMinimumUndoOverwrite, 4 * typed);
    field->insert(QString(filler, QChar(u'*')));
    ReserveRoom(field);
    return passphrase;
}

}  // namespace kv
