// Listing, signing, removing and the requests the translator answers by itself, against a
// native agent of fake handlers behind the real dispatcher.
#include "agent/openssh/translator.h"

#include <gtest/gtest.h>

#include "agent/openssh/key_blobs.h"
#include "agent/openssh/messages.h"
#include "platform/message_codes.h"
#include "tests/openssh/openssh_test_support.h"

namespace kv {
namespace {

using namespace openssh;
using test::Message;
using test::Span;

const std::string kOrigin = "ssh (pid 42)";

Bytes HexBytes(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

class TranslatorTest : public ::testing::Test {
  protected:
    TranslatorTest() {
        test::UseBuiltModule();
        rsa = test::LoadKeyFixture("rsa1024").public_blob;
        dss = test::LoadKeyFixture("dsa1024").public_blob;
        SshWriter sk;  // a security key: a type the agent does not hold
        sk.String("sk-ssh-ed25519@openssh.com");
        sk.String(Bytes(32, 7));
        sk.String("ssh:");
        security_key.assign(sk.Data().begin(), sk.Data().end());
    }

    SecureBytes Send(const SecureBytes& message) {
        return translator.Handle(message, kOrigin).message;
    }

    SecureBytes SignRequest(const Bytes& blob, std::string_view data, uint32_t flags) {
        return Message(kSignRequest, [&](SshWriter& w) {
            w.String(blob);
            w.String(data);
            w.Uint32(flags);
        });
    }

    // The signature blob's algorithm and signature from a SIGN_RESPONSE.
    std::pair<std::string, Bytes> ReadSignature(const SecureBytes& reply) {
        SshReader in(reply);
        EXPECT_EQ(in.Byte(), kSignResponse);
        SshReader blob(in.String());
        const std::string algorithm = blob.Text();
        const auto signature = blob.String();
        EXPECT_TRUE(in.Ok() && in.AtEnd() && blob.Ok() && blob.AtEnd());
        return {algorithm, Bytes(signature.begin(), signature.end())};
    }

    Bytes rsa, dss, security_key;
    test::FakeNativeAgent agent;
    test::FakeHost host{agent};
    OpenSshTranslator translator{agent.dispatcher, host};
};

TEST_F(TranslatorTest, IdentitiesShowNameAndCommentAndOnlyKeysTheModuleDescribes) {
    agent.AddKey(rsa, "work", "laptop: home");
    agent.AddKey(security_key, "odd", "not ours");
    agent.AddKey(dss, "old", "");
    agent.AddKey(rsa, "twin", "");  // the same key stored under another name
    // A 768-bit RSA key, as the wizard makes them: ssh and ssh-add would refuse the whole list.
    agent.AddKey(RsaPublicBlob(std::vector<uint8_t>{1, 0, 1}, Bytes(96, 0xc5)), "legacy", "");
    const auto reply = Send(Message(kRequestIdentities));

    SshReader in(reply);
    EXPECT_EQ(in.Byte(), kIdentitiesAnswer);
    EXPECT_EQ(in.Uint32(), 3u);
    const auto first = in.String();
    EXPECT_EQ(Bytes(first.begin(), first.end()), rsa);
    EXPECT_EQ(in.Text(), "work: laptop: home");
    const auto second = in.String();
    EXPECT_EQ(Bytes(second.begin(), second.end()), dss);
    EXPECT_EQ(in.Text(), "old");
    in.String();
    EXPECT_EQ(in.Text(), "twin");
    EXPECT_TRUE(in.Ok() && in.AtEnd());
    EXPECT_EQ(agent.origins, std::vector<std::string>{kOrigin});
}

// ssh and ssh-add refuse an answer of more than 2048 keys or 256 KiB whole, so the keys past
// either limit are left out, and the log says so.
TEST_F(TranslatorTest, IdentitiesPastWhatSshTakesAreLeftOut) {
    const auto listed = [&] {
        const auto reply = Send(Message(kRequestIdentities));
        EXPECT_LE(reply.size(), kMaxMessage);
        SshReader in(reply);
        in.Byte();
        return in.Uint32();
    };
    const Bytes small = test::LoadKeyFixture("ed25519").public_blob;
    for (int i = 0; i < 2100; ++i) agent.AddKey(small, "k" + std::to_string(i), "");
    EXPECT_EQ(listed(), kMaxListedIdentities);
    ASSERT_EQ(host.refusals.size(), 1u);
    EXPECT_NE(host.refusals[0].find("past the first 2048"), std::string::npos);

    agent.keys.clear();
    for (int i = 0; i < 300; ++i) agent.AddKey(small, "k", std::string(1000, 'c'));
    const uint32_t fitting = listed();
    EXPECT_GT(fitting, 200u);
    EXPECT_LT(fitting, 300u);
}

TEST_F(TranslatorTest, AnEmptyStoreAndAFailingNativeListAreAnsweredInKind) {
    EXPECT_EQ(Send(Message(kRequestIdentities)), SecureBytes({kIdentitiesAnswer, 0, 0, 0, 0}));
    agent.dispatcher.SetHandler(AGENT_LIST_KEYS, [](AgentBuffer&, AgentBuffer&) { return false; });
    EXPECT_EQ(Send(Message(kRequestIdentities)), FailureReply());
}

TEST_F(TranslatorTest, RsaFlagsChooseTheDigestAndTheAlgorithmName) {
    agent.AddKey(rsa, "k", "");
    const std::string prefix256 = "3031300d060960864801650304020105000420";
    const std::string prefix512 = "3051300d060960864801650304020305000440";
    const std::string sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string sha512 =
        "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
        "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";
    struct Case {
        uint32_t flags;
        std::string operation, algorithm;
        Bytes data;
    } cases[] = {
        {0, "hash-and-sign", "ssh-rsa", Bytes{'a', 'b', 'c'}},
        {kFlagRsaSha256, "sign", "rsa-sha2-256", HexBytes(prefix256 + sha256)},
        {kFlagRsaSha512, "sign", "rsa-sha2-512", HexBytes(prefix512 + sha512)},
        {kFlagRsaSha256 | kFlagRsaSha512, "sign", "rsa-sha2-256", HexBytes(prefix256 + sha256)},
        {0x01 | 0x100, "hash-and-sign", "ssh-rsa", Bytes{'a', 'b', 'c'}},
    };
    for (const auto& c : cases) {
        const auto [algorithm, signature] = ReadSignature(Send(SignRequest(rsa, "abc", c.flags)));
        EXPECT_EQ(agent.last_operation, c.operation) << c.flags;
        EXPECT_EQ(agent.last_op_data, c.data) << c.flags;
        EXPECT_EQ(agent.last_op_blob, rsa);
        EXPECT_EQ(algorithm, c.algorithm);
        EXPECT_EQ(signature, Bytes(256, 0xab));
    }
    EXPECT_TRUE(host.refusals.empty());
}

TEST_F(TranslatorTest, DssSignsTheDataWithSignWhateverTheFlags) {
    agent.AddKey(dss, "d", "");
    agent.sign = [](const std::string&, std::span<const uint8_t>) { return SecureBytes(40, 0x5a); };
    const auto [algorithm, signature] = ReadSignature(Send(SignRequest(dss, "data", 4)));
    EXPECT_EQ(agent.last_operation, "sign");
    EXPECT_EQ(agent.last_op_data, Bytes({'d', 'a', 't', 'a'}));
    EXPECT_EQ(algorithm, "ssh-dss");
    EXPECT_EQ(signature, Bytes(40, 0x5a));
}

TEST_F(TranslatorTest, EveryNativeRefusalOfASignatureIsAFailure) {
    agent.AddKey(rsa, "k", "");
    EXPECT_EQ(Send(SignRequest(dss, "x", 0)), FailureReply());  // not stored: status 4
    agent.locked = true;
    EXPECT_EQ(Send(SignRequest(rsa, "x", 0)), FailureReply());  // no status at all
    agent.locked = false;
    agent.op_status = kStatusOperationFailed;
    EXPECT_EQ(Send(SignRequest(rsa, "x", 0)), FailureReply());
    // The native handler logs these itself; the translator adds nothing.
    EXPECT_TRUE(host.refusals.empty());
    EXPECT_EQ(agent.origins.size(), 3u);
}

TEST_F(TranslatorTest, SignaturesTheTranslatorCannotMakeAreRefusedWithAReason) {
    agent.AddKey(dss, "d", "");
    agent.AddKey(security_key, "e", "");
    EXPECT_EQ(Send(SignRequest(security_key, "x", 0)), FailureReply());
    EXPECT_EQ(Send(SignRequest(dss, "", 0)), FailureReply());
    EXPECT_EQ(Send(Message(kSignRequest, [&](SshWriter& w) { w.String(dss); })), FailureReply());
    agent.sign = [](const std::string&, std::span<const uint8_t>) { return SecureBytes(39, 1); };
    EXPECT_EQ(Send(SignRequest(dss, "x", 0)), FailureReply());
    const std::vector<std::string> expected = {
        "SIGN_REQUEST: key type is not supported [ssh (pid 42)]",
        "SIGN_REQUEST: nothing to sign, or the digest failed [ssh (pid 42)]",
        "SIGN_REQUEST: malformed request [ssh (pid 42)]",
        "SIGN_REQUEST: the module gave a malformed signature [ssh (pid 42)]",
    };
    EXPECT_EQ(host.refusals, expected);
}

SecureBytes RemoveRequest(const Bytes& blob) {
    return Message(kRemoveIdentity, [&](SshWriter& w) { w.String(blob); });
}

TEST_F(TranslatorTest, RemoveDeletesTheBlobUnderEachOfItsNamesInStoreOrder) {
    agent.AddKey(rsa, "first", "");
    agent.AddKey(dss, "d", "");
    agent.AddKey(rsa, "second", "");
    agent.AddKey(rsa, "first", "again");
    EXPECT_EQ(Send(RemoveRequest(rsa)), FailureReply());  // refused by the setting: stops
    EXPECT_EQ(agent.deleted, std::vector<std::string>({"first"}));
    agent.allow_remove = true;
    EXPECT_EQ(Send(RemoveRequest(rsa)), SuccessReply());
    EXPECT_EQ(agent.deleted, std::vector<std::string>({"first", "first", "second"}));
    ASSERT_EQ(agent.keys.size(), 1u);
    EXPECT_EQ(agent.keys[0].name, "d");
}

TEST_F(TranslatorTest, RemovingAKeyThatIsNotStoredNeverReachesTheNativeHandler) {
    agent.allow_remove = true;
    EXPECT_EQ(Send(RemoveRequest(rsa)), FailureReply());
    EXPECT_EQ(Send(Message(kRemoveIdentity)), FailureReply());
    EXPECT_TRUE(agent.deleted.empty());
    ASSERT_EQ(host.refusals.size(), 2u);
    EXPECT_EQ(host.refusals[0],
              "REMOVE_IDENTITY: no stored key has this public key [ssh (pid 42)]");
}

TEST_F(TranslatorTest, RemoveAllIsTheNativeDeleteOfEverything) {
    agent.AddKey(rsa, "k", "");
    EXPECT_EQ(Send(Message(kRemoveAllIdentities)), FailureReply());
    agent.allow_remove = true;
    EXPECT_EQ(Send(Message(kRemoveAllIdentities)), SuccessReply());
    EXPECT_EQ(agent.deleted, std::vector<std::string>({"*all*", "*all*"}));
    EXPECT_TRUE(agent.keys.empty());
}

SecureBytes ExtensionRequest(std::string_view name) {
    return Message(kExtension, [&](SshWriter& w) {
        w.String(name);
        w.String("contents");
    });
}

TEST_F(TranslatorTest, QueryListsItselfAndOtherExtensionsFail) {
    SshWriter expected;
    expected.Byte(kExtensionResponse);
    expected.String("query");
    expected.String("query");
    EXPECT_EQ(Send(ExtensionRequest("query")), expected.Data());
    EXPECT_EQ(Send(ExtensionRequest("session-bind@openssh.com")), FailureReply());
    EXPECT_EQ(Send(ExtensionRequest("x\n@example.com")), FailureReply());
    // session-bind comes with every ssh connection: it is not worth an entry each time.
    EXPECT_EQ(host.refusals,
              std::vector<std::string>({"EXTENSION: extension x?@example.com is not supported "
                                        "[ssh (pid 42)]"}));
}

TEST_F(TranslatorTest, UnknownAndEmptyMessagesFailAndOnlyUnknownOnesAreLogged) {
    EXPECT_EQ(Send(SecureBytes{}), FailureReply());
    EXPECT_EQ(Send(Message(9)), FailureReply());   // ssh-add -D's SSH1 remove-all
    EXPECT_EQ(Send(Message(20)), FailureReply());  // smartcard keys
    EXPECT_EQ(Send(Message(kSuccess)), FailureReply());
    EXPECT_EQ(host.refusals, std::vector<std::string>(
                                 {"request: message type 20 is not supported [ssh (pid 42)]",
                                  "request: message type 6 is not supported [ssh (pid 42)]"}));
    EXPECT_TRUE(agent.origins.empty());
}

}  // namespace
}  // namespace kv
