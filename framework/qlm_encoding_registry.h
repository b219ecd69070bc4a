// The encoding registry's entry point for flows. The system registers no
// encoding of its own, so the registry is empty: every signature lookup
// fails and a flow always gets a plain cEncoding over its units.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

class cEncoding;
class cFlow;

// The encoding for a flow, attached to it from byte 0 with code units of
// `unit` bytes, or nil with a negative encoding code in `error`: -15 for any
// signature name (none is registered), -1 for a nil, closed or unreadable
// flow or one that cannot seek to 0, -2 for an empty flow, -5 when its first
// byte cannot be read, or the code of the attach. Never raises.
std::unique_ptr<cEncoding> encoding_attach(cFlow* flow, int32_t unit, std::string_view signature, int32_t& error);
