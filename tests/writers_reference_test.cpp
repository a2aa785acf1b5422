// The line writers against a plain snprintf formatting of the same lines, over many random
// entries: random numbers (negative and extreme ones included), random present or absent
// texts of random lengths, every dialect, every newline style, and buffer sizes from a
// single byte up. Any difference in a digit, a padding, a placeholder or a shedding
// decision shows as a mismatch with the entry that caused it.

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "entries/log_entry.h"
#include "output/writers.h"

namespace {

// ---- The reference formatting ------------------------------------------------------------

using Kind = OutputFormat;

// A text field as the reference sees it: absent, or a string.
using Field = std::optional<std::string>;

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.resize(static_cast<size_t>(length));
  return text;
}

// The texts of one line, placeholders in place; `query` absent only on NCSA.
struct Texts {
  std::string host, domain, user, method, uri;
  Field query;
  std::string referer, agent, cookie;
  std::string protocol;  // NCSA only
  std::string prefix;    // vhost_combined: the virtual host and port before the NCSA line
};

const char* Month(int32_t month) {
  static const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  return month >= 1 && month <= 12 ? names[month - 1] : "???";
}

const char* Newline(NewlineStyle style) {
  switch (style) {
    case NewlineStyle::MAC:
      return "\r";
    case NewlineStyle::UNIX:
      return "\n";
    case NewlineStyle::DOS:
      return "\r\n";
  }
  return "\r";
}

// A status, byte count or transfer time: "-" when negative (absent).
std::string Number(long long value) {
  return value < 0 ? "-" : std::to_string(value);
}

bool NoRequest(const LogEntry& e) {
  const auto empty = [](const EntryText& t) { return t.text == nullptr || t.text[0] == '\0'; };
  return empty(e.method) && empty(e.uri);
}

// A quoted field as Apache writes it: \" for a quote, and a run of backslashes doubled
// when a quote (or, with `closer_follows`, the closing quote) comes right behind it.
std::string Backslashed(const std::string& text, bool closer_follows) {
  std::string out;
  size_t run = 0;
  for (char c : text) {
    if (c == '\\') {
      ++run;
      continue;
    }
    out.append(c == '"' ? 2 * run + 1 : run, '\\');
    run = 0;
    out += c;
  }
  out.append(closer_follows ? 2 * run : run, '\\');
  return out;
}

// A W3C string: "" for a quote.
std::string Doubled(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out;
}

