// Lines per second through ParseEntry: NCSA combined lines, W3C extended lines after
// their "#Fields:" header, nginx JSON lines (escape=json, about 400 bytes each), and the
// cloud and proxy dialects (ALB, HAProxy with the syslog prefix, Envoy, S3, Traefik).
//
// ParseEntry cuts fields with NULs in place, so each batch first restores its buffer from
// a master copy. The copy is inside the timed region (it costs a few percent of a batch),
// so the figures are a slight underestimate of the parser alone.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "entries/log_entry.h"
#include "parse/parse_logs.h"

namespace {

constexpr int LINES_PER_BATCH = 20000;

const char* const PATHS[] = {"/",
                             "/index.html",
                             "/images/logo.gif",
                             "/css/site.css",
                             "/products/list.php",
                             "/search",
                             "/about/team.html",
                             "/download/file-1.2.tar.gz",
                             "/blog/2001/03/05/post.html"};
const char* const AGENTS[] = {"Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)",
                              "Mozilla/5.0 (X11; U; Linux i686; en-US; rv:0.9.4) Gecko/20011019",
                              "Googlebot/2.1 (+http://www.googlebot.com/bot.html)",
                              "Lynx/2.8.4rel.1 libwww-FM/2.14"};
const char* const REFERERS[] = {"-", "http://www.example.com/",
                                "http://search.example.org/q?x=logs+merge",
                                "http://www.example.net/links.html"};

template <size_t N>
const char* Pick(std::mt19937& rng, const char* const (&items)[N]) {
  return items[rng() % N];
}

std::string CombinedLines() {
  std::mt19937 rng(1);
  std::string text;
  char line[512];
  for (int i = 0; i < LINES_PER_BATCH; ++i) {
    const int seconds = i * 2;
    std::string path = Pick(rng, PATHS);
    if (rng() % 5 == 0) path += "?id=" + std::to_string(rng() % 9999) + "&q=a+b";
    std::snprintf(line, sizeof line,
                  "10.0.%u.%u - - [%02d/Mar/2001:%02d:%02d:%02d -0500] \"GET %s HTTP/1.0\" %d "
                  "%u \"%s\" \"%s\"\n",
                  static_cast<unsigned>(rng() % 256), static_cast<unsigned>(rng() % 254 + 1),
                  1 + seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60, seconds % 60,
                  path.c_str(), rng() % 4 == 0 ? 304 : 200, static_cast<unsigned>(rng() % 60000),
                  Pick(rng, REFERERS), Pick(rng, AGENTS));
    text += line;
  }
  return text;
}

std::string W3cLines() {
  std::mt19937 rng(2);
  std::string text;
  char line[512];
  for (int i = 0; i < LINES_PER_BATCH; ++i) {
    const int seconds = i * 2;
    std::string agent = Pick(rng, AGENTS);
    for (char& c : agent) {
      if (c == ' ') c = '+';
    }
    std::snprintf(line, sizeof line,
                  "2001-03-%02d %02d:%02d:%02d 10.0.%u.%u GET %s %s %d %u %u %s %s\r\n",
                  1 + seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60, seconds % 60,
                  static_cast<unsigned>(rng() % 256), static_cast<unsigned>(rng() % 254 + 1),
                  Pick(rng, PATHS), rng() % 5 == 0 ? "id=7&q=a+b" : "-", rng() % 4 == 0 ? 304 : 200,
                  static_cast<unsigned>(rng() % 60000), static_cast<unsigned>(rng() % 2000),
                  agent.c_str(), Pick(rng, REFERERS));
    text += line;
  }
  return text;
}

// nginx's escape=json lines as a site typically declares them: about 400 bytes, numbers
// quoted, the request line whole.
std::string NginxJsonLines() {
  std::mt19937 rng(3);
  std::string text;
  char line[1024];
  for (int i = 0; i < LINES_PER_BATCH; ++i) {
    const int seconds = i * 2;
    std::string path = Pick(rng, PATHS);
    if (rng() % 5 == 0) path += "?id=" + std::to_string(rng() % 9999) + "&q=a+b";
    std::snprintf(line, sizeof line,
                  "{\"time_local\":\"%02d/Mar/2001:%02d:%02d:%02d -0500\",\"remote_addr\":"
                  "\"10.0.%u.%u\",\"remote_user\":\"\",\"request\":\"GET %s HTTP/1.1\","
                  "\"status\":\"%d\",\"body_bytes_sent\":\"%u\",\"request_time\":\"0.%03u\","
                  "\"http_referrer\":\"%s\",\"http_user_agent\":\"%s\","
                  "\"http_x_forwarded_for\":\"-\",\"host\":\"www.example.com\","
                  "\"upstream_response_time\":\"0.%03u\"}\n",
                  1 + seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60, seconds % 60,
                  static_cast<unsigned>(rng() % 256), static_cast<unsigned>(rng() % 254 + 1),
                  path.c_str(), rng() % 4 == 0 ? 304 : 200, static_cast<unsigned>(rng() % 60000),
                  static_cast<unsigned>(rng() % 1000), Pick(rng, REFERERS), Pick(rng, AGENTS),
                  static_cast<unsigned>(rng() % 1000));
    text += line;
  }
  return text;
}

// Cloud and proxy dialects, one line shape each as the server writes it; `%s` stands for
// the path, the numbers vary from line to line.
enum class Proxy { ALB, HAPROXY_SYSLOG, ENVOY, S3, TRAEFIK };

std::string ProxyLines(Proxy dialect) {
  std::mt19937 rng(4);
  std::string text;
  char line[1024];
  for (int i = 0; i < LINES_PER_BATCH; ++i) {
    const int seconds = i * 2;
    const int day = 1 + seconds / 86400, hour = seconds / 3600 % 24, minute = seconds / 60 % 60,
              second = seconds % 60;
    const auto a = static_cast<unsigned>(rng() % 256), b = static_cast<unsigned>(rng() % 254 + 1);
    const auto bytes = static_cast<unsigned>(rng() % 60000),
               ms = static_cast<unsigned>(rng() % 1000);
    const char* const path = Pick(rng, PATHS);
    const char* const agent = Pick(rng, AGENTS);
    switch (dialect) {
      case Proxy::ALB:
        std::snprintf(line, sizeof line,
                      "https 2001-03-%02dT%02d:%02d:%02d.%06uZ app/my-lb/50dc6c495c0c9188 "
                      "10.0.%u.%u:2817 10.0.0.1:80 0.000 0.%03u 0.000 200 200 34 %u "
                      "\"GET https://www.example.com:443%s HTTP/1.1\" \"%s\" "
                      "ECDHE-RSA-AES128-GCM-SHA256 TLSv1.2 arn:aws:elasticloadbalancing:us-east-2:"
                      "123456789012:targetgroup/my-targets/73e2d6bc24d8a067 "
                      "\"Root=1-58337281-1d84f3d73c47ec4e58577259\" \"www.example.com\" \"-\" 1 "
                      "2001-03-01T00:00:00.000000Z \"forward\" \"-\" \"-\" \"10.0.0.1:80\" "
                      "\"200\" \"-\" \"-\"\n",
                      day, hour, minute, second, ms * 1000, a, b, ms, bytes, path, agent);
        break;
      case Proxy::HAPROXY_SYSLOG:
        std::snprintf(line, sizeof line,
                      "Mar %2d %02d:%02d:%02d lb1 haproxy[14389]: 10.0.%u.%u:33317 "
                      "[%02d/Mar/2001:%02d:%02d:%02d.%03u] http-in static/srv1 10/0/30/69/%u "
                      "200 %u - - ---- 1/1/1/1/0 0/0 {www.example.com} {} \"GET %s HTTP/1.1\"\n",
                      day, hour, minute, second, a, b, day, hour, minute, second, ms, ms, bytes,
                      path);
        break;
      case Proxy::ENVOY:
        std::snprintf(line, sizeof line,
                      "[2001-03-%02dT%02d:%02d:%02d.%03uZ] \"GET %s HTTP/1.1\" 200 - 0 %u %u 3 "
                      "\"10.0.%u.%u\" \"%s\" \"cc21d9b0-cf5c-432b-8c7e-98aeb7988cd2\" "
                      "\"www.example.com\" \"10.0.2.1:80\"\n",
                      day, hour, minute, second, ms, path, bytes, ms, a, b, agent);
        break;
      case Proxy::S3:
        std::snprintf(line, sizeof line,
                      "79a59df900b949e55d96a1e698fbacedfd6e09d98eacf8f8d5218e7cd47ef2be bucket1 "
                      "[%02d/Mar/2001:%02d:%02d:%02d +0000] 10.0.%u.%u - 3E57427F3EXAMPLE "
                      "REST.GET.OBJECT key \"GET /bucket1%s HTTP/1.1\" 200 - %u %u %u 1 \"-\" "
                      "\"%s\" - s9lzHYrFp76ZVxRcpX9+5cjAnEH2ROuNkd2BHfIa6UkFVdtjf5mKR3/eTPFvsi= "
                      "SigV4 ECDHE-RSA-AES128-GCM-SHA256 AuthHeader bucket1.s3.amazonaws.com "
                      "TLSv1.2 - -\n",
                      day, hour, minute, second, a, b, path, bytes, bytes, ms, agent);
        break;
      case Proxy::TRAEFIK:
        std::snprintf(line, sizeof line,
                      "10.0.%u.%u - - [%02d/Mar/2001:%02d:%02d:%02d -0500] \"GET %s HTTP/1.1\" "
                      "200 %u \"-\" \"%s\" %d \"web@docker\" \"http://10.0.0.2:8080\" %ums\n",
                      a, b, day, hour, minute, second, path, bytes, agent, i, ms);
        break;
    }
    text += line;
  }
  return text;
}

// Parses the whole batch once per iteration; every line must be an entry.
void RunBatches(benchmark::State& bench, ParseState& state, const std::string& master) {
  std::vector<char> buffer(master.size() + 1);
  int64_t lines = 0;
  for (auto _ : bench) {
    std::memcpy(buffer.data(), master.data(), master.size() + 1);
    size_t offset = 0;
    while (offset < master.size()) {
      LogEntry entry;
      if (ParseEntry(state, buffer.data() + offset, entry) != PARSE_ENTRY) {
        bench.SkipWithError("a benchmark line did not parse");
        return;
      }
      benchmark::DoNotOptimize(entry);
      offset += static_cast<size_t>(entry.line_length);
      ++lines;
    }
  }
  bench.SetItemsProcessed(lines);
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) *
                          static_cast<int64_t>(master.size()));
}

