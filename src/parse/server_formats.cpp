#include "parse/server_formats.h"

#include <vector>

#include "base/text.h"
#include "parse/format_tokens.h"

namespace {

struct DirectiveRow {
  std::string_view directive;  // as written, without quotes or brackets
  FormatToken token;
};

// Apache mod_log_config. Header names in %{...}i compare without regard to case.
constexpr DirectiveRow kApache[] = {
    {"%h", HOST},
    {"%a", HOST},
    {"%{c}a", HOST},
    {"%l", SKIP},
    {"%u", USER},
    {"%t", DATE_CLF},
    {"%{sec}t", UNIX_TIME_UTC},  // whole seconds since 1970
    {"%{begin:sec}t", UNIX_TIME_UTC},
    {"%r", FULL_REQUEST},
    {"%>s", STATUS},
    {"%s", STATUS},
    {"%<s", STATUS},
    {"%b", BYTES},
    {"%B", BYTES},
    {"%O", BYTES},
    {"%D", TRAN_TIME_MICRO},
    {"%{us}T", TRAN_TIME_MICRO},
    {"%{ms}T", TRAN_TIME_MILLI},
    {"%T", TRAN_TIME_SECS},
    {"%{s}T", TRAN_TIME_SECS},
    {"%{referer}i", REFERER},
    {"%{user-agent}i", AGENT},
    {"%{cookie}i", COOKIE},
    {"%{x-forwarded-for}i", FORWARDED_FOR},
    {"%{host}i", DOMAIN},
    {"%v", DOMAIN},
    {"%V", DOMAIN},
    {"%v:%p", DOMAIN},  // vhost_combined: the port stays part of the virtual host
    {"%V:%p", DOMAIN},
    {"%m", METHOD},
    {"%U", URI},
    {"%U%q", URI},
    {"%H", PROTOCOL},
};

// Apache directives that carry nothing of the record: passed over.
constexpr std::string_view kApacheOthers = "AbBfHIklLmnopPqRSXeOT";

// nginx log_format variables.
constexpr DirectiveRow kNginx[] = {
    {"$remote_addr", HOST},
    {"$binary_remote_addr", HOST},
    {"$realip_remote_addr", HOST},
    {"$remote_user", USER},
    {"$time_local", DATE_CLF},
    {"$time_iso8601", DATE_ISO8601},
    {"$msec", UNIX_TIME_UTC},  // seconds since 1970 with milliseconds: "1709632800.123"
    {"$request", FULL_REQUEST},
    {"$status", STATUS},
    {"$body_bytes_sent", BYTES},
    {"$bytes_sent", BYTES},
    {"$request_time", TRAN_TIME_MILLI},  // seconds with milliseconds: "0.012"
    {"$http_referer", REFERER},
    {"$http_user_agent", AGENT},
    {"$http_cookie", COOKIE},
    {"$http_x_forwarded_for", FORWARDED_FOR},
    {"$host", DOMAIN},
    {"$http_host", DOMAIN},
    {"$server_name", DOMAIN},
    {"$request_method", METHOD},
    {"$request_uri", URI},
    {"$uri", URI},
    {"$document_uri", URI},
    {"$server_protocol", PROTOCOL},
    {"$args", URI_QUERY},
    {"$query_string", URI_QUERY},
};

// The fields of the line: split at blanks outside double quotes; \" counts as a quote.
std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  std::string current;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') c = line[++i];
    if (c == '"') quoted = !quoted;
    if (IsBlank(c) && !quoted) {
      if (!current.empty()) fields.push_back(current);
      current.clear();
      continue;
    }
    current += c;
  }
  if (!current.empty()) fields.push_back(current);
  return fields;
}

// The directive inside `field`, without a pair of double quotes or brackets around it.
std::string_view Inner(std::string_view field) {
  if (field.size() >= 2 && ((field.front() == '"' && field.back() == '"') ||
                            (field.front() == '[' && field.back() == ']'))) {
    return field.substr(1, field.size() - 2);
  }
  return field;
}

// An Apache directive with modifiers ("%>s", "%400,501{User-agent}i") as the table writes it.
std::string ApacheDirective(std::string_view d) {
  std::string out = "%";
  size_t i = 1;
  while (i < d.size() && (d[i] == '!' || d[i] == ',' || IsDigit(d[i]))) ++i;  // status conditions
  if (i < d.size() && (d[i] == '<' || d[i] == '>')) out += d[i++];
  out += d.substr(i);
  return out;
}

bool ApacheToken(std::string_view inner, FormatToken* token) {
  if (inner.size() < 2 || inner[0] != '%') return false;
  const std::string d = ApacheDirective(inner);
  for (const DirectiveRow& row : kApache) {
    if (EqualNoCase(row.directive, d) &&
        (row.directive.find('{') != std::string_view::npos || row.directive == d)) {
      *token = row.token;
      return true;
    }
  }
  // Other directives: one letter, or %{name}x with any name; nothing of the record.
  std::string_view rest = std::string_view(d).substr(1);
  if (!rest.empty() && (rest[0] == '<' || rest[0] == '>')) rest.remove_prefix(1);
  if (!rest.empty() && rest[0] == '{') {
    const size_t close = rest.find('}');
    if (close == std::string_view::npos) return false;
    rest.remove_prefix(close + 1);
    if (rest.size() == 1 &&
        std::string_view("aCeinopTx^").find(rest[0]) != std::string_view::npos) {
      *token = SKIP;
      return true;
    }
    return false;
  }
  if (rest.size() == 1 && kApacheOthers.find(rest[0]) != std::string_view::npos) {
    *token = SKIP;
    return true;
  }
  return false;
}

bool NginxToken(std::string_view inner, FormatToken* token) {
  // "${name}" is the same variable as "$name".
  std::string name(inner);
  if (name.size() > 3 && name[1] == '{' && name.back() == '}') {
    name = "$" + name.substr(2, name.size() - 3);
  }
  if (name.size() < 2 || name[0] != '$') return false;
  for (size_t i = 1; i < name.size(); ++i) {
    if (!IsAlnum(name[i]) && name[i] != '_') return false;
  }
  for (const DirectiveRow& row : kNginx) {
    if (row.directive == name) {
      *token = row.token;
      return true;
    }
  }
  *token = SKIP;  // any other variable: nothing of the record
  return true;
}

}  // namespace

bool TranslateServerFormat(ServerKind kind, std::string_view line, std::string& names,
                           std::string& error) {
  names.clear();
  const std::vector<std::string> fields = Fields(line);
  if (fields.empty()) {
    error = "the format line is empty";
    return false;
  }
  bool has_time = false;
  for (const std::string& field : fields) {
    FormatToken token = SKIP;
    const std::string_view inner = Inner(field);
    const bool known = field == "-" || (kind == ServerKind::APACHE ? ApacheToken(inner, &token)
                                                                   : NginxToken(inner, &token));
    if (!known) {
      error = "'" + field + "' cannot be read (one " +
              (kind == ServerKind::APACHE ? std::string("%-directive") : std::string("$variable")) +
              " per blank-separated field)";
      return false;
    }
    if (!names.empty()) names += ' ';
    names += TokenName(token);
    has_time = has_time || token == DATE_CLF || token == DATE_ISO8601 || token == UNIX_TIME_UTC;
  }
  // Entries without a date could not be merged in order: such a line is refused.
  if (!has_time) {
    error = kind == ServerKind::APACHE
                ? "the format line has no time field that can be read (%t or %{sec}t)"
                : "the format line has no time field that can be read ($time_local, "
                  "$time_iso8601 or $msec)";
    return false;
  }
  return true;
}
