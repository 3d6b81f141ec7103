// Ed25519 and ECDSA keys and OpenSSH certificates through the translator: what the native add
// receives (a container the module opens to the same key), how signatures are planned and
// checked, and a certificate standing for its key in lists, signatures and removals.
#include <gtest/gtest.h>

#include "agent/openssh/messages.h"
#include "agent/openssh/translator.h"
#include "cryptomodule/key_generation.h"
#include "cryptomodule/private_key.h"
#include "tests/openssh/openssh_test_support.h"

namespace kv {
namespace {

using namespace openssh;
using test::Message;
using test::Span;

const std::string kOrigin = "ssh-add (pid 9)";

// The fields of a key's wire form (ADD_IDENTITY), the type name first, the comment last.
std::vector<Bytes> Fields(const test::KeyFixture& key) {
    SshReader in(key.private_wire);
    std::vector<Bytes> fields;
    while (in.Ok() && !in.AtEnd()) {
        const auto field = in.String();
        if (in.Ok()) fields.emplace_back(field.begin(), field.end());
    }
    return fields;
}

// What may be wrong with a certificate a client sends.
struct CertificateFault {
    std::uint32_t type = 1;         // 1 user, 2 host; anything else is no certificate
    std::size_t key_id_size = 6;    // past 16 KiB in all, the store cannot keep it
    bool spoil_signature = false;   // one bit of the CA's signature changed
    bool named_ca_differs = false;  // signed by another key than the CA key it names
    bool trailing_byte = false;     // a byte after the signature
};

PrivateKey NewCaKey() {
    auto key = GenerateCurveKey(KVCLM_KEY_ED25519, 256);
    EXPECT_TRUE(key.ok());
    return std::move(key.value);
}

// A certificate of the key as ssh-keygen -s writes one, signed by an Ed25519 CA key.
Bytes Certificate(const Bytes& plain_blob, std::string_view plain_name,
                  const CertificateFault& fault = {}) {
    static const PrivateKey* const ca = new PrivateKey(NewCaKey());
    static const PrivateKey* const other_ca = new PrivateKey(NewCaKey());
    const PrivateKey& named = fault.named_ca_differs ? *other_ca : *ca;
    SshWriter out;
    out.String(std::string(plain_name) + "-cert-v01@openssh.com");
    out.String("nonce");
    SshReader fields(plain_blob);
    fields.String();
    out.Raw(std::span(plain_blob).subspan(plain_blob.size() - fields.Remaining()));
    out.Uint32(0);  // serial
    out.Uint32(42);
    out.Uint32(fault.type);
    out.String(std::string(fault.key_id_size, 'k'));
    SshWriter principals;
    principals.String("alice");
    out.String(principals.Data());
    out.Uint32(0);  // valid after, valid before
    out.Uint32(0);
    out.Uint32(0xffffffff);
    out.Uint32(0xffffffff);
    out.String("");  // critical options
    SshWriter extensions;
    extensions.String("permit-pty");
    extensions.String("");
    out.String(extensions.Data());
    out.String("");  // reserved
    out.String(named.DerivePublic().value.Export().value);
    Bytes raw = ca->SignSsh(out.Data()).value;
    if (fault.spoil_signature) raw[10] ^= 0x01;
    SshWriter signature;
    signature.String("ssh-ed25519");
    signature.String(raw);
    out.String(signature.Data());
    if (fault.trailing_byte) out.Byte(0);
    return Bytes(out.Data().begin(), out.Data().end());
}

class CurveAndCertificateTest : public ::testing::Test {
  protected:
    CurveAndCertificateTest() { test::UseBuiltModule(); }

