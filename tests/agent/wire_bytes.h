// Hand-assembled payload bytes, so the tests do not depend on the encoder they check.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace kv::test {

using Wire = std::vector<uint8_t>;

inline Wire Word(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

inline Wire Concat(std::initializer_list<Wire> parts) {
    Wire out;
    for (const Wire& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Wire IntField(int32_t v) { return Concat({Word(0), Word(4), Word(v)}); }

inline Wire StrField(std::string_view s) {
    return Concat({Word(1), Word(static_cast<int32_t>(s.size())), Wire(s.begin(), s.end())});
}

// A string field whose length word says `n`, followed by nothing of its own.
inline Wire StrHeader(int32_t n) { return Concat({Word(1), Word(n)}); }

// Identifier and origin list of a request.
inline Wire RequestStart(int32_t id, std::initializer_list<std::string_view> origins = {}) {
    Wire out = Concat({IntField(id), IntField(static_cast<int32_t>(origins.size()))});
    for (std::string_view o : origins) {
        const Wire f = StrField(o);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

inline Wire KeyEntryWire(std::string_view blob, std::string_view comment, int32_t lifetime,
                         int32_t flags) {
    return Concat(
        {IntField(1), StrField(blob), StrField(comment), IntField(lifetime), IntField(flags)});
}

}  // namespace kv::test
