#include "agent/openssh/added_key.h"

#include "agent/openssh/private_container.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

bool ReadRsa(SshReader& in, AddedKey& key) {
    RsaNumbers k;
    k.n = ReadPositiveMpint(in);
    k.e = ReadPositiveMpint(in);
    k.d = ReadPositiveMpint(in);
    k.iqmp = ReadPositiveMpint(in);
    k.p = ReadPositiveMpint(in);
    k.q = ReadPositiveMpint(in);
    if (!in.Ok()) return false;
    key.public_blob = RsaPublicBlob(k.e, k.n);
    key.container = BuildRsaContainer(k);
    return true;
}

bool ReadDss(SshReader& in, AddedKey& key) {
    DssNumbers k;
    k.p = ReadPositiveMpint(in);
    k.q = ReadPositiveMpint(in);
    k.g = ReadPositiveMpint(in);
    k.y = ReadPositiveMpint(in);
    k.x = ReadPositiveMpint(in);
    if (!in.Ok()) return false;
    key.public_blob = DssPublicBlob(k.p, k.q, k.g, k.y);
    key.container = BuildDssContainer(k);
    return true;
}

}  // namespace

bool ReadAddedKey(SshReader& in, AddedKey& key, std::string& refusal) {
    const auto name = in.String();
    key = AddedKey{};
    key.type = KeyTypeOfName(name);
    if (!in.Ok()) {
        refusal = FormatString(IDS_OPENSSH_MALFORMED_KEY);
        return false;
    }
    if (key.type == SshKeyType::kUnsupported) {
        refusal = FormatString(IDS_OPENSSH_NAMED_KEY_TYPE_UNSUPPORTED, PrintableText(name).c_str());
        return false;
    }
    const bool read = key.type == SshKeyType::kRsa ? ReadRsa(in, key) : ReadDss(in, key);
    key.comment = in.Text();
    if (!read || !in.Ok()) {
        key = AddedKey{};
        refusal = FormatString(IDS_OPENSSH_MALFORMED_KEY);
        return false;
    }
    return true;
}

}  // namespace kv
