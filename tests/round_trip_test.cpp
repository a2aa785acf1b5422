// The merged log reads back: merging the merged log again on its own gives the same log,
// byte for byte, in every output dialect. The inputs are the sample logs of four dialects,
// a line whose fields hold blanks, a tab, a "-" request and no byte count, Apache lines
// with escaped quotes and backslashes, and W3C lines with doubled quotes and times taken.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "output/writers.h"
#include "program_runner.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RunStitcher;

const fs::path kSamples = fs::path(STITCHER_SOURCE_DIR) / "tests/e2e/output-dialect-w3c/in";

// An IIS log (blanks in fields written as '+') with a user like "NT AUTHORITY\LOCAL
// SERVICE", a request without a byte count and a 408 without any request.
constexpr char kAwkwardLog[] =
    "#Software: Microsoft Internet Information Services 6.0\n"
    "#Fields: date time c-ip cs-username cs-method cs-uri-stem cs-uri-query sc-status sc-bytes\n"
    "2001-03-05 10:00:04 10.9.0.1 NT+AUTHORITY\\LOCAL+SERVICE GET /svc/ping.asp - 200 -\n"
    "2001-03-05 10:00:06 10.9.0.2 - - - - 408 -\n";

// Apache escapes a quote inside a quoted field as \" and a backslash as \\.
constexpr char kApacheLog[] =
    "198.51.100.7 - - [12/Mar/2023:06:25:14 +0000] \"GET /index.php?q=\\\"admin\\\" HTTP/1.1\" "
    "404 196 \"-\" \"Mozilla/5.0 (compatible; \\\"Bot\\\" 1.0)\"\n"
    "198.51.100.8 - - [12/Mar/2023:06:25:15 +0000] \"GET /a\\\"b HTTP/1.1\" 200 512 "
    "\"http://x/\\\\\" \"a\\\\\\\"b\"\n"
    "198.51.100.9 - frank [12/Mar/2023:06:25:16 +0000] \"GET / HTTP/1.1\" 200 512 \"-\" "
    "\"<script>alert(1)</script>\"\n"
    // A binary probe's method with a comma, a request line of four words, and none at all.
    "198.51.100.10 - - [12/Mar/2023:06:25:17 +0000] \"\\x16,\\x03 / HTTP/1.1\" 400 0 \"-\" \"-\"\n"
    "198.51.100.11 - - [12/Mar/2023:06:25:18 +0000] \"one two three four\" 400 0 \"-\" \"-\"\n"
    "198.51.100.12 - - [12/Mar/2023:06:25:19 +0000] \"-\" 408 0 \"-\" \"-\"\n";

// W3C strings with doubled quotes; IIS's time-taken in milliseconds.
constexpr char kW3cQuotesLog[] =
    "#Software: Microsoft Internet Information Services 10.0\n"
    "#Fields: date time c-ip cs-username cs-method cs-uri-stem cs-uri-query sc-status sc-bytes "
    "time-taken cs(User-Agent) cs(Referer)\n"
    "2023-03-12 06:25:20 10.0.0.2 - GET /search.aspx q=a 200 812 4502 "
    "\"Mozilla/4.0 (\"\"compatible\"\")\" -\n"
    "2023-03-12 06:25:21 10.0.0.3 - GET /report.aspx - 200 5120 4501 \"\"\"quoted\"\"\" -\n";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string sorted;
  for (const std::string& line : lines) sorted += line + "\n";
  return sorted;
}

