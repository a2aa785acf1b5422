// The merged log read by the programs users feed it to: goaccess counts exactly the entries
// written in combined, vhost_combined and JSON lines; AWStats takes every line of the
// combined and vhost_combined output; every JSON line parses with Python's json module and
// its fields equal the input's. The one entry both analysers refuse is the one without a
// request (a 408 that Apache logs as "-"): AWStats calls such a line corrupted, and goaccess
// fails a JSON entry without a path; the tests count those apart, so that any other refused
// line fails them. The clients come from
// Debian (tests/real_clients/install-clients.sh installs them where it may); a test whose
// client is missing skips, saying so.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunStitcher;

const fs::path kClients = fs::path(STITCHER_SOURCE_DIR) / "tests/real_clients";
const std::vector<std::string> kLogs = {"www1-access.log", "shop-vhost.log"};
constexpr char kAwstats[] = "/usr/lib/cgi-bin/awstats.pl";

// goaccess's own description of each output: a predefined format, or the JSON keys.
struct GoaccessFormat {
  const char* dialect;
  std::vector<std::string> options;
};
const GoaccessFormat kGoaccessFormats[] = {
    {"combined", {"--log-format=COMBINED"}},
    {"vhost_combined", {"--log-format=VCOMBINED"}},
    {"json",
     {"--log-format={\"time\":\"%dT%t.%^\",\"client\":\"%h\",\"user\":\"%e\",\"method\":\"%m\","
      "\"path\":\"%U\",\"query\":\"%q\",\"protocol\":\"%H\",\"status\":\"%s\",\"bytes\":\"%b\","
      "\"duration_ms\":\"%L\",\"vhost\":\"%v\",\"referer\":\"%R\",\"agent\":\"%u\"}",
      "--date-format=%Y-%m-%d", "--time-format=%H:%M:%S"}},
};

class RealClients : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installed_ = RunProgram((kClients / "install-clients.sh").string(), kClients, {}).status == 0;
  }

  void SetUp() override {
    if (!installed_) {
      GTEST_SKIP() << "goaccess, AWStats or python3 is missing and could not be installed "
                      "(scripts/install-deps.sh installs them as root)";
    }
    work_ = fs::temp_directory_path() /
            ("stitcher-real-clients-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(work_);
    fs::create_directories(work_);
    for (const std::string& log : kLogs) fs::copy_file(kClients / log, work_ / log);
    std::ofstream(work_ / "empty.cfg");
  }

  void TearDown() override {
    if (!work_.empty()) fs::remove_all(work_);
  }

  // Merges the fixture logs into `dialect`; returns the merged log's path, its line count
  // and how many of its entries have no request.
  fs::path Merge(const std::string& dialect, size_t& lines, size_t* without_request = nullptr) {
    const std::string output = "merged-" + dialect + ".log";
    std::vector<std::string> args = {"--config=empty.cfg", "--quiet", "--compress=no",
                                     "--output-format=" + dialect, "--output=" + output};
    args.insert(args.end(), kLogs.begin(), kLogs.end());
    const auto run = RunStitcher(work_, args);
    EXPECT_EQ(run.status, 0) << run.console;
    const std::string text = ReadFile(work_ / output);
    lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    if (without_request != nullptr) {
      *without_request = 0;
      for (const std::string& line : testing_support::SplitLines(text)) {
        const bool none = dialect == "json" ? line.find("\"path\":") == std::string::npos
                                            : line.find("] \"-\" ") != std::string::npos;
        if (!line.empty() && none) ++*without_request;
      }
    }
    return work_ / output;
  }

  // AWStats's summary of one update over `log` read as `log_format`. Every virtual host
  // counts as the site's own (AWStats drops the records of other sites).
  std::string AwstatsUpdate(const fs::path& log, const std::string& log_format) {
    const fs::path data = work_ / "awstats";
    fs::remove_all(data);
    fs::create_directories(data);
    std::ofstream(data / "awstats.merged.conf")
        << "LogFile=\"" << log.string() << "\"\nLogType=W\nLogFormat=" << log_format
        << "\nSiteDomain=\"www.example.com\"\nHostAliases=\"REGEX[.*]\"\nDirData=\""
        << data.string() << "\"\nDNSLookup=0\n";
    const auto run = RunProgram(
        "perl", work_,
        {kAwstats, "-config=merged", "-configdir=" + data.string(), "-update", "-showcorrupted"});
    EXPECT_EQ(run.status, 0) << run.console;
    return run.console;
  }

  static inline bool installed_ = false;
  fs::path work_;
};

