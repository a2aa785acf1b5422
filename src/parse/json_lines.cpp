// JSON-lines access logs through simdjson's on-demand parser.
//
// The line is copied into a padded buffer (the parser reads up to SIMDJSON_PADDING bytes past
// the end, and the line sits inside the input's window), the object is walked once, and each
// key path that the table knows is captured. Only when the object is accepted are the values
// written back into the line, each where its quoted form stood: an unescaped value is never
// longer than its quoted form, so it always fits with its NUL.

#include "parse/json_lines.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/check.h"
#include "base/text.h"
#include "entries/zone_shift.h"
#include "parse/format_tokens.h"
#include "parse/line_ends.h"
#include "parse/record_fields.h"

namespace {

namespace od = simdjson::ondemand;

constexpr const char* MODULE = "ParseLogs";

// What a key's value becomes.
enum class Target : uint8_t {
  TIME,
  CLIENT,
  CLIENT_WITH_PORT,  // "address:port": the port is dropped
  USER,
  REQUEST,  // "METHOD uri PROTOCOL"
  METHOD,
  URI,  // split at '?' into uri and query
  QUERY,
  PROTOCOL,
  STATUS,
  BYTES,
  DURATION,
  REFERER,
  AGENT,
  DOMAIN,
  COOKIE,
  FORWARDED_FOR,
  LOGGER,  // Caddy: the logger that wrote the object
  COUNT,
};
constexpr size_t kTargetCount = static_cast<size_t>(Target::COUNT);

// The unit of a duration; AUTO is "duration", seconds in Caddy's objects and milliseconds in
// Envoy's (told apart by Envoy's start_time key).
enum class Unit : uint8_t { NONE, SECONDS, MILLISECONDS, MICROSECONDS, NANOSECONDS, AUTO };

struct KeyRow {
  std::string_view path;  // nested objects joined by '.', an array element as "[0]"
  Target target;
  Unit unit;
  uint8_t rank;  // where several keys give one field, the lowest rank wins
};

// The presets, recognised by the keys themselves: nginx escape=json (its variable names),
// Caddy, Traefik, Envoy (its documented JSON keys), Google Cloud (httpRequest) and this
// program's own JSON-lines output.
constexpr KeyRow kPresetKeys[] = {
    // Time: the start of the request before the time the line was written.
    {"StartUTC", Target::TIME, Unit::NONE, 0},
    {"start_time", Target::TIME, Unit::NONE, 0},
    {"timestamp", Target::TIME, Unit::NONE, 1},
    {"ts", Target::TIME, Unit::NONE, 1},
    {"time_iso8601", Target::TIME, Unit::NONE, 1},
    {"time_local", Target::TIME, Unit::NONE, 2},
    {"msec", Target::TIME, Unit::NONE, 2},
    {"time", Target::TIME, Unit::NONE, 3},
    {"@timestamp", Target::TIME, Unit::NONE, 3},
    {"StartLocal", Target::TIME, Unit::NONE, 4},
    // Client.
    {"remote_addr", Target::CLIENT, Unit::NONE, 1},
    {"client", Target::CLIENT, Unit::NONE, 1},
    {"ClientHost", Target::CLIENT, Unit::NONE, 1},
    {"request.client_ip", Target::CLIENT, Unit::NONE, 0},
    {"request.remote_ip", Target::CLIENT, Unit::NONE, 1},
    {"httpRequest.remoteIp", Target::CLIENT, Unit::NONE, 1},
    {"downstream_remote_address", Target::CLIENT_WITH_PORT, Unit::NONE, 2},
    // User.
    {"remote_user", Target::USER, Unit::NONE, 1},
    {"user", Target::USER, Unit::NONE, 1},
    {"user_id", Target::USER, Unit::NONE, 1},
    {"ClientUsername", Target::USER, Unit::NONE, 1},
    // Request.
    {"request", Target::REQUEST, Unit::NONE, 2},
    {"request_method", Target::METHOD, Unit::NONE, 1},
    {"method", Target::METHOD, Unit::NONE, 1},
    {"request.method", Target::METHOD, Unit::NONE, 1},
    {"RequestMethod", Target::METHOD, Unit::NONE, 1},
    {"httpRequest.requestMethod", Target::METHOD, Unit::NONE, 1},
    {"request_uri", Target::URI, Unit::NONE, 1},
    {"uri", Target::URI, Unit::NONE, 2},
    {"path", Target::URI, Unit::NONE, 1},
    {"request.uri", Target::URI, Unit::NONE, 1},
    {"RequestPath", Target::URI, Unit::NONE, 1},
    {"httpRequest.requestUrl", Target::URI, Unit::NONE, 1},
    {"query", Target::QUERY, Unit::NONE, 0},
    {"args", Target::QUERY, Unit::NONE, 1},
    {"server_protocol", Target::PROTOCOL, Unit::NONE, 1},
    {"protocol", Target::PROTOCOL, Unit::NONE, 1},
    {"request.proto", Target::PROTOCOL, Unit::NONE, 1},
    {"RequestProtocol", Target::PROTOCOL, Unit::NONE, 1},
    {"httpRequest.protocol", Target::PROTOCOL, Unit::NONE, 1},
    // Response.
    {"status", Target::STATUS, Unit::NONE, 1},
    {"DownstreamStatus", Target::STATUS, Unit::NONE, 1},
    {"response_code", Target::STATUS, Unit::NONE, 1},
    {"httpRequest.status", Target::STATUS, Unit::NONE, 1},
    {"body_bytes_sent", Target::BYTES, Unit::NONE, 1},
    {"bytes_sent", Target::BYTES, Unit::NONE, 2},
    {"bytes", Target::BYTES, Unit::NONE, 1},
    {"size", Target::BYTES, Unit::NONE, 1},
    {"DownstreamContentSize", Target::BYTES, Unit::NONE, 1},
    {"httpRequest.responseSize", Target::BYTES, Unit::NONE, 1},
    {"request_time", Target::DURATION, Unit::SECONDS, 1},
    {"duration_ms", Target::DURATION, Unit::MILLISECONDS, 1},
    {"Duration", Target::DURATION, Unit::NANOSECONDS, 1},
    {"duration", Target::DURATION, Unit::AUTO, 1},
    {"httpRequest.latency", Target::DURATION, Unit::SECONDS, 1},
    // Headers.
    {"http_referer", Target::REFERER, Unit::NONE, 1},
    {"http_referrer", Target::REFERER, Unit::NONE, 1},
    {"referer", Target::REFERER, Unit::NONE, 1},
    {"request_Referer", Target::REFERER, Unit::NONE, 1},
    {"request.headers.Referer[0]", Target::REFERER, Unit::NONE, 1},
    {"httpRequest.referer", Target::REFERER, Unit::NONE, 1},
    {"http_user_agent", Target::AGENT, Unit::NONE, 1},
    {"agent", Target::AGENT, Unit::NONE, 1},
    {"user_agent", Target::AGENT, Unit::NONE, 1},
    {"request_User-Agent", Target::AGENT, Unit::NONE, 1},
    {"request.headers.User-Agent[0]", Target::AGENT, Unit::NONE, 1},
    {"httpRequest.userAgent", Target::AGENT, Unit::NONE, 1},
    {"host", Target::DOMAIN, Unit::NONE, 1},
    {"server_name", Target::DOMAIN, Unit::NONE, 2},
    {"vhost", Target::DOMAIN, Unit::NONE, 1},
    {"authority", Target::DOMAIN, Unit::NONE, 1},
    {"request.host", Target::DOMAIN, Unit::NONE, 1},
    {"RequestHost", Target::DOMAIN, Unit::NONE, 1},
    {"cookie", Target::COOKIE, Unit::NONE, 1},
    {"http_cookie", Target::COOKIE, Unit::NONE, 1},
    {"http_x_forwarded_for", Target::FORWARDED_FOR, Unit::NONE, 1},
    {"x_forwarded_for", Target::FORWARDED_FOR, Unit::NONE, 1},
    {"request_X-Forwarded-For", Target::FORWARDED_FOR, Unit::NONE, 1},
    {"request.headers.X-Forwarded-For[0]", Target::FORWARDED_FOR, Unit::NONE, 1},
    {"logger", Target::LOGGER, Unit::NONE, 1},
};

// ---- Key table -------------------------------------------------------------------------------
// An open-addressed hash of every key path and of every object or array that leads to one,
// built once. A lookup hashes the path and compares one or two names.

constexpr uint32_t kHashSeed = 2166136261u;

uint32_t HashBytes(uint32_t hash, std::string_view bytes) {
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

constexpr int16_t kNoRow = -1;

struct KeySlot {
  std::string_view path;  // empty: the slot is free
  int16_t row = kNoRow;   // the key's row; kNoRow when the path only leads on
  bool leads_on = false;  // an object or array on the way to a key (Caddy's "request" is
                          //   both: nginx's request line and Caddy's request object)
};

class KeyTable {
 public:
  // Adds the row's path and the paths that lead to it. False, adding nothing, when they
  // could fill the table past half its slots: a lookup must always meet a free slot, and
  // soon.
  bool Add(const KeyRow& row) {
    const auto parts =
        static_cast<size_t>(1 + std::count_if(row.path.begin(), row.path.end(),
                                              [](char c) { return c == '.' || c == '['; }));
    if (used_ + parts > kSlots / 2) return false;
    rows_.push_back(row);
    Insert(row.path, static_cast<int16_t>(rows_.size() - 1), false);
    for (size_t i = 0; i < row.path.size(); ++i) {
      if (row.path[i] == '.' || row.path[i] == '[') Insert(row.path.substr(0, i), kNoRow, true);
    }
    return true;
  }

  // The slot of `path`, or null when the table does not know it.
  const KeySlot* Find(std::string_view path, uint32_t hash) const {
    if (rows_.empty()) return nullptr;
    for (size_t i = hash & kMask;; i = (i + 1) & kMask) {
      const KeySlot& slot = slots_[i];
      if (slot.path.empty()) return nullptr;
      if (slot.path == path) return &slot;
    }
  }

  const KeyRow& Row(int index) const { return rows_[static_cast<size_t>(index)]; }

 private:
  static constexpr size_t kSlots = 1024;
  static constexpr size_t kMask = kSlots - 1;

  void Insert(std::string_view path, int16_t row, bool leads_on) {
    for (size_t i = HashBytes(kHashSeed, path) & kMask;; i = (i + 1) & kMask) {
      KeySlot& slot = slots_[i];
      if (slot.path.empty()) {
        slot.path = path;
        ++used_;
      }
      if (slot.path == path) {
        if (row != kNoRow) slot.row = row;
        slot.leads_on = slot.leads_on || leads_on;
        return;
      }
    }
  }

  std::vector<KeyRow> rows_;
  std::array<KeySlot, kSlots> slots_{};
  size_t used_ = 0;  // slots taken
};

const KeyTable& PresetTable() {
  static const KeyTable table = [] {
    KeyTable t;
    for (const KeyRow& row : kPresetKeys) {
      const bool added = t.Add(row);
      STITCHER_CHECK(MODULE, added);
    }
    return t;
  }();
  return table;
}

}  // namespace

// The user's mapping: its own rows, whose paths it owns.
struct JsonFieldMapping {
  std::vector<std::unique_ptr<std::string>> paths;
  KeyTable table;
};

namespace {

// ---- Capturing while the object is walked ---------------------------------------------------

// A value as found: its text (unescaped, in the parser's buffer or the padded copy) and the
// offset of its quoted form in the line.
struct Captured {
  std::string_view text;
  std::string_view key;  // the key path that gave it
  int32_t offset = -1;   // -1: not found
  uint8_t rank = 0;
  Unit unit = Unit::NONE;
  bool is_string = false;
};

struct Walk {
  const char* copy;  // the padded copy the parser reads
  const KeyTable* user;
  const KeyTable& presets;
  std::array<Captured, kTargetCount> found{};
  char path[256] = {};  // the path of a nested key, built as the walk descends
  size_t path_length = 0;
  std::string_view current = {};  // the path of the key being looked at
  int depth = 0;
};

constexpr int kMaxDepth = 16;

// The key of a field as written (its escapes left alone): keys in the table have none.
std::string_view RawKey(od::field& field) {
  const char* const start = field.key().raw();
  const char* p = start;
  while (*p != '"') p += *p == '\\' ? 2 : 1;
  return {start, static_cast<size_t>(p - start)};
}

// The value's text: a string unescaped, any other scalar as written; null and empty are
// absent. False on a parse error.
bool ValueText(Walk& w, od::value& value, Captured& out) {
  const std::string_view raw = value.raw_json_token();
  out.offset = static_cast<int32_t>(raw.data() - w.copy);
  od::json_type type;
  if (value.type().get(type)) return false;
  if (type == od::json_type::string) {
    std::string_view text;
    if (value.get_string().get(text)) return false;
    out.text = text;
    out.is_string = true;
    return true;
  }
  if (type == od::json_type::null) {
    out.offset = -1;
    return true;
  }
  // Numbers and booleans: their token, without the blanks the token view runs on with.
  size_t length = 0;
  while (length < raw.size() && raw[length] != ',' && raw[length] != '}' && raw[length] != ']' &&
         !IsBlank(raw[length]) && raw[length] != '\r' && raw[length] != '\n') {
    ++length;
  }
  out.text = raw.substr(0, length);
  out.is_string = false;
  return true;
}

bool WalkValue(Walk& w, od::value value, uint32_t hash);
bool WalkObject(Walk& w, od::object object, uint32_t hash, size_t base);

// The row for the current path: the user's mapping first (rank 0, so it wins over every
// preset key for its field), then the presets. Sets *leads_on when the path is an object or
// array on the way to a known key.
const KeyRow* FindRow(const Walk& w, uint32_t hash, bool* leads_on, uint8_t* rank) {
  const std::string_view path = w.current;
  *leads_on = false;
  const KeySlot* user = w.user != nullptr ? w.user->Find(path, hash) : nullptr;
  const KeySlot* preset = w.presets.Find(path, hash);
  *leads_on = (user != nullptr && user->leads_on) || (preset != nullptr && preset->leads_on);
  if (user != nullptr && user->row != kNoRow) {
    *rank = 0;
    return &w.user->Row(user->row);
  }
  if (preset == nullptr || preset->row == kNoRow) return nullptr;
  const KeyRow& row = w.presets.Row(preset->row);
  *rank = static_cast<uint8_t>(row.rank + 1);
  return &row;
}

// Appends `part` to the path; false when the path would not fit (nothing of it is known).
bool PushPath(Walk& w, std::string_view part) {
  if (w.path_length + part.size() >= sizeof w.path) return false;
  std::memcpy(w.path + w.path_length, part.data(), part.size());
  w.path_length += part.size();
  return true;
}

// The keys of an object whose own path is the first `base` bytes of w.path (0: the root
// object, whose keys are looked up as they stand in the copy, without being copied).
bool WalkObject(Walk& w, od::object object, uint32_t hash, size_t base) {
  for (auto field_result : object) {
    od::field field;
    if (std::move(field_result).get(field)) return false;
    const std::string_view key = RawKey(field);
    uint32_t key_hash = hash;
    if (base == 0) {
      w.current = key;
    } else {
      key_hash = HashBytes(key_hash, ".");
      w.path_length = base;
      if (!PushPath(w, ".") || !PushPath(w, key)) continue;
      w.current = std::string_view(w.path, w.path_length);
    }
    key_hash = HashBytes(key_hash, key);
    if (!WalkValue(w, field.value(), key_hash)) return false;
  }
  return true;
}

bool WalkArray(Walk& w, od::array array, uint32_t hash, size_t base) {
  int index = 0;
  for (auto element : array) {
    od::value value;
    if (std::move(element).get(value)) return false;
    char part[16];
    const int n = std::snprintf(part, sizeof part, "[%d]", index++);
    const std::string_view index_text(part, static_cast<size_t>(n));
    w.path_length = base;
    if (!PushPath(w, index_text)) continue;
    w.current = std::string_view(w.path, w.path_length);
    if (!WalkValue(w, value, HashBytes(hash, index_text))) return false;
  }
  return true;
}

bool WalkValue(Walk& w, od::value value, uint32_t hash) {
  bool leads_on = false;
  uint8_t rank = 0;
  const KeyRow* row = FindRow(w, hash, &leads_on, &rank);
  if (row == nullptr && !leads_on) return true;  // skipped by the parser
  od::json_type type;
  if (value.type().get(type)) return false;
  const bool container = type == od::json_type::object || type == od::json_type::array;
  if (row != nullptr && !container) {
    Captured& slot = w.found[static_cast<size_t>(row->target)];
    if (slot.offset >= 0 && slot.rank <= rank) return true;  // a better key gave it
    Captured value_found;
    if (!ValueText(w, value, value_found)) return false;
    if (value_found.offset < 0) return true;  // null
    value_found.rank = rank;
    value_found.unit = row->unit;
    value_found.key = row->path;
    slot = value_found;
    return true;
  }
  if (!leads_on || !container || w.depth >= kMaxDepth) return true;
  // The container's path goes into the buffer, where its keys are appended.
  if (w.current.data() != w.path) {
    if (w.current.size() >= sizeof w.path) return true;
    std::memcpy(w.path, w.current.data(), w.current.size());
  }
  const size_t base = w.current.size();
  ++w.depth;
  bool ok = true;
  if (type == od::json_type::object) {
    od::object object;
    ok = !value.get_object().get(object) && WalkObject(w, object, hash, base);
  } else {
    od::array array;
    ok = !value.get_array().get(array) && WalkArray(w, array, hash, base);
  }
  --w.depth;
  return ok;
}

// ---- Reading values -------------------------------------------------------------------------

bool IsAbsentText(std::string_view text) {
  return text.empty() || text == "-";
}

// A whole non-negative decimal; false for anything else.
bool ReadCount(std::string_view text, int64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  int64_t v = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// A non-negative decimal with an optional fraction (and an optional unit letter 's' behind
// it, as Google writes "0.012s"), as a double; false for anything else.
bool ReadDecimalNumber(std::string_view text, double* value) {
  if (!text.empty() && text.back() == 's') text.remove_suffix(1);
  if (text.empty() || !IsDigit(text.front())) return false;
  double whole = 0;
  size_t i = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) whole = whole * 10 + (text[i] - '0');
  double fraction = 0;
  double scale = 1;
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      if (scale < 1e15) {
        fraction = fraction * 10 + (text[i] - '0');
        scale *= 10;
      }
    }
  }
  if (i != text.size()) return false;
  *value = whole + fraction / scale;
  return true;
}