// The line with every quoted field escaped; the shedding estimate counts the texts as they
// are.
std::string Whole(Kind kind, const LogEntry& e, Texts t, const char* end) {
  // An unquoted field that begins like a quoted one is written between double quotes; so is
  // a client or method that holds a comma.
  const auto quote_if = [kind](std::string& field, bool comma_too) {
    if (field.empty() || (std::string("\"<'`").find(field[0]) == std::string::npos &&
                          (!comma_too || field.find(',') == std::string::npos))) {
      return;
    }
    field = "\"" + (kind == Kind::W3C ? Doubled(field) : Backslashed(field, true)) + "\"";
  };
  quote_if(t.host, true);
  for (std::string* field : {&t.domain, &t.user}) quote_if(*field, false);
  if (kind != Kind::NCSA) {
    quote_if(t.method, true);
    quote_if(*t.query, false);
  }
  if (kind == Kind::WEBSTAR) {
    quote_if(t.agent, false);
    quote_if(t.referer, false);
  }
  if (kind == Kind::NCSA) {
    for (std::string* field : {&t.method, &t.uri}) *field = Backslashed(*field, false);
    if (t.query) *t.query = Backslashed(*t.query, false);
    t.protocol = Backslashed(t.protocol, true);
    for (std::string* field : {&t.referer, &t.agent}) *field = Backslashed(*field, true);
  } else if (kind == Kind::W3C) {
    for (std::string* field : {&t.agent, &t.cookie, &t.referer}) *field = Doubled(*field);
  } else {
    t.cookie = Backslashed(t.cookie, true);
  }
  const std::string status = Number(e.status);
  const std::string bytes = Number(e.bytes);
  switch (kind) {
    case Kind::NCSA: {
      const int32_t offset = e.utc_offset < 0 ? -e.utc_offset : e.utc_offset;
      const std::string request =
          NoRequest(e)
              ? "-"
              : t.method + " " + t.uri + (t.query ? "?" + *t.query : "") + " " + t.protocol;
      return t.prefix +
             Printf(
                 "%s %s %s [%02d/%s/%04d:%02d:%02d:%02d %c%02d%02d] \"%s\" %s %s \"%s\" \"%s\"%s",
                 t.host.c_str(), t.domain.c_str(), t.user.c_str(), e.day, Month(e.month), e.year,
                 e.hour, e.minute, e.second, e.utc_offset < 0 ? '-' : '+', offset / 60, offset % 60,
                 request.c_str(), status.c_str(), bytes.c_str(), t.referer.c_str(), t.agent.c_str(),
                 end);
    }
    case Kind::W3C:
      return Printf(
          "%04d-%02d-%02d %02d:%02d:%02d %s %s %s %s %s %s %s %s %s \"%s\" \"%s\" "
          "\"%s\"%s",
          e.year, e.month, e.day, e.hour, e.minute, e.second, t.host.c_str(), t.user.c_str(),
          t.method.c_str(), t.uri.c_str(), t.query->c_str(), status.c_str(), bytes.c_str(),
          Number(e.transfer_time < 0 ? -1 : e.transfer_time).c_str(), t.domain.c_str(),
          t.agent.c_str(), t.cookie.c_str(), t.referer.c_str(), end);
    case Kind::WEBSTAR:
      return Printf(
          "%02d/%02d/%04d\t%02d:%02d:%02d\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t"
          "\"%s\"\t%s%s",
          e.month, e.day, e.year, e.hour, e.minute, e.second, t.host.c_str(), t.user.c_str(),
          t.method.c_str(), t.uri.c_str(), t.query->c_str(), status.c_str(), bytes.c_str(),
          Number(e.transfer_time < 0 ? -1 : (e.transfer_time * 6LL + 50) / 100).c_str(),
          t.domain.c_str(), t.agent.c_str(), t.cookie.c_str(), t.referer.c_str(), end);
    default:
      break;
  }
  return "";
}

// ---- JSON lines, written independently: code points decoded and checked one by one ------

