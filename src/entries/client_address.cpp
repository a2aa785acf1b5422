#include "entries/client_address.h"

#include <bit>
#include <cstring>

#include "base/text.h"

namespace {

// ---- Reading addresses --------------------------------------------------------------------

// An address in network byte order: IPv4 in the first four bytes, or IPv6.
struct Address {
  std::array<uint8_t, 16> bytes{};
  bool v6 = false;
};

// The value of a decimal digit; above 9 for any other character.
constexpr unsigned DigitValue(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// Dotted quad, each part 1..3 digits and at most 255. It runs for every entry's client, and
// most clients are dotted quads: each part is read in one step of at most three digits.
bool ParseIpv4(std::string_view text, uint8_t* out) {
  // "0.0.0.0" to "255.255.255.255": any other length is no dotted quad.
  if (text.size() < 7 || text.size() > 15) return false;
  const char* at = text.data();
  const char* const end = at + text.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at == end || *at != '.') return false;
      ++at;
    }
    unsigned value = at != end ? DigitValue(*at) : 10;
    if (value > 9) return false;
    ++at;
    for (int more = 0; more < 2 && at != end && DigitValue(*at) <= 9; ++more) {
      value = value * 10 + DigitValue(*at++);
    }
    if (value > 255) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return at == end;
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  const char lower = ToLowerAscii(c);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// IPv6 text: groups of 1..4 hex digits, at most one "::", an IPv4 tail allowed; a zone
// ("%eth0") is not an address of the log's clients and is refused.
bool ParseIpv6(std::string_view text, uint8_t* out) {
  uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // where "::" stands, in groups
  size_t at = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    at = 2;
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (at < text.size()) {
    if (count == 8) return false;
    // An IPv4 tail takes the last two groups.
    const size_t next_colon = text.find(':', at);
    const std::string_view piece = text.substr(at, next_colon - at);
    if (next_colon == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      uint8_t v4[4];
      if (count > 6 || !ParseIpv4(piece, v4)) return false;
      groups[count++] = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
      at = text.size();
      break;
    }
    if (piece.empty() || piece.size() > 4) return false;
    unsigned value = 0;
    for (char c : piece) {
      const int digit = HexValue(c);
      if (digit < 0) return false;
      value = value << 4 | static_cast<unsigned>(digit);
    }
    groups[count++] = static_cast<uint16_t>(value);
    at += piece.size();
    if (at == text.size()) break;
    ++at;  // the colon
    if (at < text.size() && text[at] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++at;
    } else if (at == text.size()) {
      return false;  // a single trailing colon
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  uint16_t full[8] = {};
  if (gap < 0) {
    std::memcpy(full, groups, sizeof full);
  } else {
    const int tail = count - gap;
    for (int i = 0; i < gap; ++i) full[i] = groups[i];
    for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[gap + i];
  }
  for (int i = 0; i < 8; ++i) {
    out[2 * i] = static_cast<uint8_t>(full[i] >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(full[i] & 0xFF);
  }
  return true;
}

bool ParseAddress(std::string_view text, Address& address) {
  if (ParseIpv4(text, address.bytes.data())) {
    address.v6 = false;
    return true;
  }
  address.v6 = true;
  return text.find(':') != std::string_view::npos && ParseIpv6(text, address.bytes.data());
}

// An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d) is treated as that address.
bool IsMappedIpv4(const Address& a) {
  static constexpr uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return a.v6 && std::memcmp(a.bytes.data(), kPrefix, sizeof kPrefix) == 0;
}

// The address part of an X-Forwarded-For item: blanks and quotes trimmed, a port dropped
// ("192.0.2.1:8080", "[2001:db8::1]:443").
std::string_view AddressPart(std::string_view item) {
  while (!item.empty() && (IsBlank(item.front()) || item.front() == '"')) item.remove_prefix(1);
  while (!item.empty() && (IsBlank(item.back()) || item.back() == '"')) item.remove_suffix(1);
  if (!item.empty() && item.front() == '[') {
    const size_t close = item.find(']');
    return close == std::string_view::npos ? item : item.substr(1, close - 1);
  }
  const size_t colon = item.find(':');
  if (colon != std::string_view::npos && item.find(':', colon + 1) == std::string_view::npos) {
    return item.substr(0, colon);
  }
  return item;
}

// Calls `visit(address_text)` for every item of the list, left to right, until it returns
// true.
template <typename Visit>
void EachForwarded(std::string_view list, Visit visit) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    if (visit(AddressPart(item))) return;
    if (comma == std::string_view::npos) return;
    list.remove_prefix(comma + 1);
  }
}

// ---- Private ranges -------------------------------------------------------------------------

struct Range {
  uint8_t prefix[4];
  int bits;
};
// Private (RFC 1918), shared (RFC 6598), loopback, link-local and "this network".
constexpr Range kInternalIpv4[] = {
    {{10, 0, 0, 0}, 8},  {{172, 16, 0, 0}, 12},  {{192, 168, 0, 0}, 16}, {{100, 64, 0, 0}, 10},
    {{127, 0, 0, 0}, 8}, {{169, 254, 0, 0}, 16}, {{0, 0, 0, 0}, 8}};

bool InPrefix(const uint8_t* bytes, const uint8_t* prefix, int bits) {
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const uint8_t mask = bits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - bits));
    if ((bytes[i] & mask) != (prefix[i] & mask)) return false;
  }
  return true;
}