int32_t DurationMilliseconds(double value, Unit unit) {
  double ms = value;
  switch (unit) {
    case Unit::SECONDS:
      ms = value * 1000;
      break;
    case Unit::MICROSECONDS:
      ms = value / 1000;
      break;
    case Unit::NANOSECONDS:
      ms = value / 1e6;
      break;
    default:
      break;
  }
  ms = std::round(ms);
  return ms >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(ms);
}

// Any of the three forms above, told apart by their fifth and third characters.
bool ReadTime(std::string_view text, LogEntry& e) {
  if (text.size() > 4 && text[4] == '-') return ReadIsoTime(text, e);
  if (text.size() >= 3 && text[2] == '/') return ReadClfTime(text, e);
  return ReadEpochTime(text, e);
}

// ---- Writing the values into the line --------------------------------------------------------

// Writes a captured text into the line where its quoted form stood, with a NUL behind it.
// After a UTF-8 repair a string written without escapes is taken from the line itself, so
// its bytes stay as the server wrote them.
char* Place(char* line, const Captured& c, bool repaired) {
  char* const out = line + c.offset;
  const size_t n = c.text.size();
  if (repaired && c.is_string && out[0] == '"' && std::memchr(out + 1, '\\', n) == nullptr &&
      out[n + 1] == '"') {
    std::memmove(out, out + 1, n);
    out[n] = '\0';
    return out;
  }
  std::memmove(out, c.text.data(), n);
  out[n] = '\0';
  // An escaped line break or NUL (\n, \r, \u0000) would split the merged log's line or cut
  // the field short: each becomes a space.
  if (c.is_string) {
    for (char* p = out; p < out + n; ++p) {
      if (*p == '\n' || *p == '\r' || *p == '\0') *p = ' ';
    }
  }
  return out;
}

