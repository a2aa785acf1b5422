// A merge cut into time slices (--since/--until per slice, --no-header after the first) and
// joined in time order is the merge of the whole range, byte for byte, in every output
// dialect, plain and gzip: entries exactly at a slice edge land in one slice only.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

using namespace testing_support;

// Apache combined, as a -0500 server writes it. Entries sit on both sides of every midnight,
// two of them exactly on one; the first is before the range and the last at its exclusive end.
constexpr const char* kApacheLog =
    "203.0.113.7 - - [02/Mar/2024:23:59:59 -0500] \"GET /before.html HTTP/1.1\" 200 10 \"-\" "
    "\"Wget/1.21.3\"\n"
    "203.0.113.7 - - [03/Mar/2024:00:00:00 -0500] \"GET /index.html HTTP/1.1\" 200 5120 \"-\" "
    "\"Mozilla/5.0 (X11; Linux x86_64; rv:123.0) Gecko/20100101 Firefox/123.0\"\n"
    "203.0.113.9 - alice [03/Mar/2024:14:12:09 -0500] \"POST /login HTTP/1.1\" 302 0 "
    "\"https://www.example.com/index.html\" \"Mozilla/5.0 (Macintosh; Intel Mac OS X 14_3) "
    "AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.3 Safari/605.1.15\"\n"
    "203.0.113.7 - - [03/Mar/2024:23:59:59 -0500] \"GET /late.css HTTP/1.1\" 200 812 "
    "\"https://www.example.com/index.html\" \"Mozilla/5.0 (X11; Linux x86_64; rv:123.0) "
    "Gecko/20100101 Firefox/123.0\"\n"
    "192.0.2.44 - - [04/Mar/2024:00:00:00 -0500] \"GET /midnight.html HTTP/1.1\" 200 2301 \"-\" "
    "\"Googlebot/2.1 (+http://www.google.com/bot.html)\"\n"
    "192.0.2.44 - - [04/Mar/2024:00:00:00 -0500] \"GET /robots.txt HTTP/1.1\" 404 153 \"-\" "
    "\"Googlebot/2.1 (+http://www.google.com/bot.html)\"\n"
    "198.51.100.3 - - [04/Mar/2024:09:30:00 -0500] \"GET /search?q=shoes HTTP/1.1\" 200 9120 "
    "\"-\" \"curl/8.5.0\"\n"
    "198.51.100.3 - - [06/Mar/2024:00:00:01 -0500] \"GET /after-gap.html HTTP/1.1\" 200 77 "
    "\"-\" \"curl/8.5.0\"\n"
    "198.51.100.3 - - [06/Mar/2024:23:59:59 -0500] \"GET /last.html HTTP/1.1\" 200 78 \"-\" "
    "\"curl/8.5.0\"\n"
    "198.51.100.3 - - [07/Mar/2024:00:00:00 -0500] \"GET /beyond.html HTTP/1.1\" 200 79 \"-\" "
    "\"curl/8.5.0\"\n";
constexpr int kApacheInRange = 8;

// IIS W3C extended log of a second server, with a new #Date header each day as IIS rolls
// its log; its midnight entries tie with the Apache ones.
constexpr const char* kIisLog =
    "#Software: Microsoft Internet Information Services 10.0\n"
    "#Version: 1.0\n"
    "#Date: 2024-03-03 00:00:00\n"
    "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
    "cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status time-taken\n"
    "2024-03-03 00:00:00 10.0.0.5 GET /default.aspx - 443 - 198.51.100.23 "
    "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64) - 200 0 0 31\n"
    "2024-03-03 23:59:59 10.0.0.5 GET /api/items id=7 443 - 198.51.100.24 curl/8.5.0 - 200 0 0 "
    "12\n"
    "#Software: Microsoft Internet Information Services 10.0\n"
    "#Version: 1.0\n"
    "#Date: 2024-03-04 00:00:00\n"
    "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
    "cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status time-taken\n"
    "2024-03-04 00:00:00 10.0.0.5 GET /api/items id=8 443 - 198.51.100.24 curl/8.5.0 - 500 0 0 "
    "2048\n"
    "2024-03-06 12:00:00 10.0.0.5 GET /default.aspx - 443 bob 198.51.100.25 "
    "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64) https://www.example.com/ 200 0 0 15\n";
constexpr int kIisInRange = 4;

// Day slices of the range; the 5th holds no entry at all.
const std::vector<std::pair<std::string, std::string>> kSlices = {
    {"2024-03-03", "2024-03-04"},
    {"2024-03-04", "2024-03-05"},
    {"2024-03-05", "2024-03-06"},
    {"2024-03-06", "2024-03-07"},
};

struct OutputCase {
  const char* format;
  int header_lines;
};

constexpr OutputCase kOutputs[] = {{"ncsa", 0}, {"w3c", 1}, {"webstar", 1}};

class TimeSlices : public ::testing::TestWithParam<std::tuple<OutputCase, bool>> {};

