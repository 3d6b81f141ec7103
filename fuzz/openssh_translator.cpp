// Feeds an arbitrary byte stream to the OpenSSH front end as one connection would: framed by
// the real frame reader, each message through the real translator and the real dispatcher,
// over fake native handlers. The first byte sets the fakes' policy knobs.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "agent/openssh/frame_reader.h"
#include "agent/openssh/key_blobs.h"
#include "agent/openssh/messages.h"
#include "agent/openssh/translator.h"
#include "tests/openssh/openssh_test_support.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool IsReplyType(uint8_t type) {
    using namespace kv::openssh;
    return type == kFailure || type == kSuccess || type == kIdentitiesAnswer ||
           type == kSignResponse || type == kExtensionResponse;
}

// A digest of the right size without the module, so that runs are fast and repeatable.
std::optional<kv::Bytes> FakeDigest(int algorithm, std::span<const uint8_t> data) {
    if (data.size() == 3 && data[0] == 'b') return std::nullopt;  // the failure path, too
    return kv::Bytes(algorithm == 3 ? 64 : 32, static_cast<uint8_t>(data.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const uint8_t knobs = data[0];
    kv::test::FakeNativeAgent agent;
    kv::test::FakeHost host(agent);
    const uint8_t e[] = {0x01, 0x00, 0x01}, n[] = {0xc3, 0x55}, small[] = {0x05};
    agent.AddKey(kv::RsaPublicBlob(e, n), "rsa", "comment");
    agent.AddKey(kv::DssPublicBlob(small, small, small, small), "dss", "");
    agent.locked = (knobs & 1) != 0;
    agent.allow_add = (knobs & 2) != 0;
    agent.allow_remove = (knobs & 4) != 0;
    if ((knobs & 8) != 0) agent.op_status = kv::kStatusOperationFailed;
    host.confirm_succeeds = (knobs & 16) != 0;
    host.first_use = (knobs & 32) != 0;

    kv::OpenSshTranslator translator(agent.dispatcher, host, {FakeDigest});
    kv::SshFrameReader reader;
    reader.Feed(data + 1, size - 1);
    while (auto message = reader.Next()) {
        const kv::SshReply answer = translator.Handle(*message, "fuzz (pid 1)");
        const kv::SecureBytes& reply = answer.message;
        // Only a refused UNLOCK is held back, and the endpoint sends it before the next one.
        Check(answer.hold.count() == 0 || (reply.size() == 1 && reply[0] == kv::openssh::kFailure));
        if (answer.hold.count() > 0) translator.HeldReplySent();
        Check(!reply.empty() && IsReplyType(reply[0]));
        Check(reply.size() <= kv::openssh::kMaxMessage);
    }
    return 0;
}
