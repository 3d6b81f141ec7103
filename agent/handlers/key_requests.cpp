#include "agent/handlers/key_requests.h"

#include <vector>

#include "agent/agent_buffer.h"
#include "agent/handlers/key_pair_entry.h"
#include "agent/payloads.h"
#include "app/agent_app.h"
#include "app/unlock_on_demand.h"
#include "res/format_text.h"
#include "res/string_ids.h"

namespace kv {

namespace {

using Origins = std::vector<std::string>;

const Bytes kNoPassphrase;

void Refuse(AgentBuffer& out) { WriteStatusReply(kStatusNotDone, out); }

// Moves the client's unprotected key under the agent passphrase and stores it.
void StoreAddedKey(CAgentApp& app, const Origins& origins, KeyPair& key, SecureBytes& prv,
                   AgentBuffer& out) {
    EventLog& log = app.Log();
    KeyStore& keys = app.Keys();
    PrivateKeyBlob blob(&key);
    blob.SetBlob(prv);
    if (!blob.Reprotect(kNoPassphrase, keys.HeldPassphrase())) {
        log.LogMessage(nullptr, LogContinuation, IDS_SUFFIX_DECODE_ERROR);
        return Refuse(out);
    }
    log.LogMessage(&origins, LogAdd, IDS_ADDING_KEY, key.Name().c_str());
    if (keys.Add(blob, key) < 0) {
        log.LogMessage(nullptr, LogContinuation, IDS_SUFFIX_FAILED);
        return Refuse(out);
    }
    app.KeySetChanged();
    WriteStatusReply(kStatusDone, out);
}

void DeleteAll(CAgentApp& app, const Origins& origins, AgentBuffer& out) {
    EventLog& log = app.Log();
    if (!UnlockOnDemand(app, FormatText(IDS_PROMPT_DELETE_ALL), true)) {
        log.LogMessage(&origins, LogError, IDS_DELETE_IGNORED_LOCKED);
        return Refuse(out);
    }
    log.LogMessage(&origins, LogDelete, IDS_DELETING_ALL_KEYS);
    if (!app.Keys().DeleteAll()) {
        log.LogMessage(nullptr, LogContinuation, IDS_SUFFIX_FAILED);
        return Refuse(out);
    }
    WriteStatusReply(kStatusDone, out);
}

void DeleteOne(CAgentApp& app, const Origins& origins, const DeleteTarget& target,
               AgentBuffer& out) {
    EventLog& log = app.Log();
    if (!UnlockOnDemand(app, FormatText(IDS_PROMPT_DELETE_KEY, target.name.c_str()), true)) {
        log.LogMessage(&origins, LogError, IDS_DELETE_IGNORED_LOCKED);
        return Refuse(out);
    }
    log.LogMessage(&origins, LogDelete, IDS_DELETING_KEY, target.name.c_str());
    KeyStore& keys = app.Keys();
    int deleted = 0;
    for (std::size_t i = 0; i < keys.Count();) {
        const KeyPair& key = keys.At(i);
        const bool match = key.Blob() == target.blob && key.Name() == target.name;
        if (match) {
            if (keys.Delete(key.Number())) {
                ++deleted;
                app.KeySetChanged();
            }
            continue;  // out of the list even when its subkey stays: the next key is at i
        }
        ++i;
    }
    if (deleted == 0) {
        log.LogMessage(nullptr, LogContinuation, IDS_SUFFIX_FAILED);
        return Refuse(out);
    }
    WriteStatusReply(kStatusDone, out);
}

}  // namespace

bool HandleListKeys(CAgentApp& app, AgentBuffer& in, AgentBuffer& out) {
    const auto request = DecodeListRequest(in);
    if (!request) return false;
    const KeyStore& keys = app.Keys();
    const FileTime now = app.TimeSource().Now();
    std::vector<AgentKeyEntry> entries;
    entries.reserve(keys.Count());
    for (std::size_t i = 0; i < keys.Count(); ++i)
        entries.push_back(ToAgentKeyEntry(keys.At(i), now));
    // The keys past what one reply carries are left out: a client would drop it all.
    entries.resize(ListEntriesThatFit(entries, static_cast<std::size_t>(out.Length())));
    if (!WriteListReplyBody(entries, out)) return false;
    app.Log().LogMessage(&request->origins, LogList, IDS_GET_KEY_LIST);
    if (entries.size() < keys.Count()) {
        app.Log().LogMessage(&request->origins, LogError, IDS_KEY_LIST_CUT,
                             static_cast<int>(entries.size()), static_cast<int>(keys.Count()));
    }
    return true;
}

bool HandleAddKey(CAgentApp& app, AgentBuffer& in, AgentBuffer& out) {
    auto request = DecodeAddRequest(in);
    if (!request) return false;
    const Origins& origins = request->origins;
    if (!app.Settings().GetFlag(IDS_SETTING_ALLOW_AGENT_ADD)) {
        app.Log().LogMessage(&origins, LogInfo, IDS_ADD_IGNORED_BY_SETTING);
        Refuse(out);
        return true;
    }
    // A comment field of length 0 arrives as no text; it is taken as the empty text, which
    // names the key "KeyFromAgent" with an empty comment.
    AgentKeyEntry& entry = request->entry;
    if (!entry.comment) entry.comment = std::string();
    if (!UnlockOnDemand(app, FormatText(IDS_PROMPT_ADD_KEY, entry.comment->c_str()), true)) {
        app.Log().LogMessage(&origins, LogError, IDS_ADD_IGNORED_LOCKED);
        Refuse(out);
        return true;
    }
    KeyPair key;
    FromAgentKeyEntry(entry, app.TimeSource().Now(), key);
    StoreAddedKey(app, origins, key, request->private_blob, out);
    return true;
}

bool HandleDeleteKey(CAgentApp& app, AgentBuffer& in, AgentBuffer& out) {
    const auto origins = ReadOriginList(in);
    if (!origins) return false;
    if (!app.Settings().GetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE)) {
        app.Log().LogMessage(&*origins, LogInfo, IDS_DELETE_IGNORED_BY_SETTING);
        Refuse(out);
        return true;
    }
    const auto target = DecodeDeleteTarget(in);
    if (!target) return false;
    if (target->all) {
        DeleteAll(app, *origins, out);
    } else {
        DeleteOne(app, *origins, *target, out);
    }
    return true;
}

}  // namespace kv