// The code point of the UTF-8 sequence at text[at] and its length; length 0 when the bytes
// there are no valid sequence.
std::pair<uint32_t, size_t> DecodeUtf8(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead >= 0xF8 || at + length > text.size()) return {0, 0};
  uint32_t point = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {0, 0};
    point = point << 6 | (byte(i) & 0x3F);
  }
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    return {0, 0};
  }
  return {point, length};
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      const size_t length = DecodeUtf8(text, at).second;
      if (length > 0) {
        out += text.substr(at, length);
        at += length;
        continue;
      }
    }
    ++at;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x80) {
      out += Printf("\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonReference(const LogEntry& e, const WriterOptions& options) {
  std::string out;
  const auto key = [&out](const char* name) {
    out += out.empty() ? "{" : ",";
    out += Printf("\"%s\":", name);
  };
  const bool has_time = e.year >= 1 && e.year <= 9999 && e.month >= 1 && e.month <= 12 &&
                        e.day >= 1 && e.day <= 31 && e.hour >= 0 && e.hour <= 23 && e.minute >= 0 &&
                        e.minute <= 59 && e.second >= 0 && e.second <= 60;
  if (has_time) {
    key("time");
    const int32_t offset = e.utc_offset < 0 ? -e.utc_offset : e.utc_offset;
    const int32_t millisecond = e.millisecond >= 0 && e.millisecond <= 999 ? e.millisecond : 0;
    out += Printf("\"%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d\"", e.year, e.month, e.day,
                  e.hour, e.minute, e.second, millisecond, e.utc_offset < 0 ? '-' : '+',
                  offset / 60, offset % 60);
  }
  const auto text = [&](const char* name, const EntryText& field) {
    if (field.text == nullptr || field.text[0] == '\0') return;
    key(name);
    out += JsonString(field.text);
  };
  const auto number = [&](const char* name, long long value) {
    if (value < 0) return;
    key(name);
    out += std::to_string(value);
  };
  text("client", e.client_host);
  text("user", e.user);
  text("method", e.method);
  text("path", e.uri);
  text("query", e.query);
  text("protocol", e.protocol);
  number("status", e.status);
  number("bytes", e.bytes);
  number("duration_ms", e.transfer_time);
  text("vhost", e.domain);
  text("referer", e.referer);
  text("agent", e.agent);
  text("cookie", e.cookie);
  text("source", e.source);
  return (out.empty() ? "{" : out) + "}" + Newline(options.newlines);
}

std::string Or(const char* text, const char* placeholder) {
  return text != nullptr && text[0] != '\0' ? text : placeholder;
}

// The line a writer must produce in a buffer of `size` bytes: shed (estimate first, then
// the formatted length) until the line fits, or the empty text when nothing is left to
// shed.
std::string Reference(Kind kind, const LogEntry& e, const WriterOptions& options, size_t size) {
  if (kind == Kind::JSON) {
    // Nothing is shed: the whole line, or nothing when it does not fit.
    const std::string line = JsonReference(e, options);
    return line.size() < size ? line : "";
  }
  if (kind == Kind::COMBINED) {
    WriterOptions no_vhost = options;
    no_vhost.vhost = false;
    return Reference(Kind::NCSA, e, no_vhost, size);
  }
  const bool vhost_combined = kind == Kind::VHOST_COMBINED;
  if (vhost_combined) kind = Kind::NCSA;
  Texts t{Or(e.client_host.text, "-"),
          kind == Kind::NCSA && !options.vhost ? "-" : Or(e.domain.text, "-"),
          Or(e.user.text, "-"),
          kind != Kind::NCSA ? Or(e.method.text, "-") : Or(e.method.text, "GET"),
          kind != Kind::NCSA && NoRequest(e) ? "-" : Or(e.uri.text, "/"),
          kind == Kind::NCSA ? (e.query.text ? Field(e.query.text) : std::nullopt)
                             : Field(Or(e.query.text, "-")),
          Or(e.referer.text, "-"),
          Or(e.agent.text, "-"),
          kind == Kind::NCSA ? "" : Or(e.cookie.text, "-"),
          kind == Kind::NCSA ? Or(e.protocol.text, "HTTP/1.0") : "",
          ""};
  // vhost_combined: field two is "-", the virtual host stands in front with its port.
  std::string vhost = Or(e.domain.text, "-");
  if (vhost_combined) t.domain = "-";
  // No field holds a separator or a line end: blanks, tabs, CR and LF become '+' in the
  // unquoted fields of W3C and NCSA lines (the request included), blanks on WebSTAR lines.
  const auto map = [](std::string& text, char blank_as) {
    for (char& c : text) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = blank_as;
    }
  };
  const char plus = kind == Kind::WEBSTAR ? ' ' : '+';
  for (std::string* field : {&t.host, &t.domain, &t.user, &t.method, &t.uri, &t.protocol}) {
    map(*field, plus);
  }
  if (t.query) map(*t.query, plus);
  long long prefix_estimate = 0;
  if (vhost_combined) {
    const bool has_port = vhost.find(':') != std::string::npos;
    prefix_estimate = static_cast<long long>(vhost.size()) + 4;
    map(vhost, '+');
    if (!vhost.empty() && std::string("\"<'`").find(vhost[0]) != std::string::npos) {
      vhost = "\"" + Backslashed(vhost, true) + "\"";
    }
    t.prefix = vhost + (has_port ? "" : ":80") + " ";
  }
  // Between quotes only CR and LF go: '+' on W3C lines, a blank elsewhere; WebSTAR's
  // unquoted agent and referer lose their tabs too.
  const auto map_line_ends = [](std::string& text, char line_end_as) {
    for (char& c : text) {
      if (c == '\r' || c == '\n') c = line_end_as;
    }
  };
  for (std::string* field : {&t.referer, &t.agent, &t.cookie}) {
    if (kind == Kind::WEBSTAR && field != &t.cookie) {
      map(*field, ' ');
    } else {
      map_line_ends(*field, kind == Kind::W3C ? '+' : ' ');
    }
  }
  const auto len = [](const std::string& s) { return static_cast<long long>(s.size()); };
  long long estimate = len(t.host) + len(t.domain) + len(t.user) + len(t.method) + len(t.uri) +
                       len(t.referer) + len(t.agent);
  if (kind == Kind::NCSA) {
    estimate += 54 + (t.query ? len(*t.query) + 1 : 0) + len(t.protocol) + prefix_estimate;
  } else {
    estimate += (kind == Kind::W3C ? 48 : 52) + len(*t.query) + len(t.cookie);
  }
  // Each shedding step: the fields replaced and their replacement.
  std::vector<std::vector<std::pair<std::string*, const char*>>> steps;
  if (kind == Kind::NCSA) {
    steps = {{{&t.referer, "-"}, {&t.agent, "-"}}};
  } else {
    steps = {{{&t.cookie, ""}},
             {{&t.agent, "-"}},
             {{&t.referer, "-"}},
             {{&*t.query, "-"}},
             {{&t.user, "-"}}};
  }
  if (size == 0) return "";
  const char* end = Newline(options.newlines);
  for (size_t next = 0;; ++next) {
    if (estimate < static_cast<long long>(size)) {
      const std::string line = Whole(kind, e, t, end);
      if (line.size() < size) return line;
    }
    if (next == steps.size()) return "";
    for (auto& [field, replacement] : steps[next]) {
      estimate -= len(*field) - 1;
      *field = replacement;
    }
  }
}