// The field of a captured text placed in the line; absent for "", "-" or nothing.
EntryText PlacedText(char* line, const Captured& c, bool repaired) {
  if (c.offset < 0 || IsAbsentText(c.text)) return EntryText{};
  return TextAt(Place(line, c, repaired), c.text.size());
}

// ---- The per-thread parser --------------------------------------------------------------------

struct ThreadParser {
  od::parser parser;
  std::vector<char> copy;
};

ThreadParser& ParserOfThisThread() {
  thread_local ThreadParser parser;
  return parser;
}

// Replaces each byte of an invalid UTF-8 sequence by '?', so the rest of the object is read.
void RepairUtf8(char* text, size_t length) {
  size_t i = 0;
  while (i < length) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t need = c < 0x80           ? 0
                  : (c >> 5) == 0x6  ? 1
                  : (c >> 4) == 0xE  ? 2
                  : (c >> 3) == 0x1E ? 3
                                     : 99;
    if (need == 0) {
      ++i;
      continue;
    }
    bool ok = need != 99 && c != 0xC0 && c != 0xC1 && c < 0xF5;
    for (size_t k = 1; ok && k <= need; ++k) {
      ok = i + k < length && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (ok && need == 2) {
      const auto c1 = static_cast<unsigned char>(text[i + 1]);
      ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
    }
    if (ok && need == 3) {
      const auto c1 = static_cast<unsigned char>(text[i + 1]);
      ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
    }
    if (!ok) {
      text[i++] = '?';
      continue;
    }
    i += need + 1;
  }
}

