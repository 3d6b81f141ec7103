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

// Overwrites the characters of `text` wherever they are held: every QString sharing this
// buffer holds the passphrase, and all of them are to lose it.
void WipeText(const QString& text) {
    if (text.isEmpty()) return;
    SecureWipe(const_cast<QChar*>(text.constData()),
               static_cast<std::size_t>(text.size()) * sizeof(QChar));
}

void WipeBytes(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    SecureWipe(const_cast<char*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

// An empty text with room reserved: setText shares its buffer with the field.
void ReserveRoom(QLineEdit* field) {
    QString room;
    room.reserve(kReservedCharacters);
    field->setText(room);
}

}  // namespace

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
    const QString text = field->text();  // shares the field's buffer
    const qsizetype typed = text.size();
    // setText drops the field's reference and its undo history; the buffer lives on in `text`
    // until it is overwritten below.
    field->setText(QString());
    const QByteArray utf8 = text.toUtf8();
    SecureBytes passphrase(utf8.begin(), utf8.end());
    WipeBytes(utf8);
    WipeText(text);
    // Clearing the history only forgets its records; inserting filler writes over them, one
    // record per character, from the first one on.
    const qsizetype filler = std::max(kMinimumUndoOverwrite, 4 * typed);
    field->insert(QString(filler, QChar(u'*')));
    const QString filled = field->text();
    field->setText(QString());
    WipeText(filled);
    ReserveRoom(field);
    return passphrase;
}

}  // namespace kv