    SecureBytes Send(const SecureBytes& message) {
        return translator.Handle(message, kOrigin).message;
    }
    SecureBytes AddWire(const std::function<void(SshWriter&)>& fill) {
        return Send(Message(kAddIdentity, fill));
    }
    SecureBytes SignRequest(std::span<const uint8_t> blob, std::string_view data) {
        return Send(Message(kSignRequest, [&](SshWriter& w) {
            w.String(blob);
            w.String(data);
            w.Uint32(0);
        }));
    }
    std::vector<std::pair<Bytes, std::string>> List() {
        const auto reply = Send(Message(kRequestIdentities));
        SshReader in(reply);
        EXPECT_EQ(in.Byte(), kIdentitiesAnswer);
        std::vector<std::pair<Bytes, std::string>> keys(in.Uint32());
        for (auto& [blob, comment] : keys) {
            const auto b = in.String();
            blob.assign(b.begin(), b.end());
            comment = in.Text();
        }
        EXPECT_TRUE(in.Ok() && in.AtEnd());
        return keys;
    }
    // The key the module opens from what the native add received.
    Bytes AddedKeysBlob() {
        const auto key = PrivateKey::Import(agent.last_added_private);
        if (!key.ok()) return {};
        auto pub = key.value.DerivePublic();
        return pub.ok() ? pub.value.Export().value : Bytes();
    }

    test::FakeNativeAgent agent;
    test::FakeHost host{agent};
    OpenSshTranslator translator{agent.dispatcher, host};
    test::KeyFixture ed = test::LoadKeyFixture("ed25519");
    test::KeyFixture ec = test::LoadKeyFixture("ecdsa256");
    test::KeyFixture rsa = test::LoadKeyFixture("rsa1024");
};

TEST_F(CurveAndCertificateTest, CurveKeysReachTheNativeAddAsContainersOfTheSameKey) {
    for (const auto* key : {&ed, &ec}) {
        ASSERT_EQ(AddWire([&](SshWriter& w) { w.Raw(key->private_wire); }), SuccessReply());
        ASSERT_TRUE(agent.last_added.has_value());
        EXPECT_EQ(agent.last_added->blob, key->public_blob);
        EXPECT_EQ(agent.last_added->comment, "KeyFromAgent: " + key->comment);
        EXPECT_EQ(AddedKeysBlob(), key->public_blob);
    }
    // A secret whose second half is not the public key, or a point off its curve's size.
    auto fields = Fields(ed);
    fields[2][40] ^= 1;
    EXPECT_EQ(AddWire([&](SshWriter& w) {
                  for (const auto& f : fields) w.String(f);
              }),
              SuccessReply());  // the translator passes it on: the module refuses it
    EXPECT_FALSE(PrivateKey::Import(agent.last_added_private).ok());
    auto ec_fields = Fields(ec);
    ec_fields[2].pop_back();
    EXPECT_EQ(AddWire([&](SshWriter& w) {
                  for (const auto& f : ec_fields) w.String(f);
              }),
              FailureReply());
    EXPECT_EQ(host.refusals.back(), "ADD_IDENTITY: malformed key [" + kOrigin + "]");
}

TEST_F(CurveAndCertificateTest, CurveSignaturesAreSignedAsTheyAreAndChecked) {
    agent.AddKey(ed.public_blob, "ed", "");
    agent.AddKey(ec.public_blob, "ec", "");
    agent.sign = [](const std::string&, std::span<const uint8_t>) { return SecureBytes(64, 7); };
    auto reply = SignRequest(ed.public_blob, "session data");
    SshReader in(reply);
    EXPECT_EQ(in.Byte(), kSignResponse);
    SshReader blob(in.String());
    EXPECT_EQ(blob.Text(), "ssh-ed25519");
    EXPECT_EQ(blob.String().size(), 64u);
    EXPECT_EQ(agent.last_operation, "sign");
    EXPECT_EQ(agent.last_op_data, Bytes(Span("session data").begin(), Span("session data").end()));

    // ECDSA: mpint r, mpint s, both positive; anything else is not a signature.
    SshWriter rs;
    rs.Mpint(Bytes(32, 0x81));
    rs.Mpint(Bytes(31, 0x11));
    const SecureBytes good = rs.Data();
    agent.sign = [&](const std::string&, std::span<const uint8_t>) { return good; };
    reply = SignRequest(ec.public_blob, "x");
    SshReader ec_in(reply);
    EXPECT_EQ(ec_in.Byte(), kSignResponse);
    EXPECT_EQ(SshReader(ec_in.String()).Text(), "ecdsa-sha2-nistp256");
    agent.sign = [](const std::string&, std::span<const uint8_t>) { return SecureBytes(64, 7); };
    EXPECT_EQ(SignRequest(ec.public_blob, "x"), FailureReply());
    agent.sign = [](const std::string&, std::span<const uint8_t>) { return SecureBytes(63, 7); };
    EXPECT_EQ(SignRequest(ed.public_blob, "x"), FailureReply());
    EXPECT_EQ(host.refusals.size(), 2u);
}

TEST_F(CurveAndCertificateTest, ACertificateIsAddedWithItsKeyAndStandsForIt) {
    const Bytes cert = Certificate(ed.public_blob, "ssh-ed25519");
    const auto fields = Fields(ed);  // name, public key, secret, comment
    ASSERT_EQ(AddWire([&](SshWriter& w) {
                  w.String("ssh-ed25519-cert-v01@openssh.com");
                  w.String(cert);
                  w.String(fields[1]);
                  w.String(fields[2]);
                  w.String("with cert");
              }),
              SuccessReply());
    EXPECT_EQ(agent.last_added->blob, ed.public_blob);  // the native add gets the plain key
    EXPECT_EQ(AddedKeysBlob(), ed.public_blob);
    ASSERT_EQ(agent.keys.size(), 1u);
    EXPECT_EQ(agent.keys[0].certificate, cert);

    const auto listed = List();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].first, ed.public_blob);
    EXPECT_EQ(listed[1].first, cert);
    EXPECT_EQ(listed[1].second, listed[0].second);

