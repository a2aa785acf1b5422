// Cloud and proxy dialects read by hand: each is a fixed sequence of fields, so one pass
// with a cursor reads it. Nothing is written into the line until the whole line has been
// read; then every kept field is cut with a NUL where its separator stood.

#include "parse/proxy_lines.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "base/text.h"
#include "parse/format_tokens.h"
#include "parse/line_ends.h"
#include "parse/record_fields.h"

namespace {

// A field of the line: [start, end); end is the separator behind it (a space, the closing
// quote or the line end). Null start: not read.
struct Piece {
  char* start = nullptr;
  char* end = nullptr;

  std::string_view view() const {
    return start == nullptr ? std::string_view{}
                            : std::string_view(start, static_cast<size_t>(end - start));
  }
};

// A cursor over the line; every step fails (returns false) at a shape it does not expect.
struct Cursor {
  char* p;

  bool Space() {
    if (*p != ' ') return false;
    while (*p == ' ') ++p;
    return true;
  }
  bool Char(char c) {
    if (*p != c) return false;
    ++p;
    return true;
  }
  // A plain field up to a space or the line end; never empty.
  bool Word(Piece& out) {
    char* const start = p;
    while (!IsLineEnd(*p) && *p != ' ') ++p;
    out = Piece{start, p};
    return p > start;
  }
  // A field in double quotes; the closing quote is the first one followed by a space or the
  // line end, so a quote inside the value (an agent that holds one) stays in it.
  bool Quoted(Piece& out) {
    if (*p != '"') return false;
    char* const start = ++p;
    for (; !IsLineEnd(*p); ++p) {
      if (*p == '"' && (p[1] == ' ' || IsLineEnd(p[1]))) {
        out = Piece{start, p};
        ++p;
        return true;
      }
    }
    return false;
  }
  // Text up to `closer` (not included), which is passed.
  bool Until(char closer, Piece& out) {
    char* const start = p;
    while (!IsLineEnd(*p) && *p != closer) ++p;
    if (*p != closer) return false;
    out = Piece{start, p};
    ++p;
    return true;
  }
  bool AtLineEnd() const { return IsLineEnd(*p); }
};

// A decimal count; "-" (or nothing) is absent (-1); false for anything else.
bool Count(const Piece& piece, int64_t* value) {
  const std::string_view text = piece.view();
  *value = NO_NUMBER;
  if (text.empty() || text == "-") return true;
  int64_t v = 0;
  for (const char c : text) {
    if (!IsDigit(c) || v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// Seconds with a fraction ("0.000073", "-1" for none) as whole milliseconds; -1 is absent.
bool Seconds(const Piece& piece, double* ms) {
  const std::string_view text = piece.view();
  *ms = -1;
  if (text == "-1" || text == "-") return true;
  double whole = 0;
  size_t i = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) whole = whole * 10 + (text[i] - '0');
  if (i == 0 || whole > 1e7) return false;
  double scale = 1;
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      scale /= 10;
      whole += (text[i] - '0') * scale;
    }
  }
  if (i != text.size()) return false;
  *ms = whole * 1000;
  return true;
}

int32_t RoundedMs(double ms) {
  return ms < 0 ? NO_NUMBER : static_cast<int32_t>(std::lround(ms));
}

int32_t Clamped(int64_t value) {
  return value < 0 ? NO_NUMBER : value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

// The status, the bytes ("-": 0) and a time in whole milliseconds (a piece not read: none).
bool SetCounts(LogEntry& entry, const Piece& status, const Piece& bytes, const Piece& ms) {
  int64_t code = 0, sent = 0, time = 0;
  if (!Count(status, &code) || !Count(bytes, &sent) || !Count(ms, &time)) return false;
  entry.status = Clamped(code);
  entry.bytes = sent < 0 ? 0 : sent;
  entry.transfer_time = Clamped(time);
  return true;
}

// The field cut with a NUL in place; absent for "-" or nothing.
EntryText Cut(const Piece& piece) {
  if (piece.start == nullptr || piece.end == piece.start ||
      (piece.end - piece.start == 1 && *piece.start == '-')) {
    return EntryText{};
  }
  *piece.end = '\0';
  return TextAt(piece.start, static_cast<size_t>(piece.end - piece.start));
}

// Bytes from the line's start through its line end; the NUL behind the data counts as none,
// so an entry on the last line without a line end never reaches past the data.
int32_t LineLength(char* line, char* p) {
  while (!IsLineEnd(*p)) ++p;
  return static_cast<int32_t>(PastLineEnd(p) - line);
}

// Whether the date and status read make an entry; checked before any field is cut, so a
// line refused here is left as it was for the other dialects.
bool Fits(const ParseState& state, const LogEntry& entry) {
  return DateIsValid(entry, state.year_limit) && entry.status <= 999;
}

// The entry's line length and its request, split in place; every dialect ends here.
ParseResult Accept(char* line, char* end, LogEntry& entry, const Piece& request) {
  entry.line_length = LineLength(line, end);
  // Cut last: the request is split in place, its own NUL written behind it.
  SplitRequest(Cut(request), entry, false);
  return PARSE_ENTRY;
}

// ---- AWS ALB and classic ELB --------------------------------------------------------------
// [type] time elb client:port target:port request_time target_time response_time
// elb_status target_status received sent "request" "agent" cipher protocol
// (ALB: target_group "trace_id" "domain" ...). Fields AWS appends later are passed over.
ParseResult ReadLoadBalancer(const ParseState& state, char* line, bool has_type, LogEntry& entry) {
  Cursor c{line};
  Piece type, time, elb, client, target, t1, t2, t3, status, target_status, received, sent, request,
      agent, cipher, tls, group, trace, domain;
  if (has_type && !(c.Word(type) && c.Space())) return PARSE_NO_MATCH;
  if (!(c.Word(time) && c.Space() && c.Word(elb) && c.Space() && c.Word(client) && c.Space() &&
        c.Word(target) && c.Space() && c.Word(t1) && c.Space() && c.Word(t2) && c.Space() &&
        c.Word(t3) && c.Space() && c.Word(status) && c.Space() && c.Word(target_status) &&
        c.Space() && c.Word(received) && c.Space() && c.Word(sent) && c.Space() &&
        c.Quoted(request))) {
    return PARSE_NO_MATCH;
  }
  // The agent and the TLS fields came with later versions of the classic format.
  if (c.Space() && c.Quoted(agent) && c.Space() && c.Word(cipher) && c.Space() && c.Word(tls) &&
      has_type && c.Space() && c.Word(group) && c.Space() && c.Quoted(trace) && c.Space()) {
    c.Quoted(domain);
  }
  ResetEntry(entry);
  if (!ReadIsoTime(time.view(), entry) || entry.utc_offset != 0) return PARSE_NO_MATCH;
  int64_t code = 0, bytes = 0;
  double ms1 = 0, ms2 = 0, ms3 = 0;
  if (!Count(status, &code) || !Count(sent, &bytes) || !Seconds(t1, &ms1) || !Seconds(t2, &ms2) ||
      !Seconds(t3, &ms3)) {
    return PARSE_NO_MATCH;
  }
  entry.status = Clamped(code);
  entry.bytes = bytes;
  // A request that never reached a target has -1 for its times: no time at all.
  entry.transfer_time = ms1 < 0 || ms2 < 0 || ms3 < 0 ? NO_NUMBER : RoundedMs(ms1 + ms2 + ms3);
  char* const end = c.p;
  if (!Fits(state, entry)) return PARSE_NO_MATCH;
  entry.client_host = WithoutPort(Cut(client));
  entry.agent = Cut(agent);
  entry.domain = Cut(domain);
  return Accept(line, end, entry, request);
}

// ---- HAProxy option httplog ---------------------------------------------------------------
// client:port [06/Feb/2009:12:14:14.655] frontend backend/server Tq/Tw/Tc/Tr/Ta status bytes
// req_cookie resp_cookie state act/fe/be/srv/retries srv_queue/be_queue {req headers}
// {resp headers} "request"; the header captures are optional.
ParseResult ReadHaproxy(const ParseState& state, char* line, char* body, LogEntry& entry) {
  Cursor c{body};
  Piece client, date, frontend, backend, timers, status, bytes, skip, request;
  if (!(c.Word(client) && c.Char(' ') && c.Char('[') && c.Until(']', date) && c.Space() &&
        c.Word(frontend) && c.Space() && c.Word(backend) && c.Space() && c.Word(timers) &&
        c.Space() && c.Word(status) && c.Space() && c.Word(bytes))) {
    return PARSE_NO_MATCH;
  }
  for (int i = 0; i < 5; ++i) {
    if (!(c.Space() && c.Word(skip))) return PARSE_NO_MATCH;
  }
  if (!c.Space()) return PARSE_NO_MATCH;
  for (int i = 0; i < 2 && *c.p == '{'; ++i) {
    if (!(c.Until('}', skip) && c.Space())) return PARSE_NO_MATCH;
  }
  if (!c.Quoted(request)) return PARSE_NO_MATCH;
  ResetEntry(entry);
  // The accept date carries milliseconds and no zone: the server's local time.
  if (!ReadClfTime(date.view(), entry)) return PARSE_NO_MATCH;
  // Ta, the last timer, is the time from accept to the last byte; "+" marks it logged early.
  const std::string_view t = timers.view();
  const size_t slash = t.rfind('/');
  if (slash == std::string_view::npos) return PARSE_NO_MATCH;
  char* total = timers.start + slash + 1;
  if (*total == '+') ++total;
  int64_t code = 0, sent = 0, ta = 0;
  if (!Count(status, &code) || !Count(bytes, &sent) ||
      !(std::string_view(total, static_cast<size_t>(timers.end - total)) == "-1" ||
        Count(Piece{total, timers.end}, &ta))) {
    return PARSE_NO_MATCH;
  }
  entry.status = Clamped(code);
  entry.bytes = sent < 0 ? 0 : sent;
  entry.transfer_time = Clamped(ta);
  char* const end = c.p;
  if (!Fits(state, entry)) return PARSE_NO_MATCH;
  entry.client_host = WithoutPort(Cut(client));
  return Accept(line, end, entry, request);
}

// The syslog prefix "Feb  6 12:14:14 host haproxy[14389]: " in front of an HAProxy line.
ParseResult ReadSyslogHaproxy(const ParseState& state, char* line, LogEntry& entry) {
  Cursor c{line};
  Piece month, day, time, host, tag;
  if (!(c.Word(month) && c.Space() && c.Word(day) && c.Space() && c.Word(time) && c.Space() &&
        c.Word(host) && c.Space() && c.Word(tag) && c.Space())) {
    return PARSE_NO_MATCH;
  }
  if (!StartsWith("haproxy", tag.start) || tag.end[-1] != ':') return PARSE_NO_MATCH;
  return ReadHaproxy(state, line, c.p, entry);
}

// ---- Envoy's default format ---------------------------------------------------------------
// [start] "METHOD path PROTOCOL" code flags received sent duration upstream_time
// "x-forwarded-for" "agent" "request-id" "authority" "upstream host"
ParseResult ReadEnvoy(const ParseState& state, char* line, LogEntry& entry) {
  Cursor c{line};
  Piece start, request, code, flags, received, sent, duration, upstream_time, xff, agent, id,
      authority;
  if (!(c.Char('[') && c.Until(']', start) && c.Space() && c.Quoted(request) && c.Space() &&
        c.Word(code) && c.Space() && c.Word(flags) && c.Space() && c.Word(received) && c.Space() &&
        c.Word(sent) && c.Space() && c.Word(duration) && c.Space() && c.Word(upstream_time) &&
        c.Space() && c.Quoted(xff) && c.Space() && c.Quoted(agent) && c.Space() && c.Quoted(id) &&
        c.Space() && c.Quoted(authority))) {
    return PARSE_NO_MATCH;
  }
  ResetEntry(entry);
  if (!ReadIsoTime(start.view(), entry)) return PARSE_NO_MATCH;
  if (!SetCounts(entry, code, sent, duration)) return PARSE_NO_MATCH;
  char* const end = c.p;
  if (!Fits(state, entry)) return PARSE_NO_MATCH;
  // The client is the first address of X-Forwarded-For, which is kept whole as well.
  entry.forwarded_for = Cut(xff);
  if (entry.forwarded_for.text != nullptr) {
    char* const first = entry.forwarded_for.text;
    int32_t n = 0;
    while (n < entry.forwarded_for.length && first[n] != ',') ++n;
    if (n == entry.forwarded_for.length) {
      entry.client_host = entry.forwarded_for;
    } else {
      // The list stays whole for forwarded_for; the client is a copy-free cut of its first
      // address, made in the request-id field's place (which no output shows).
      if (id.end - id.start > n) {
        std::memcpy(id.start, first, static_cast<size_t>(n));
        id.start[n] = '\0';
        entry.client_host = TextAt(id.start, static_cast<size_t>(n));
      }
    }
  }
  entry.agent = Cut(agent);
  entry.domain = Cut(authority);
  return Accept(line, end, entry, request);
}

// ---- S3 server access logs ----------------------------------------------------------------
// owner bucket [time] ip requester request_id operation key "request" status error bytes
// object_size total_ms turnaround_ms "referer" "agent" version ...
ParseResult ReadS3(const ParseState& state, char* line, LogEntry& entry) {
  Cursor c{line};
  Piece owner, bucket, time, ip, requester, id, operation, key, request, status, error, sent, size,
      total, turnaround, referer, agent;
  if (!(c.Word(owner) && c.Space() && c.Word(bucket) && c.Space() && c.Char('[') &&
        c.Until(']', time) && c.Space() && c.Word(ip) && c.Space() && c.Word(requester) &&
        c.Space() && c.Word(id) && c.Space() && c.Word(operation) && c.Space() && c.Word(key) &&
        c.Space() && c.Quoted(request) && c.Space() && c.Word(status) && c.Space() &&
        c.Word(error) && c.Space() && c.Word(sent) && c.Space() && c.Word(size) && c.Space() &&
        c.Word(total) && c.Space() && c.Word(turnaround) && c.Space() && c.Quoted(referer) &&
        c.Space() && c.Quoted(agent))) {
    return PARSE_NO_MATCH;
  }
  ResetEntry(entry);
  if (!ReadClfTime(time.view(), entry)) return PARSE_NO_MATCH;
  if (!SetCounts(entry, status, sent, total)) return PARSE_NO_MATCH;
  char* const end = c.p;
  if (!Fits(state, entry)) return PARSE_NO_MATCH;
  entry.client_host = Cut(ip);
  entry.user = Cut(requester);
  entry.domain = Cut(bucket);
  entry.referer = Cut(referer);
  entry.agent = Cut(agent);
  return Accept(line, end, entry, request);
}

// ---- Nginx Proxy Manager's proxy-host format ----------------------------------------------
// [time_local] cache_status upstream_status status - method scheme host "request_uri"
// [Client addr] [Length bytes] [Gzip ratio] [Sent-to server] "agent" "referer"
// A bracketed label must be the one named, so no other bracketed line is taken for one.
bool Labelled(Cursor& c, const char* label, Piece& value) {
  const size_t n = std::strlen(label);
  if (*c.p != '[' || std::strncmp(c.p + 1, label, n) != 0 || c.p[n + 1] != ' ') return false;
  c.p += n + 2;
  return c.Until(']', value);
}

ParseResult ReadProxyManager(const ParseState& state, char* line, LogEntry& entry) {
  Cursor c{line};
  Piece time, cache, upstream, status, dash, method, scheme, host, uri, client, length, gzip,
      sent_to, agent, referer;
  if (!(c.Char('[') && c.Until(']', time) && c.Space() && c.Word(cache) && c.Space() &&
        c.Word(upstream) && c.Space() && c.Word(status) && c.Space() && c.Word(dash) && c.Space() &&
        c.Word(method) && c.Space() && c.Word(scheme) && c.Space() && c.Word(host) && c.Space() &&
        c.Quoted(uri) && c.Space() && Labelled(c, "Client", client) && c.Space() &&
        Labelled(c, "Length", length) && c.Space() && Labelled(c, "Gzip", gzip) && c.Space() &&
        Labelled(c, "Sent-to", sent_to) && c.Space() && c.Quoted(agent) && c.Space() &&
        c.Quoted(referer))) {
    return PARSE_NO_MATCH;
  }
  ResetEntry(entry);
  if (!ReadClfTime(time.view(), entry)) return PARSE_NO_MATCH;
  if (!SetCounts(entry, status, length, Piece{})) return PARSE_NO_MATCH;
  char* const end = c.p;
  if (!Fits(state, entry)) return PARSE_NO_MATCH;
  entry.method = Cut(method);
  entry.domain = Cut(host);
  entry.client_host = Cut(client);
  entry.agent = Cut(agent);
  entry.referer = Cut(referer);
  // The request uri holds the query; there is no request line around it.
  entry.line_length = LineLength(line, end);
  SplitUri(Cut(uri), entry, false);
  return PARSE_ENTRY;
}

bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f');
}

}  // namespace