// Walks the object in the copy; false for anything the parser refuses.
simdjson::error_code WalkCopy(ThreadParser& tp, size_t length, Walk& w) {
  od::document doc;
  if (auto error = tp.parser.iterate(tp.copy.data(), length, tp.copy.size()).get(doc)) return error;
  od::object object;
  if (auto error = doc.get_object().get(object)) return error;
  if (!WalkObject(w, object, kHashSeed, 0)) return simdjson::TAPE_ERROR;
  // Anything after the object but blanks makes the line no JSON entry: a location left to
  // read means a token follows.
  const char* rest = nullptr;
  if (doc.current_location().get(rest) == simdjson::SUCCESS) return simdjson::TRAILING_CONTENT;
  return simdjson::SUCCESS;
}

bool LoggerIsAccess(std::string_view logger) {
  return logger.starts_with("http.log.access");
}

}  // namespace

ParseResult ParseJsonLine(const ParseState& state, char* line, LogEntry& entry) {
  ResetEntry(entry);
  char* end = line;
  while (!IsLineEnd(*end)) ++end;
  const auto length = static_cast<size_t>(end - line);
  ThreadParser& tp = ParserOfThisThread();
  if (tp.copy.size() < length + simdjson::SIMDJSON_PADDING) {
    tp.copy.resize(length + simdjson::SIMDJSON_PADDING);
  }
  std::memcpy(tp.copy.data(), line, length);
  std::memset(tp.copy.data() + length, 0, simdjson::SIMDJSON_PADDING);

  Walk w{tp.copy.data(), state.json_fields != nullptr ? &state.json_fields->table : nullptr,
         PresetTable()};
  simdjson::error_code error = WalkCopy(tp, length, w);
  const bool repaired = error == simdjson::UTF8_ERROR;
  if (repaired) {
    RepairUtf8(tp.copy.data(), length);
    w.found = {};
    w.path_length = 0;
    w.depth = 0;
    error = WalkCopy(tp, length, w);
  }
  if (error != simdjson::SUCCESS) return PARSE_NO_MATCH;

  const auto at = [&w](Target t) -> Captured& { return w.found[static_cast<size_t>(t)]; };
  const Captured& logger = at(Target::LOGGER);
  const int32_t line_length = static_cast<int32_t>(PastLineEnd(end) - line);
  if (logger.offset >= 0 && !LoggerIsAccess(logger.text)) {
    entry.line_length = line_length;
    return PARSE_HEADER;
  }
  const Captured& time = at(Target::TIME);
  if (time.offset < 0 || !ReadTime(time.text, entry) || !DateIsValid(entry, state.year_limit) ||
      line_length == 0) {
    ResetEntry(entry);
    return PARSE_NO_MATCH;
  }

  // Numbers, read from the copy before any text is written into the line.
  int64_t number = 0;
  if (at(Target::STATUS).offset >= 0 && ReadCount(at(Target::STATUS).text, &number) &&
      number < 1000) {
    entry.status = static_cast<int32_t>(number);
  }
  if (at(Target::BYTES).offset >= 0 && ReadCount(at(Target::BYTES).text, &number)) {
    entry.bytes = number;
  }
  if (const Captured& d = at(Target::DURATION); d.offset >= 0) {
    double value = 0;
    if (ReadDecimalNumber(d.text, &value)) {
      Unit unit = d.unit;
      // Envoy writes its "duration" in milliseconds beside start_time; Caddy in seconds.
      if (unit == Unit::AUTO) unit = time.key == "start_time" ? Unit::MILLISECONDS : Unit::SECONDS;
      entry.transfer_time = DurationMilliseconds(value, unit);
    }
  }

  // Texts, each into the line where its quoted form stood. Numbers given where text is
  // expected are placed as written.
  const bool query_given = at(Target::QUERY).offset >= 0 && !IsAbsentText(at(Target::QUERY).text);
  entry.client_host = PlacedText(line, at(Target::CLIENT), repaired);
  if (entry.client_host.text == nullptr) {
    entry.client_host = WithoutPort(PlacedText(line, at(Target::CLIENT_WITH_PORT), repaired));
  }
  entry.user = PlacedText(line, at(Target::USER), repaired);
  entry.method = PlacedText(line, at(Target::METHOD), repaired);
  entry.protocol = PlacedText(line, at(Target::PROTOCOL), repaired);
  entry.query = PlacedText(line, at(Target::QUERY), repaired);
  SplitUri(PlacedText(line, at(Target::URI), repaired), entry, query_given);
  SplitRequest(PlacedText(line, at(Target::REQUEST), repaired), entry,
               query_given || entry.query.text != nullptr);
  entry.referer = PlacedText(line, at(Target::REFERER), repaired);
  entry.agent = PlacedText(line, at(Target::AGENT), repaired);
  entry.domain = PlacedText(line, at(Target::DOMAIN), repaired);
  entry.cookie = PlacedText(line, at(Target::COOKIE), repaired);
  entry.forwarded_for = PlacedText(line, at(Target::FORWARDED_FOR), repaired);
  *end = '\0';
  entry.line_length = line_length;
  return PARSE_ENTRY;
}