    agent.sign = [](const std::string&, std::span<const uint8_t>) { return SecureBytes(64, 7); };
    EXPECT_NE(SignRequest(cert, "data"), FailureReply());
    EXPECT_EQ(agent.last_op_blob, ed.public_blob);
    const Bytes stranger = Certificate(ec.public_blob, "ecdsa-sha2-nistp256");
    EXPECT_EQ(SignRequest(stranger, "data"), FailureReply());
    EXPECT_EQ(host.refusals.back(),
              "SIGN_REQUEST: no stored key has this certificate [" + kOrigin + "]");

    agent.allow_remove = true;
    EXPECT_EQ(Send(Message(kRemoveIdentity, [&](SshWriter& w) { w.String(cert); })),
              SuccessReply());
    EXPECT_EQ(agent.deleted, std::vector<std::string>{"added"});
}

// ssh-add -d removes the key, then its certificate: that second removal succeeds for the
// client that removed the key, right after, and only then.
TEST_F(CurveAndCertificateTest, ACertificateGoneWithItsKeyIsRemovedForTheClientThatRemovedIt) {
    const Bytes cert = Certificate(ed.public_blob, "ssh-ed25519");
    const auto fields = Fields(ed);
    const auto add = [&] {
        return AddWire([&](SshWriter& w) {
            w.String("ssh-ed25519-cert-v01@openssh.com");
            w.String(cert);
            w.String(fields[1]);
            w.String(fields[2]);
            w.String("c");
        });
    };
    const auto remove = [&](const Bytes& blob, const std::string& origin) {
        const auto message = Message(kRemoveIdentity, [&](SshWriter& w) { w.String(blob); });
        return translator.Handle(message, origin).message;
    };
    agent.allow_remove = true;
    ASSERT_EQ(add(), SuccessReply());
    EXPECT_EQ(remove(ed.public_blob, kOrigin), SuccessReply());
    EXPECT_EQ(remove(cert, kOrigin), SuccessReply());
    EXPECT_EQ(remove(cert, kOrigin), FailureReply());  // once
    ASSERT_EQ(add(), SuccessReply());
    EXPECT_EQ(remove(ed.public_blob, kOrigin), SuccessReply());
    EXPECT_EQ(remove(cert, "ssh-add (pid 10)"), FailureReply());  // another client
    EXPECT_EQ(host.refusals.size(), 2u);
}