ParseResult ParseProxyLine(const ParseState& state, char* line, LogEntry& entry) {
  // The first field tells the dialect.
  char* p = line;
  while (!IsLineEnd(*p) && *p != ' ') ++p;
  const auto length = p - line;
  if (*p != ' ' || length < 2) return PARSE_NO_MATCH;
  const char first = line[0];
  if (IsDigit(first) || first == '[' || IsHex(first)) {
    if (p[1] == '[' && std::memchr(line, ':', length) != nullptr) {
      return ReadHaproxy(state, line, line, entry);
    }
    if (first == '[' && length > 11 && line[5] == '-' && line[11] == 'T') {
      return ReadEnvoy(state, line, entry);
    }
    if (first == '[' && length == 21 && line[3] == '/' && line[7] == '/') {
      return ReadProxyManager(state, line, entry);
    }
    if (length > 20 && line[4] == '-' && line[10] == 'T') {
      return ReadLoadBalancer(state, line, false, entry);
    }
    if (length == 64 && p[1] != '[') {
      for (const char* h = line; h < p; ++h) {
        if (!IsHex(*h)) return PARSE_NO_MATCH;
      }
      return ReadS3(state, line, entry);
    }
    return PARSE_NO_MATCH;
  }
  const std::string_view word(line, static_cast<size_t>(length));
  if (word == "http" || word == "https" || word == "h2" || word == "grpcs" || word == "ws" ||
      word == "wss") {
    return ReadLoadBalancer(state, line, true, entry);
  }
  if (length == 3 && MonthFromName(line) > 0) return ReadSyslogHaproxy(state, line, entry);
  return PARSE_NO_MATCH;
}