// ---- User mapping ----------------------------------------------------------------------------

namespace {

struct FieldName {
  std::string_view name;
  Target target;
  Unit unit;
};

constexpr FieldName kFieldNames[] = {
    {"time", Target::TIME, Unit::NONE},
    {"client", Target::CLIENT, Unit::NONE},
    {"user", Target::USER, Unit::NONE},
    {"method", Target::METHOD, Unit::NONE},
    {"uri", Target::URI, Unit::NONE},
    {"query", Target::QUERY, Unit::NONE},
    {"request", Target::REQUEST, Unit::NONE},
    {"protocol", Target::PROTOCOL, Unit::NONE},
    {"status", Target::STATUS, Unit::NONE},
    {"bytes", Target::BYTES, Unit::NONE},
    {"duration_s", Target::DURATION, Unit::SECONDS},
    {"duration_ms", Target::DURATION, Unit::MILLISECONDS},
    {"duration_us", Target::DURATION, Unit::MICROSECONDS},
    {"duration_ns", Target::DURATION, Unit::NANOSECONDS},
    {"referer", Target::REFERER, Unit::NONE},
    {"agent", Target::AGENT, Unit::NONE},
    {"vhost", Target::DOMAIN, Unit::NONE},
    {"cookie", Target::COOKIE, Unit::NONE},
    {"forwarded_for", Target::FORWARDED_FOR, Unit::NONE},
};

// A key path: keys joined by '.', each key possibly followed by "[index]" parts.
bool PathIsValid(std::string_view path) {
  if (path.empty() || path.size() > 200) return false;
  bool key_started = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '.') {
      if (!key_started) return false;
      key_started = false;
    } else if (c == '[') {
      if (!key_started) return false;
      const size_t close = path.find(']', i);
      if (close == std::string_view::npos || close == i + 1) return false;
      for (size_t k = i + 1; k < close; ++k) {
        if (!IsDigit(path[k])) return false;
      }
      // "[007]" would never match the walk's "[7]".
      if (path[i + 1] == '0' && close > i + 2) return false;
      i = close;
      if (i + 1 < path.size() && path[i + 1] != '.' && path[i + 1] != '[') return false;
    } else if (c == ']' || c == '"' || c == '\\' || IsBlank(c)) {
      return false;
    } else {
      key_started = true;
    }
  }
  return key_started || path.back() == ']';
}

}  // namespace

