// What the OpenSSH front end needs from the rest of the agent beyond the native requests:
// the few things the native protocol cannot express. The application implements it over the
// key store, the lock commands and the event log; tests implement it with fakes.
//
// Everything is called on the user-interface thread, from inside a request; none of these
// may run an event loop (no prompts).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/secure_memory.h"

namespace kv {

struct StoredKeyName {
    Bytes public_blob;
    std::string name;
    Bytes certificate;  // the key's OpenSSH certificate; empty when it has none
};

enum class UnlockOutcome {
    kUnlocked,         // the passphrase was the agent's; the agent is now unlocked
    kWrongPassphrase,  // checked and wrong: counts towards the delay
    kRefused,          // not checked: the agent is not locked, or has no passphrase yet
    kPromptOpen,       // not checked: an unlock prompt is open, and it alone may unlock
};

class OpenSshAgentHost {
  public:
    virtual ~OpenSshAgentHost() = default;

    // The stored keys in key store order: public key blob and name. The list is asked once
    // per request that needs it, so it must not cost more than reading the store in memory.
    virtual std::vector<StoredKeyName> StoredKeyNames() = 0;

    // Called before the native add of a key that comes with a confirm mark or a certificate,
    // and with an empty blob after it: the add then stores them with the key, in the same
    // registry write, so that no failure or crash leaves the key stored without them.
    virtual void ExpectAdd(std::span<const uint8_t> public_blob, bool confirm,
                           std::span<const uint8_t> certificate) = 0;

    // Marks every stored key with this public key blob "confirm before use": from now on
    // each private-key operation with it asks the user, as AskBeforeAgentOp does for all
    // keys, and the mark is kept with the key so that it survives a restart. Called right
    // after a successful native add, with no event processed in between. False when no key
    // has the blob or the mark could not be written; the mark must then still hold for the
    // life of the process.
    virtual bool RequireConfirmation(std::span<const uint8_t> public_blob) = 0;

    // Gives every stored key with this public key blob a lifetime of `seconds` from now, kept
    // with the key. A key that was stored already keeps its entry through the native add, and
    // with it whatever lifetime it had; the client asked for this one. Called right after a
    // successful native add. False when no key has the blob or the lifetime could not be
    // written; it must then still hold for the life of the process.
    virtual bool SetLifetime(std::span<const uint8_t> public_blob, int32_t seconds) = 0;

    // Gives every stored key with this public key blob the OpenSSH certificate, kept with the
    // key so that it survives a restart; it replaces a certificate the key had. Called right
    // after a successful native add, with no event processed in between. False when no key
    // has the blob or the certificate could not be written.
    virtual bool AttachCertificate(std::span<const uint8_t> public_blob,
                                   std::span<const uint8_t> certificate) = 0;

    // The Lock command, as the tray runs it. False when the agent could not be locked.
    virtual bool Lock() = 0;

    // Tries the agent passphrase as the unlock prompt would, without any prompt or message
    // box: on success the agent is unlocked as after the prompt (tray, auto-lock, log). A
    // locked agent in the first-use state must answer kRefused: a passphrase from a client
    // never becomes the agent passphrase. While an unlock prompt is open it answers
    // kPromptOpen, as unlock on demand refuses to nest.
    virtual UnlockOutcome Unlock(const SecureBytes& passphrase) = 0;

    // One event-log entry for a request this front end refuses by itself: `request` names
    // the OpenSSH request ("ADD_IDENTITY"), `reason` says why, `origin` who asked.
    virtual void LogRefusal(std::string_view request, std::string_view reason,
                            const std::string& origin) = 0;
};

}  // namespace kv
