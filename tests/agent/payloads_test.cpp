#include "agent/payloads.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/envelope.h"
#include "tests/agent/wire_bytes.h"

namespace kv {
namespace {

using namespace kv::test;

std::span<const uint8_t> AsBytes(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// What the transport does before a handler runs: load the payload, read the identifier.
AgentBuffer AfterId(std::span<const uint8_t> payload, int32_t* id = nullptr) {
    AgentBuffer in(payload);
    const int32_t read = in.ReadIntField();
    if (id != nullptr) *id = read;
    return in;
}

template <class Decode>
bool Decodes(const Wire& payload, Decode decode) {
    AgentBuffer in = AfterId(payload);
    return decode(in).has_value();
}

TEST(RequestDecodeTest, EmptyPayloadHasIdMinusOneAndNoOriginList) {
    int32_t id = 0;
    AgentBuffer in = AfterId({}, &id);
    EXPECT_EQ(id, -1);
    EXPECT_FALSE(DecodeListRequest(in));
}

TEST(RequestDecodeTest, ListRequestAllowsNoTrailingByte) {
    EXPECT_TRUE(Decodes(RequestStart(7), DecodeListRequest));
    EXPECT_FALSE(Decodes(Concat({RequestStart(7), {0}}), DecodeListRequest));
}

TEST(RequestDecodeTest, AddRequestNeedsEntryAndPrivateBlob) {
    const Wire entry = KeyEntryWire("PUB", "k: c", -1, 0);
    AgentBuffer in = AfterId(Concat({RequestStart(1, {"fw"}), entry, StrField("PRIV")}));
    const auto add = DecodeAddRequest(in);
    ASSERT_TRUE(add);
    EXPECT_EQ(add->origins, (OriginList{"local client", "fw"}));
    EXPECT_EQ(add->entry.comment, "k: c");
    EXPECT_EQ(add->private_blob, SecureBytes({'P', 'R', 'I', 'V'}));

    EXPECT_FALSE(Decodes(Concat({RequestStart(1), entry}), DecodeAddRequest));
    EXPECT_FALSE(Decodes(Concat({RequestStart(1), entry, StrField("")}), DecodeAddRequest));
    const Wire bad_flags = KeyEntryWire("PUB", "c", -1, -1);
    EXPECT_FALSE(Decodes(Concat({RequestStart(1), bad_flags, StrField("P")}), DecodeAddRequest));
}

TEST(RequestDecodeTest, DeleteAllIsMatchedByteForByte) {
    AgentBuffer in = AfterId(Concat({RequestStart(1), StrField("*all*")}));
    const auto all = DecodeDeleteRequest(in);
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->target.all);

    // Anything else is a public key blob and needs a name.
    for (std::string_view blob :
         {std::string_view("*ALL*"), std::string_view("*all*\0", 6), std::string_view("*all")}) {
        EXPECT_FALSE(Decodes(Concat({RequestStart(1), StrField(blob)}), DecodeDeleteRequest));
        AgentBuffer named = AfterId(Concat({RequestStart(1), StrField(blob), StrField("k")}));
        const auto one = DecodeDeleteRequest(named);
        ASSERT_TRUE(one);
        EXPECT_FALSE(one->target.all);
        EXPECT_EQ(one->target.blob, Bytes(blob.begin(), blob.end()));
        EXPECT_EQ(one->target.name, "k");
    }
    EXPECT_FALSE(Decodes(RequestStart(1), DecodeDeleteRequest));
}

TEST(RequestDecodeTest, DeleteTargetCanBeReadAfterTheOriginList) {
    AgentBuffer in = AfterId(Concat({RequestStart(1, {"a"}), StrField("B"), StrField("n")}));
    ASSERT_TRUE(ReadOriginList(in));
    const auto target = DecodeDeleteTarget(in);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->name, "n");
}

TEST(RequestDecodeTest, PrivateKeyOpNeedsThreeNonEmptyFields) {
    const Wire ok = Concat({RequestStart(3), StrField("sign"), StrField("B"), StrField("D")});
    AgentBuffer in = AfterId(Concat({ok, {1, 2, 3}}));  // trailing bytes are ignored
    const auto op = DecodePrivateKeyOpRequest(in);
    ASSERT_TRUE(op);
    EXPECT_EQ(op->fields.operation, "sign");
    EXPECT_EQ(op->fields.data, Bytes{'D'});

    const Wire no_data = Concat({RequestStart(3), StrField("sign"), StrField("B")});
    EXPECT_FALSE(Decodes(no_data, DecodePrivateKeyOpRequest));
    EXPECT_FALSE(Decodes(Concat({no_data, StrField("")}), DecodePrivateKeyOpRequest));
    EXPECT_FALSE(Decodes(Concat({RequestStart(3), StrField(""), StrField("B"), StrField("D")}),
                         DecodePrivateKeyOpRequest));
}

// The builders, checked against the decoders; every strict prefix of a request must fail.
TEST(RequestBuildTest, RoundTripAndTruncation) {
    const AgentKeyEntry entry{1, 60, 1, "name: c", Bytes{9, 9}};
    const Bytes pub{5, 6};
    const SecureBytes add = BuildAddRequest(4, {"h"}, entry, pub);
    const std::vector<std::pair<Bytes, std::function<bool(AgentBuffer&)>>> cases = {
        {BuildListRequest(1, {"h"}), [](auto& in) { return DecodeListRequest(in).has_value(); }},
        {Bytes(add.begin(), add.end()),
         [&](auto& in) {
             const auto d = DecodeAddRequest(in);
             return d && d->entry == entry &&
                    d->private_blob == SecureBytes(pub.begin(), pub.end());
         }},
        {BuildDeleteRequest(2, {"h"}, pub, "k"),
         [&](auto& in) {
             const auto d = DecodeDeleteRequest(in);
             return d && !d->target.all && d->target.blob == pub && d->target.name == "k";
         }},
        {BuildDeleteAllRequest(2, {"h"}),
         [](auto& in) {
             const auto d = DecodeDeleteRequest(in);
             return d && d->target.all;
         }},
        {BuildPrivateKeyOpRequest(5, {"h"}, "decrypt", pub, pub),
         [](auto& in) { return DecodePrivateKeyOpRequest(in).has_value(); }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes& payload = cases[i].first;
        ASSERT_FALSE(payload.empty());
        AgentBuffer whole = AfterId(payload);
        EXPECT_TRUE(cases[i].second(whole));
        for (std::size_t cut = 0; cut < payload.size(); ++cut) {
            AgentBuffer in = AfterId(std::span(payload).first(cut));
            EXPECT_FALSE(cases[i].second(in)) << "prefix " << cut;
        }
    }
}

TEST(RequestBuildTest, RefusesWhatWouldBeMalformed) {
    const AgentKeyEntry untyped{0, -1, 0, std::nullopt, Bytes{1}};
    const Bytes blob{1};
    EXPECT_TRUE(BuildListRequest(1, {""}).empty());
    EXPECT_TRUE(BuildAddRequest(1, {}, untyped, blob).empty());
    EXPECT_TRUE(BuildAddRequest(1, {}, AgentKeyEntry{1, -1, 0, {}, {}}, blob).empty());
    EXPECT_TRUE(BuildDeleteRequest(1, {}, blob, std::nullopt).empty());
    EXPECT_TRUE(BuildDeleteRequest(1, {}, blob, "").empty());
    EXPECT_TRUE(BuildPrivateKeyOpRequest(1, {}, "sign", blob, {}).empty());
}

TEST(ReplyTest, ListReplyLayout) {
    EXPECT_EQ(BuildListReply(7, {}), Concat({IntField(7), IntField(0), IntField(0)}));

    const AgentKeyEntry key{1, -1, 0, "a comment", Bytes{1, 2, 3, 4, 5}};
    const Bytes reply = BuildListReply(7, std::span(&key, 1));
    ASSERT_EQ(reply.size(), 88u + 5 + 9);
    EXPECT_EQ(reply, Concat({IntField(7), IntField(0), IntField(1),
                             KeyEntryWire("\1\2\3\4\5", "a comment", -1, 0)}));
    const auto parsed = ParseListReply(reply);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->id, 7);
    ASSERT_EQ(parsed->keys.size(), 1u);
    EXPECT_EQ(parsed->keys[0], key);

    const AgentKeyEntry untyped{};
    EXPECT_TRUE(BuildListReply(7, std::span(&untyped, 1)).empty());
}

// A client drops a reply over the envelope's limit whole: only the keys that fit go in it.
TEST(ReplyTest, AListReplyCarriesTheKeysThatFitTheEnvelope) {
    AgentKeyEntry key;
    key.type = kKeyEntryType;
    key.blob = Bytes(150, 1);
    key.comment = std::string(1000, 'c');
    const std::vector<AgentKeyEntry> keys(1000, key);
    const std::size_t id_field = 12;
    const std::size_t fit = ListEntriesThatFit(keys, id_field);
    ASSERT_LT(fit, keys.size());
    const auto span = std::span(keys);
    EXPECT_LE(BuildListReply(1, span.first(fit)).size(), kMaxEnvelopePayload);
    EXPECT_GT(BuildListReply(1, span.first(fit + 1)).size(), kMaxEnvelopePayload);
    EXPECT_EQ(ListEntriesThatFit(span.first(3), id_field), 3u);
}

TEST(ReplyTest, PrivateKeyOpReplyForms) {
    const auto done = ParsePrivateKeyOpReply(BuildPrivateKeyOpReply(1, 0, AsBytes("sig")));
    ASSERT_TRUE(done && done->status == 0 && done->result);
    EXPECT_EQ(*done->result, ToSecureBytes("sig"));
    const auto empty = ParsePrivateKeyOpReply(BuildPrivateKeyOpReply(1, 0));
    ASSERT_TRUE(empty && empty->result);
    EXPECT_TRUE(empty->result->empty());
    const auto unknown = ParsePrivateKeyOpReply(BuildPrivateKeyOpReply(1, 4));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 4);
    EXPECT_FALSE(unknown->result);
    const auto locked = ParsePrivateKeyOpReply(BuildPrivateKeyOpReply(9, std::nullopt));
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->id, 9);
    EXPECT_FALSE(locked->status);
}