bool AddJsonField(JsonFieldMapping*& mapping, std::string_view text, std::string& error) {
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    error = "expected <field>=<key path>, got '" + std::string(text) + "'";
    return false;
  }
  const std::string_view name = text.substr(0, equals);
  const std::string_view path = text.substr(equals + 1);
  const FieldName* field = nullptr;
  for (const FieldName& f : kFieldNames) {
    if (f.name == name) field = &f;
  }
  if (field == nullptr) {
    error = "unknown field '" + std::string(name) +
            "' (time, client, user, method, uri, query, request, protocol, status, bytes, "
            "duration_s, duration_ms, duration_us, duration_ns, referer, agent, vhost, cookie, "
            "forwarded_for)";
    return false;
  }
  if (!PathIsValid(path)) {
    error = "invalid key path '" + std::string(path) +
            "' (keys joined by '.', an array element as [index])";
    return false;
  }
  const bool created = mapping == nullptr;
  if (created) mapping = new JsonFieldMapping;
  mapping->paths.push_back(std::make_unique<std::string>(path));
  // Rank 0: the user's key wins over a preset key for the same field.
  if (!mapping->table.Add(KeyRow{*mapping->paths.back(), field->target, field->unit, 0})) {
    mapping->paths.pop_back();
    if (created) {
      delete mapping;
      mapping = nullptr;
    }
    error = "too many json-field key paths: '" + std::string(path) +
            "' does not fit beside the others (map fewer fields, or by shorter paths)";
    return false;
  }
  return true;
}

void FreeJsonFieldMapping(JsonFieldMapping* mapping) {
  delete mapping;
}