// ---- Random entries ------------------------------------------------------------------------

class RandomEntries {
 public:
  explicit RandomEntries(uint32_t seed) : random_(seed) {}

  // A fresh entry; its texts live in this object until the next call.
  LogEntry Next() {
    texts_.clear();
    texts_.reserve(11);  // the pointers below must stay valid
    LogEntry e;
    ResetEntry(e);
    for (int32_t* number :
         {&e.year, &e.month, &e.day, &e.hour, &e.minute, &e.second, &e.status, &e.transfer_time}) {
      *number = Number();
    }
    // Every offset a zone can have, east and west.
    e.utc_offset = static_cast<int32_t>(Pick(1681)) - 840;
    // Byte counts are 64-bit: beyond 32 bits a third of the time.
    e.bytes = Pick(3) == 0 ? static_cast<int64_t>(Wide()) : Number();
    // Plausible dates half the time, so the ordinary paths are exercised too.
    if (Pick(2) == 0) {
      e.year = 1970 + static_cast<int32_t>(Pick(80));
      e.month = static_cast<int32_t>(Pick(14));  // 0 and 13 print as "???"
    }
    for (EntryText* text : {&e.client_host, &e.uri, &e.query, &e.referer, &e.agent, &e.user,
                            &e.method, &e.domain, &e.cookie, &e.protocol, &e.source}) {
      *text = TextOf(Text());
    }
    // Mostly a fraction of a second as parsers give it, sometimes a value none gives.
    e.millisecond = Pick(4) == 0 ? Number() : static_cast<int32_t>(Pick(1000));
    return e;
  }

 private:
  uint32_t Pick(uint32_t count) {
    return std::uniform_int_distribution<uint32_t>(0, count - 1)(random_);
  }

  // Arbitrary 64-bit values and their boundaries.
  uint64_t Wide() {
    static constexpr uint64_t kSpecial[] = {uint64_t{1} << 32, 3000000000u, uint64_t{INT64_MAX},
                                            uint64_t{1} << 63};
    if (Pick(4) == 0) return kSpecial[Pick(std::size(kSpecial))];
    return (uint64_t{random_()} << 32) | random_();
  }

  // Small, negative, boundary and arbitrary 32-bit values.
  int32_t Number() {
    static constexpr int32_t kSpecial[] = {0,
                                           1,
                                           9,
                                           10,
                                           99,
                                           100,
                                           999,
                                           1000,
                                           1899,
                                           1900,
                                           1999,
                                           2000,
                                           2001,
                                           9999,
                                           10000,
                                           -1,
                                           -5,
                                           -9,
                                           -10,
                                           -99,
                                           -100,
                                           -999,
                                           -1000,
                                           -1900,
                                           -2000,
                                           INT32_MAX,
                                           INT32_MIN,
                                           INT32_MIN + 1,
                                           INT32_MAX - 1};
    switch (Pick(4)) {
      case 0:
        return static_cast<int32_t>(Pick(100));
      case 1:
        return -static_cast<int32_t>(Pick(3000));
      case 2:
        return kSpecial[Pick(std::size(kSpecial))];
      default:
        return static_cast<int32_t>(random_());
    }
  }

