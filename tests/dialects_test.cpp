// Every built-in dialect with realistic sample lines: each sample parses with its
// dialect's template, and detection picks that dialect.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "parse/format_tokens.h"
#include "parse/json_lines.h"
#include "parse/parse_logs.h"
#include "parse/proxy_lines.h"
#include "parse/server_formats.h"
#include "parse/user_formats.h"
#include "parse_test_support.h"

namespace {

using parse_test::Fields;
using parse_test::FreshState;
using parse_test::LineOutcome;
using parse_test::Walk;

struct Sample {
  std::string line;
  ParseResult result;
  Fields fields;  // for PARSE_ENTRY
};

struct Dialect {
  const char* name;
  int slot;
  std::string preamble;  // header lines that come first in such a file
  std::vector<Sample> samples;
};

const std::string kRequest =
    "[10/Oct/2000:13:55:36 -0700] \"GET /apache_pb.gif HTTP/1.0\" 200 2326";
const Fields kCommonFields = {{"host", "192.168.0.1"},  {"user", "frank"},
                              {"date", "2000-10-10"},   {"time", "13:55:36"},
                              {"method", "GET"},        {"uri", "/apache_pb.gif"},
                              {"protocol", "HTTP/1.0"}, {"bytes", "2326"}};

Fields With(Fields base, const Fields& more) {
  for (const auto& [k, v] : more) base[k] = v;
  return base;
}

const std::vector<Dialect>& Dialects() {
  static const std::vector<Dialect> dialects = {
      {"NCSA common and combined",
       COMBINED,
       "",
       {
           {"192.168.0.1 - frank " + kRequest, PARSE_ENTRY, kCommonFields},
           {"192.168.0.1 - frank " + kRequest +
                " \"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"referer", "http://www.example.com/start.html"},
                                 {"agent", "Mozilla/4.08 [en] (Win98; I ;Nav)"}})},
           // A number after the agent has no unit unless a format declares one: Traefik's
           // request counter, ingress-nginx's request length, Apache's %D microseconds.
           {"192.168.0.1 - frank " + kRequest + " \"-\" \"Mozilla/4.0\" 2 \"session=abc\"",
            PARSE_ENTRY, With(kCommonFields, {{"agent", "Mozilla/4.0"}})},
           {"192.168.0.1 - frank " + kRequest + " \"-\" \"curl/8\" 523412", PARSE_ENTRY,
            With(kCommonFields, {{"agent", "curl/8"}})},
           // nginx's packaged default: combined, then the forwarded-for address.
           {"203.0.113.9 - - [12/Mar/2023:06:25:14 +0000] \"GET /index.html HTTP/1.1\" 200 615 "
            "\"-\" \"Mozilla/5.0 (X11; Linux x86_64; rv:109.0) Gecko/20100101 Firefox/110.0\" "
            "\"198.51.100.4\"",
            PARSE_ENTRY,
            {{"host", "203.0.113.9"},
             {"date", "2023-03-12"},
             {"time", "06:25:14"},
             {"method", "GET"},
             {"uri", "/index.html"},
             {"protocol", "HTTP/1.1"},
             {"bytes", "615"},
             {"agent", "Mozilla/5.0 (X11; Linux x86_64; rv:109.0) Gecko/20100101 Firefox/110.0"},
             {"forwarded_for", "198.51.100.4"}}},
           // A site's own log_format: timings and the host appended.
           {"192.168.0.1 - frank " + kRequest +
                " \"http://r/\" \"curl/7.88.1\" \"-\" rt=0.012 uct=\"0.000\" www.example.com",
            PARSE_ENTRY, With(kCommonFields, {{"referer", "http://r/"}, {"agent", "curl/7.88.1"}})},
           // A user name with blanks runs to the date.
           {"80.8.55.7 - John Doe [01/Jan/2001:13:01:00 +0100] \"GET / HTTP/1.0\" 200 7009 "
            "\"http://www.example.com/\" \"Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\"",
            PARSE_ENTRY,
            {{"host", "80.8.55.7"},
             {"user", "John Doe"},
             {"date", "2001-01-01"},
             {"time", "13:01:00"},
             {"method", "GET"},
             {"uri", "/"},
             {"protocol", "HTTP/1.0"},
             {"bytes", "7009"},
             {"referer", "http://www.example.com/"},
             {"agent", "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)"}}},
           // Apache 2.4 escapes the quotes of a Shellshock probe's agent as \".
           {"203.0.113.77 - - [12/Mar/2023:06:25:19 +0000] \"GET /cgi-bin/test.cgi HTTP/1.1\" 404 "
            "196 \"-\" \"() { :; }; echo; /bin/bash -c \\\"cat /etc/passwd\\\"\"",
            PARSE_ENTRY,
            {{"host", "203.0.113.77"},
             {"date", "2023-03-12"},
             {"time", "06:25:19"},
             {"method", "GET"},
             {"uri", "/cgi-bin/test.cgi"},
             {"protocol", "HTTP/1.1"},
             {"status", "404"},
             {"bytes", "196"},
             {"agent", "() { :; }; echo; /bin/bash -c \"cat /etc/passwd\""}}},
           // The WN extension: angle-bracketed fields, or a domain first.
           {"192.168.0.1 - frank " + kRequest +
                " <frank@example.com> <Mozilla/4.0 (compatible)> <http://www.example.com/> "
                "<id=7> www.example.com",
            PARSE_ENTRY,
            With(kCommonFields, {{"agent", "Mozilla/4.0 (compatible)"},
                                 {"referer", "http://www.example.com/"},
                                 {"cookie", "id=7"},
                                 {"domain", "www.example.com"}})},
           {"192.168.0.1 - frank " + kRequest +
                " www.example.com \"http://www.example.com/\" \"Mozilla/4.0\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com"},
                                 {"referer", "http://www.example.com/"},
                                 {"agent", "Mozilla/4.0"}})},
       }},
      {"IIS service log",
       IIS_SERVICE,
       "",
       {
           {"192.168.114.201, -, 03/20/01, 7:55:20, W3SVC2, SERVER, 172.21.13.45, 4502, 163, "
            "3223, 200, 0, GET, /DeptLogo.gif, -,",
            PARSE_ENTRY,
            {{"host", "192.168.114.201"},
             {"date", "2001-03-20"},
             {"time", "07:55:20"},
             {"domain", "172.21.13.45"},
             {"transfer", "4502"},
             {"bytes", "3223"},
             {"method", "GET"},
             {"uri", "/DeptLogo.gif"}}},
           // Four fields after the uri are rotated into place: agent, referer, cookie, query.
           {"192.168.114.201, bob, 03/20/01, 7:55:20, W3SVC2, SERVER, www.example.com, 10, "
            "163, 3223, 404, 0, GET, /search.asp, Mozilla/4.0 (compatible; MSIE 5.5), "
            "http://www.example.com/, ASPSESSIONID=XYZ, q=1",
            PARSE_ENTRY,
            {{"host", "192.168.114.201"},
             {"user", "bob"},
             {"date", "2001-03-20"},
             {"time", "07:55:20"},
             {"domain", "www.example.com"},
             {"transfer", "10"},
             {"bytes", "3223"},
             {"status", "404"},
             {"method", "GET"},
             {"uri", "/search.asp"},
             {"agent", "Mozilla/4.0 (compatible; MSIE 5.5)"},
             {"referer", "http://www.example.com/"},
             {"cookie", "ASPSESSIONID=XYZ"},
             {"query", "q=1"}}},
           {"192.168.114.201, -, 03/20/01, 7:55:20, MSFTPSVC1, SERVER, 172.21.13.45, 0, 0, 0, "
            "0, 0, [1]USER, anonymous, -,",
            PARSE_HEADER,
            {}},
       }},
      {"WebSTAR common",
       WEBSTAR_COMMON,
       "",
       {
           {"03/20/01\t10:00:00\tGET\tOK\t192.168.0.1\t/index.html\t1234",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"uri", "/index.html"},
             {"bytes", "1234"}}},
           {"03/20/01\t10:00:01\tGET\tERR!\t192.168.0.2\t/missing.html\t0",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:01"},
             {"host", "192.168.0.2"},
             {"uri", "/missing.html"},
             {"bytes", "0"},
             {"status", "404"}}},
       }},
      {"header lines",
       HEADER,
       "",
       {
           {"#Software: Microsoft Internet Information Services 5.0", PARSE_HEADER, {}},
           {"#Version: 1.0", PARSE_HEADER, {}},
           {"!!WebSTAR", PARSE_HEADER, {}},
           {"Bad URL reference received from: 192.168.0.1", PARSE_HEADER, {}},
       }},
      {"W3C extended",
       FIELDS,
       "#Software: Microsoft Internet Information Services 5.0\n#Version: 1.0\n"
       "#Date: 2001-03-20 10:00:00\n"
       "#Fields: date time c-ip cs-username cs-method cs-uri-stem cs-uri-query sc-status "
       "sc-bytes time-taken cs(User-Agent) cs(Referer)\n",
       {
           {"2001-03-20 10:00:01 192.168.0.1 - GET /default.htm q=1 200 1500 250 "
            "Mozilla/4.0+(compatible) http://www.example.com/",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:01"},
             {"host", "192.168.0.1"},
             {"method", "GET"},
             {"uri", "/default.htm"},
             {"query", "q=1"},
             {"bytes", "1500"},
             {"transfer", "250"},
             {"agent", "Mozilla/4.0+(compatible)"},
             {"referer", "http://www.example.com/"}}},
       }},
      {"CloudFront (W3C, tab-separated, time-taken in seconds)",
       FIELDS,
       "#Version: 1.0\n"
       "#Fields: date time x-edge-location sc-bytes c-ip cs-method cs(Host) cs-uri-stem "
       "sc-status cs(Referer) cs(User-Agent) cs-uri-query cs(Cookie) x-edge-result-type "
       "x-edge-request-id x-host-header cs-protocol cs-bytes time-taken x-forwarded-for "
       "ssl-protocol ssl-cipher x-edge-response-result-type cs-protocol-version fle-status "
       "fle-encrypted-fields c-port time-to-first-byte x-edge-detailed-result-type "
       "sc-content-type sc-content-len sc-range-start sc-range-end\n",
       {
           {"2019-12-04\t21:02:31\tLAX1\t392\t192.0.2.100\tGET\td111111abcdef8.cloudfront.net\t"
            "/index.html\t200\t-\tMozilla/5.0%20(Windows%20NT%2010.0;%20Win64;%20x64)%20"
            "AppleWebKit/537.36%20(KHTML,%20like%20Gecko)%20Chrome/78.0.3904.108%20Safari/"
            "537.36\t-\t-\tHit\tSOX4xwn4XV6Q4rgb7XiVGOHms_BGlTAC4KyHmureZmBNrjGdRLiNIQ==\t"
            "d111111abcdef8.cloudfront.net\thttps\t23\t0.001\t-\tTLSv1.2\t"
            "ECDHE-RSA-AES128-GCM-SHA256\tHit\tHTTP/2.0\t-\t-\t11040\t0.001\tHit\ttext/html\t78\t"
            "-\t-",
            PARSE_ENTRY,
            {{"date", "2019-12-04"},
             {"time", "21:02:31"},
             {"bytes", "392"},
             {"host", "192.0.2.100"},
             {"method", "GET"},
             {"domain", "d111111abcdef8.cloudfront.net"},
             {"uri", "/index.html"},
             {"agent",
              "Mozilla/5.0%20(Windows%20NT%2010.0;%20Win64;%20x64)%20AppleWebKit/537.36%20"
              "(KHTML,%20like%20Gecko)%20Chrome/78.0.3904.108%20Safari/537.36"},
             {"transfer", "1"}}},
           {"2019-12-13\t21:20:58\tSEA19-C1\t3200\t192.0.2.200\tGET\td111111abcdef8.cloudfront."
            "net\t"
            "/favicon.ico\t404\thttps://www.example.com/\tcurl/7.68.0\tv=1\t-\tError\t"
            "zA4YkbzH1iE_JBqPdEyY-mJqq2s2YNfe3I9xNLqeOGy5ZUU6yeWnMw==\tfoo.example."
            "com\thttps\t132\t"
            "1.250\t203.0.113.7, "
            "10.1.2.3\tTLSv1.2\tECDHE-RSA-AES128-GCM-SHA256\tError\tHTTP/1.1\t-\t-\t41426\t1.250\t"
            "Error\ttext/html\t2942\t-\t-",
            PARSE_ENTRY,
            {{"date", "2019-12-13"},
             {"time", "21:20:58"},
             {"bytes", "3200"},
             {"host", "192.0.2.200"},
             {"method", "GET"},
             {"domain", "d111111abcdef8.cloudfront.net"},
             {"uri", "/favicon.ico"},
             {"status", "404"},
             {"referer", "https://www.example.com/"},
             {"agent", "curl/7.68.0"},
             {"query", "v=1"},
             {"transfer", "1250"},
             {"forwarded_for", "203.0.113.7, 10.1.2.3"}}},
       }},
      {"IIS 8.5 W3C with site name and host",
       FIELDS,
       "#Software: Microsoft Internet Information Services 8.5\n#Version: 1.0\n"
       "#Date: 2016-03-01 00:00:01\n"
       "#Fields: date time s-sitename s-computername s-ip cs-method cs-uri-stem cs-uri-query "
       "s-port cs-username c-ip cs-version cs(User-Agent) cs(Cookie) cs(Referer) cs-host "
       "sc-status sc-substatus sc-win32-status sc-bytes cs-bytes time-taken\n",
       {
           // The host the client asked for is the virtual host, not the site identifier.
           {"2016-03-01 00:00:01 W3SVC834221556 WEB01 10.0.0.5 GET /default.aspx id=7 443 - "
            "203.0.113.50 HTTP/1.1 Mozilla/5.0+(Windows+NT+6.1;+WOW64;+Trident/7.0;+rv:11.0)+like+"
            "Gecko ASP.NET_SessionId=abc https://www.example.com/ www.example.com 200 0 0 5120 612 "
            "4502",
            PARSE_ENTRY,
            {{"date", "2016-03-01"},
             {"time", "00:00:01"},
             {"domain", "www.example.com"},
             {"server", "WEB01"},
             {"method", "GET"},
             {"uri", "/default.aspx"},
             {"query", "id=7"},
             {"host", "203.0.113.50"},
             {"protocol", "HTTP/1.1"},
             {"agent", "Mozilla/5.0+(Windows+NT+6.1;+WOW64;+Trident/7.0;+rv:11.0)+like+Gecko"},
             {"cookie", "ASP.NET_SessionId=abc"},
             {"referer", "https://www.example.com/"},
             {"bytes", "5120"},
             {"transfer", "4502"}}},
           // Without a Host header the site identifier stays the virtual host.
           {"2016-03-01 00:00:02 W3SVC834221556 WEB01 10.0.0.5 GET / - 80 CORP\\jsmith "
            "203.0.113.51 HTTP/1.0 - - - - 401 2 5 1293 98 1",
            PARSE_ENTRY,
            {{"date", "2016-03-01"},
             {"time", "00:00:02"},
             {"domain", "W3SVC834221556"},
             {"server", "WEB01"},
             {"method", "GET"},
             {"uri", "/"},
             {"user", "CORP\\jsmith"},
             {"host", "203.0.113.51"},
             {"protocol", "HTTP/1.0"},
             {"status", "401"},
             {"bytes", "1293"},
             {"transfer", "1"}}},
       }},
      {"IIS Advanced Logging",
       FIELDS,
       "#Software: IIS Advanced Logging Module\n#Version: 1.0\n"
       "#Start-Date: 2012-05-01 00:00:00.000\n"
       "#Fields: date-local time-local s-computername cs-uri-stem cs-uri-query c-ip "
       "cs(User-Agent) cs(Referer) cs-host sc-status sc-bytes time-taken\n",
       {
           {"2012-05-01 02:00:07.315 WEB01 /default.aspx - 10.0.0.1 "
            "\"Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)\" \"-\" "
            "www.example.com 200 3420 15",
            PARSE_ENTRY,
            {{"date", "2012-05-01"},
             {"time", "02:00:07"},
             {"server", "WEB01"},
             {"uri", "/default.aspx"},
             {"host", "10.0.0.1"},
             {"agent", "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)"},
             {"domain", "www.example.com"},
             {"bytes", "3420"},
             {"transfer", "15"}}},
           // A quote inside a quoted string is written twice.
           {"2012-05-01 02:00:08.002 WEB01 /search.aspx q=a 10.0.0.2 "
            "\"Mozilla/4.0 (\"\"compatible\"\")\" \"http://www.example.com/?q=\"\"a b\"\"\" "
            "www.example.com 200 812 31",
            PARSE_ENTRY,
            {{"date", "2012-05-01"},
             {"time", "02:00:08"},
             {"server", "WEB01"},
             {"uri", "/search.aspx"},
             {"query", "q=a"},
             {"host", "10.0.0.2"},
             {"agent", "Mozilla/4.0 (\"compatible\")"},
             {"referer", "http://www.example.com/?q=\"a b\""},
             {"domain", "www.example.com"},
             {"bytes", "812"},
             {"transfer", "31"}}},
       }},
      {"W3C extended, padded columns",
       FIELDS,
       "#Version: 1.0\n#Date: 2004-06-01 00:00:00\n"
       "#Fields: time c-ip cs-method cs-uri-stem sc-status sc-bytes\n",
       {
           {"09:15:02  192.168.0.10    GET  /index.html       200   4812",
            PARSE_ENTRY,
            {{"date", "2004-06-01"},
             {"time", "09:15:02"},
             {"host", "192.168.0.10"},
             {"method", "GET"},
             {"uri", "/index.html"},
             {"bytes", "4812"}}},
       }},
      {"W3C extended, every value quoted (Imperva Incapsula)",
       FIELDS,
       "#Software: Imperva Inc.\n#Version: 1.0\n"
       "#Fields: date time cs-vid cs-browsertype c-ip s-caport cs-uri cs-method cs-version "
       "sc-status sc-bytes time-taken cs(User-Agent) cs(Referer) s-computername\n",
       {
           {R"j("2024-03-05" "10:00:00" "2398" "Browser" "71.102.121.49" "443" )j"
            R"j("www.example.com/index.html?id=7" "GET" "HTTP/1.1" "200" "5120" "35" )j"
            R"j("Mozilla/5.0 (X11; Linux x86_64)" "https://www.example.com/" "ams")j",
            PARSE_ENTRY,
            {{"date", "2024-03-05"},
             {"time", "10:00:00"},
             {"host", "71.102.121.49"},
             {"uri", "www.example.com/index.html"},
             {"query", "id=7"},
             {"method", "GET"},
             {"protocol", "HTTP/1.1"},
             {"bytes", "5120"},
             {"transfer", "35"},
             {"agent", "Mozilla/5.0 (X11; Linux x86_64)"},
             {"referer", "https://www.example.com/"},
             {"server", "ams"}}},
           // Absent values are a quoted "-"; a quote inside a value is doubled.
           {R"j("2024-03-05" "10:00:01" "2398" "Bot" "198.51.100.7" "443" "/robots.txt" )j"
            R"j("GET" "HTTP/1.0" "404" "-" "-" "say ""hi""" "-" "ams")j",
            PARSE_ENTRY,
            {{"date", "2024-03-05"},
             {"time", "10:00:01"},
             {"host", "198.51.100.7"},
             {"uri", "/robots.txt"},
             {"method", "GET"},
             {"protocol", "HTTP/1.0"},
             {"status", "404"},
             {"agent", "say \"hi\""},
             {"server", "ams"}}},
       }},
      {"W3C extended, Oracle Web Cache spellings",
       FIELDS,
       "#Version: 1.0\n#Date: 2004-06-01 00:00:00\n"
       "#Fields: date time c-ip c-auth-id cs-method cs-uri-stem sc-status bytes "
       "cs(Referrer) cs(X-Forwarded-For)\n",
       {
           {"2004-06-01 09:15:02 192.168.0.10 jsmith GET /index.html 200 4812 "
            "http://www.example.com/ 203.0.113.9,10.0.0.1",
            PARSE_ENTRY,
            {{"date", "2004-06-01"},
             {"time", "09:15:02"},
             {"host", "192.168.0.10"},
             {"user", "jsmith"},
             {"method", "GET"},
             {"uri", "/index.html"},
             {"bytes", "4812"},
             {"referer", "http://www.example.com/"},
             {"forwarded_for", "203.0.113.9,10.0.0.1"}}},
       }},
      {"WebSTAR field list",
       FIELDS,
       "!!WebSTAR\n!!LOG_FORMAT DATE TIME RESULT HOSTNAME URL BYTES_SENT AGENT REFERER "
       "TRANSFER_TIME\n",
       {
           {"03/20/01\t10:00:00\tOK\t192.168.0.1\t/index.html\t1234\tMozilla/4.0 (Macintosh)\t"
            "http://x/\t120",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"uri", "/index.html"},
             {"bytes", "1234"},
             {"agent", "Mozilla/4.0 (Macintosh)"},
             {"referer", "http://x/"},
             {"transfer", "2000"}}},
       }},
      {"Netscape flexible",
       FIELDS,
       "format=%Ses->client.ip% - %Req->vars.auth-user% [%SYSDATE%] "
       "\"%Req->reqpb.clf-request%\" %Req->srvhdrs.clf-status% "
       "%Req->srvhdrs.content-length% \"%Req->headers.referer%\"\n",
       {
           {"192.168.0.1 - frank " + kRequest + " \"http://r/\"", PARSE_ENTRY,
            With(kCommonFields, {{"referer", "http://r/"}})},
       }},
      {"date first",
       DATE_FIRST,
       "",
       {
           {"03/20/01 10:00:00 192.168.0.1 www.example.com - bob GET /a.html "
            "http://www.example.com/ - Mozilla/4.0 200 1234 1500",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"domain", "www.example.com"},
             {"user", "bob"},
             {"method", "GET"},
             {"uri", "/a.html"},
             {"referer", "http://www.example.com/"},
             {"agent", "Mozilla/4.0"},
             {"bytes", "1234"},
             {"transfer", "1500"}}},
       }},
      {"bracketed date line",
       DATE_LINE,
       "",
       {{"[20/Mar/2001:10:00:00 -0800] Server restarted", PARSE_HEADER, {}}}},
      {"error log",
       ERROR_LINE,
       "",
       {{"[Tue Mar 20 10:00:00 2001] [error] [client 192.168.0.1] File does not exist: /x",
         PARSE_HEADER,
         {}},
        // Apache 2.4 writes microseconds.
        {"[Tue Mar 20 10:00:00.123456 2001] [core:error] [pid 4711:tid 1401] [client "
         "192.168.0.1:52345] AH00126: Invalid URI in request GET /%%% HTTP/1.1",
         PARSE_HEADER,
         {}}}},
      {"virtual-host combined",
       VHOST_COMBINED,
       "",
       {
           // Apache's vhost_combined: host and port in front, the referer before the agent.
           {"www.example.com:80 192.168.0.1 - frank " + kRequest +
                " \"http://www.example.com/start.html\" \"Mozilla/4.08 [en] (Win98; I ;Nav)\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com:80"},
                                 {"referer", "http://www.example.com/start.html"},
                                 {"agent", "Mozilla/4.08 [en] (Win98; I ;Nav)"}})},
           {"www.example.com 192.168.0.1 - frank " + kRequest +
                " \"http://r/\" \"Mozilla/4.0\" \"id=1\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com"},
                                 {"referer", "http://r/"},
                                 {"agent", "Mozilla/4.0"},
                                 {"cookie", "id=1"}})},
           // A referer of an injection attempt, its quotes escaped as \".
           {"www.example.com:443 192.168.0.1 - frank " + kRequest +
                " \"http://www.example.com/?id=1\\\" OR \\\"1\\\"=\\\"1\" \"sqlmap/1.7.2\"",
            PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com:443"},
                                 {"referer", "http://www.example.com/?id=1\" OR \"1\"=\"1"},
                                 {"agent", "sqlmap/1.7.2"}})},
           // Stopping after the referer leaves agent and cookie out.
           {"www.example.com 192.168.0.1 - frank " + kRequest + " \"http://r/\"", PARSE_ENTRY,
            With(kCommonFields, {{"domain", "www.example.com"}, {"referer", "http://r/"}})},
           // A user name with blanks stays whole behind the identity field.
           {"www.example.com 192.168.0.1 - John Doe " + kRequest + " \"-\" \"Mozilla/4.0\"",
            PARSE_ENTRY,
            With(kCommonFields,
                 {{"domain", "www.example.com"}, {"user", "John Doe"}, {"agent", "Mozilla/4.0"}})},
       }},
      {"FTP transfer log",
       FTP_TRANSFER,
       "",
       {
           {"Tue Mar 20 10:00:00 2001 1 192.168.0.1 1234 /pub/file.txt b _ o r bob ftp 0 * c",
            PARSE_ENTRY,
            {{"date", "2001-03-20"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"bytes", "1234"},
             {"uri", "/pub/file.txt"},
             {"user", "bob"},
             {"method", "ftp"},
             {"transfer", "1000"}}},
           {"Tue Mar  5 10:00:00 2001 12 192.168.0.1 1234 /pub/a.txt b _ o r bob ftp 0 * c",
            PARSE_ENTRY,
            {{"date", "2001-03-05"},
             {"time", "10:00:00"},
             {"host", "192.168.0.1"},
             {"bytes", "1234"},
             {"uri", "/pub/a.txt"},
             {"user", "bob"},
             {"method", "ftp"},
             {"transfer", "12000"}}},
       }},
  };
  return dialects;
}

TEST(Dialects, EverySlotHasSamples) {
  std::vector<bool> covered(BUILTIN_FORMAT_COUNT, false);
  for (const Dialect& d : Dialects()) {
    if (!d.samples.empty()) covered[d.slot] = true;
  }
  for (int slot = 0; slot < BUILTIN_FORMAT_COUNT; ++slot) {
    EXPECT_TRUE(covered[slot]) << "no sample for slot " << slot;
  }
}

// Every dialect x every sample, in a fresh input after the dialect's header lines, and
// once more with all samples of the dialect in one file (CR LF line ends).
TEST(Dialects, DetectionPicksTheDialectOfEverySample) {
  for (const Dialect& d : Dialects()) {
    SCOPED_TRACE(d.name);
    std::string file = d.preamble;
    for (const Sample& s : d.samples) {
      SCOPED_TRACE(s.line);
      ParseState state = FreshState();
      Walk(state, d.preamble);
      const auto outcomes = Walk(state, s.line + "\n");
      ASSERT_EQ(outcomes.size(), 1u);
      EXPECT_EQ(outcomes[0].result, s.result);
      EXPECT_EQ(outcomes[0].slot, d.slot);
      EXPECT_EQ(outcomes[0].fields, s.fields);
      file += s.line + "\r\n";
    }
    ParseState state = FreshState();
    const auto outcomes = Walk(state, file);
    ASSERT_GE(outcomes.size(), d.samples.size());
    for (size_t i = 0; i < d.samples.size(); ++i) {
      const auto& o = outcomes[outcomes.size() - d.samples.size() + i];
      EXPECT_EQ(o.result, d.samples[i].result);
      EXPECT_EQ(o.slot, d.slot);
      EXPECT_EQ(o.line_length, static_cast<int32_t>(d.samples[i].line.size() + 2));
    }
  }
}

// CloudFront files are often kept without their header lines: the documented column order
// reads the same lines to the same fields.
TEST(Dialects, CloudFrontWithoutHeaderLinesReadsTheDocumentedColumns) {
  for (const Dialect& d : Dialects()) {
    if (std::string(d.name).rfind("CloudFront", 0) != 0) continue;
    ASSERT_FALSE(d.samples.empty());
    for (const Sample& s : d.samples) {
      SCOPED_TRACE(s.line);
      ParseState state = FreshState();
      const auto outcomes = Walk(state, s.line + "\n");
      ASSERT_EQ(outcomes.size(), 1u);
      EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
      EXPECT_EQ(outcomes[0].fields, s.fields);
      EXPECT_EQ(outcomes[0].utc_offset, 0);
    }
    return;
  }
  FAIL() << "no CloudFront dialect among the samples";
}

// Each sample read with its dialect's own template directly gives the same fields.
TEST(Dialects, SamplesParseWithTheirTemplate) {
  for (const Dialect& d : Dialects()) {
    SCOPED_TRACE(d.name);
    for (const Sample& s : d.samples) {
      SCOPED_TRACE(s.line);
      ParseState state = FreshState();
      Walk(state, d.preamble);
      parse_test::Buffer buffer(s.line);
      LogEntry entry;
      const LogFormat format = d.slot == FIELDS ? state.fields_template : BuiltinFormat(d.slot);
      const FieldStyle style = d.slot == FIELDS ? state.fields_style : FieldStyle::TEMPLATE;
      const ParseResult result = ParseLine(state, buffer.data(), format, entry, style);
      // DATE_LINE and ERROR_LINE read their lines as entries; detection turns them into
      // headers.
      const bool non_entry = d.slot == DATE_LINE || d.slot == ERROR_LINE;
      EXPECT_EQ(result, non_entry ? PARSE_ENTRY : s.result);
      if (s.result == PARSE_ENTRY) {
        EXPECT_EQ(parse_test::Describe(entry), s.fields);
      }
    }
  }
}

// In a W3C log that quotes every value, a date, time or number is read only when its
// closing quote follows it.
TEST(Dialects, QuotedW3cValuesMustBeClosed) {
  const std::string header = "#Version: 1.0\n#Fields: date time c-ip sc-status sc-bytes\n";
  const struct {
    const char* line;
    ParseResult result;
  } cases[] = {
      {R"("2024-03-05" "10:00:00" "198.51.100.7" "404" "512")", PARSE_ENTRY},
      {R"("2024-03-05" "10:00:00" "198.51.100.7" "404x" "512")", PARSE_NO_MATCH},
      {R"("2024-03-05" "10:00:00" "198.51.100.7" "404 "512")", PARSE_NO_MATCH},
      {R"("2024-03-05" "10:00" "198.51.100.7" "404" "512")", PARSE_NO_MATCH},
      {R"("2024-03-05" "10:00:00" "198.51.100.7" "404" "512)", PARSE_NO_MATCH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, header + c.line + "\n");
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().result, c.result);
  }
}

// Oracle Web Cache's "#GMT-Offset:" header gives the offset of the stamps below it; W3C
// stamps are UTC otherwise, and a header that cannot be read changes nothing.
TEST(Dialects, W3cGmtOffsetHeaderGivesTheStampsTheirOffset) {
  const std::string fields = "#Fields: date time c-ip cs-method cs-uri-stem sc-status bytes\n";
  const std::string line = "2004-06-01 09:15:02 192.168.0.10 GET /index.html 200 4812\n";
  const struct {
    std::string header;
    int32_t offset;
  } cases[] = {
      {"", 0},
      {"#GMT-Offset: -0800\n", -480},
      {"#GMT-Offset: +05:30\n", 330},
      {"#GMT-Offset: -0800\n#GMT-Offset: PST\n", -480},
      {"#GMT-Offset: +2500\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, "#Version: 1.0\n" + c.header + fields + line);
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().result, PARSE_ENTRY);
    EXPECT_EQ(outcomes.back().utc_offset, c.offset);
    EXPECT_EQ(outcomes.back().fields.at("time"), "09:15:02");
  }
}

}  // namespace

// ---- JSON lines -------------------------------------------------------------------------------

struct JsonSample {
  const char* name;
  std::string line;
  ParseResult result;
  Fields fields;  // for PARSE_ENTRY
  int32_t utc_offset = NO_OFFSET;
};

// Envoy's documented sample request, written as JSON or in the default text format.
const Fields kEnvoyFields = {{"host", "10.0.35.28"},
                             {"forwarded_for", "10.0.35.28"},
                             {"ms", "310"},
                             {"method", "POST"},
                             {"uri", "/api/v1/locations"},
                             {"protocol", "HTTP/2"},
                             {"status", "204"},
                             {"bytes", "0"},
                             {"transfer", "226"},
                             {"agent", "nsq2http"},
                             {"domain", "locations"}};

// Lines as each server writes them with its documented keys.
const std::vector<JsonSample>& JsonSamples() {
  static const std::vector<JsonSample> samples = {
      {"nginx escape=json, request line and time_local",
       R"({"time_local":"12/Mar/2023:06:25:14 +0100","remote_addr":"203.0.113.9",)"
       R"("remote_user":"","request":"GET /index.html?q=1 HTTP/1.1","status": "404",)"
       R"("body_bytes_sent":"615","request_time":"0.012","http_referrer":"-",)"
       R"("http_user_agent":"Mozilla/5.0 (X11; Linux x86_64) Firefox/110.0","http_x_forwarded_for":)"
       R"("198.51.100.4, 10.0.0.1","host":"www.example.com"})",
       PARSE_ENTRY,
       {{"host", "203.0.113.9"},
        {"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"method", "GET"},
        {"uri", "/index.html"},
        {"query", "q=1"},
        {"protocol", "HTTP/1.1"},
        {"status", "404"},
        {"bytes", "615"},
        {"transfer", "12"},
        {"agent", "Mozilla/5.0 (X11; Linux x86_64) Firefox/110.0"},
        {"forwarded_for", "198.51.100.4, 10.0.0.1"},
        {"domain", "www.example.com"}},
       60},
      {"nginx escape=json, split request and time_iso8601, numbers unquoted",
       R"({"time_iso8601":"2023-03-12T06:25:14+00:00","remote_addr":"2001:db8::1",)"
       R"("request_method":"POST","request_uri":"/api/v1/items","server_protocol":"HTTP/2.0",)"
       R"("status":201,"body_bytes_sent":0,"request_time":1.5,"http_referer":"https://example.com/",)"
       R"("http_user_agent":"curl/8.4.0","server_name":"api.example.com"})",
       PARSE_ENTRY,
       {{"host", "2001:db8::1"},
        {"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"method", "POST"},
        {"uri", "/api/v1/items"},
        {"protocol", "HTTP/2.0"},
        {"status", "201"},
        {"bytes", "0"},
        {"transfer", "1500"},
        {"referer", "https://example.com/"},
        {"agent", "curl/8.4.0"},
        {"domain", "api.example.com"}},
       0},
      {"nginx $msec",
       R"({"msec":"1678602314.123","remote_addr":"203.0.113.9","request":"GET / HTTP/1.1",)"
       R"("status":"200","body_bytes_sent":"1024"})",
       PARSE_ENTRY,
       {{"host", "203.0.113.9"},
        {"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"ms", "123"},
        {"method", "GET"},
        {"uri", "/"},
        {"protocol", "HTTP/1.1"}},
       0},
      {"Caddy access log",
       R"({"level":"info","ts":1678602314.5381126,"logger":"http.log.access.log0",)"
       R"("msg":"handled request","request":{"remote_ip":"10.0.0.7","remote_port":"51234",)"
       R"("client_ip":"203.0.113.9","proto":"HTTP/2.0","method":"GET","host":"example.com",)"
       R"("uri":"/docs/?page=2","headers":{"User-Agent":["Mozilla/5.0"],"Accept":["*/*"],)"
       R"("Referer":["https://example.com/"]},"tls":{"resumed":false,"version":772}},)"
       R"("bytes_read":0,"user_id":"alice","duration":0.000929,"size":10900,"status":200,)"
       R"("resp_headers":{"Server":["Caddy"]}})",
       PARSE_ENTRY,
       {{"host", "203.0.113.9"},
        {"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"ms", "538"},
        {"user", "alice"},
        {"method", "GET"},
        {"uri", "/docs/"},
        {"query", "page=2"},
        {"protocol", "HTTP/2.0"},
        {"domain", "example.com"},
        {"bytes", "10900"},
        {"transfer", "1"},
        {"agent", "Mozilla/5.0"},
        {"referer", "https://example.com/"}},
       0},
      {"Caddy, another logger in the same file",
       R"({"level":"info","ts":1678602314.1,"logger":"tls.obtain","msg":"acquiring lock"})",
       PARSE_HEADER,
       {}},
      {"Traefik JSON",
       R"({"ClientAddr":"203.0.113.9:54321","ClientHost":"203.0.113.9","ClientPort":"54321",)"
       R"("ClientUsername":"-","DownstreamContentSize":1234,"DownstreamStatus":302,)"
       R"("Duration":2345678,"RequestHost":"whoami.example.com","RequestMethod":"GET",)"
       R"("RequestPath":"/login?next=%2F","RequestProtocol":"HTTP/1.1","RouterName":"web@docker",)"
       R"("StartLocal":"2023-03-12T07:25:14.123456789+01:00",)"
       R"("StartUTC":"2023-03-12T06:25:14.123456789Z","request_User-Agent":"curl/8.0",)"
       R"("request_Referer":"https://example.com/","request_X-Forwarded-For":"198.51.100.4",)"
       R"("level":"info","msg":"","time":"2023-03-12T06:25:14Z"})",
       PARSE_ENTRY,
       {{"host", "203.0.113.9"},
        {"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"ms", "123"},
        {"method", "GET"},
        {"uri", "/login"},
        {"query", "next=%2F"},
        {"protocol", "HTTP/1.1"},
        {"status", "302"},
        {"bytes", "1234"},
        {"transfer", "2"},
        {"domain", "whoami.example.com"},
        {"agent", "curl/8.0"},
        {"referer", "https://example.com/"},
        {"forwarded_for", "198.51.100.4"}},
       0},
      {"Envoy JSON access log",
       R"({"start_time":"2023-03-12T06:25:14.310Z","method":"POST",)"
       R"("path":"/api/v1/locations","protocol":"HTTP/2","response_code":"204",)"
       R"("bytes_sent":"0","duration":"226","x_forwarded_for":"10.0.35.28",)"
       R"("user_agent":"nsq2http","authority":"locations",)"
       R"("downstream_remote_address":"10.0.35.28:41234"})",
       PARSE_ENTRY, With(kEnvoyFields, {{"date", "2023-03-12"}, {"time", "06:25:14"}}), 0},
      {"Google Cloud load balancer",
       R"({"insertId":"1x2y3z","httpRequest":{"requestMethod":"GET",)"
       R"("requestUrl":"https://www.example.com/static/app.js?v=3","requestSize":"123",)"
       R"("status":200,"responseSize":"5120","userAgent":"Mozilla/5.0","remoteIp":"203.0.113.9",)"
       R"("referer":"https://www.example.com/","latency":"0.012345s","protocol":"HTTP/1.1"},)"
       R"("resource":{"type":"http_load_balancer"},"timestamp":"2023-03-12T06:25:14.987654Z",)"
       R"("severity":"INFO"})",
       PARSE_ENTRY,
       {{"host", "203.0.113.9"},
        {"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"ms", "987"},
        {"method", "GET"},
        {"uri", "https://www.example.com/static/app.js"},
        {"query", "v=3"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "5120"},
        {"transfer", "12"},
        {"agent", "Mozilla/5.0"},
        {"referer", "https://www.example.com/"}},
       0},
      {"this program's own JSON lines",
       R"({"time":"2024-03-31T03:00:05.250+02:00","client":"192.0.2.1","user":"bob",)"
       R"("method":"GET","path":"/a b","query":"x=1","protocol":"HTTP/1.1","status":304,)"
       R"("bytes":0,"duration_ms":17,"vhost":"www.example.com","referer":"http://r/",)"
       R"("agent":"Mozilla/5.0","cookie":"id=7","source":"access.log"})",
       PARSE_ENTRY,
       {{"host", "192.0.2.1"},
        {"date", "2024-03-31"},
        {"time", "03:00:05"},
        {"ms", "250"},
        {"user", "bob"},
        {"method", "GET"},
        {"uri", "/a b"},
        {"query", "x=1"},
        {"protocol", "HTTP/1.1"},
        {"status", "304"},
        {"bytes", "0"},
        {"transfer", "17"},
        {"domain", "www.example.com"},
        {"referer", "http://r/"},
        {"agent", "Mozilla/5.0"},
        {"cookie", "id=7"}},
       120},
  };
  return samples;
}

void ExpectSamples(const std::vector<JsonSample>& samples) {
  for (const JsonSample& s : samples) {
    SCOPED_TRACE(s.name);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, s.line + "\n");
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, s.result);
    EXPECT_EQ(outcomes[0].line_length, static_cast<int32_t>(s.line.size() + 1));
    if (s.result != PARSE_ENTRY) continue;
    EXPECT_EQ(outcomes[0].fields, s.fields);
    EXPECT_EQ(outcomes[0].utc_offset, s.utc_offset);
  }
}

TEST(JsonLines, EveryPresetReadsItsFields) {
  ExpectSamples(JsonSamples());
}

// The edge cases of real JSON: escapes, unicode, nesting, absent values, and lines that are
// no entry.
TEST(JsonLines, EdgeCases) {
  const std::string mib(1 << 20, 'a');
  const struct {
    const char* name;
    std::string line;
    ParseResult result;
    Fields fields;
  } cases[] = {
      {"escapes and unicode are unescaped in place",
       R"({"time":"2023-03-12T06:25:14Z","request":"GET /a\"b\\c\u00e9\ud83d\ude00 HTTP/1.1",)"
       R"("http_user_agent":"tab\there\/"})",
       PARSE_ENTRY,
       {{"date", "2023-03-12"},
        {"time", "06:25:14"},
        {"method", "GET"},
        {"uri", "/a\"b\\c\xC3\xA9\xF0\x9F\x98\x80"},
        {"protocol", "HTTP/1.1"},
        {"agent", "tab\there/"}}},
      {"escaped line breaks and NULs become spaces, so the merged line stays whole",
       R"j({"time":"2023-03-12T06:25:14Z","http_user_agent":"a\nb\r\u0000c"})j",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}, {"agent", "a b  c"}}},
      {"absent values: empty, dash, null, missing keys",
       R"({"time":"2023-03-12T06:25:14Z","remote_addr":"","remote_user":"-","status":null,)"
       R"("http_referer":"","request_uri":"/x"})",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}, {"uri", "/x"}}},
      {"unknown nested objects and arrays are passed over",
       R"({"extra":{"a":[1,{"status":999}],"b":"}"},"time":"2023-03-12T06:25:14Z","status":"503"})",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}, {"status", "503"}}},
      {"a one-mebibyte value",
       R"({"time":"2023-03-12T06:25:14Z","http_user_agent":")" + mib + R"("})",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}, {"agent", mib}}},
      {"invalid UTF-8 keeps its bytes and the entry is not lost",
       "{\"time\":\"2023-03-12T06:25:14Z\",\"request_uri\":\"/\xFF\xC3(x\"}",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}, {"uri", "/\xFF\xC3(x"}}},
      {"invalid UTF-8 beside an escape: the offending byte reads as '?'",
       "{\"time\":\"2023-03-12T06:25:14Z\",\"http_user_agent\":\"a\\\"\xFF\"}",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}, {"agent", "a\"?"}}},
      // A string is read as its unescaped text: quotes inside it are no quotes around a
      // number, and no byte of a time is cut off.
      {"quotes inside a string value",
       R"({"time":"2023-03-12T06:25:14Z","status":"\"200\"","bytes":"\"5"})",
       PARSE_ENTRY,
       {{"date", "2023-03-12"}, {"time", "06:25:14"}}},
      {"a time that opens with an escaped quote",
       R"({"time":"\"2023-03-12T06:25:14Z"})",
       PARSE_NO_MATCH,
       {}},
      {"a truncated object", R"({"time":"2023-03-12T06:25:14Z","status":2)", PARSE_NO_MATCH, {}},
      {"text behind the object", R"({"time":"2023-03-12T06:25:14Z"} x)", PARSE_NO_MATCH, {}},
      {"no time key", R"({"remote_addr":"203.0.113.9","status":200})", PARSE_NO_MATCH, {}},
      {"an unreadable time", R"({"time":"yesterday","status":200})", PARSE_NO_MATCH, {}},
      {"not an object but braces", "{not json}", PARSE_NO_MATCH, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, c.line + "\n");
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, c.result);
    EXPECT_EQ(outcomes[0].line_length, static_cast<int32_t>(c.line.size() + 1));
    EXPECT_EQ(outcomes[0].fields, c.fields);
  }
}

// The user's keys win over the presets; nested paths and array indexes are followed.
TEST(JsonLines, UserMapping) {
  JsonFieldMapping* mapping = nullptr;
  std::string error;
  for (const char* field :
       {"time=event.at", "client=peer.addr[1]", "duration_us=timing.total", "status=code"}) {
    ASSERT_TRUE(AddJsonField(mapping, field, error)) << field << ": " << error;
  }
  ParseState state = FreshState();
  state.json_fields = mapping;
  const auto outcomes =
      Walk(state, R"({"time":"1999-01-01T00:00:00Z","event":{"at":"2023-03-12T06:25:14Z"},)"
                  R"("peer":{"addr":["10.0.0.1","203.0.113.9"]},"timing":{"total":1500},)"
                  R"("status":200,"code":"418"})"
                  "\n");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[0].fields, (Fields{{"date", "2023-03-12"},
                                        {"time", "06:25:14"},
                                        {"host", "203.0.113.9"},
                                        {"transfer", "2"},
                                        {"status", "418"}}));
  FreeJsonFieldMapping(mapping);

  const struct {
    const char* text;
    const char* names;
  } refused[] = {
      {"time", "<field>=<key path>"},    {"when=ts", "unknown field 'when'"},
      {"time=", "invalid key path"},     {"time=a..b", "invalid key path 'a..b'"},
      {"time=a[x]", "invalid key path"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.text);
    JsonFieldMapping* m = nullptr;
    EXPECT_FALSE(AddJsonField(m, r.text, error));
    EXPECT_NE(error.find(r.names), std::string::npos) << error;
    EXPECT_EQ(m, nullptr);
  }
}

// Long key paths of many parts are refused once they would crowd the key table, never
// filling it (a full table would make every lookup of an unknown key run forever); the
// paths accepted before keep working.
TEST(JsonLines, UserMappingThatWouldCrowdTheKeyTableIsRefused) {
  JsonFieldMapping* mapping = nullptr;
  std::string error;
  ASSERT_TRUE(AddJsonField(mapping, "time=event.at", error)) << error;
  bool refused = false;
  for (int i = 0; i < 30 && !refused; ++i) {
    std::string field = "agent=k" + std::to_string(i);
    while (field.size() < 200) field += ".a";
    refused = !AddJsonField(mapping, field, error);
  }
  EXPECT_TRUE(refused);
  EXPECT_NE(error.find("too many json-field key paths"), std::string::npos) << error;
  ParseState state = FreshState();
  state.json_fields = mapping;
  const auto outcomes = Walk(state, R"({"x":1,"y":{"z":2},"event":{"at":"2023-03-12T06:25:14Z"}})"
                                    "\n");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
  EXPECT_EQ(outcomes[0].fields, (Fields{{"date", "2023-03-12"}, {"time", "06:25:14"}}));
  FreeJsonFieldMapping(mapping);
}

// ---- Server format lines ----------------------------------------------------------------------

namespace {

// What the server format line `format` makes of `line`, its only line.
LineOutcome ReadWithServerFormat(ServerKind kind, const char* format, const std::string& line) {
  std::string names;
  std::string error;
  EXPECT_TRUE(TranslateServerFormat(kind, format, names, error)) << error;
  ParseState state = FreshState();
  LoadUserFormats(state, names.c_str());
  const auto outcomes = Walk(state, line + "\n");
  EXPECT_EQ(outcomes.size(), 1u);
  return outcomes.empty() ? LineOutcome{PARSE_NO_MATCH, -1, 0, {}} : outcomes.front();
}

}  // namespace

// A format line pasted from the server's configuration reads the lines that server writes,
// each time field in its unit.
TEST(ServerFormats, FormatLinesReadTheirServersLines) {
  const struct {
    const char* name;
    ServerKind kind;
    const char* format;
    std::string line;
    Fields fields;
  } cases[] = {
      {"Apache combined with %D microseconds", ServerKind::APACHE,
       R"j(%h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-agent}i\" %D)j",
       "192.168.0.1 - frank " + kRequest + R"j( "http://r/" "curl/8" 523412)j",
       With(kCommonFields, {{"referer", "http://r/"}, {"agent", "curl/8"}, {"transfer", "523"}})},
      {"Apache vhost with identd, %T seconds",
       ServerKind::APACHE,
       R"j(%v:%p %h %l %u %t "%r" %>s %O "%{Referer}i" "%{User-Agent}i" %T)j",
       "localhost:443 178.20.184.42 1j0vhgd jsmith [10/Oct/2000:13:55:36 -0700] "
       "\"GET /a HTTP/1.1\" 200 116075 \"-\" \"Mozilla/5.0\" 2",
       {{"domain", "localhost:443"},
        {"host", "178.20.184.42"},
        {"user", "jsmith"},
        {"date", "2000-10-10"},
        {"time", "13:55:36"},
        {"method", "GET"},
        {"uri", "/a"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "116075"},
        {"agent", "Mozilla/5.0"},
        {"transfer", "2000"}}},
      {"Apache %{ms}T and X-Forwarded-For", ServerKind::APACHE,
       R"j(%a %l %u %t "%r" %s %B %{ms}T "%{X-Forwarded-For}i")j",
       "192.168.0.1 - frank " + kRequest + " 17 \"203.0.113.9\"",
       With(kCommonFields, {{"transfer", "17"}, {"forwarded_for", "203.0.113.9"}})},
      {"nginx main with $request_time", ServerKind::NGINX,
       R"j($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_referer" "$http_user_agent" $request_time)j",
       "192.168.0.1 - frank " + kRequest + R"j( "-" "curl/8" 0.012)j",
       With(kCommonFields, {{"agent", "curl/8"}, {"transfer", "12"}})},
      {"nginx with upstream variables passed over", ServerKind::NGINX,
       R"j($remote_addr - $remote_user [$time_local] "$request" $status $bytes_sent $upstream_addr $host)j",
       "192.168.0.1 - frank " + kRequest + " 10.0.0.5:80 www.example.com",
       With(kCommonFields, {{"domain", "www.example.com"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LineOutcome outcome = ReadWithServerFormat(c.kind, c.format, c.line);
    EXPECT_EQ(outcome.result, PARSE_ENTRY);
    EXPECT_EQ(outcome.fields, c.fields);
  }
}

// A common-log date with a fraction of the second (HAProxy writes "[06/Feb/2009:12:14:14.655]")
// keeps its milliseconds.
TEST(ServerFormats, ClfDatesKeepTheirMilliseconds) {
  ParseState state = FreshState();
  LoadUserFormats(state, "HOST DATE-CLF STATUS");
  const auto outcomes = Walk(state, "10.0.1.2 [06/Feb/2009:12:14:14.655] 200\n");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
  EXPECT_EQ(
      outcomes[0].fields,
      (Fields{{"host", "10.0.1.2"}, {"date", "2009-02-06"}, {"time", "12:14:14"}, {"ms", "655"}}));
}

// Format lines whose time is ISO 8601 or seconds since 1970 ($time_iso8601, $msec,
// Apache's %{sec}t): the stamp keeps its milliseconds and its zone (UTC for an epoch time).
TEST(ServerFormats, IsoAndEpochTimeFields) {
  const Fields kIsoFields = With(kCommonFields, {{"agent", "curl/8"}});
  const Fields kEpochFields = {
      {"host", "203.0.113.9"}, {"date", "2024-03-05"},   {"time", "10:00:00"}, {"method", "GET"},
      {"uri", "/a"},           {"protocol", "HTTP/1.1"}, {"bytes", "615"}};
  const struct {
    const char* name;
    ServerKind kind;
    const char* format;
    std::string line;
    Fields fields;
    int32_t offset;
  } cases[] = {
      {"nginx $time_iso8601 in brackets", ServerKind::NGINX,
       R"j($remote_addr - $remote_user [$time_iso8601] "$request" $status $body_bytes_sent "$http_referer" "$http_user_agent")j",
       "192.168.0.1 - frank [2000-10-10T13:55:36-07:00] \"GET /apache_pb.gif HTTP/1.0\" 200 "
       "2326 \"-\" \"curl/8\"",
       kIsoFields, -420},
      {"nginx $time_iso8601 first, bare", ServerKind::NGINX,
       R"j($time_iso8601 $remote_addr "$request" $status $body_bytes_sent $request_time)j",
       "2024-03-05T11:00:00+01:00 203.0.113.9 \"GET /a HTTP/1.1\" 200 615 0.012",
       With(kEpochFields, {{"time", "11:00:00"}, {"transfer", "12"}}), 60},
      {"nginx $msec", ServerKind::NGINX,
       R"j($msec $remote_addr "$request" $status $body_bytes_sent "$http_user_agent")j",
       "1709632800.123 203.0.113.9 \"GET /a HTTP/1.1\" 200 615 \"curl/8\"",
       With(kEpochFields, {{"ms", "123"}, {"agent", "curl/8"}}), 0},
      {"Apache %{sec}t", ServerKind::APACHE, R"j(%h [%{sec}t] "%r" %>s %b)j",
       "203.0.113.9 [1709632800] \"GET /a HTTP/1.1\" 200 615", kEpochFields, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LineOutcome outcome = ReadWithServerFormat(c.kind, c.format, c.line);
    EXPECT_EQ(outcome.result, PARSE_ENTRY);
    EXPECT_EQ(outcome.fields, c.fields);
    EXPECT_EQ(outcome.utc_offset, c.offset);
  }
}

TEST(ServerFormats, DirectivesThatCannotBeReadAreNamed) {
  const struct {
    ServerKind kind;
    const char* format;
    const char* named;
  } cases[] = {
      {ServerKind::APACHE, "%h %Z %t", "'%Z'"},
      {ServerKind::APACHE, "%h %{%Y-%m-%d}t", "'%{%Y-%m-%d}t'"},
      {ServerKind::APACHE, "%h rt=%D", "'rt=%D'"},
      {ServerKind::NGINX, "$remote_addr rt=$request_time", "'rt=$request_time'"},
      {ServerKind::NGINX, "$remote-addr", "'$remote-addr'"},
      {ServerKind::NGINX, "   ", "empty"},
      // Entries without a date could not be ordered.
      {ServerKind::APACHE, "%h %l %u \"%r\" %>s %b", "no time field"},
      {ServerKind::NGINX, "$remote_addr $request_method $uri $status $time_local_x",
       "no time field"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    std::string names;
    std::string error;
    EXPECT_FALSE(TranslateServerFormat(c.kind, c.format, names, error));
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
  }
}

// ---- Cloud and proxy dialects --------------------------------------------------------------

namespace {

const std::string kAlbTail =
    " arn:aws:elasticloadbalancing:us-east-2:123456789012:targetgroup/my-targets/"
    "73e2d6bc24d8a067 \"Root=1-58337262-36d228ad5d99923122bbe354\"";
const std::string kS3Owner = "79a59df900b949e55d96a1e698fbacedfd6e09d98eacf8f8d5218e7cd47ef2be";
const std::string kHaproxyBody =
    "10.0.1.2:33317 [06/Feb/2009:12:14:14.655] http-in static/srv1 10/0/30/69/109 200 2750 - - "
    "---- 1/1/1/1/0 0/0 ";
const Fields kHaproxyFields = {
    {"host", "10.0.1.2"}, {"date", "2009-02-06"}, {"time", "12:14:14"},     {"ms", "655"},
    {"method", "GET"},    {"uri", "/index.html"}, {"protocol", "HTTP/1.1"}, {"bytes", "2750"},
    {"transfer", "109"}};

// Sample lines from each vendor's documentation, as the server writes them.
const std::vector<JsonSample>& ProxySamples() {
  static const std::vector<JsonSample> samples = {
      {"ALB http",
       "http 2018-07-02T22:23:00.186641Z app/my-loadbalancer/50dc6c495c0c9188 "
       "192.168.131.39:2817 10.0.0.1:80 0.000 0.001 0.000 200 200 34 366 "
       "\"GET http://www.example.com:80/ HTTP/1.1\" \"curl/7.46.0\" - -" +
           kAlbTail +
           " \"-\" \"-\" 0 2018-07-02T22:22:48.364000Z \"forward\" \"-\" \"-\" "
           "\"10.0.0.1:80\" \"200\" \"-\" \"-\"",
       PARSE_ENTRY,
       {{"host", "192.168.131.39"},
        {"date", "2018-07-02"},
        {"time", "22:23:00"},
        {"ms", "186"},
        {"method", "GET"},
        {"uri", "http://www.example.com:80/"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "366"},
        {"transfer", "1"},
        {"agent", "curl/7.46.0"}},
       0},
      {"ALB https with its domain and fields AWS appended later",
       "https 2018-07-02T22:23:00.186641Z app/my-loadbalancer/50dc6c495c0c9188 "
       "192.168.131.39:2817 10.0.0.1:80 0.086 0.048 0.037 404 404 0 57 "
       "\"GET https://www.example.com:443/a?b=1 HTTP/1.1\" \"curl/7.46.0\" "
       "ECDHE-RSA-AES128-GCM-SHA256 TLSv1.2" +
           kAlbTail +
           " \"www.example.com\" \"arn:aws:acm:us-east-2:123456789012:certificate/"
           "12345678-1234-1234-1234-123456789012\" 1 2018-07-02T22:22:48.364000Z "
           "\"authenticate,forward\" \"-\" \"-\" \"10.0.0.1:80\" \"200\" \"-\" \"-\" "
           "TID_1234 \"-\" \"-\" \"-\" \"new-field\"",
       PARSE_ENTRY,
       {{"host", "192.168.131.39"},
        {"date", "2018-07-02"},
        {"time", "22:23:00"},
        {"ms", "186"},
        {"method", "GET"},
        {"uri", "https://www.example.com:443/a"},
        {"query", "b=1"},
        {"protocol", "HTTP/1.1"},
        {"status", "404"},
        {"bytes", "57"},
        {"transfer", "171"},
        {"agent", "curl/7.46.0"},
        {"domain", "www.example.com"}},
       0},
      {"ALB request that reached no target: no time",
       "h2 2018-07-02T22:23:00.186641Z app/my-loadbalancer/50dc6c495c0c9188 "
       "[2001:db8::1]:2817 - -1 -1 -1 503 - 34 366 "
       "\"GET https://www.example.com:443/ HTTP/2.0\" \"curl/7.46.0\" - -" +
           kAlbTail,
       PARSE_ENTRY,
       {{"host", "2001:db8::1"},
        {"date", "2018-07-02"},
        {"time", "22:23:00"},
        {"ms", "186"},
        {"method", "GET"},
        {"uri", "https://www.example.com:443/"},
        {"protocol", "HTTP/2.0"},
        {"status", "503"},
        {"bytes", "366"},
        {"agent", "curl/7.46.0"}},
       0},
      {"classic ELB",
       "2015-05-13T23:39:43.945958Z my-loadbalancer 192.168.131.39:2817 10.0.0.1:80 0.000073 "
       "0.001048 0.000057 200 200 0 29 \"GET http://www.example.com:80/ HTTP/1.1\" "
       "\"curl/7.38.0\" - -",
       PARSE_ENTRY,
       {{"host", "192.168.131.39"},
        {"date", "2015-05-13"},
        {"time", "23:39:43"},
        {"ms", "945"},
        {"method", "GET"},
        {"uri", "http://www.example.com:80/"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "29"},
        {"transfer", "1"},
        {"agent", "curl/7.38.0"}},
       0},
      {"ALB line cut short",
       "http 2018-07-02T22:23:00.186641Z app/my-lb 192.168.131.39:2817",
       PARSE_NO_MATCH,
       {}},
      {"HAProxy httplog with the syslog prefix and captured headers",
       "Feb  6 12:14:14 localhost haproxy[14389]: " + kHaproxyBody +
           "{1wt.eu} {} \"GET /index.html HTTP/1.1\"",
       PARSE_ENTRY, kHaproxyFields},
      {"HAProxy httplog without prefix or captures, Ta logged early",
       "10.0.1.2:33317 [06/Feb/2009:12:14:14.655] http-in~ static/srv1 10/0/30/69/+109 200 2750 "
       "- - ---- 1/1/1/1/0 0/0 \"GET /index.html HTTP/1.1\"",
       PARSE_ENTRY, kHaproxyFields},
      {"HAProxy log-format with the zone in the accept date (%trl)",
       "10.0.1.2:33317 [06/Feb/2009:12:14:14.655 +0100] http-in static/srv1 10/0/30/69/109 200 "
       "2750 - - ---- 1/1/1/1/0 0/0 \"GET /index.html HTTP/1.1\"",
       PARSE_ENTRY, kHaproxyFields, 60},
      // option httplog clf: the accept date in GMT, its milliseconds and Ta behind the request.
      {"HAProxy httplog clf",
       "10.0.1.2 - - [06/Feb/2009:11:14:14 +0000] \"GET /index.html HTTP/1.1\" 200 2750 \"\" "
       "\"\" 33317 655 \"http-in\" \"static\" \"srv1\" 10 0 30 69 109 \"----\" 1 1 1 1 0 0 0 "
       "\"\" \"\" \"\" \"\"",
       PARSE_ENTRY, With(kHaproxyFields, {{"time", "11:14:14"}}), 0},
      {"HAProxy httplog clf of an aborted request (Ta -1)",
       "10.0.1.2 - - [06/Feb/2009:11:14:14 +0000] \"GET /index.html HTTP/1.1\" 200 2750 \"\" "
       "\"\" 33317 655 \"http-in\" \"static\" \"<NOSRV>\" 10 -1 -1 -1 -1 \"CR--\" 1 1 0 0 0 0 0 "
       "\"\" \"\" \"\" \"\"",
       PARSE_ENTRY,
       {{"host", "10.0.1.2"},
        {"date", "2009-02-06"},
        {"time", "11:14:14"},
        {"ms", "655"},
        {"method", "GET"},
        {"uri", "/index.html"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "2750"}},
       0},
      // Numbers behind empty referer and agent that are not HAProxy's are passed over.
      {"combined with empty referer and agent and a number behind",
       "10.0.1.2 - - [06/Feb/2009:11:14:14 +0000] \"GET /index.html HTTP/1.1\" 200 2750 \"\" "
       "\"\" 33317 655",
       PARSE_ENTRY,
       {{"host", "10.0.1.2"},
        {"date", "2009-02-06"},
        {"time", "11:14:14"},
        {"method", "GET"},
        {"uri", "/index.html"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "2750"}},
       0},
      {"HAProxy syslog line of another kind",
       "Feb  6 12:14:14 localhost haproxy[14389]: "
       "Proxy http-in started.",
       PARSE_NO_MATCH,
       {}},
      {"Envoy default format",
       "[2016-04-15T20:17:00.310Z] \"POST /api/v1/locations HTTP/2\" 204 - 154 0 226 100 "
       "\"10.0.35.28\" \"nsq2http\" \"cc21d9b0-cf5c-432b-8c7e-98aeb7988cd2\" \"locations\" "
       "\"tcp://10.0.2.1:80\"",
       PARSE_ENTRY, With(kEnvoyFields, {{"date", "2016-04-15"}, {"time", "20:17:00"}}), 0},
      {"Envoy with a forwarded-for list and no agent",
       "[2016-04-15T20:17:00.310Z] \"GET / HTTP/1.1\" 200 - 0 1024 3 2 "
       "\"203.0.113.7, 10.0.0.1\" \"-\" \"cc21d9b0-cf5c-432b-8c7e-98aeb7988cd2\" \"example.com\" "
       "\"10.0.2.1:80\"",
       PARSE_ENTRY,
       {{"host", "203.0.113.7"},
        {"forwarded_for", "203.0.113.7, 10.0.0.1"},
        {"date", "2016-04-15"},
        {"time", "20:17:00"},
        {"ms", "310"},
        {"method", "GET"},
        {"uri", "/"},
        {"protocol", "HTTP/1.1"},
        {"transfer", "3"},
        {"domain", "example.com"}},
       0},
      {"S3 server access",
       kS3Owner + " DOC-EXAMPLE-BUCKET1 [06/Feb/2019:00:00:38 +0000] 192.0.2.3 " + kS3Owner +
           " 3E57427F3EXAMPLE REST.GET.VERSIONING - \"GET /DOC-EXAMPLE-BUCKET1?versioning "
           "HTTP/1.1\" 200 - 113 - 7 - \"-\" \"S3Console/0.4\" - "
           "s9lzHYrFp76ZVxRcpX9+5cjAnEH2ROuNkd2BHfIa6UkFVdtjf5mKR3/eTPFvsiP/XV/VLi31234= SigV4 "
           "ECDHE-RSA-AES128-GCM-SHA256 AuthHeader DOC-EXAMPLE-BUCKET1.s3.us-west-1.amazonaws.com "
           "TLSV1.2 - -",
       PARSE_ENTRY,
       {{"host", "192.0.2.3"},
        {"user", kS3Owner},
        {"domain", "DOC-EXAMPLE-BUCKET1"},
        {"date", "2019-02-06"},
        {"time", "00:00:38"},
        {"method", "GET"},
        {"uri", "/DOC-EXAMPLE-BUCKET1"},
        {"query", "versioning"},
        {"protocol", "HTTP/1.1"},
        {"bytes", "113"},
        {"transfer", "7"},
        {"agent", "S3Console/0.4"}},
       0},
      {"Nginx Proxy Manager proxy host",
       "[10/Dec/2023:14:23:11 +0000] - 200 200 - GET https example.com \"/path?a=1\" "
       "[Client 1.2.3.4] [Length 512] [Gzip -] [Sent-to 10.0.0.2] \"Mozilla/5.0\" "
       "\"https://example.com/\"",
       PARSE_ENTRY,
       {{"host", "1.2.3.4"},
        {"date", "2023-12-10"},
        {"time", "14:23:11"},
        {"method", "GET"},
        {"uri", "/path"},
        {"query", "a=1"},
        {"domain", "example.com"},
        {"bytes", "512"},
        {"agent", "Mozilla/5.0"},
        {"referer", "https://example.com/"}},
       0},
      {"Nginx Proxy Manager, a cached answer with no upstream",
       "[10/Dec/2023:14:23:12 +0100] HIT - 304 - GET http example.com \"/\" [Client 1.2.3.4] "
       "[Length 0] [Gzip 2.51] [Sent-to 10.0.0.2] \"-\" \"-\"",
       PARSE_ENTRY,
       {{"host", "1.2.3.4"},
        {"date", "2023-12-10"},
        {"time", "14:23:12"},
        {"method", "GET"},
        {"uri", "/"},
        {"domain", "example.com"},
        {"status", "304"},
        {"bytes", "0"}},
       60},
      {"a bracketed date line of an error log stays a header",
       "[10/Dec/2023:14:23:11 +0000] [error] 25#25: *1 connect() failed",
       PARSE_HEADER,
       {}},
      {"Traefik CLF: counter, router, service, duration in ms",
       "192.168.0.1 - frank " + kRequest +
           " \"-\" \"curl/8\" 1234 \"frontend\" \"http://10.0.0.2:8080\" 2ms",
       PARSE_ENTRY, With(kCommonFields, {{"agent", "curl/8"}, {"transfer", "2"}}), -420},
      {"ingress-nginx: request length, then request time in seconds",
       "192.168.0.1 - frank " + kRequest +
           " \"-\" \"curl/8\" 89 0.013 [default-svc-80] [] 10.0.0.5:80 615 0.012 200 abc123",
       PARSE_ENTRY, With(kCommonFields, {{"agent", "curl/8"}, {"transfer", "13"}}), -420},
  };
  return samples;
}

}  // namespace

TEST(ProxyDialects, EveryDialectReadsItsFields) {
  ExpectSamples(ProxySamples());
}

// The last line of a log may lack its line end: the entry ends with the data.
TEST(ProxyLines, ALastLineWithoutLineEndEndsWithTheData) {
  for (const JsonSample& s : ProxySamples()) {
    if (s.result != PARSE_ENTRY) continue;
    SCOPED_TRACE(s.name);
    ParseState state = FreshState();
    const auto outcomes = Walk(state, s.line);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, PARSE_ENTRY);
    EXPECT_EQ(outcomes[0].line_length, static_cast<int32_t>(s.line.size()));
  }
}

// A proxy line whose date or status cannot make an entry is refused before any field is
// cut, so the other dialects still see the line as it was.
// A combined line at the end of the data, without a line end, whose agent stands bare right
// behind the referer's closing quote: the look for a proxy's fields behind the agent stays
// inside the data (the buffer holds exactly the data and its NUL, as an input hands it over).
TEST(ProxyLines, AnAgentEndingWithTheDataHasNothingReadBehindIt) {
  const std::string text =
      R"(203.0.113.9 - - [12/Mar/2023:06:25:31 +0000] "GET / HTTP/1.1" 200 5 "-"x)";
  const auto bytes = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(bytes.get(), text.c_str(), text.size() + 1);
  ParseState state = FreshState();
  LogEntry entry;
  EXPECT_EQ(ParseEntry(state, bytes.get(), entry), PARSE_ENTRY);
  EXPECT_EQ(entry.line_length, static_cast<int32_t>(text.size()));
  EXPECT_EQ(entry.transfer_time, NO_NUMBER);
}

TEST(ProxyLines, ARefusedLineIsLeftAsItWas) {
  const struct {
    const char* name;
    std::string good;
    const char* from;  // replaced by `to` to make the line one that is refused
    const char* to;
  } cases[] = {
      {"Envoy, a byte that is no digit in the year",
       "[2016-04-15T20:17:00.310Z] \"GET / HTTP/1.1\" 200 - 0 1024 3 2 "
       "\"203.0.113.7, 10.0.0.1\" \"-\" \"cc21d9b0\" \"example.com\" \"10.0.2.1:80\"",
       "2016-",
       "20\x86"
       "6-"},
      {"Envoy, a status of four digits",
       "[2016-04-15T20:17:00.310Z] \"GET / HTTP/1.1\" 200 - 0 1024 3 2 "
       "\"203.0.113.7, 10.0.0.1\" \"-\" \"cc21d9b0\" \"example.com\" \"10.0.2.1:80\"",
       " 200 ", " 2000 "},
      {"classic ELB, month 13",
       "2015-05-13T23:39:43.945958Z my-lb 192.168.131.39:2817 10.0.0.1:80 0.000073 0.001048 "
       "0.000057 200 200 0 29 \"GET http://www.example.com:80/ HTTP/1.1\" \"curl/7.38.0\" - -",
       "2015-05", "2015-13"},
      {"HAProxy, day 36",
       "10.0.1.2:33317 [06/Feb/2009:12:14:14.655] http-in static/srv1 10/0/30/69/109 200 2750 - "
       "- ---- 1/1/1/1/0 0/0 \"GET /index.html HTTP/1.1\"",
       "[06/", "[36/"},
      {"S3, hour 25",
       kS3Owner + " DOC-EXAMPLE-BUCKET1 [06/Feb/2019:00:00:38 +0000] 192.0.2.3 " + kS3Owner +
           " 3E57427F3EXAMPLE REST.GET.VERSIONING - \"GET /DOC-EXAMPLE-BUCKET1?versioning "
           "HTTP/1.1\" 200 - 113 - 7 - \"-\" \"S3Console/0.4\" -",
       ":00:00:38", ":25:00:38"},
      {"Nginx Proxy Manager, hour 25",
       "[10/Dec/2023:14:23:11 +0000] - 200 200 - GET https example.com \"/path\" "
       "[Client 1.2.3.4] [Length 512] [Gzip -] [Sent-to 10.0.0.2] \"agent\" \"referer\"",
       ":14:23", ":25:23"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string good = c.good;
    ParseState state = FreshState();
    LogEntry entry;
    ASSERT_EQ(ParseProxyLine(state, good.data(), entry), PARSE_ENTRY);
    std::string bad = c.good;
    const size_t at = bad.find(c.from);
    ASSERT_NE(at, std::string::npos);
    bad.replace(at, std::string(c.from).size(), c.to);
    const std::string before = bad;
    EXPECT_EQ(ParseProxyLine(state, bad.data(), entry), PARSE_NO_MATCH);
    EXPECT_EQ(bad, before);
  }
}