bool IsInternal(const Address& a) {
  if (!a.v6 || IsMappedIpv4(a)) {
    const uint8_t* v4 = a.v6 ? a.bytes.data() + 12 : a.bytes.data();
    for (const Range& range : kInternalIpv4) {
      if (InPrefix(v4, range.prefix, range.bits)) return true;
    }
    return false;
  }
  static constexpr uint8_t kUnique[1] = {0xFC};           // fc00::/7
  static constexpr uint8_t kLinkLocal[2] = {0xFE, 0x80};  // fe80::/10
  if (InPrefix(a.bytes.data(), kUnique, 7) || InPrefix(a.bytes.data(), kLinkLocal, 10)) {
    return true;
  }
  // :: and ::1
  for (int i = 0; i < 15; ++i) {
    if (a.bytes[static_cast<size_t>(i)] != 0) return false;
  }
  return a.bytes[15] <= 1;
}

// ---- Writing addresses ------------------------------------------------------------------------

// Address texts are put together in a fixed buffer and appended in one piece: an IPv6
// text is at most 39 characters, "::ffff:" and a dotted quad 22.
struct AddressText {
  char data[48];
  size_t size = 0;
  void Add(char c) { data[size++] = c; }
};

void AddDecimalByte(AddressText& out, uint8_t value) {
  if (value >= 100) out.Add(static_cast<char>('0' + value / 100));
  if (value >= 10) out.Add(static_cast<char>('0' + value / 10 % 10));
  out.Add(static_cast<char>('0' + value % 10));
}

AddressText Ipv4Text(const uint8_t* v4, bool mapped = false) {
  AddressText text;
  if (mapped) {
    for (char c : std::string_view("::ffff:")) text.Add(c);
  }
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text.Add('.');
    AddDecimalByte(text, v4[i]);
  }
  return text;
}

constexpr char kHex[] = "0123456789abcdef";

// Two hex digits of every byte value, first digit first.
constexpr std::array<uint16_t, 256> kHexPairs = [] {
  std::array<uint16_t, 256> pairs{};
  for (unsigned i = 0; i < 256; ++i) {
    pairs[i] = static_cast<uint16_t>(static_cast<unsigned char>(kHex[i >> 4]) |
                                     static_cast<unsigned char>(kHex[i & 0xF]) << 8);
  }
  return pairs;
}();

// The hex digits of a group without leading zeros, appended to `text`: all four digits are
// stored in one piece, shifted past the leading zeros (a hashed address has eight groups,
// and every entry's client is one).
[[gnu::always_inline]] inline void AddHexGroup(AddressText& text, unsigned group) {
  const int leading = group == 0 ? 3 : (std::countl_zero(static_cast<uint16_t>(group)) >> 2);
  if constexpr (std::endian::native == std::endian::little) {
    const uint32_t digits =
        kHexPairs[group >> 8 & 0xFF] | static_cast<uint32_t>(kHexPairs[group & 0xFF]) << 16;
    const uint32_t shifted = digits >> (8 * leading);
    std::memcpy(text.data + text.size, &shifted, sizeof shifted);  // first digit first
    text.size += static_cast<size_t>(4 - leading);
  } else {
    for (int shift = 4 * (3 - leading); shift >= 0; shift -= 4)
      text.Add(kHex[group >> shift & 0xF]);
  }
}

