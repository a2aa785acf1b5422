// Lines per second through each output writer (every row of the dialect table), and the
// per-entry costs of --anonymize-ip (masking, keyed hash), --client=xff and --dedupe, on
// combined lines parsed once. Google Benchmark measures CPU time, so the figures hold on a
// busy machine; compare each with BM_Write/ncsa, the plain merge's writer.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "entries/client_address.h"
#include "entries/log_entry.h"
#include "output/duplicate_lines.h"
#include "output/writers.h"
#include "parse/parse_logs.h"

namespace {

constexpr int LINES = 20000;

const char* const PATHS[] = {"/",
                             "/index.html",
                             "/images/logo.gif",
                             "/css/site.css",
                             "/products/list.php?id=7&q=a+b",
                             "/search?q=shoes",
                             "/blog/2024/03/05/post.html"};
const char* const AGENTS[] = {
    "Mozilla/5.0 (X11; Linux x86_64; rv:123.0) Gecko/20100101 Firefox/123.0",
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/122.0.0.0 Safari/537.36",
    "Googlebot/2.1 (+http://www.google.com/bot.html)", "curl/8.5.0"};
const char* const REFERERS[] = {"-", "https://www.example.com/", "https://www.example.com/search"};

// Combined lines as nginx writes them with its X-Forwarded-For field, parsed once; the
// entries point into `text`.
struct Corpus {
  std::string text;
  std::vector<LogEntry> entries;

  Corpus() {
    std::mt19937 rng(3);
    char line[768];
    for (int i = 0; i < LINES; ++i) {
      const int seconds = i / 3;  // three entries a second, as dedupe sees them
      std::snprintf(line, sizeof line,
                    "203.0.%u.%u - - [05/Mar/2024:%02d:%02d:%02d +0100] \"GET %s HTTP/1.1\" %d %u "
                    "\"%s\" \"%s\" \"198.51.100.%u, 10.0.0.%u\"\n",
                    static_cast<unsigned>(rng() % 256), static_cast<unsigned>(rng() % 254 + 1),
                    seconds / 3600 % 24, seconds / 60 % 60, seconds % 60,
                    PATHS[rng() % std::size(PATHS)], rng() % 4 == 0 ? 304 : 200,
                    static_cast<unsigned>(rng() % 60000), REFERERS[rng() % std::size(REFERERS)],
                    AGENTS[rng() % std::size(AGENTS)], static_cast<unsigned>(rng() % 256),
                    static_cast<unsigned>(rng() % 256));
      text += line;
    }
    ParseState state;
    InitParseState(state);
    for (size_t offset = 0; offset < text.size();) {
      LogEntry entry;
      if (ParseEntry(state, text.data() + offset, entry) != PARSE_ENTRY) break;
      offset += static_cast<size_t>(entry.line_length);
      entries.push_back(entry);
    }
  }
};

const Corpus& TheCorpus() {
  static const Corpus corpus;
  return corpus;
}

void Finish(benchmark::State& bench, size_t per_iteration) {
  bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations() * per_iteration));
}

void BM_Write(benchmark::State& bench) {
  const OutputDialect& dialect = OUTPUT_DIALECTS[bench.range(0)];
  bench.SetLabel(dialect.name);
  const Corpus& corpus = TheCorpus();
  if (corpus.entries.size() != LINES) {
    bench.SkipWithError("a benchmark line did not parse");
    return;
  }
  const WriterOptions options{.vhost = false, .newlines = NewlineStyle::UNIX};
  std::vector<char> buffer(LINE_BUFFER_SIZE);
  for (auto _ : bench) {
    for (const LogEntry& entry : corpus.entries) {
      benchmark::DoNotOptimize(dialect.writer(buffer.data(), buffer.size(), entry, options));
    }
  }
  Finish(bench, corpus.entries.size());
}
BENCHMARK(BM_Write)->DenseRange(0, std::size(OUTPUT_DIALECTS) - 1)->Unit(benchmark::kMillisecond);

// The corpus's entries with their clients as visits bring them: 64 visitors at a time, each
// with bursts of requests among the others', a new crowd every 2,000 entries.
struct Visits {
  std::vector<std::string> clients;
  std::vector<LogEntry> entries;

  Visits() {
    const Corpus& corpus = TheCorpus();
    std::mt19937 rng(5);
    clients.reserve(corpus.entries.size() / 2000 * 64 + 64);
    for (size_t i = 0; i < corpus.entries.size(); i += 2000) {
      for (int v = 0; v < 64; ++v) {
        clients.push_back(std::to_string(rng() % 223 + 1) + "." + std::to_string(rng() % 256) +
                          "." + std::to_string(rng() % 256) + "." +
                          std::to_string(rng() % 254 + 1));
      }
    }
    size_t visitor = 0;
    for (size_t i = 0; i < corpus.entries.size(); ++i) {
      if (rng() % 4 == 0) visitor = rng() % 64;  // bursts of four requests on average
      LogEntry entry = corpus.entries[i];
      entry.client_host = TextOf(clients[i / 2000 * 64 + visitor].data());
      entries.push_back(entry);
    }
  }
};

// The client rewrite of every entry: 0 X-Forwarded-For, 1 masked to /16, 2 keyed hash, each
// client drawn at random; 3 keyed hash of clients as visits bring them.
void BM_RewriteClient(benchmark::State& bench) {
  static const char* const kLabels[] = {"xff", "anonymize-2", "anonymize-hash",
                                        "anonymize-hash-visits"};
  bench.SetLabel(kLabels[bench.range(0)]);
  ClientRules rules;
  if (bench.range(0) == 0) rules.source = ClientSource::FORWARDED;
  if (bench.range(0) == 1) rules.anonymize = Anonymize::NETWORK_16;
  if (bench.range(0) >= 2) {
    rules.anonymize = Anonymize::HASH;
    rules.key = HashKeyFrom("0123456789abcdef0123456789abcdef");
  }
  static Visits visits;
  const std::vector<LogEntry>& entries = bench.range(0) == 3 ? visits.entries : TheCorpus().entries;
  ClientScratch scratch;
  for (auto _ : bench) {
    for (LogEntry entry : entries) {
      RewriteClient(entry, rules, scratch);
      benchmark::DoNotOptimize(entry);
    }
  }
  Finish(bench, entries.size());
}
BENCHMARK(BM_RewriteClient)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// --dedupe on formatted NCSA lines from two inputs that share a third of their lines.
void BM_Dedupe(benchmark::State& bench) {
  const Corpus& corpus = TheCorpus();
  const WriterOptions options{.vhost = false, .newlines = NewlineStyle::UNIX};
  std::vector<std::string> lines;
  std::vector<TimeKey> keys;
  char buffer[LINE_BUFFER_SIZE];
  for (const LogEntry& entry : corpus.entries) {
    lines.emplace_back(buffer, FormatNcsaLine(buffer, sizeof buffer, entry, options));
    keys.push_back(MakeTimeKey(entry));
  }
  for (auto _ : bench) {
    DuplicateLines duplicates;
    for (size_t i = 0; i < lines.size(); ++i) {
      benchmark::DoNotOptimize(duplicates.Drop(keys[i], static_cast<int32_t>(i % 2), lines[i]));
    }
  }
  Finish(bench, lines.size());
}
BENCHMARK(BM_Dedupe)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
