#pragma once
// Access logs written as one JSON object per line: nginx's escape=json formats, Caddy,
// Traefik, Envoy, Google Cloud load balancers and this program's own JSON-lines output.
// Keys map onto the record's fields through one table; a user mapping from the
// configuration (json-field) is looked up before it.

#include <cstdint>
#include <string>
#include <string_view>

#include "entries/log_entry.h"
#include "parse/parse_logs.h"

// A line whose first byte is '{' is read as a JSON object and by nothing else.
constexpr bool IsJsonLine(const char* line) {
  return line[0] == '{';
}

// Reads the JSON object on `line` into `entry`. Every text field points into the line: the
// value, unescaped, is written in place where its quoted form stood, with a NUL behind it.
// Returns
// - PARSE_ENTRY when the object has a readable time and is an access entry;
// - PARSE_HEADER for an object of another logger in the same file (Caddy's "logger" other
//   than an access log), which is passed over like a header line;
// - PARSE_NO_MATCH for a malformed or truncated object, one without a time key that a preset
//   or the user mapping knows, or one whose time cannot be read. The line's text is then
//   left as it was.
// entry.line_length is set on PARSE_ENTRY and PARSE_HEADER. An object with invalid UTF-8 is
// not lost: a string written without escapes keeps its bytes, one with escapes reads each
// offending byte as '?'. No allocation per
// line: one parser and one padded copy buffer per thread are reused.
ParseResult ParseJsonLine(const ParseState& state, char* line, LogEntry& entry);

// ---- User mapping ----------------------------------------------------------------------------
// The user's own keys, from lines "json-field <field>=<key path>" (several may be given, one
// line each; the path separates nested objects by '.' and takes an array element as
// "[index]", e.g. "request.headers.User-Agent[0]"). Fields: time, client, user, method, uri,
// query, request, protocol, status, bytes, duration_s, duration_ms, duration_us, duration_ns,
// referer, agent, vhost, cookie, forwarded_for.
struct JsonFieldMapping;

// Adds one "<field>=<key path>" to `mapping` (created on first use). False with `error` set
// (naming the field or the path) when it cannot be read.
bool AddJsonField(JsonFieldMapping*& mapping, std::string_view text, std::string& error);

// Frees a mapping made by AddJsonField (null is fine).
void FreeJsonFieldMapping(JsonFieldMapping* mapping);
