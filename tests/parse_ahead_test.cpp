// Parsing ahead on worker threads: the merged log, the statistics and the messages are the
// same, byte for byte, whether the merge thread parses every input itself (one thread) or
// workers parse and format them in batches ahead of it. These tests also run under
// ThreadSanitizer (the tsan preset).

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "program_runner.h"

namespace {

using namespace testing_support;

namespace fs = std::filesystem;

// Three servers' logs of one busy hour in their own dialects, every stamp shared by several
// entries of each (so that ties between inputs decide much of the order), with lines the
// filters and the normaliser act on, header lines between entries and a line no dialect
// reads. One agent is longer than any batch, so that a batch has to grow for one line.
struct Corpus {
  std::string apache;  // Apache combined, -0700
  std::string iis;     // IIS W3C extended, UTC
  std::string nginx;   // nginx combined, +0200, with escaped quotes
};

Corpus MakeCorpus(int lines) {
  Corpus c;
  c.iis =
      "#Software: Microsoft Internet Information Services 10.0\n#Version: 1.0\n"
      "#Date: 2024-03-30 17:00:00\n"
      "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
      "cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status time-taken\n";
  for (int i = 0; i < lines; ++i) {
    const int second = i / 4;  // four entries per second in every input
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", 17 + second / 3600 % 6, second / 60 % 60,
                  second % 60);
    const std::string n = std::to_string(i);
    c.apache +=
        "192.0.2." + std::to_string(i % 250) + " - - [30/Mar/2024:" + clock + " -0700] \"GET " +
        // A proxy's absolute URL without a path: normalising gives it the path "/".
        (i % 5 == 0 ? std::string("http://Shop.Example.com") : "/Shop/Item.php?id=" + n) +
        " HTTP/1.1\" 200 " + n + " \"https://example.com/\" \"Mozilla/5.0 (X11; Linux x86_64)\"\n";
    c.iis += std::string("2024-03-30 ") + clock + " 10.0.0.4 GET /api/v2/orders id=" + n +
             " 443 - 203.0.113." + std::to_string(i % 200) +
             " Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64) - 200 0 0 " + std::to_string(i % 900) +
             "\n";
    std::string agent = "curl/8.5.0 \\\"probe\\\"";
    if (i == lines / 2) agent = std::string(200000, 'A');
    c.nginx += "198.51.100." + std::to_string(i % 100) + " - alice [30/Mar/2024:" + clock +
               " +0200] \"POST /login HTTP/2.0\" " + (i % 7 == 0 ? "302" : "200") + " 512" +
               " \"-\" \"" + agent + "\"\n";
    if (i % 997 == 0) {
      c.apache += "this line is no log entry at all\n";
      c.iis += "#Date: 2024-03-30 17:00:00\n";
    }
  }
  return c;
}

// The console without the run's elapsed time ("... log entries in 0:01!"), which is the
// clock's, not the merge's.
std::string WithoutElapsedTime(std::string console) {
  const size_t at = console.find(" log entries in ");
  if (at == std::string::npos) return console;
  const size_t end = console.find('!', at);
  if (end != std::string::npos) console.erase(at + 16, end - at - 16);
  return console;
}

struct OptionCase {
  const char* name;
  std::vector<std::string> options;
};