TEST_F(CurveAndCertificateTest, CertifiedRsaAndEcdsaKeysTakeTheirPublicHalfFromTheCertificate) {
    const auto rsa_fields = Fields(rsa);  // name, n, e, d, iqmp, p, q, comment
    const Bytes rsa_cert = Certificate(rsa.public_blob, "ssh-rsa");
    ASSERT_EQ(AddWire([&](SshWriter& w) {
                  w.String("ssh-rsa-cert-v01@openssh.com");
                  w.String(rsa_cert);
                  for (int i = 3; i <= 6; ++i) w.String(rsa_fields[i]);
                  w.String("rsa cert");
              }),
              SuccessReply());
    EXPECT_EQ(AddedKeysBlob(), rsa.public_blob);

    const auto ec_fields = Fields(ec);  // name, curve, Q, d, comment
    ASSERT_EQ(AddWire([&](SshWriter& w) {
                  w.String("ecdsa-sha2-nistp256-cert-v01@openssh.com");
                  w.String(Certificate(ec.public_blob, "ecdsa-sha2-nistp256"));
                  w.String(ec_fields[3]);
                  w.String("ec cert");
              }),
              SuccessReply());
    EXPECT_EQ(AddedKeysBlob(), ec.public_blob);

    // A certificate of another key with this key's secret, and a damaged certificate.
    const auto ed_fields = Fields(ed);
    Bytes other = ed.public_blob;
    other.back() ^= 1;
    for (const Bytes& cert :
         {Certificate(other, "ssh-ed25519"), Certificate(ec.public_blob, "ssh-ed25519")}) {
        EXPECT_EQ(AddWire([&](SshWriter& w) {
                      w.String("ssh-ed25519-cert-v01@openssh.com");
                      w.String(cert);
                      w.String(ed_fields[1]);
                      w.String(ed_fields[2]);
                      w.String("mixed");
                  }),
                  FailureReply());
        EXPECT_EQ(host.refusals.back(), "ADD_IDENTITY: malformed key [" + kOrigin + "]");
    }
    host.certificate_succeeds = false;
    EXPECT_EQ(AddWire([&](SshWriter& w) {
                  w.String("ecdsa-sha2-nistp256-cert-v01@openssh.com");
                  w.String(Certificate(ec.public_blob, "ecdsa-sha2-nistp256"));
                  w.String(ec_fields[3]);
                  w.String("ec cert");
              }),
              FailureReply());
    EXPECT_EQ(host.refusals.back(),
              "ADD_IDENTITY: the key was added but its certificate was "
              "not stored [" +
                  kOrigin + "]");
}

// OpenSSH clients refuse the whole key list for one certificate they cannot read or whose CA
// signature does not verify: such a certificate is refused with its key, which stays unstored.
TEST_F(CurveAndCertificateTest, ACertificateClientsWouldRefuseIsRefusedAndItsKeyNotStored) {
    const auto fields = Fields(ed);
    const auto add = [&](const Bytes& cert) {
        return AddWire([&](SshWriter& w) {
            w.String("ssh-ed25519-cert-v01@openssh.com");
            w.String(cert);
            w.String(fields[1]);
            w.String(fields[2]);
            w.String("with cert");
        });
    };
    for (const CertificateFault& fault :
         {CertificateFault{.spoil_signature = true}, CertificateFault{.named_ca_differs = true},
          CertificateFault{.trailing_byte = true}, CertificateFault{.type = 3},
          CertificateFault{.key_id_size = 16 * 1024}}) {
        EXPECT_EQ(add(Certificate(ed.public_blob, "ssh-ed25519", fault)), FailureReply());
        EXPECT_EQ(host.refusals.back(),
                  "ADD_IDENTITY: the certificate is malformed, too long or not signed by its CA "
                  "key [" +
                      kOrigin + "]");
        EXPECT_TRUE(agent.keys.empty());
    }
    EXPECT_EQ(add(Certificate(ed.public_blob, "ssh-ed25519", {.key_id_size = 15 * 1024})),
              SuccessReply());
    EXPECT_EQ(agent.keys.size(), 1u);
}

}  // namespace
}  // namespace kv
