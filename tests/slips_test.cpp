// A slip on the command line never destroys a log, and a failed run never replaces a good
// merged log: each case runs the real program among real logs and an earlier merge, and
// compares a checksum of every file in the directory before and after.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "compressed_fixtures.h"
#include "program_runner.h"

#ifdef STITCHER_BINARY

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// Lines as nginx writes them with its default "combined" format.
constexpr const char* kNginx =
    "203.0.113.7 - - [10/Mar/2024:06:25:14 +0000] \"GET /index.html HTTP/1.1\" 200 5124 \"-\" "
    "\"Mozilla/5.0 (X11; Linux x86_64; rv:123.0) Gecko/20100101 Firefox/123.0\"\n"
    "198.51.100.23 - - [10/Mar/2024:06:25:15 +0000] \"GET /favicon.ico HTTP/1.1\" 404 153 "
    "\"https://www.example.com/index.html\" \"Mozilla/5.0 (X11; Linux x86_64; rv:123.0) "
    "Gecko/20100101 Firefox/123.0\"\n";
// And Apache's "common" format on a second server.
constexpr const char* kApache =
    "192.0.2.44 - frank [10/Mar/2024:06:25:14 +0000] \"GET /apache_pb.gif HTTP/1.0\" 200 2326\n"
    "192.0.2.45 - - [10/Mar/2024:06:25:16 +0000] \"POST /login HTTP/1.1\" 302 0\n";
// Yesterday's merged log, as the program writes it by default (WebSTAR, gzip).
constexpr const char* kEarlierMerge =
    "!!LOG_FORMAT DATE TIME HOSTNAME USER METHOD URL SEARCH_ARGS SC-STATUS BYTES "
    "TRANSFER_TIME CS(HOST) AGENT CS(COOKIE) REFERER\n"
    "03/09/2024\t23:59:59\t203.0.113.7\t-\tGET\t/yesterday\t-\t200\t1\t-\t-\t-\t\"-\"\t-\n";

// Every file below `dir` (symbolic links as their target's name) with a CRC-32 and size of
// its bytes: any file made, removed or changed shows.
std::map<std::string, std::string> Checksums(const fs::path& dir) {
  std::map<std::string, std::string> sums;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(entry.path(), dir).string();
    if (entry.is_symlink()) {
      sums[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      const std::string bytes = ReadFile(entry.path());
      const uLong crc =
          crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
      sums[name] = std::to_string(crc) + "/" + std::to_string(bytes.size());
    } else {
      sums[name] = "directory";
    }
  }
  return sums;
}

// A directory with two servers' logs, a link to one, and yesterday's merge.
fs::path Fixture(const std::string& name) {
  const fs::path dir = FreshDirectory(name);
  WriteFile(dir / "a.log", kNginx);
  WriteFile(dir / "b.log", kApache);
  fs::create_symlink("a.log", dir / "link.log");
  WriteFile(dir / "merged.gz", GzipBytes(kEarlierMerge));
  return dir;
}

struct Case {
  std::vector<std::string> args;
  std::string said;  // a line standard error must hold
  int status = 1;    // 2 when inputs were lost, as before
};

// Runs each case in a fresh fixture: its status, nothing on standard output, the message on
// standard error, and every file as it was.
void ExpectRefusedWithNothingChanged(const Case& c, const std::string& fixture) {
  std::string label;
  for (const auto& a : c.args) label += a + " ";
  SCOPED_TRACE(label);
  const fs::path dir = Fixture(fixture);
  const auto before = Checksums(dir);
  RunOptions options;
  options.separate_output = true;
  const ProgramRun run = RunStitcher(dir, c.args, options);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.output, "") << "standard output carries nothing but what was asked for";
  EXPECT_NE(run.console.find(c.said), std::string::npos) << run.console;
  EXPECT_EQ(Checksums(dir), before);
  fs::remove_all(dir);
}

TEST(Slips, EachIsRefusedAndNoFileChanges) {
  const Case cases[] = {
      {{"-ox.gz", "a.log", "b.log"},
       "stitcher: unknown switch '-ox.gz'; did you mean -Output <file> or --output=<file>?\n"},
      {{"-Output=x.gz", "a.log", "b.log"},
       "stitcher: unknown switch '-Output=x.gz'; did you mean -Output x.gz or "
       "--output=x.gz?\n"},
      {{"-output-format=ncsa", "a.log", "b.log"},
       "stitcher: unknown switch '-output-format=ncsa'; did you mean --output-format=ncsa?\n"},
      {{"--outptu=x.gz", "a.log", "b.log"}, "stitcher: unknown option '--outptu=x.gz'"},
      // -o with the first log next: that log is no merged log, so it is never replaced.
      {{"-o", "a.log", "b.log"}, "Output file 'a.log' already exists and is no merged log"},
      {{"--output", "a.log", "b.log"}, "Output file 'a.log' already exists and is no merged log"},
      // The output is one of the inputs, through a link, "./" or the default name.
      {{"-o", "link.log", "a.log", "b.log"}, "Output file 'link.log' is the input 'a.log'"},
      {{"-Output", "./a.log", "b.log", "a.log"}, "Output file './a.log' is the input 'a.log'"},
      {{"--output-format=ncsa", "-o", "./a.log", "a.log", "b.log"},
       "Output file './a.log' is the input 'a.log'"},
      {{"a.log", "b.log", "merged.gz"}, "Output file 'merged.gz' is the input 'merged.gz'"},
      // Compression the name contradicts.
      {{"-Plain", "-o", "week.gz", "a.log", "b.log"},
       "Output file 'week.gz': its name says gzip, but -Plain asks for plain text"},
      {{"--compress", "-o", "week.log", "a.log", "b.log"},
       "Output file 'week.log': its name says plain text, but --compress=yes asks for gzip"},
  };
  for (const Case& c : cases) ExpectRefusedWithNothingChanged(c, "slips");
}