// Runs the program over the corpus with each case's options on 1, 2 and 4 threads and expects
// the same status, console and merged log from every thread count.
void ExpectTheSameWhateverTheThreads(const std::string& name, std::span<const OptionCase> cases) {
  const fs::path dir = FreshDirectory(name);
  const Corpus corpus = MakeCorpus(6000);
  WriteFile(dir / "apache.log", corpus.apache);
  WriteFile(dir / "iis.log", corpus.iis);
  WriteFile(dir / "nginx.log.gz", GzipBytes(corpus.nginx));
  // An input that is not a regular file stays on the merge thread beside the others.
  WriteFile(dir / "stdin.log", corpus.apache.substr(0, corpus.apache.size() / 3));

  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string outputs[3];
    ProgramRun runs[3];
    const char* threads[3] = {"--threads=1", "--threads=2", "--threads=4"};
    for (int i = 0; i < 3; ++i) {
      // Standard input is a pipe.
      std::vector<std::string> args = {"-c",
                                       "cat stdin.log | exec \"$0\" \"$@\"",
                                       STITCHER_BINARY,
                                       "-Plain",
                                       threads[i],
                                       "-o",
                                       "merged.log"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      for (const char* input : {"apache.log", "/dev/stdin", "iis.log", "nginx.log.gz"}) {
        args.emplace_back(input);
      }
      // Each case writes its own dialect: the merged log of the case before is no merged
      // log of this one, and is not replaced.
      std::filesystem::remove(dir / "merged.log");
      runs[i] = RunProgram("/bin/sh", dir, args);
      runs[i].console = WithoutElapsedTime(runs[i].console);
      outputs[i] = ReadFile(dir / "merged.log");
    }
    EXPECT_EQ(runs[0].status, 0) << runs[0].console;
    EXPECT_GT(outputs[0].size(), 100000u);
    for (int i = 1; i < 3; ++i) {
      EXPECT_EQ(runs[i].status, runs[0].status);
      EXPECT_EQ(runs[i].console, runs[0].console);
      EXPECT_EQ(outputs[i].size(), outputs[0].size());
      EXPECT_TRUE(outputs[i] == outputs[0]) << threads[i];
    }
  }
  fs::remove_all(dir);
}

TEST(ParseAhead, TheMergedLogAndMessagesAreTheSameWhateverTheThreads) {
  const OptionCase cases[] = {
      {"NCSA, clock order", {"--output-format=ncsa", "--verbose"}},
      {"W3C", {"--output-format=w3c"}},
      {"WebSTAR, dos newlines", {"--output-format=webstar", "--newlines=dos"}},
      {"real time in Berlin", {"--timezone=Europe/Berlin", "--verbose"}},
      {"normalised and filtered",
       {"--normalize", "--lowercase", "--trim-first-n-dirs=1", "--filter-agent=-curl*"}},
      {"time window", {"--since=2024-03-30T17:10:00", "--until=2024-03-30T17:20:00"}},
      {"in passes of two inputs", {"--max-open=2", "--verbose"}},
  };
  ExpectTheSameWhateverTheThreads("parse-ahead", cases);
}

// Sorting runs on the parsing workers too: the window of each input, and the whole sort.
TEST(ParseAhead, EverySortModeGivesTheSameLogWhateverTheThreads) {
  const OptionCase cases[] = {
      {"without a sort window", {"--sort-window=0"}},
      {"a sort window of an hour", {"--sort-window=1h", "--output-format=ncsa"}},
      {"sorted whole", {"--sort=full", "--verbose"}},
  };
  ExpectTheSameWhateverTheThreads("parse-ahead-sorting", cases);
}

// A write that fails part-way (the file-size limit) ends the run while workers are still
// parsing ahead: it ends with the write error, not a hang, and leaves no file behind.
TEST(ParseAhead, AWriteErrorWhileWorkersParseEndsTheRun) {
  const fs::path dir = FreshDirectory("parse-ahead-write-error");
  const Corpus corpus = MakeCorpus(20000);
  WriteFile(dir / "apache.log", corpus.apache);
  WriteFile(dir / "iis.log", corpus.iis);
  const ProgramRun run =
      RunProgram("/bin/sh", dir,
                 {"-c", "ulimit -f 64 && exec \"$0\" \"$@\"", STITCHER_BINARY, "-Plain",
                  "--threads=4", "-o", "merged.log", "apache.log", "iis.log"});
  EXPECT_EQ(run.status, 1) << run.console;
  EXPECT_NE(run.console.find("Write error"), std::string::npos) << run.console;
  EXPECT_FALSE(fs::exists(dir / "merged.log"));
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().string().find("merged.log."), std::string::npos) << entry.path();
  }
  fs::remove_all(dir);
}

}  // namespace
