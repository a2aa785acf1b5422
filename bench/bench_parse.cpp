// Lines per second through ParseEntry: NCSA combined lines, W3C extended lines after
// their "#Fields:" header, and nginx JSON lines (escape=json, about 400 bytes each).
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

}  // namespace

BENCHMARK_MAIN();