namespace {

// HAProxy's "option httplog clf" behind the combined fields: `"" "" client_port accept_ms
// "frontend" "backend" "server" TR Tw Tc Tr Ta "termination_state" ...`. The request's
// closing quote stood at `closer` (now the NUL that ends the protocol), inside the line
// when the request was closed: a NUL at the line end is no closer, and nothing behind the
// line is read.
void ReadHaproxyClfTail(char* closer, const char* line_end, LogEntry& entry) {
  if (closer + 1 >= line_end || *closer != '\0') return;
  Cursor c{closer + 1};
  Piece status, bytes, port, ms, frontend, backend, server, state;
  Piece timers[5];
  if (!(c.Space() && c.Word(status) && c.Space() && c.Word(bytes) && c.Space() && c.Char('"') &&
        c.Char('"') && c.Space() && c.Char('"') && c.Char('"') && c.Space() && c.Word(port) &&
        c.Space() && c.Word(ms) && c.Space() && c.Quoted(frontend) && c.Space() &&
        c.Quoted(backend) && c.Space() && c.Quoted(server))) {
    return;
  }
  for (Piece& timer : timers) {
    if (!(c.Space() && c.Word(timer))) return;
  }
  if (!(c.Space() && c.Quoted(state))) return;
  int64_t port_number = 0, millisecond = 0, total = 0;
  if (!Count(port, &port_number) || port_number < 0 || ms.view().size() != 3 ||
      !Count(ms, &millisecond) || millisecond < 0) {
    return;
  }
  entry.millisecond = static_cast<int32_t>(millisecond);
  // Ta is -1 when the request was aborted.
  if (timers[4].view() != "-1" && Count(timers[4], &total)) entry.transfer_time = Clamped(total);
}

}  // namespace

