#pragma once
// The client of an entry: taken from X-Forwarded-For behind a proxy, and anonymised for logs
// that leave the team (masked to a network, or replaced by a keyed hash).
//
// Addresses are read as the text a server writes: IPv4 dotted quads, IPv6 in any of its
// forms, and in X-Forwarded-For lists also with a port ("192.0.2.1:8080",
// "[2001:db8::1]:443"). Rewritten texts are kept in the caller's ClientScratch, which keeps
// its storage from line to line, so no line allocates once the scratch has grown.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "entries/log_entry.h"

// ---- Rules -------------------------------------------------------------------------------

// Where the client comes from: the address the server saw, or X-Forwarded-For.
enum class ClientSource : uint8_t { REMOTE = 0, FORWARDED = 1 };

// NONE keeps addresses; NETWORK_24/16/8 keep the IPv4 network of that prefix (IPv6: /64, /48,
// /32); HASH replaces each address by a keyed hash written as an IPv6 unique local address.
enum class Anonymize : uint8_t {
  NONE = 0,
  NETWORK_24 = 1,
  NETWORK_16 = 2,
  NETWORK_8 = 3,
  HASH = 4
};

// The 128-bit key of the address hash.
struct HashKey {
  uint64_t k0 = 0;
  uint64_t k1 = 0;
};

struct ClientRules {
  ClientSource source = ClientSource::REMOTE;
  Anonymize anonymize = Anonymize::NONE;
  HashKey key;  // for Anonymize::HASH
};

// Key files shorter than this are refused: fewer bytes cannot hold a key worth the name.
inline constexpr size_t HASH_KEY_LEAST_BYTES = 16;
// A longer key file is refused: it is more likely a log named by mistake than a key.
inline constexpr size_t HASH_KEY_MOST_BYTES = size_t{64} << 10;

// The hash key drawn from the bytes of a key file (all of them count).
HashKey HashKeyFrom(std::string_view key_file_bytes);

// ---- Rewriting entries -------------------------------------------------------------------

// Storage for the texts one entry's rewrite produces; one per input, reused line by line.
struct ClientScratch {
  std::string client;
  std::string forwarded;
  // The last client anonymised and its result: a visitor's requests come in runs, so most
  // entries repeat the client before them and skip the work.
  std::string last_client;
  std::string last_anonymized;
  // A client that is a dotted quad, as most are, is rewritten from its four bytes into a
  // fixed text instead (no string to fill): masked into `quad_text`, or hashed into the
  // slot of a small table of recent addresses (filled on first use), where a visitor's
  // next requests, coming in bursts between other visitors', find it.
  std::array<char, 16> quad_text{};
  struct HashedQuad {
    uint32_t address = 0;
    uint8_t size = 0;  // 0: an empty slot
    std::array<char, 40> text{};
  };
  std::vector<HashedQuad> hashed_quads;
};

// Applies `rules` to the client and the X-Forwarded-For list of `entry`. Rewritten fields
// point into `scratch` until the next call with it.
void RewriteClient(LogEntry& entry, const ClientRules& rules, ClientScratch& scratch);

// ---- The pieces, for tests ---------------------------------------------------------------

// The client X-Forwarded-For names: its left-most address outside private, loopback,
// link-local and shared ranges, else its left-most address; empty when it holds none.
std::string_view ForwardedClient(std::string_view forwarded_for);

// `address` anonymised as `mode` says, appended to `out`; false (nothing appended) when it is
// no address and `mode` masks.
bool AppendAnonymized(std::string_view address, Anonymize mode, const HashKey& key,
                      std::string& out);

// SipHash-2-4 of `data` under `key`.
uint64_t SipHash24(const HashKey& key, std::string_view data);