// RFC 5952: lower case, no leading zeros, the longest run of two or more zero groups as "::".
AddressText Ipv6Text(const uint8_t* bytes) {
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i)
    groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  int best = -1;
  int best_length = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > best_length) {
      best = i;
      best_length = end - i;
    }
    i = end;
  }
  AddressText text;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      text.Add(':');
      text.Add(':');
      i += best_length - 1;
      continue;
    }
    if (i > 0 && i != best + best_length) text.Add(':');
    AddHexGroup(text, groups[i]);
  }
  return text;
}

// ---- The keyed hash -------------------------------------------------------------------------

constexpr uint64_t Rotl(uint64_t x, int b) {
  return x << b | x >> (64 - b);
}

[[gnu::always_inline]] inline void SipRound(uint64_t& v0, uint64_t& v1, uint64_t& v2,
                                            uint64_t& v3) {
  v0 += v1;
  v1 = Rotl(v1, 13);
  v1 ^= v0;
  v0 = Rotl(v0, 32);
  v2 += v3;
  v3 = Rotl(v3, 16);
  v3 ^= v2;
  v0 += v3;
  v3 = Rotl(v3, 21);
  v3 ^= v0;
  v2 += v1;
  v1 = Rotl(v1, 17);
  v1 ^= v2;
  v2 = Rotl(v2, 32);
}

uint64_t LoadLittle(const unsigned char* p, size_t n) {
  uint64_t value = 0;
  for (size_t i = 0; i < n; ++i) value |= uint64_t{p[i]} << (8 * i);
  return value;
}

