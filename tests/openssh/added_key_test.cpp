// Keys as ssh-add sends them become containers the module opens and public blobs that match
// the key files ssh-keygen wrote.
#include "agent/openssh/added_key.h"

#include <gtest/gtest.h>

#include "agent/openssh/private_container.h"
#include "cryptomodule/private_key.h"
#include "cryptomodule/public_key.h"
#include "tests/openssh/openssh_test_support.h"

namespace kv {
namespace {

using test::LoadKeyFixture;

class AddedKeyTest : public ::testing::TestWithParam<const char*> {};

TEST_P(AddedKeyTest, TheContainerOpensInTheModuleAsTheSameKey) {
    const auto fixture = LoadKeyFixture(GetParam());
    SshReader in(fixture.private_wire);
    AddedKey key;
    std::string refusal;
    ASSERT_TRUE(ReadAddedKey(in, key, refusal)) << refusal;
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(key.public_blob, fixture.public_blob);
    EXPECT_EQ(key.comment, fixture.comment);
    EXPECT_EQ(KeyTypeOfBlob(key.public_blob), key.type);

    // The module checks the numbers on import (for RSA that the coefficient belongs to the
    // primes in the order given), and the pair check ties it to ssh-keygen's public key.
    auto imported = PrivateKey::Import(key.container);
    ASSERT_TRUE(imported.ok()) << imported.code;
    auto derived = imported.value.DerivePublic();
    ASSERT_TRUE(derived.ok());
    auto exported = derived.value.Export();
    ASSERT_TRUE(exported.ok());
    EXPECT_EQ(exported.value, fixture.public_blob);
    auto pub = PublicKey::Import(fixture.public_blob);
    ASSERT_TRUE(pub.ok());
    const auto pair = imported.value.VerifyPair(pub.value);
    ASSERT_TRUE(pair.ok());
    EXPECT_TRUE(pair.value);
}

INSTANTIATE_TEST_SUITE_P(SshKeygenKeys, AddedKeyTest,
                         ::testing::Values("rsa1024", "rsa2048", "dsa1024"));

TEST(AddedKeyRefusalTest, OtherKeyTypesAreNamedInTheRefusal) {
    const auto security_key = test::Message(0, [](SshWriter& w) {
        w.String("sk-ssh-ed25519@openssh.com");
        w.String(Bytes(32, 1));
    });
    SshReader in{std::span(security_key).subspan(1)};
    AddedKey key;
    std::string refusal;
    EXPECT_FALSE(ReadAddedKey(in, key, refusal));
    EXPECT_EQ(refusal, "key type sk-ssh-ed25519@openssh.com is not supported");

    const auto cert = test::Message(0, [](SshWriter& w) {
        w.String("sk-ssh-ed25519-cert-v01@openssh.com");
        w.String("cert");
    });
    SshReader cert_in{std::span(cert).subspan(1)};
    EXPECT_FALSE(ReadAddedKey(cert_in, key, refusal));
    EXPECT_EQ(refusal, "key type sk-ssh-ed25519-cert-v01@openssh.com is not supported");

    const auto damaged_cert = test::Message(0, [](SshWriter& w) {
        w.String("ssh-rsa-cert-v01@openssh.com");
        w.String("cert");
    });
    SshReader damaged_in{std::span(damaged_cert).subspan(1)};
    EXPECT_FALSE(ReadAddedKey(damaged_in, key, refusal));
    EXPECT_EQ(refusal, "malformed key");
}

TEST(AddedKeyRefusalTest, EveryTruncationFailsCleanly) {
    for (const char* name : {"rsa1024", "dsa1024"}) {
        const auto fixture = LoadKeyFixture(name);
        for (std::size_t n = 0; n < fixture.private_wire.size(); ++n) {
            SshReader in(std::span(fixture.private_wire).first(n));
            AddedKey key;
            std::string refusal;
            ASSERT_FALSE(ReadAddedKey(in, key, refusal)) << name << " " << n;
            EXPECT_TRUE(key.container.empty());
            EXPECT_FALSE(refusal.empty());
        }
    }
}

// A DSS key whose numbers are one byte each, with one field replaced.
SecureBytes TinyDss(std::span<const uint8_t> replace_x) {
    SshWriter w;
    w.String("ssh-dss");
    const uint8_t one[] = {0x05};
    for (int i = 0; i < 4; ++i) w.String(one);
    w.String(replace_x);
    w.String("c");
    return w.Release();
}

TEST(AddedKeyRefusalTest, NegativeZeroAndOversizedNumbersAreRefused) {
    const uint8_t negative[] = {0x80};
    const uint8_t zero[] = {0x00, 0x00};
    const Bytes oversized(kMaxMpintBytes + 1, 0x11);
    Bytes padded_largest(kMaxMpintBytes + 1, 0x11);  // a zero byte, then the largest
    padded_largest[0] = 0;
    for (std::span<const uint8_t> x :
         {std::span<const uint8_t>(negative), std::span<const uint8_t>(zero),
          std::span<const uint8_t>(oversized)}) {
        const auto wire = TinyDss(x);
        SshReader in(wire);
        AddedKey key;
        std::string refusal;
        EXPECT_FALSE(ReadAddedKey(in, key, refusal));
        EXPECT_EQ(refusal, "malformed key");
    }
    const auto wire = TinyDss(padded_largest);
    SshReader in(wire);
    AddedKey key;
    std::string refusal;
    EXPECT_TRUE(ReadAddedKey(in, key, refusal)) << refusal;
}

TEST(PrivateContainerTest, LayoutCountsExactBitsAndStripsLeadingZeros) {
    const uint8_t p[] = {0x00, 0x17};  // 23: 5 bits, the zero byte dropped
    const uint8_t q[] = {0x0b};        // 11: 4 bits
    const uint8_t g[] = {0x01, 0x00};  // 256: 9 bits
    const uint8_t y[] = {0x02};
    const uint8_t x[] = {0x03};
    const SecureBytes container = BuildDssContainer({p, q, g, y, x});

    SshWriter numbers;
    numbers.Uint32(0);
    for (auto [bits, bytes] : {std::pair<uint32_t, Bytes>{5, {0x17}},
                               {9, {0x01, 0x00}},
                               {4, {0x0b}},
                               {2, {0x02}},
                               {2, {0x03}}}) {
        numbers.Uint32(bits);
        numbers.Raw(bytes);
    }
    SshWriter cipher;
    cipher.String(numbers.Data());
    SshWriter body;
    body.String("dl-modp{sign{dsa-nist-sha1},dh{plain}}");
    body.String("none");
    body.String(cipher.Data());
    SshWriter expected;
    expected.Uint32(0x3f6ff9eb);
    expected.Uint32(static_cast<uint32_t>(8 + body.Data().size()));
    expected.Raw(body.Data());
    EXPECT_EQ(container, expected.Data());
}

}  // namespace
}  // namespace kv
