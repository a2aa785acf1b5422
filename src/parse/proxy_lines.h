#pragma once
// Cloud load balancers and proxies whose lines no token template reads: AWS ALB and classic
// ELB, HAProxy's HTTP log (with or without the syslog prefix), Envoy's default format, S3
// server access logs and Nginx Proxy Manager's proxy-host lines; and the fields that Traefik and
// ingress-nginx write behind a combined line. Each dialect is told by the shape of its first field,
// so a line of another dialect costs one short look.

#include "entries/log_entry.h"
#include "parse/parse_logs.h"

// Reads `line` when it is one of the dialects above. PARSE_ENTRY fills `entry` (text fields
// cut with NULs in place, entry.line_length set); PARSE_NO_MATCH leaves the line untouched.
// Times: ALB/ELB the sum of the three processing times (s), HAProxy Ta (ms), Envoy
// DURATION (ms), S3 total time (ms); ALB, ELB and Envoy stamps are UTC with their
// fraction, HAProxy's local with milliseconds and no offset.
ParseResult ParseProxyLine(const ParseState& state, char* line, LogEntry& entry);

// After a combined line read from `line`: the transfer time that Traefik
// (` 12 "router" "http://svc" 2ms`) or ingress-nginx (` 89 0.001 [upstream] ...`,
// $request_time in seconds) write behind the agent, and the total time Ta (ms) and the
// accept date's milliseconds of HAProxy's "option httplog clf" (`"" "" 33317 655 "http-in"
// "static" "srv1" 10 0 30 69 109 "----" ...`). Other tails are left alone.
void ReadProxyTail(char* line, LogEntry& entry);