// SipHash-2-4's state under one key.
struct SipState {
  uint64_t v0, v1, v2, v3;
  explicit SipState(const HashKey& key)
      : v0(0x736f6d6570736575ull ^ key.k0),
        v1(0x646f72616e646f6dull ^ key.k1),
        v2(0x6c7967656e657261ull ^ key.k0),
        v3(0x7465646279746573ull ^ key.k1) {}
  void Rounds(int count) {
    for (int i = 0; i < count; ++i) SipRound(v0, v1, v2, v3);
  }
  void Absorb(uint64_t m) {
    v3 ^= m;
    Rounds(2);
    v0 ^= m;
  }
  uint64_t Finish() {
    v2 ^= 0xFF;
    Rounds(4);
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

// The eight hex digits of `v`, the first digit in the lowest byte (text order in memory on a
// little-endian machine): each nibble spread into a byte of its own, then made a digit.
uint64_t HexDigits8(uint32_t v) {
  uint64_t x = v;
  x = (x | x << 16) & 0x0000FFFF0000FFFFull;
  x = (x | x << 8) & 0x00FF00FF00FF00FFull;
  x = (x | x << 4) & 0x0F0F0F0F0F0F0F0Full;  // byte i: nibble i, from the least significant
  const uint64_t letters = ((x + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
  x += 0x3030303030303030ull + letters * ('a' - '0' - 10);
  return __builtin_bswap64(x);
}

// Feeds `data` and its length to every one of `states` (SipHash-2-4's message words); the
// chains are independent, so several run side by side.
template <typename... States>
void SipAbsorb(std::string_view data, States&... states) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const size_t whole = data.size() / 8 * 8;
  for (size_t i = 0; i < whole; i += 8) {
    const uint64_t m = LoadLittle(p + i, 8);
    (states.Absorb(m), ...);
  }
  const uint64_t last = LoadLittle(p + whole, data.size() - whole) | uint64_t{data.size()} << 56;
  (states.Absorb(last), ...);
}

// SipHash-2-4 of `data` under two keys at once.
struct HashPair {
  uint64_t high;
  uint64_t low;
};
HashPair SipHashPair(const HashKey& key, const HashKey& second, std::string_view data) {
  SipState one(key);
  SipState two(second);
  SipAbsorb(data, one, two);
  return HashPair{one.Finish(), two.Finish()};
}

// A hashed address: fd00::/8 (unique local), the other 120 bits from the hash of the
// address's bytes under two keys drawn from `key`, so that every address of a log keeps a
// name of its own and no reader can tell the address without the key.
AddressText HashedAddressText(const Address& a, const HashKey& key) {
  const std::string_view bytes(reinterpret_cast<const char*>(a.bytes.data()), a.v6 ? 16 : 4);
  auto [high, low] = SipHashPair(key, HashKey{key.k0 ^ 0x5C5C5C5C5C5C5C5Cull, key.k1}, bytes);
  high = (high & 0x00FFFFFFFFFFFFFFull) | 0xFD00000000000000ull;
  // Almost every hash has no zero group, so no "::" to place: its groups are written in turn,
  // their digits made eight at a time.
  constexpr uint64_t kLaneLow = 0x0001000100010001ull;
  constexpr uint64_t kLaneHigh = 0x8000800080008000ull;
  const auto has_zero_group = [&](uint64_t x) { return ((x - kLaneLow) & ~x & kLaneHigh) != 0; };
  if (std::endian::native != std::endian::little || has_zero_group(high) || has_zero_group(low)) {
    uint8_t hashed[16];
    for (int i = 0; i < 8; ++i) {
      hashed[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
      hashed[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
    }
    return Ipv6Text(hashed);
  }
  char digits[40] = {};  // 32 digits, and room for the last group's four-byte copy
  const uint64_t words[4] = {
      HexDigits8(static_cast<uint32_t>(high >> 32)), HexDigits8(static_cast<uint32_t>(high)),
      HexDigits8(static_cast<uint32_t>(low >> 32)), HexDigits8(static_cast<uint32_t>(low))};
  std::memcpy(digits, words, sizeof words);
  AddressText text;
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    const uint64_t half = i < 4 ? high : low;
    const auto group = static_cast<uint16_t>(half >> (48 - 16 * (i % 4)));
    const int leading = std::countl_zero(group) >> 2;
    std::memcpy(text.data + text.size, digits + 4 * i + leading, 4);
    text.size += static_cast<size_t>(4 - leading);
    text.data[text.size++] = ':';
  }
  --text.size;  // no colon after the last group
  return text;
}

void Append(std::string& out, const AddressText& text) {
  out.append(text.data, text.size);
}

// A text that is no address (a host name a server looked up): masking keeps its domain
// without the host's own label; "-" when it has no domain.
void AppendMaskedName(std::string_view name, std::string& out) {
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos || dot + 1 == name.size()) {
    out += '-';
  } else {
    out.append(name.substr(dot + 1));
  }
}

// Points `field` at `text`, which stays put until the scratch string changes.
void SetField(EntryText& field, std::string& text) {
  field = EntryText{text.data(), static_cast<int32_t>(text.size())};
}

}  // namespace

uint64_t SipHash24(const HashKey& key, std::string_view data) {
  SipState state(key);
  SipAbsorb(data, state);
  return state.Finish();
}

HashKey HashKeyFrom(std::string_view key_file_bytes) {
  // Every byte of the file counts, whatever its length or form (raw bytes, hex text).
  constexpr HashKey kFirst{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull};
  constexpr HashKey kSecond{0x243F6A8885A308D3ull, 0x13198A2E03707344ull};
  return HashKey{SipHash24(kFirst, key_file_bytes), SipHash24(kSecond, key_file_bytes)};
}

std::string_view ForwardedClient(std::string_view forwarded_for) {
  std::string_view first;
  std::string_view outside;
  EachForwarded(forwarded_for, [&](std::string_view text) {
    Address address;
    if (!ParseAddress(text, address)) return false;
    if (first.empty()) first = text;
    if (IsInternal(address)) return false;
    outside = text;
    return true;
  });
  return outside.empty() ? first : outside;
}

bool AppendAnonymized(std::string_view text, Anonymize mode, const HashKey& key, std::string& out) {
  Address address;
  if (!ParseAddress(text, address)) {
    if (mode != Anonymize::HASH) return false;
    // A host name is hashed by its text, so that it too keeps one name.
    Address named;
    const auto [high, low] = SipHashPair(key, HashKey{key.k1, key.k0}, text);
    for (int i = 0; i < 8; ++i) {
      named.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(high >> (8 * i));
      named.bytes[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(low >> (8 * i));
    }
    named.v6 = true;
    Append(out, HashedAddressText(named, key));
    return true;
  }
  if (mode == Anonymize::HASH) {
    Append(out, HashedAddressText(address, key));
    return true;
  }
  const int level = static_cast<int>(mode);  // 1, 2 or 3
  const bool v4 = !address.v6 || IsMappedIpv4(address);
  uint8_t* bytes = address.bytes.data() + (address.v6 && v4 ? 12 : 0);
  // IPv4 keeps 32 - 8 * level bits; IPv6 keeps 64, 48 or 32.
  const int kept = v4 ? 32 - 8 * level : 64 - 16 * (level - 1);
  const int total = v4 ? 32 : 128;
  for (int bit = kept; bit < total; bit += 8) bytes[bit / 8] = 0;
  Append(out, v4 ? Ipv4Text(bytes, address.v6) : Ipv6Text(bytes));
  return true;
}

namespace {

// The table of recently hashed dotted quads has 2^kHashedQuadBits slots: some 11 KB per input.
constexpr int kHashedQuadBits = 8;

// Rewrites a client that is the dotted quad `v4` into the scratch's fixed texts. The field
// points there until another client takes its place, after this entry has been written.
void RewriteDottedQuad(EntryText& field, const uint8_t* v4, const ClientRules& rules,
                       ClientScratch& scratch) {
  if (rules.anonymize != Anonymize::HASH) {
    // IPv4 keeps 32 - 8 * level bits.
    const int kept = 4 - static_cast<int>(rules.anonymize);
    uint8_t masked[4] = {};
    std::memcpy(masked, v4, static_cast<size_t>(kept));
    const AddressText text = Ipv4Text(masked);
    std::memcpy(scratch.quad_text.data(), text.data, text.size);
    scratch.quad_text[text.size] = '\0';  // field texts end in a NUL, as the line's own do
    field = EntryText{scratch.quad_text.data(), static_cast<int32_t>(text.size)};
    return;
  }
  uint32_t address = 0;
  std::memcpy(&address, v4, sizeof address);
  if (scratch.hashed_quads.empty()) scratch.hashed_quads.resize(size_t{1} << kHashedQuadBits);
  // The top bits of a multiplicative hash pick the slot.
  ClientScratch::HashedQuad& slot =
      scratch.hashed_quads[(address * 0x9E3779B1u) >> (32 - kHashedQuadBits)];
  if (slot.size == 0 || slot.address != address) {
    Address whole;
    std::memcpy(whole.bytes.data(), v4, 4);
    const AddressText text = HashedAddressText(whole, rules.key);
    std::memcpy(slot.text.data(), text.data, text.size);
    slot.text[text.size] = '\0';
    slot.size = static_cast<uint8_t>(text.size);
    slot.address = address;
  }
  field = EntryText{slot.text.data(), slot.size};
}

}  // namespace

void RewriteClient(LogEntry& entry, const ClientRules& rules, ClientScratch& scratch) {
  const auto text = [](const EntryText& field) {
    return field.text != nullptr ? std::string_view(field.text, static_cast<size_t>(field.length))
                                 : std::string_view();
  };
  if (rules.source == ClientSource::FORWARDED && entry.forwarded_for.length > 0) {
    const std::string_view chosen = ForwardedClient(text(entry.forwarded_for));
    if (!chosen.empty()) {
      scratch.client.assign(chosen);
      SetField(entry.client_host, scratch.client);
    }
  }
  if (rules.anonymize == Anonymize::NONE) return;
  if (entry.client_host.length > 0) {
    const std::string_view client = text(entry.client_host);
    uint8_t v4[4];
    if (ParseIpv4(client, v4)) {
      RewriteDottedQuad(entry.client_host, v4, rules, scratch);
    } else {
      if (client != scratch.last_client) {
        scratch.last_client.assign(client);
        scratch.last_anonymized.clear();
        if (!AppendAnonymized(client, rules.anonymize, rules.key, scratch.last_anonymized)) {
          AppendMaskedName(client, scratch.last_anonymized);
        }
      }
      // The remembered result stays put until the next client differs, after this entry
      // has been written.
      SetField(entry.client_host, scratch.last_anonymized);
    }
  }
  if (entry.forwarded_for.length > 0) {
    std::string& out = scratch.forwarded;
    out.clear();
    EachForwarded(text(entry.forwarded_for), [&](std::string_view item) {
      if (!out.empty()) out += ", ";
      if (!AppendAnonymized(item, rules.anonymize, rules.key, out)) AppendMaskedName(item, out);
      return false;
    });
    SetField(entry.forwarded_for, scratch.forwarded);
  }
}
