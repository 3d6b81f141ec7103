// Where a request came from. Every request carries, after its identifier, an integer field
// with a count and that many string fields of at least 1 byte, one per hop the request was
// forwarded through. The decoded list starts with "local client", followed by the received
// strings in received order; the last element is the requester.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/agent_buffer.h"

namespace kv {

using OriginList = std::vector<std::string>;

constexpr const char* kLocalClientOrigin = "local client";

// More hops than any forwarding chain has. Each origin is a line of the event log, so one
// request naming a hundred thousand (a payload of 1 MiB holds that many) would write a
// megabyte of log and hold the agent up for a second or more.
constexpr int32_t kMaxOrigins = 64;

// nullopt when the count is missing, negative or above kMaxOrigins, or when any entry is
// missing or empty.
std::optional<OriginList> ReadOriginList(AgentBuffer& in);

// Appends the count and the strings; `extra` excludes "local client". An empty string would
// make the request malformed, so the caller must not pass one (see OriginsAreWritable).
void WriteOriginList(const std::vector<std::string>& extra, AgentBuffer& out);
bool OriginsAreWritable(const std::vector<std::string>& extra);

// The last element: "local client" unless the request carried origin strings.
const std::string& Requester(const OriginList& origins);

}  // namespace kv
