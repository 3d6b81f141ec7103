// Passphrase fields that do not leave the passphrase behind. A QLineEdit keeps what was typed
// in a QString, in the copies its callers make (QString, and the QByteArray of its bytes), in
// the old buffers it frees while the text grows, and in its undo history; none of those are
// wiped by Qt. A PassphraseField starts with room for a long passphrase (so typing does not
// reallocate), and TakePassphrase empties it, overwriting each of those copies it can reach.
#pragma once

#include <QLineEdit>

#include "platform/secure_memory.h"

namespace kv {

class PassphraseField : public QLineEdit {
  public:
    // Shows "*" for each character typed.
    explicit PassphraseField(QWidget* parent = nullptr);
    // Whatever is still in the field goes the same way as a taken passphrase.
    ~PassphraseField() override;
};

// The passphrase in `field` as UTF-8 in a wiping buffer. Afterwards the field is empty with no
// undo history, and the buffers that held the text (the field's own, the QString and
// QByteArray made here, and the field's undo records) are overwritten. Text that was set from
// a QString somebody still holds stays in their copy: only typed text is the field's alone.
SecureBytes TakePassphrase(QLineEdit* field);

// Overwrites `text` in place when no other QString shares its buffer; true when it did.
// Writing to a shared buffer would change the other holder's text, so that one is left.
bool WipeIfSoleHolder(QString& text);

}  // namespace kv