TEST(ReplyTest, ParsersRejectGarbage) {
    const Wire status = BuildStatusReply(3, 1);
    ASSERT_TRUE(ParseStatusReply(status));
    EXPECT_FALSE(ParseStatusReply(Concat({status, {0}})));
    EXPECT_FALSE(ParseStatusReply(Concat({IntField(3), Word(1), Word(4), Word(1)})));  // tag
    EXPECT_FALSE(ParseStatusReply(Concat({IntField(3), Word(0), Word(8), Word(1)})));  // length
    EXPECT_FALSE(ParseListReply(Concat({IntField(3), IntField(0), IntField(-1)})));
    EXPECT_FALSE(ParseListReply(Concat({IntField(3), IntField(0), IntField(INT32_MAX)})));
    EXPECT_FALSE(ParsePrivateKeyOpReply(Concat({IntField(3), IntField(0)})));  // no result
    EXPECT_FALSE(ParsePrivateKeyOpReply(Concat({IntField(3), IntField(0), StrHeader(4)})));
    EXPECT_FALSE(ParsePrivateKeyOpReply(Concat({IntField(3), IntField(3), StrField("x")})));

    // Every strict prefix of a list reply is refused.
    const AgentKeyEntry key{1, 10, 1, std::nullopt, Bytes{1}};
    const Bytes list = BuildListReply(1, std::span(&key, 1));
    for (std::size_t cut = 0; cut < list.size(); ++cut) {
        EXPECT_FALSE(ParseListReply(std::span(list).first(cut))) << cut;
    }
}

}  // namespace
}  // namespace kv
