#include "agent/openssh/added_key.h"

#include <algorithm>

#include "agent/openssh/private_container.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

// The public fields of a key as a reader over its plain blob, after the name.
SshReader PublicFieldsOf(const Bytes& blob) {
    SshReader in(blob);
    in.String();
    return in;
}

bool ReadRsa(SshReader& in, SshReader* pub, AddedKey& key) {
    RsaNumbers k;
    if (pub == nullptr) {
        k.n = ReadPositiveMpint(in);
        k.e = ReadPositiveMpint(in);
    } else {
        k.e = ReadPositiveMpint(*pub);
        k.n = ReadPositiveMpint(*pub);
    }
    k.d = ReadPositiveMpint(in);
    k.iqmp = ReadPositiveMpint(in);
    k.p = ReadPositiveMpint(in);
    k.q = ReadPositiveMpint(in);
    if (!in.Ok()) return false;
    key.public_blob = RsaPublicBlob(k.e, k.n);
    key.container = BuildRsaContainer(k);
    return true;
}

bool ReadDss(SshReader& in, SshReader* pub, AddedKey& key) {
    DssNumbers k;
    SshReader& source = pub != nullptr ? *pub : in;
    k.p = ReadPositiveMpint(source);
    k.q = ReadPositiveMpint(source);
    k.g = ReadPositiveMpint(source);
    k.y = ReadPositiveMpint(source);
    k.x = ReadPositiveMpint(in);
    if (!in.Ok()) return false;
    key.public_blob = DssPublicBlob(k.p, k.q, k.g, k.y);
    key.container = BuildDssContainer(k);
    return true;
}

// The key is given twice (alone and in the second half of the secret); the module checks
// that both are what the seed gives.
bool ReadEd25519(SshReader& in, AddedKey& key) {
    const auto pub = in.String();
    const auto secret = in.String();
    if (!in.Ok() || pub.size() != kEd25519KeyBytes || secret.size() != 2 * kEd25519KeyBytes)
        return false;
    const Bytes blob = Ed25519PublicBlob(pub);
    if (!key.public_blob.empty() && key.public_blob != blob) return false;  // not the certified key
    SshWriter fields;
    fields.String(pub);
    fields.String(secret);
    key.public_blob = blob;
    key.container = BuildCurveContainer(kSshEd25519, fields.Data());
    return true;
}

bool ReadEcdsa(SshReader& in, SshReader* pub, AddedKey& key) {
    SshReader& source = pub != nullptr ? *pub : in;
    const auto curve = source.String();
    const auto point = source.String();
    const auto d = ReadPositiveMpint(in);
    if (!in.Ok() || !source.Ok()) return false;
    if (!std::ranges::equal(curve, AsBytes(CurveNameOf(key.type))) ||
        point.size() != EcdsaPointBytes(key.type) || point[0] != 0x04)
        return false;
    SshWriter fields;
    fields.String(curve);
    fields.String(point);
    fields.Mpint(d);
    key.public_blob = EcdsaPublicBlob(key.type, point);
    key.container = BuildCurveContainer(NameOfKeyType(key.type), fields.Data());
    return true;
}

// `pub`: the certificate's public fields, for a certified key; null for a plain one.
bool ReadPrivateFields(SshReader& in, SshReader* pub, AddedKey& key) {
    switch (key.type) {
        case SshKeyType::kRsa:
            return ReadRsa(in, pub, key);
        case SshKeyType::kDss:
            return ReadDss(in, pub, key);
        case SshKeyType::kEd25519:
            return ReadEd25519(in, key);
        default:
            return IsEcdsa(key.type) && ReadEcdsa(in, pub, key);
    }
}

bool ReadCertified(SshReader& in, AddedKey& key) {
    const auto certificate = in.String();
    const auto plain = PlainBlobOfCertificate(certificate);
    if (!in.Ok() || !plain || KeyTypeOfBlob(*plain) != key.type) return false;
    key.certificate.assign(certificate.begin(), certificate.end());
    key.public_blob = *plain;
    // The reader points into `plain`, which outlives the key's own blob being rebuilt.
    SshReader pub = PublicFieldsOf(*plain);
    return ReadPrivateFields(in, &pub, key) && key.public_blob == *plain;
}

}  // namespace

bool ReadAddedKey(SshReader& in, AddedKey& key, std::string& refusal) {
    const auto name = in.String();
    key = AddedKey{};
    const SshKeyType certified = CertifiedKeyTypeOfName(name);
    key.type = certified != SshKeyType::kUnsupported ? certified : KeyTypeOfName(name);
    if (!in.Ok()) {
        refusal = FormatString(IDS_OPENSSH_MALFORMED_KEY);
        return false;
    }
    if (key.type == SshKeyType::kUnsupported) {
        refusal = FormatString(IDS_OPENSSH_NAMED_KEY_TYPE_UNSUPPORTED, PrintableText(name).c_str());
        return false;
    }
    const bool read = certified != SshKeyType::kUnsupported ? ReadCertified(in, key)
                                                            : ReadPrivateFields(in, nullptr, key);
    key.comment = in.Text();
    if (!read || !in.Ok()) {
        key = AddedKey{};
        refusal = FormatString(IDS_OPENSSH_MALFORMED_KEY);
        return false;
    }
    return true;
}

}  // namespace kv