// The number `pattern`'s group catches in `text`; -1 when the pattern is not there.
long long Captured(const std::string& text, const std::string& pattern) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(pattern))) return -1;
  return std::stoll(match[1].str());
}

TEST_F(RealClients, GoaccessCountsEveryEntryOfEachDialect) {
  for (const GoaccessFormat& format : kGoaccessFormats) {
    SCOPED_TRACE(format.dialect);
    size_t lines = 0;
    size_t without_request = 0;
    const fs::path merged = Merge(format.dialect, lines, &without_request);
    ASSERT_EQ(lines, 12u);
    ASSERT_EQ(without_request, 1u);
    std::vector<std::string> args = {"--no-global-config", "-o", "report.json"};
    args.insert(args.end(), format.options.begin(), format.options.end());
    args.push_back(merged.string());
    const auto run = RunProgram("goaccess", work_, args);
    ASSERT_EQ(run.status, 0) << run.console;
    const std::string report = ReadFile(work_ / "report.json");
    // goaccess takes a combined line's "-" request as a request; a JSON entry without a
    // path it counts among its failed requests.
    const auto count = static_cast<long long>(lines);
    const auto failed =
        format.dialect == std::string("json") ? static_cast<long long>(without_request) : 0;
    EXPECT_EQ(Captured(report, "\"total_requests\":\\s*([0-9]+)"), count) << report;
    EXPECT_EQ(Captured(report, "\"valid_requests\":\\s*([0-9]+)"), count - failed) << report;
    EXPECT_EQ(Captured(report, "\"failed_requests\":\\s*([0-9]+)"), failed) << report;
  }
}

TEST_F(RealClients, AwstatsTakesEveryCombinedLine) {
  struct Case {
    const char* dialect;
    const char* log_format;
  };
  const Case cases[] = {
      {"combined", "1"},
      // AWStats has no predefined vhost_combined; its personalised format reads it.
      {"vhost_combined",
       "\"%virtualname %host %other %logname %time1 %methodurl %code %bytesd %refererquot "
       "%uaquot\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialect);
    size_t lines = 0;
    size_t without_request = 0;
    const fs::path merged = Merge(c.dialect, lines, &without_request);
    const std::string summary = AwstatsUpdate(merged, c.log_format);
    const auto count = static_cast<long long>(lines);
    // AWStats calls a line without a request corrupted, as it does in Apache's own logs;
    // every other line must be a qualified record.
    const auto refused = static_cast<long long>(without_request);
    EXPECT_EQ(Captured(summary, "Parsed lines in file: ([0-9]+)"), count) << summary;
    EXPECT_EQ(Captured(summary, "Found ([0-9]+) corrupted records"), refused) << summary;
    for (const std::string& line : testing_support::SplitLines(summary)) {
      if (line.rfind("Corrupted record", 0) != 0) continue;
      EXPECT_NE(line.find("] \"-\" 408 "), std::string::npos) << line;
    }
    EXPECT_EQ(Captured(summary, "Found ([0-9]+) dropped records"), 0) << summary;
    EXPECT_EQ(Captured(summary, "Found ([0-9]+) new qualified records"), count - refused)
        << summary;
  }
}

TEST_F(RealClients, JsonLinesParseInPythonWithTheInputsFields) {
  size_t lines = 0;
  const fs::path merged = Merge("json", lines);
  std::vector<std::string> args = {(kClients / "check_json.py").string(), merged.string()};
  for (const std::string& log : kLogs) args.push_back((work_ / log).string());
  const auto run = RunProgram("python3", work_, args);
  EXPECT_EQ(run.status, 0) << run.console;
  EXPECT_EQ(run.console, std::to_string(lines) + " entries checked\n");
}

}  // namespace