TEST_P(TimeSlices, JoinedSlicesEqualTheWholeMerge) {
  const auto [output, gzip] = GetParam();
  const auto dir = FreshDirectory(std::string("slices-") + output.format + (gzip ? "-gz" : ""));
  WriteFile(dir / "web1-access.log", kApacheLog);
  WriteFile(dir / "web2-u_ex.log", kIisLog);
  const std::vector<std::string> common = {std::string("--output-format=") + output.format,
                                           gzip ? "--compress=yes" : "-Plain", "--quiet"};
  auto run = [&](const std::string& out, const std::string& since, const std::string& until,
                 bool header) {
    std::vector<std::string> args = common;
    // A gzip slice is named for what it is.
    const std::string file = gzip ? out + ".gz" : out;
    args.insert(args.end(), {"--since=" + since, "--until=" + until, "-Output", file});
    if (!header) args.push_back("--no-header");
    args.insert(args.end(), {"web1-access.log", "web2-u_ex.log"});
    const ProgramRun result = RunStitcher(dir, args);
    EXPECT_EQ(result.status, 0) << out << ": " << result.console;
    EXPECT_EQ(result.console, "") << out;
    const std::string bytes = ReadFile(dir / file);
    return gzip ? Gunzip(bytes) : bytes;
  };

  const std::string whole = run("whole", kSlices.front().first, kSlices.back().second, true);
  // Every entry of the range is there once, after the header, and nothing else.
  const std::vector<std::string> lines = SplitLines(whole);
  ASSERT_EQ(lines.size(), static_cast<size_t>(output.header_lines + kApacheInRange + kIisInRange))
      << whole;
  EXPECT_EQ(whole.find("before"), std::string::npos) << whole;
  EXPECT_EQ(whole.find("beyond"), std::string::npos) << whole;

  std::string joined;
  for (size_t i = 0; i < kSlices.size(); ++i) {
    const std::string slice =
        run("slice" + std::to_string(i), kSlices[i].first, kSlices[i].second, i == 0);
    if (i == 2) {
      EXPECT_EQ(slice, "") << "a day without entries gives an empty slice";
    }
    joined += slice;
  }
  EXPECT_EQ(joined, whole);
}

// Each slice's gzip file is whole on its own, and the files joined are one gzip stream.
TEST(TimeSlicesGzip, JoinedSliceFilesAreOneValidGzipFile) {
  const auto dir = FreshDirectory("slices-gzip-join");
  WriteFile(dir / "web1-access.log", kApacheLog);
  std::string joined_files;
  for (size_t i = 0; i < kSlices.size(); ++i) {
    std::vector<std::string> args = {"--since=" + kSlices[i].first, "--until=" + kSlices[i].second,
                                     "-Output", "part.gz", "--quiet"};
    if (i > 0) args.push_back("--no-header");
    args.push_back("web1-access.log");
    const ProgramRun result = RunStitcher(dir, args);
    ASSERT_EQ(result.status, 0) << result.console;
    const std::string bytes = ReadFile(dir / "part.gz");
    ASSERT_GE(bytes.size(), 18u) << "slice " << i << " is not a gzip file";
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b") << "slice " << i;
    joined_files += bytes;
  }
  const std::string text = Gunzip(joined_files);
  EXPECT_EQ(text.find("<damaged"), std::string::npos) << text;
  EXPECT_EQ(SplitLines(text).size(), static_cast<size_t>(1 + kApacheInRange)) << text;
  EXPECT_EQ(text.rfind("!!LOG_FORMAT", 0), 0u) << "one header, at the start: " << text;
  EXPECT_EQ(text.find("!!LOG_FORMAT", 1), std::string::npos) << text;
}

// A log whose clock steps back keeps its own order in one run, but each slice takes its
// entries by time: the joined slices hold the same entries, none lost or doubled.
TEST(TimeSlicesOutOfOrder, AnInputWhoseTimeStepsBackLosesAndDoublesNothing) {
  const auto dir = FreshDirectory("slices-step-back");
  WriteFile(dir / "a.log",
            "10.0.0.1 - - [04/Mar/2024:10:05:00 +0000] \"GET /a HTTP/1.1\" 200 1\n"
            "10.0.0.1 - - [04/Mar/2024:09:59:00 +0000] \"GET /b HTTP/1.1\" 200 1\n");
  WriteFile(dir / "b.log", "10.0.0.2 - - [04/Mar/2024:10:00:00 +0000] \"GET /c HTTP/1.1\" 200 1\n");
  auto run = [&](std::vector<std::string> window) {
    std::vector<std::string> args = {"-Plain", "--quiet", "--no-header", "-Output", "out.log"};
    args.insert(args.end(), window.begin(), window.end());
    args.insert(args.end(), {"a.log", "b.log"});
    const ProgramRun result = RunStitcher(dir, args);
    EXPECT_EQ(result.status, 0) << result.console;
    return SplitLines(ReadFile(dir / "out.log"));
  };
  std::vector<std::string> whole = run({});
  std::vector<std::string> joined = run({"--until=2024-03-04T10:00"});
  const std::vector<std::string> second = run({"--since=2024-03-04T10:00"});
  joined.insert(joined.end(), second.begin(), second.end());
  ASSERT_EQ(whole.size(), 3u);
  std::sort(whole.begin(), whole.end());
  std::sort(joined.begin(), joined.end());
  EXPECT_EQ(joined, whole);
}

INSTANTIATE_TEST_SUITE_P(EveryOutput, TimeSlices,
                         ::testing::Combine(::testing::ValuesIn(kOutputs), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).format) +
                                  (std::get<1>(info.param) ? "Gzip" : "Plain");
                         });

}  // namespace
