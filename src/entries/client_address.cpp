#include "entries/client_address.h"

#include <cstring>

#include "base/text.h"

namespace {

// ---- Reading addresses --------------------------------------------------------------------

// An address in network byte order: IPv4 in the first four bytes, or IPv6.
struct Address {
  std::array<uint8_t, 16> bytes{};
  bool v6 = false;
};

// Dotted quad, each part 1..3 digits and at most 255.
bool ParseIpv4(std::string_view text, uint8_t* out) {
  int part = 0;
  size_t at = 0;
  for (; part < 4; ++part) {
    if (part > 0) {
      if (at == text.size() || text[at] != '.') return false;
      ++at;
    }
    int value = 0;
    size_t digits = 0;
    while (at < text.size() && IsDigit(text[at]) && digits < 3) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return at == text.size();
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

void AppendIpv4(std::string& out, const uint8_t* v4, bool mapped = false) {
  AddressText text;
  if (mapped) {
    for (char c : std::string_view("::ffff:")) text.Add(c);
  }
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text.Add('.');
    AddDecimalByte(text, v4[i]);
  }
  out.append(text.data, text.size);
}

constexpr char kHex[] = "0123456789abcdef";

// RFC 5952: lower case, no leading zeros, the longest run of two or more zero groups as "::".
void AppendIpv6(std::string& out, const uint8_t* bytes) {
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
    const unsigned group = groups[i];
    const int digits = group >= 0x1000 ? 4 : group >= 0x100 ? 3 : group >= 0x10 ? 2 : 1;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text.Add(kHex[group >> shift & 0xF]);
  }
  out.append(text.data, text.size);
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

// A hashed address: fd00::/8 (unique local), the other 120 bits from the hash of the
// address's bytes under two keys drawn from `key`, so that every address of a log keeps a
// name of its own and no reader can tell the address without the key.
void AppendHashedAddress(std::string& out, const Address& a, const HashKey& key) {
  const std::string_view bytes(reinterpret_cast<const char*>(a.bytes.data()), a.v6 ? 16 : 4);
  const uint64_t high = SipHash24(key, bytes);
  const uint64_t low = SipHash24(HashKey{key.k0 ^ 0x5C5C5C5C5C5C5C5Cull, key.k1}, bytes);
  uint8_t hashed[16];
  for (int i = 0; i < 8; ++i) {
    hashed[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
    hashed[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
  }
  hashed[0] = 0xFD;
  AppendIpv6(out, hashed);
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
  uint64_t v0 = 0x736f6d6570736575ull ^ key.k0;
  uint64_t v1 = 0x646f72616e646f6dull ^ key.k1;
  uint64_t v2 = 0x6c7967656e657261ull ^ key.k0;
  uint64_t v3 = 0x7465646279746573ull ^ key.k1;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const size_t whole = data.size() / 8 * 8;
  for (size_t i = 0; i < whole; i += 8) {
    const uint64_t m = LoadLittle(p + i, 8);
    v3 ^= m;
    SipRound(v0, v1, v2, v3);
    SipRound(v0, v1, v2, v3);
    v0 ^= m;
  }
  const uint64_t last = LoadLittle(p + whole, data.size() - whole) | uint64_t{data.size()} << 56;
  v3 ^= last;
  SipRound(v0, v1, v2, v3);
  SipRound(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  for (int i = 0; i < 4; ++i) SipRound(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
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
    const uint64_t high = SipHash24(key, text);
    const uint64_t low = SipHash24(HashKey{key.k1, key.k0}, text);
    for (int i = 0; i < 8; ++i) {
      named.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(high >> (8 * i));
      named.bytes[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(low >> (8 * i));
    }
    named.v6 = true;
    AppendHashedAddress(out, named, key);
    return true;
  }
  if (mode == Anonymize::HASH) {
    AppendHashedAddress(out, address, key);
    return true;
  }
  const int level = static_cast<int>(mode);  // 1, 2 or 3
  const bool v4 = !address.v6 || IsMappedIpv4(address);
  uint8_t* bytes = address.bytes.data() + (address.v6 && v4 ? 12 : 0);
  // IPv4 keeps 32 - 8 * level bits; IPv6 keeps 64, 48 or 32.
  const int kept = v4 ? 32 - 8 * level : 64 - 16 * (level - 1);
  const int total = v4 ? 32 : 128;
  for (int bit = kept; bit < total; bit += 8) bytes[bit / 8] = 0;
  if (v4) {
    AppendIpv4(out, bytes, address.v6);
  } else {
    AppendIpv6(out, bytes);
  }
  return true;
}

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
