// Damaged and hostile containers, numbers and public blobs: every call refuses them cleanly.
#include <gtest/gtest.h>

#include "tests/kvclm/kvclm_test_support.h"

using namespace kvtest;

namespace {

const std::string kRsaType = "if-modn{sign{rsa-pkcs1-sha1},encrypt{rsa-pkcs1v2-oaep}}";
const std::string kDsaType = "dl-modp{sign{dsa-nist-sha1},dh{plain}}";

int BitLength(const Bytes& magnitude) {
    for (std::size_t i = 0; i < magnitude.size(); ++i) {
        if (magnitude[i] == 0) continue;
        int bits = 8;
        while (!(magnitude[i] & (1 << (bits - 1)))) --bits;
        return static_cast<int>((magnitude.size() - i - 1) * 8) + bits;
    }
    return 0;
}

// The numbers of a plain container's payload, to damage and write back.
struct Payload {
    bool dsa = false;
    std::uint32_t lead = 0;
    std::vector<Bytes> numbers;
    std::vector<std::int64_t> bitsOverride;  // -1: the true bit length
};

Payload ParsePlain(const Bytes& blob) {
    std::size_t at = 8;
    const std::uint32_t typeLength = GetU32(blob, at);
    Payload p;
    p.dsa = blob[at + 4] == 'd';
    at += 4 + typeLength;
    at += 4 + GetU32(blob, at);  // cipher name
    at += 8;                     // cipher blob and payload lengths
    if (p.dsa) {
        p.lead = GetU32(blob, at);
        at += 4;
    }
    while (at < blob.size()) {
        const std::uint32_t bits = GetU32(blob, at);
        const std::size_t n = (bits + 7) / 8;
        p.numbers.emplace_back(blob.begin() + at + 4, blob.begin() + at + 4 + n);
        at += 4 + n;
    }
    p.bitsOverride.assign(p.numbers.size(), -1);
    return p;
}

Bytes Container(const std::string& type, const std::string& cipher, const Bytes& cipherBlob) {
    Bytes body;
    PutString(&body, ToBytes(type));
    PutString(&body, ToBytes(cipher));
    PutString(&body, cipherBlob);
    Bytes out;
    PutU32(&out, 0x3f6ff9eb);
    PutU32(&out, static_cast<std::uint32_t>(body.size() + 8));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes WritePlain(const Payload& p) {
    Bytes payload;
    if (p.dsa) PutU32(&payload, p.lead);
    for (std::size_t i = 0; i < p.numbers.size(); ++i) {
        const std::int64_t bits = p.bitsOverride[i];
        PutU32(&payload, bits >= 0 ? static_cast<std::uint32_t>(bits)
                                   : static_cast<std::uint32_t>(BitLength(p.numbers[i])));
        payload.insert(payload.end(), p.numbers[i].begin(), p.numbers[i].end());
    }
    Bytes cipherBlob;
    PutString(&cipherBlob, payload);
    return Container(p.dsa ? kDsaType : kRsaType, "none", cipherBlob);
}

int ImportPlain(const Bytes& blob) {
    PrivateKey key;
    const int rc = Import("", blob, &key);
    EXPECT_EQ(rc == 0, key != nullptr);
    return rc;
}

int ImportPublic(const Bytes& blob) {
    KVCLM_PUBLIC_KEY pub = nullptr;
    const int rc =
        kvclm_PublicKeyImport(&pub, blob.data(), static_cast<std::uint32_t>(blob.size()), 0, 0);
    PublicKey owner(pub);
    return rc;
}

Bytes PlainBlob(int type, std::uint32_t bits) {
    Bytes blob;
    EXPECT_EQ(ExportPlain(SharedKey(type, bits), &blob), 0);
    return blob;
}

void IncrementLast(Bytes* magnitude) {
    for (std::size_t i = magnitude->size(); i-- > 0;)
        if (++(*magnitude)[i] != 0) break;
}

}  // namespace

TEST(BadContainer, EveryTruncationAndTrailingByteIsRefused) {
    for (int type : {KVCLM_KEY_RSA, KVCLM_KEY_DSS}) {
        const Bytes blob = PlainBlob(type, 768);
        ASSERT_EQ(ImportPlain(blob), 0);
        for (std::size_t n = 0; n < blob.size(); ++n) {
            const Bytes cut(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_NE(ImportPlain(cut), 0) << n;
        }
        Bytes longer = blob;
        longer.push_back(0);
        EXPECT_EQ(ImportPlain(longer), KVCLM_E_BAD_FORMAT);
    }
}

TEST(BadContainer, FramingFieldsMustAgree) {
    const Bytes blob = PlainBlob(KVCLM_KEY_RSA, 768);
    auto withU32 = [&](std::size_t at, std::uint32_t v) {
        Bytes b = blob;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        return b;
    };
    const std::size_t cipherAt = 12 + kRsaType.size();
    const std::size_t cipherBlobAt = cipherAt + 8;
    EXPECT_EQ(ImportPlain(withU32(0, 0x3f6ff9ea)), KVCLM_E_BAD_FORMAT);  // magic
    for (std::uint32_t total :
         {std::uint32_t(blob.size() - 1), std::uint32_t(blob.size() + 1), 0u, 0xffffffffu})
        EXPECT_EQ(ImportPlain(withU32(4, total)), KVCLM_E_BAD_FORMAT) << total;
    for (std::uint32_t n : {0xffffffffu, 0xfffffff0u, 0x80000000u})
        EXPECT_EQ(ImportPlain(withU32(8, n)), KVCLM_E_BAD_FORMAT) << n;  // key type length
    const std::uint32_t cipherBlobLength = GetU32(blob, cipherBlobAt);
    EXPECT_EQ(ImportPlain(withU32(cipherBlobAt, cipherBlobLength - 1)), KVCLM_E_BAD_FORMAT);
    EXPECT_EQ(ImportPlain(withU32(cipherBlobAt, 0xffffffffu)), KVCLM_E_BAD_FORMAT);
    const std::uint32_t payloadLength = GetU32(blob, cipherBlobAt + 4);
    EXPECT_EQ(ImportPlain(withU32(cipherBlobAt + 4, payloadLength - 4)), KVCLM_E_BAD_FORMAT);
    EXPECT_EQ(ImportPlain(withU32(cipherBlobAt + 4, payloadLength + 1)), KVCLM_E_BAD_FORMAT);
}

TEST(BadContainer, UnknownKeyTypesAndCiphersAreUnsupported) {
    Bytes cipherBlob;
    PutString(&cipherBlob, Bytes(16, 1));
    EXPECT_EQ(ImportPlain(Container("ssh-xmss@openssh.com", "none", cipherBlob)),
              KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(ImportPlain(Container("if-modn{sign{rsa", "none", cipherBlob)), KVCLM_E_UNSUPPORTED);
    PrivateKey key;
    EXPECT_EQ(Import("pw", Container(kRsaType, "aes128-cbc", cipherBlob), &key),
              KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(Import("pw", Container(kRsaType, "3des-cbc", Bytes(13, 0)), &key),
              KVCLM_E_BAD_FORMAT);  // not whole blocks
    EXPECT_EQ(Import("pw", Container(kRsaType, "3des-cbc", Bytes()), &key), KVCLM_E_BAD_FORMAT);
    EXPECT_EQ(
        Import("pw", Container(kRsaType, "aes256-gcm-pbkdf2-sha256@kvsshaa", Bytes(20, 0)), &key),
        KVCLM_E_BAD_FORMAT);
}

TEST(BadNumbers, BitCountsMustBeExact) {
    const Payload good = ParsePlain(PlainBlob(KVCLM_KEY_RSA, 768));
    ASSERT_EQ(good.numbers.size(), 6u);
    ASSERT_EQ(ImportPlain(WritePlain(good)), 0);
    for (std::size_t i = 0; i < good.numbers.size(); ++i) {
        for (std::int64_t delta : {-1, 1, 8}) {
            Payload p = good;
            p.bitsOverride[i] = BitLength(p.numbers[i]) + delta;
            if (delta == 8) p.numbers[i].insert(p.numbers[i].begin(), 0);  // leading zero byte
            EXPECT_NE(ImportPlain(WritePlain(p)), 0) << i << " " << delta;
        }
        Payload p = good;
        p.bitsOverride[i] = 0x7fffffff;  // a number longer than the data
        EXPECT_EQ(ImportPlain(WritePlain(p)), KVCLM_E_BAD_FORMAT) << i;
    }
}

TEST(BadNumbers, InconsistentRsaKeysAreRefused) {
    const Payload good = ParsePlain(PlainBlob(KVCLM_KEY_RSA, 768));
    enum { E, D, N, U, P, Q };
    auto expectRefused = [&](const Payload& p, const char* what) {
        EXPECT_EQ(ImportPlain(WritePlain(p)), KVCLM_E_BAD_KEY) << what;
    };
    Payload p = good;
    p.numbers[N].clear();
    expectRefused(p, "zero modulus");
    p = good;
    p.numbers[N].back() ^= 1;
    expectRefused(p, "even modulus");
    p = good;
    std::swap(p.numbers[P], p.numbers[Q]);
    expectRefused(p, "primes swapped (u belongs to the other prime)");
    p = good;
    IncrementLast(&p.numbers[D]);
    expectRefused(p, "wrong private exponent");
    p = good;
    IncrementLast(&p.numbers[U]);
    expectRefused(p, "wrong coefficient");
    p = good;
    p.numbers[E] = {0x01, 0x00, 0x00};
    expectRefused(p, "even exponent");
    p = good;
    p.numbers[P] = {0x01};
    expectRefused(p, "trivial factor");
}

TEST(BadNumbers, InconsistentDsaKeysAreRefused) {
    const Payload good = ParsePlain(PlainBlob(KVCLM_KEY_DSS, 768));
    ASSERT_EQ(good.numbers.size(), 5u);
    enum { P, G, Q, Y, X };
    Payload p = good;
    p.lead = 1;
    EXPECT_EQ(ImportPlain(WritePlain(p)), KVCLM_E_BAD_FORMAT) << "predefined parameters";
    const std::pair<int, Bytes> damage[] = {
        {G, {0x01}}, {Q, {}}, {X, {}}, {Y, {0x01}}, {P, {0x02}},
    };
    for (const auto& [index, value] : damage) {
        p = good;
        p.numbers[index] = value;
        EXPECT_EQ(ImportPlain(WritePlain(p)), KVCLM_E_BAD_KEY) << index;
    }
    for (int index : {P, G, Q, Y, X}) {
        p = good;
        IncrementLast(&p.numbers[index]);
        EXPECT_EQ(ImportPlain(WritePlain(p)), KVCLM_E_BAD_KEY) << index;
    }
    p = good;
    p.numbers[X] = p.numbers[Q];  // x must be below q
    EXPECT_EQ(ImportPlain(WritePlain(p)), KVCLM_E_BAD_KEY);
}

TEST(BadPublicBlob, NamesNumbersAndTrailingBytes) {
    for (int type : {KVCLM_KEY_RSA, KVCLM_KEY_DSS}) {
        const Bytes blob = PublicBlob(SharedKey(type, 768));
        ASSERT_EQ(ImportPublic(blob), 0);
        for (std::size_t n = 0; n < blob.size(); ++n)
            EXPECT_NE(
                ImportPublic(Bytes(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(n))), 0)
                << n;
        Bytes longer = blob;
        longer.push_back(0);
        EXPECT_EQ(ImportPublic(longer), KVCLM_E_BAD_FORMAT);
    }
    auto rsaBlob = [](const std::string& name, const Bytes& e, const Bytes& n) {
        Bytes b;
        PutString(&b, ToBytes(name));
        PutString(&b, e);
        PutString(&b, n);
        return b;
    };
    Bytes n(96, 0x5b);
    n.back() = 0x5d;  // odd, 762 bits
    const Bytes e = {0x01, 0x00, 0x01};
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-rsa", e, n)), 0);
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-xmss@openssh.com", e, n)), KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-rsa", e, {})), KVCLM_E_BAD_KEY);
    Bytes even = n;
    even.back() = 0x5c;
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-rsa", e, even)), KVCLM_E_BAD_KEY);
    Bytes negative(96, 0x9b);
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-rsa", e, negative)), KVCLM_E_BAD_FORMAT);
    Bytes padded = n;
    padded.insert(padded.begin(), 0);  // a sign byte that is not needed
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-rsa", e, padded)), KVCLM_E_BAD_FORMAT);
    EXPECT_EQ(ImportPublic(rsaBlob("ssh-rsa", {0x00, 0x01, 0x00, 0x01}, n)), KVCLM_E_BAD_FORMAT);
    KVCLM_PUBLIC_KEY pub = nullptr;
    EXPECT_EQ(kvclm_PublicKeyImport(&pub, nullptr, 4, 0, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PublicKeyImport(&pub, e.data(), 3, 1, 0), KVCLM_E_UNSUPPORTED);
}

TEST(BadPublicBlob, DsaParametersMustBeConsistent) {
    const Bytes blob = PublicBlob(SharedKey(KVCLM_KEY_DSS, 768));
    // Offsets of p, q, g, y: after "ssh-dss".
    std::vector<std::size_t> at;
    std::size_t pos = 4 + 7;
    for (int i = 0; i < 4; ++i) {
        at.push_back(pos);
        pos += 4 + GetU32(blob, pos);
    }
    for (int i = 0; i < 4; ++i) {
        Bytes b = blob;
        b[at[i] + 4 + GetU32(blob, at[i]) - 1] ^= 0x02;  // change the low bits of one number
        EXPECT_EQ(ImportPublic(b), KVCLM_E_BAD_KEY) << i;
    }
}

TEST(BadHandles, NullAndForeignHandlesAreRefused) {
    int match = 0;
    std::uint32_t n = 0;
    KeyInfo info{KVCLM_KEYINFO_SIZE, KVCLM_KEYINFO_MAGIC, 0, {}, 0, {}};
    EXPECT_EQ(kvclm_PrivateKeyGetData(nullptr, 1, &info, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PKVerifyKeyPair(nullptr, nullptr, &match, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PublicKeyExport(nullptr, 3, 0, nullptr, &n, 0), KVCLM_E_BAD_PARAM);
    info.magic = 0x38CC9E0E;
    EXPECT_EQ(kvclm_PrivateKeyGetData(SharedKey(KVCLM_KEY_RSA, 768), 1, &info, 0),
              KVCLM_E_BAD_RECORD);
    info.magic = KVCLM_KEYINFO_MAGIC;
    info.size = 36;
    EXPECT_EQ(kvclm_PrivateKeyGetData(SharedKey(KVCLM_KEY_RSA, 768), 1, &info, 0),
              KVCLM_E_BAD_RECORD);
    const unsigned char byte = 0;
    KVCLM_PRIVATE_KEY key = nullptr;
    EXPECT_EQ(kvclm_PrivateKeyImport(nullptr, nullptr, 0, 0, &byte, 1, 0, 0, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PrivateKeyImport(&key, nullptr, 0, 2, &byte, 1, 0, 0, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PrivateKeyImport(&key, nullptr, 4, 1, &byte, 1, 0, 0, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PrivateKeyImport(&key, nullptr, 0, 0, &byte, 1, 0, 2, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(key, nullptr);
}