void ReadProxyTail(char* line, LogEntry& entry) {
  const char* const line_end = line + entry.line_length;
  if (entry.protocol.text != nullptr && entry.referer.text == nullptr &&
      entry.agent.text == nullptr && entry.transfer_time < 0 && entry.millisecond == 0) {
    ReadHaproxyClfTail(entry.protocol.text + entry.protocol.length, line_end, entry);
    return;
  }
  // Only a quoted agent whose closing quote stood right behind its text (no escapes moved
  // it): the tail starts there.
  if (entry.agent.text == nullptr || entry.agent.text[-1] != '"' || entry.transfer_time >= 0) {
    return;
  }
  // An agent that ran to the line end (the end of the data, unquoted) has no tail: nothing
  // behind the line is read.
  char* const closer = entry.agent.text + entry.agent.length;
  if (closer + 1 >= line_end || closer[1] != ' ') return;
  Cursor c{closer + 1};
  Piece counter, second, router, service;
  if (!(c.Space() && c.Word(counter) && c.Space())) return;
  int64_t number = 0;
  if (!Count(counter, &number) || number < 0) return;
  if (*c.p == '"') {
    // Traefik: counter "router" "service url" 2ms
    if (!(c.Quoted(router) && c.Space() && c.Quoted(service) && c.Space() && c.Word(second) &&
          c.AtLineEnd())) {
      return;
    }
    const std::string_view d = second.view();
    if (d.size() < 3 || d.substr(d.size() - 2) != "ms") return;
    int64_t ms = 0;
    if (Count(Piece{second.start, second.end - 2}, &ms)) entry.transfer_time = Clamped(ms);
    return;
  }
  // ingress-nginx: request_length request_time [upstream name] ...
  double ms = 0;
  if (c.Word(second) && c.Space() && *c.p == '[' && Seconds(second, &ms) &&
      second.view().find('.') != std::string_view::npos) {
    entry.transfer_time = RoundedMs(ms);
  }
}