// A run that fails, or cannot mean what was asked, leaves yesterday's merge byte for byte.
TEST(Slips, AFailedRunLeavesTheEarlierMergeAsItWas) {
  const Case cases[] = {
      {{"nope1.log", "nope2.log"}, "nothing was written and 'merged.gz' is left as it was", 2},
      {{"--config=missing.cfg", "a.log", "b.log"},
       "Error opening configuration file 'missing.cfg'"},
      {{"--output-format=xml", "a.log", "b.log"},
       "Invalid --output-format value 'xml': give combined, vhost_combined, json, ncsa, w3c or "
       "webstar!"},
      {{"--level=12", "a.log", "b.log"}, "Invalid --level value '12': give a digit from 0 to 9!"},
      // A key file that cannot be read is refused with the reason, not taken for an empty
      // one: the program's own memory, a regular file in /proc, fails at its first byte.
      {{"--anonymize-ip=hash", "--anonymize-key=/proc/self/mem", "a.log", "b.log"},
       "Error reading the key file '/proc/self/mem': Input/output error."},
      {{"-L", "a.log", "b.log"}, "Invalid -L value '': give a digit from 0 to 9!"},
      {{"--timezone=Mars/Olympus", "a.log", "b.log"}, "Time zone 'Mars/Olympus'"},
      {{"-Output", "missing/dir/x.gz", "a.log", "b.log"},
       "Error opening output file 'missing/dir/x.gz': No such file or directory."},
  };
  for (const Case& c : cases) ExpectRefusedWithNothingChanged(c, "failed-run");
}

// A key file far larger than any key (a log named by mistake) is refused, not read whole.
TEST(Slips, AKeyFileLargerThanAnyKeyIsRefused) {
  const fs::path dir = Fixture("large-key");
  std::string log;
  while (log.size() <= (size_t{64} << 10)) log += kNginx;
  WriteFile(dir / "old.log", log);
  const auto before = Checksums(dir);
  RunOptions options;
  options.separate_output = true;
  const ProgramRun run = RunStitcher(
      dir, {"--anonymize-ip=hash", "--anonymize-key=old.log", "a.log", "b.log"}, options);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.console.find("The key file 'old.log' holds more than 65536 bytes; a key is 16 "
                             "to 65536 bytes."),
            std::string::npos)
      << run.console;
  EXPECT_EQ(Checksums(dir), before);
  fs::remove_all(dir);
}

// A configuration error stops the run before any input is opened: with -Verbose nothing
// says an input was opened.
TEST(Slips, ASettingsErrorStopsBeforeAnyInputIsOpened) {
  const fs::path dir = Fixture("settings-error");
  WriteFile(dir / "Stitcher.cfg", "output-format ncsa\nlevel 12\n");
  const auto before = Checksums(dir);
  RunOptions options;
  options.separate_output = true;
  const ProgramRun run = RunStitcher(dir, {"-Verbose", "a.log", "b.log"}, options);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.console.find("Stitcher.cfg:2: Invalid configuration line 'level 12': give a "
                             "digit from 0 to 9!"),
            std::string::npos)
      << run.console;
  EXPECT_EQ(run.console.find("Opened"), std::string::npos) << run.console;
  EXPECT_EQ(Checksums(dir), before);
  fs::remove_all(dir);
}

// The good paths around the slips: the name decides compression, the last line names the
// absolute path, standard output is plain unless compression is asked for.
TEST(Slips, TheOutputsNameDecidesCompressionAndTheLastLineSaysWhere) {
  struct Good {
    std::vector<std::string> args;
    const char* file;  // the merged log made; null: standard output
    bool gzip;
  };
  const Good cases[] = {
      {{"-Output", "week.log", "a.log", "b.log"}, "week.log", false},
      {{"-Output", "week.gz", "a.log", "b.log"}, "week.gz", true},
      {{"-o", "week.GZ", "--compress=yes", "a.log", "b.log"}, "week.GZ", true},
      {{"-Plain", "a.log", "b.log"}, "merged.log", false},
      {{"a.log", "b.log"}, "merged.gz", true},  // over yesterday's merge
      {{"-Output", "-", "a.log", "b.log"}, nullptr, false},
      {{"-Output", "-", "--compress", "a.log", "b.log"}, nullptr, true},
  };
  for (const Good& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args[1]);
    const fs::path dir = Fixture("name-decides");
    RunOptions options;
    options.separate_output = true;
    const ProgramRun run = RunStitcher(dir, c.args, options);
    EXPECT_EQ(run.status, 0) << run.console;
    const std::string bytes = c.file != nullptr ? ReadFile(dir / c.file) : run.output;
    EXPECT_EQ(bytes.size() > 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b', c.gzip);
    EXPECT_NE((c.gzip ? Gunzip(bytes) : bytes).find("/apache_pb.gif"), std::string::npos);
    const std::string where =
        c.file != nullptr ? "'" + (fs::canonical(dir) / c.file).string() + "'" : "standard output";
    const std::string last = std::string("Wrote 4 entries (WebSTAR, ") +
                             (c.gzip ? "gzip" : "plain text") + ") to " + where + ".\n";
    EXPECT_TRUE(run.console.ends_with(last)) << run.console;
    if (c.file != nullptr) {
      EXPECT_EQ(run.output, "");
    }
    fs::remove_all(dir);
  }
}

}  // namespace

#endif  // STITCHER_BINARY