  // Absent a third of the time; otherwise empty, short, medium or (rarely) longer than any
  // line buffer. Any byte but NUL, blanks, quotes, backslashes, tabs and bytes from 128 up
  // included; quotes and backslashes often, so that runs of them occur.
  char* Text() {
    if (Pick(3) == 0) return nullptr;
    size_t length;
    switch (Pick(8)) {
      case 0:
        length = 0;
        break;
      case 1:
        length = 300 + Pick(4800);
        break;
      case 2:
      case 3:
        length = Pick(300);
        break;
      default:
        length = Pick(24);
        break;
    }
    std::string text(length, ' ');
    for (char& c : text) {
      const uint32_t pick = Pick(320);
      c = pick < 255 ? static_cast<char>(1 + pick) : pick < 290 ? '"' : '\\';
    }
    texts_.push_back(std::move(text));
    return texts_.back().data();
  }

  std::mt19937 random_;
  std::vector<std::string> texts_;
};

// ---- The comparison ------------------------------------------------------------------------

// Formats into a heap buffer of exactly `size` bytes, so that AddressSanitizer catches any
// write past it, and checks that the returned length is the text's.
std::string Format(LineWriter writer, const LogEntry& e, const WriterOptions& options,
                   size_t size) {
  auto buffer = std::make_unique<char[]>(size);
  std::memset(buffer.get(), 'X', size);
  const size_t length = writer(buffer.get(), size, e, options);
  EXPECT_NE(std::memchr(buffer.get(), '\0', size), nullptr) << "no NUL within the buffer";
  const std::string text(buffer.get());
  EXPECT_EQ(length, text.size());
  return text;
}

std::string Describe(const LogEntry& e) {
  const auto text = [](const char* t) {
    return t == nullptr ? std::string("null") : std::to_string(std::strlen(t)) + " bytes";
  };
  return Printf(
      "date %d-%d-%d %d:%d:%d status %d bytes %lld transfer %d; host %s, uri %s, "
      "query %s, referer %s, agent %s, user %s, method %s, domain %s, cookie %s",
      e.year, e.month, e.day, e.hour, e.minute, e.second, e.status, static_cast<long long>(e.bytes),
      e.transfer_time, text(e.client_host.text).c_str(), text(e.uri.text).c_str(),
      text(e.query.text).c_str(), text(e.referer.text).c_str(), text(e.agent.text).c_str(),
      text(e.user.text).c_str(), text(e.method.text).c_str(), text(e.domain.text).c_str(),
      text(e.cookie.text).c_str());
}

TEST(WritersAgainstSnprintf, RandomEntriesEveryDialectStyleAndBufferSize) {
  RandomEntries entries(20240611);
  std::mt19937 sizes(7);
  int mismatches = 0;
  for (int i = 0; i < 1500 && mismatches < 10; ++i) {
    const LogEntry e = entries.Next();
    const WriterOptions options{.vhost = i % 2 == 0, .newlines = static_cast<NewlineStyle>(i % 3)};
    // Every dialect of the program's table, so that none is added without a reference.
    for (const OutputDialect& d : OUTPUT_DIALECTS) {
      // The full buffer, a few small ones, one at random, and the sizes around the
      // whole line, where shedding starts.
      const size_t whole = Reference(d.format, e, options, 1 << 22).size();
      ASSERT_GT(whole, 0u) << d.name << " has no reference formatting";
      std::vector<size_t> buffer_sizes = {LINE_BUFFER_SIZE,  1,     2,        40, 64, 120,
                                          1 + sizes() % 700, whole, whole + 1};
      for (size_t size : buffer_sizes) {
        if (size == 0) continue;
        const std::string expected = Reference(d.format, e, options, size);
        const std::string line = Format(d.writer, e, options, size);
        if (line != expected) {
          ++mismatches;
          ADD_FAILURE() << d.name << ", buffer " << size << ", newlines "
                        << static_cast<int>(options.newlines) << ", vhost " << options.vhost << ": "
                        << Describe(e) << "\n  expected: " << expected << "\n  written:  " << line;
        }
      }
    }
  }
}

}  // namespace