void BM_ParseCombined(benchmark::State& bench) {
  const std::string master = CombinedLines();
  ParseState state;
  InitParseState(state);
  RunBatches(bench, state, master);
}
BENCHMARK(BM_ParseCombined)->Unit(benchmark::kMillisecond);

void BM_ParseW3cExtended(benchmark::State& bench) {
  const std::string master = W3cLines();
  ParseState state;
  InitParseState(state);
  std::string header =
      "#Fields: date time c-ip cs-method cs-uri-stem cs-uri-query sc-status sc-bytes "
      "time-taken cs(User-Agent) cs(Referer)\r\n";
  LogEntry entry;
  if (ParseEntry(state, header.data(), entry) != PARSE_HEADER) {
    bench.SkipWithError("the header did not parse");
    return;
  }
  RunBatches(bench, state, master);
}
BENCHMARK(BM_ParseW3cExtended)->Unit(benchmark::kMillisecond);

void BM_ParseNginxJson(benchmark::State& bench) {
  const std::string master = NginxJsonLines();
  ParseState state;
  InitParseState(state);
  RunBatches(bench, state, master);
}
BENCHMARK(BM_ParseNginxJson)->Unit(benchmark::kMillisecond);

void BM_ParseProxy(benchmark::State& bench, Proxy dialect) {
  const std::string master = ProxyLines(dialect);
  ParseState state;
  InitParseState(state);
  RunBatches(bench, state, master);
}
BENCHMARK_CAPTURE(BM_ParseProxy, alb, Proxy::ALB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ParseProxy, haproxy_syslog, Proxy::HAPROXY_SYSLOG)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ParseProxy, envoy, Proxy::ENVOY)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ParseProxy, s3, Proxy::S3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ParseProxy, traefik, Proxy::TRAEFIK)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
