// Adding keys with their constraints, and locking and unlocking through the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "agent/openssh/messages.h"
#include "agent/openssh/translator.h"
#include "tests/openssh/openssh_test_support.h"

namespace kv {
namespace {

using namespace openssh;
using test::Message;

const std::string kOrigin = "ssh-add (pid 7)";

class TranslatorAdminTest : public ::testing::Test {
  protected:
    SecureBytes Send(const SecureBytes& message) {
        const SshReply reply = translator.Handle(message, kOrigin);
        last_hold = reply.hold;
        return reply.message;
    }

    // ADD_ID_CONSTRAINED with the key file's wire form and raw constraint bytes.
    SecureBytes Add(const test::KeyFixture& key, const SecureBytes& constraints = {}) {
        return Message(constraints.empty() ? kAddIdentity : kAddIdConstrained, [&](SshWriter& w) {
            w.Raw(key.private_wire);
            w.Raw(constraints);
        });
    }

    std::chrono::milliseconds last_hold{0};
    test::FakeNativeAgent agent;
    test::FakeHost host{agent};
    OpenSshTranslator translator{agent.dispatcher, host};
};

TEST_F(TranslatorAdminTest, AnAddedKeyIsNamedAndKeepsItsWholeComment) {
    const auto key = test::LoadKeyFixture("rsa2048");  // comment "work: laptop"
    EXPECT_EQ(Send(Add(key)), SuccessReply());
    ASSERT_TRUE(agent.last_added.has_value());
    EXPECT_EQ(agent.last_added->comment, "KeyFromAgent: work: laptop");
    EXPECT_EQ(agent.last_added->blob, key.public_blob);
    EXPECT_EQ(agent.last_added->lifetime, -1);
    EXPECT_EQ(agent.last_added->flags, 0);
    EXPECT_FALSE(agent.last_added_private.empty());
    EXPECT_EQ(agent.origins, std::vector<std::string>{kOrigin});
    EXPECT_TRUE(host.confirmed.empty());
    EXPECT_TRUE(host.expected_adds.empty());
}

// The confirm mark goes in with the key (announced before the native add), and is given
// after it to any other stored key with the same public key.
TEST_F(TranslatorAdminTest, LifetimeBecomesTheKeysLifetimeAndConfirmMarksItAfterTheAdd) {
    const auto key = test::LoadKeyFixture("dsa1024");
    EXPECT_EQ(Send(Add(key, {kConstrainLifetime, 0, 0, 0, 2, kConstrainConfirm})), SuccessReply());
    EXPECT_EQ(agent.last_added->lifetime, 2);
    EXPECT_EQ(host.expected_adds, (std::vector<std::string>{"confirm", "none"}));
    EXPECT_EQ(host.confirmed, std::vector<Bytes>{key.public_blob});
    // Given again after the add too: a key stored already keeps its entry through it.
    using Lifetimes = std::vector<std::pair<Bytes, int32_t>>;
    EXPECT_EQ(host.lifetimes, Lifetimes({{key.public_blob, 2}}));

    EXPECT_EQ(Send(Add(key, {kConstrainLifetime, 0xff, 0xff, 0xff, 0xff})), SuccessReply());
    EXPECT_EQ(agent.last_added->lifetime, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(host.lifetimes.back().second, std::numeric_limits<int32_t>::max());

    // A lifetime that cannot be stored fails the add; none asked for, none is given.
    host.lifetime_succeeds = false;
    EXPECT_EQ(Send(Add(key, {kConstrainLifetime, 0, 0, 0, 5})), FailureReply());
    EXPECT_EQ(host.refusals.back(),
              "ADD_IDENTITY: the key was added but its lifetime was not "
              "stored [ssh-add (pid 7)]");
    EXPECT_EQ(Send(Add(key)), SuccessReply());
    EXPECT_EQ(host.lifetimes.size(), 3u);
}

TEST_F(TranslatorAdminTest, AConfirmMarkIsOnlyAskedForWhenTheAddSucceeded) {
    const auto key = test::LoadKeyFixture("rsa1024");
    agent.allow_add = false;
    EXPECT_EQ(Send(Add(key, {kConstrainConfirm})), FailureReply());
    EXPECT_TRUE(host.confirmed.empty());
    EXPECT_TRUE(host.refusals.empty());  // the native handler logs its refusal

    agent.allow_add = true;
    host.confirm_succeeds = false;
    EXPECT_EQ(Send(Add(key, {kConstrainConfirm})), FailureReply());
    EXPECT_EQ(host.refusals,
              std::vector<std::string>({"ADD_IDENTITY: the key was added but its confirm mark "
                                        "was not stored [ssh-add (pid 7)]"}));
}

TEST_F(TranslatorAdminTest, UnsupportedConstraintsAndKeysAreRefusedBeforeTheNativeAdd) {
    const auto key = test::LoadKeyFixture("rsa1024");
    SshWriter extension;
    extension.Byte(kConstrainExtension);
    extension.String("restrict-destination-v00@openssh.com");
    extension.String("x");
    const SecureBytes cases[] = {
        {kConstrainMaxSign, 0, 0, 0, 5},
        extension.Data(),
        {7},
        {kConstrainLifetime, 0, 0, 0, 1, kConstrainLifetime, 0, 0, 0, 2},
        {kConstrainConfirm, kConstrainConfirm},
        {kConstrainLifetime, 0, 0},
    };
    for (const auto& constraints : cases) EXPECT_EQ(Send(Add(key, constraints)), FailureReply());
    test::KeyFixture security_key;  // a type the agent does not hold
    SshWriter wire;
    wire.String("sk-ssh-ed25519@openssh.com");
    wire.String(Bytes(32, 1));
    security_key.private_wire = wire.Release();
    EXPECT_EQ(Send(Add(security_key)), FailureReply());
    test::KeyFixture short_rsa;  // a 768-bit modulus, which ssh-agent refuses too
    SshWriter rsa;
    rsa.String("ssh-rsa");
    rsa.Mpint(Bytes(96, 0xc5));                       // n
    for (int i = 0; i < 5; ++i) rsa.Mpint(Bytes{3});  // e, d, iqmp, p, q
    rsa.String("old");
    short_rsa.private_wire = rsa.Release();
    EXPECT_EQ(Send(Add(short_rsa)), FailureReply());
    EXPECT_FALSE(agent.last_added.has_value());
    const std::string from = " [ssh-add (pid 7)]";
    const std::vector<std::string> expected = {
        "ADD_IDENTITY: constraint maxsign is not supported" + from,
        "ADD_IDENTITY: constraint restrict-destination-v00@openssh.com is not supported" + from,
        "ADD_IDENTITY: unknown constraint 7" + from,
        "ADD_IDENTITY: constraint 1 given twice" + from,
        "ADD_IDENTITY: constraint 2 given twice" + from,
        "ADD_IDENTITY: malformed constraints" + from,
        "ADD_IDENTITY: key type sk-ssh-ed25519@openssh.com is not supported" + from,
        "ADD_IDENTITY: RSA keys shorter than 1024 bits are not supported" + from,
    };
    EXPECT_EQ(host.refusals, expected);
}

SecureBytes Passphrase(uint8_t type, std::string_view text) {
    return Message(type, [&](SshWriter& w) { w.String(text); });
}

TEST_F(TranslatorAdminTest, LockRunsTheLockCommandWhateverItsPassphrase) {
    EXPECT_EQ(Send(Passphrase(kLock, "anything")), SuccessReply());
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(Send(Message(kLock)), FailureReply());
    EXPECT_EQ(host.locks, 1);
}

// A wrong passphrase's failure reply is held back, longer after each one in a row; while it
// is, UNLOCK is not even checked. Once it has gone out, the next attempt is always checked.
TEST_F(TranslatorAdminTest, WrongUnlockRepliesAreHeldBackAndNothingIsCheckedMeanwhile) {
    using std::chrono::milliseconds;
    EXPECT_EQ(Send(Passphrase(kUnlock, "guess 1")), FailureReply());
    EXPECT_EQ(last_hold, milliseconds(100));
    EXPECT_EQ(Send(Passphrase(kUnlock, "correct horse")), FailureReply());  // still held
    EXPECT_EQ(last_hold, milliseconds(0));
    translator.HeldReplySent();
    EXPECT_EQ(Send(Passphrase(kUnlock, "guess 2")), FailureReply());
    EXPECT_EQ(last_hold, milliseconds(200));
    translator.HeldReplySent();
    EXPECT_EQ(Send(Passphrase(kUnlock, "correct horse")), SuccessReply());  // checked at once
    EXPECT_EQ(last_hold, milliseconds(0));
    EXPECT_EQ(Send(Passphrase(kUnlock, "guess 3")), FailureReply());  // the count restarted
    EXPECT_EQ(last_hold, milliseconds(100));
    translator.HeldReplySent();
    EXPECT_EQ(host.unlock_attempts,
              std::vector<std::string>({"guess 1", "guess 2", "correct horse", "guess 3"}));
    const std::string from = " [ssh-add (pid 7)]";
    const std::vector<std::string> expected = {
        "UNLOCK: wrong passphrase (1 in a row); the reply was held back 100 ms" + from,
        "UNLOCK: not checked: the reply to a wrong passphrase is still held back" + from,
        "UNLOCK: wrong passphrase (2 in a row); the reply was held back 200 ms" + from,
        "UNLOCK: wrong passphrase (1 in a row); the reply was held back 100 ms" + from,
    };
    EXPECT_EQ(host.refusals, expected);

    // The hold grows by a step per failure and stops at ten seconds.
    for (int i = 1; i <= 120; ++i) {
        Send(Passphrase(kUnlock, "guess"));
        translator.HeldReplySent();
        EXPECT_EQ(last_hold, milliseconds(std::min(100 * (i + 1), 10000))) << i;
    }
}

TEST_F(TranslatorAdminTest, UnlockIsNotCheckedWhileAnUnlockPromptIsOpen) {
    host.prompt_open = true;
    EXPECT_EQ(Send(Passphrase(kUnlock, "correct horse")), FailureReply());
    EXPECT_EQ(last_hold, std::chrono::milliseconds(0));  // no guess was made
    EXPECT_EQ(host.refusals.back(),
              "UNLOCK: not checked: an unlock prompt is open [ssh-add (pid 7)]");
    host.prompt_open = false;
    EXPECT_EQ(Send(Passphrase(kUnlock, "correct horse")), SuccessReply());
}

TEST_F(TranslatorAdminTest, AnUnlockTheHostRefusesDoesNotCount) {
    host.first_use = true;
    EXPECT_EQ(Send(Passphrase(kUnlock, "new passphrase?")), FailureReply());
    EXPECT_EQ(Send(Passphrase(kUnlock, "again")), FailureReply());
    EXPECT_EQ(host.unlock_attempts.size(), 2u);  // no delay between them
    EXPECT_EQ(Send(Message(kUnlock)), FailureReply());
    EXPECT_EQ(host.unlock_attempts.size(), 2u);
}

}  // namespace
}  // namespace kv
