#pragma once
// A server's own log format line, pasted from its configuration (Apache's LogFormat, nginx's
// log_format), translated into a user format: one token name per field, as --format takes it.

#include <string>
#include <string_view>

enum class ServerKind { APACHE, NGINX };

// Translates `line` into token names separated by blanks ("HOST SKIP USER DATE-CLF ...").
// Fields are separated by blanks; each is one directive (Apache %h, %{Referer}i, ...; nginx
// $remote_addr, ...), optionally in double quotes (written plain or as \") or, for the time,
// in brackets. Every directive that carries a field of the record maps onto it with its unit
// (Apache %D microseconds, %T seconds, %{ms}T, %{us}T; nginx $request_time seconds with
// milliseconds); other directives are passed over. False with `error` naming the field when
// a directive cannot be read (unknown, or text around it that no token reads).
bool TranslateServerFormat(ServerKind kind, std::string_view line, std::string& names,
                           std::string& error);