TEST(RoundTrip, MergedLogMergedAgainIsUnchangedInEveryDialect) {
  struct Case {
    const char* dialect;
    const char* vhost;                 // NCSA's field two holds a virtual host no reader takes back
    bool reads_back;                   // the program reads this dialect as an input
    std::vector<std::string> written;  // parts of the first merged log
  };
  const Case cases[] = {
      {"ncsa",
       "no",
       true,
       {"\"GET /index.php?q=\\\"admin\\\" HTTP/1.1\"",
        "\"Mozilla/5.0 (compatible; \\\"Bot\\\" 1.0)\"", "\"http://x/\\\\\" \"a\\\\\\\"b\"",
        "\"Mozilla/4.0 (\\\"compatible\\\")\""}},
      {"w3c",
       "yes",
       true,
       {" 200 812 4502 ", " 200 5120 4501 ", "\"Mozilla/4.0 (\"\"compatible\"\")\"",
        "\"\"\"quoted\"\"\"", "/svc/ping.asp - 200 - - - "}},
      {"webstar",
       "yes",
       true,
       {"\t200\t812\t270\t", "\t\"\\\"quoted\\\"\"\t", "\t\"<script>alert(1)</script>\"\t"}},
      {"combined",
       "yes",
       true,
       {"\"GET /index.php?q=\\\"admin\\\" HTTP/1.1\"", " - frank [12/Mar/2023:06:25:16 +0000] ",
        "\"Mozilla/4.0 (\\\"compatible\\\")\""}},
      {"vhost_combined",
       "yes",
       true,
       {"-:80 198.51.100.9 - frank [12/Mar/2023:06:25:16 +0000] \"GET / HTTP/1.1\" 200 512 "}},
      {"json",
       "yes",
       true,
       {"\"path\":\"/index.php\",\"query\":\"q=\\\"admin\\\"\"",
        "\"user\":\"NT+AUTHORITY\\\\LOCAL+SERVICE\"", "\"status\":408}", "\"duration_ms\":4502",
        "\"agent\":\"\\\"quoted\\\"\""}},
  };
  // Every dialect of the program's table has its case, so none is added untested.
  for (const OutputDialect& dialect : OUTPUT_DIALECTS) {
    const auto has_case = [&dialect](const Case& c) {
      return c.dialect == std::string(dialect.name);
    };
    EXPECT_TRUE(std::any_of(std::begin(cases), std::end(cases), has_case))
        << dialect.name << " has no round-trip case";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialect);
    const fs::path work =
        fs::temp_directory_path() / ("stitcher-round-trip-" + std::string(c.dialect));
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<std::string> inputs;
    for (const auto& item : fs::directory_iterator(kSamples)) {
      if (item.path().extension() != ".log") continue;
      fs::copy_file(item.path(), work / item.path().filename());
      inputs.push_back(item.path().filename().string());
    }
    for (const auto& [name, text] : {std::pair{"awkward.log", kAwkwardLog},
                                     {"apache.log", kApacheLog},
                                     {"w3c-quotes.log", kW3cQuotesLog}}) {
      std::ofstream(work / name, std::ios::binary) << text;
      inputs.push_back(name);
    }
    std::ofstream(work / "empty.cfg");

    const std::vector<std::string> common = {
        "--config=empty.cfg", "--quiet",       std::string("--output-format=") + c.dialect,
        "--newlines=unix",    "--compress=no", std::string("--vhost=") + c.vhost};
    std::vector<std::string> first = common;
    first.push_back("--output=first.txt");
    first.insert(first.end(), inputs.begin(), inputs.end());
    ASSERT_EQ(RunStitcher(work, first).status, 0);
    const std::string once = Slurp(work / "first.txt");
    for (const std::string& part : c.written) EXPECT_NE(once.find(part), std::string::npos) << part;
    if (!c.reads_back) {
      fs::remove_all(work);
      continue;
    }
    std::vector<std::string> second = common;
    second.push_back("--output=second.txt");
    second.push_back("first.txt");
    ASSERT_EQ(RunStitcher(work, second).status, 0);

    // Each dialect's own form of these is among its written parts; here, that they are kept.
    EXPECT_NE(once.find("LOCAL+SERVICE"), std::string::npos) << once;
    EXPECT_NE(once.find("408"), std::string::npos) << once;  // the entry without a request
    // The probe with a comma in its method and the request of four words are merged too,
    // with every word of the request.
    EXPECT_NE(once.find("198.51.100.10"), std::string::npos) << once;
    EXPECT_NE(once.find("three"), std::string::npos) << once;
    EXPECT_EQ(Slurp(work / "second.txt"), once);
    fs::remove_all(work);
  }
}

// Logs of several zones merged into NCSA and read back by the program give the same entries:
// the stamps keep the instants and offsets they were written with. Each case reads back
// with the zone it was written in, and with UTC, which must give the entries of the UTC
// merge of the original logs (in its order too when the first merge was in real time; a
// merge by clock time is one input read back, whose own order is kept).
TEST(RoundTrip, ZonedNcsaMergesReadBackAsTheSameEntries) {
  struct Case {
    const char* folder;                 // tests/e2e/<folder>/in holds the logs
    std::vector<std::string> switches;  // the zone switches of the first merge
    std::vector<std::string> reread;    // the zone switches when reading the merge back
    bool real_time;                     // the first merge is in real time order
  };
  const Case cases[] = {
      {"two-zones-merged-by-clock-time-with-a-notice", {}, {}, false},
      {"two-zones-merged-in-real-time-in-utc", {"--timezone=UTC"}, {"--timezone=UTC"}, true},
      {"two-zones-merged-in-real-time-across-berlin-dst-change",
       {"--timezone=Europe/Berlin"},
       {"--timezone=Europe/Berlin"},
       true},
      {"w3c-utc-and-iis-local-merged-in-real-time",
       {"--timezone=UTC", "--input-timezone=America/New_York"},
       {"--timezone=UTC"},
       true},
      {"input-timezone-gives-stamps-without-offset-their-zone",
       {"--input-timezone=America/New_York"},
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const fs::path work = fs::temp_directory_path() / ("stitcher-zones-" + std::string(c.folder));
    fs::remove_all(work);
    fs::create_directories(work);
    std::vector<std::string> logs;
    const fs::path in = fs::path(STITCHER_SOURCE_DIR) / "tests/e2e" / c.folder / "in";
    for (const auto& item : fs::directory_iterator(in)) {
      if (item.path().extension() != ".log") continue;
      fs::copy_file(item.path(), work / item.path().filename());
      logs.push_back(item.path().filename().string());
    }
    std::sort(logs.begin(), logs.end());
    std::ofstream(work / "empty.cfg");
    const auto merge = [&work](std::vector<std::string> switches, const std::string& output,
                               const std::vector<std::string>& inputs) {
      switches.insert(switches.begin(), {"--config=empty.cfg", "--quiet", "--output-format=ncsa",
                                         "--vhost=no", "--compress=no", "--output=" + output});
      switches.insert(switches.end(), inputs.begin(), inputs.end());
      EXPECT_EQ(RunStitcher(work, switches).status, 0) << output;
      return Slurp(work / output);
    };
    const std::string once = merge(c.switches, "first.txt", logs);
    ASSERT_FALSE(once.empty());
    EXPECT_EQ(merge(c.reread, "again.txt", {"first.txt"}), once);
    std::string utc_of_merge = merge({"--timezone=UTC"}, "utc-of-merge.txt", {"first.txt"});
    std::string utc_of_logs =
        merge({"--timezone=UTC", "--input-timezone=America/New_York"}, "utc-of-logs.txt", logs);
    if (!c.real_time) {
      utc_of_merge = SortedLines(utc_of_merge);
      utc_of_logs = SortedLines(utc_of_logs);
    }
    EXPECT_EQ(utc_of_merge, utc_of_logs);
    fs::remove_all(work);
  }
}

}  // namespace
