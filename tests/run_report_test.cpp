// The run report: the JSON object checked field by field against the run that wrote it
// (read back with jq), and the HTML page rendered by a real headless browser.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// The standard output of a shell command, and its exit status.
std::string Capture(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

bool HaveCommand(const std::string& name) {
  int status = -1;
  Capture("command -v " + name + " >/dev/null 2>&1", status);
  return status == 0;
}

// Every scalar of a JSON document by its path ("inputs.0.corrupt.total" -> "1"), read by jq,
// which also refuses a document that is not valid JSON.
std::map<std::string, std::string> Flatten(const fs::path& file) {
  int status = -1;
  const std::string text = Capture(
      "jq -r 'paths(type != \"object\" and type != \"array\") as $p | \"\\($p | map(tostring) | "
      "join(\".\"))=\\(getpath($p))\"' " +
          ShellQuote(file.string()) + " 2>&1",
      status);
  std::map<std::string, std::string> fields;
  EXPECT_EQ(status, 0) << text;
  for (const std::string& line : SplitLines(text)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

// Two servers: b.log lost three hours and holds a line of no known dialect; gone.log is
// named but missing.
fs::path ServerLogs(const std::string& name) {
  const fs::path dir = FreshDirectory(name);
  WriteFile(dir / "a.log",
            "10.0.0.1 - - [05/Mar/2024:10:00:00 +0000] \"GET /a1 HTTP/1.1\" 200 512\n"
            "10.0.0.1 - - [05/Mar/2024:10:40:00 +0000] \"GET /a2 HTTP/1.1\" 200 512\n"
            "10.0.0.1 - - [05/Mar/2024:11:20:00 +0000] \"GET /a3 HTTP/1.1\" 200 512\n");
  WriteFile(dir / "b.log",
            "10.0.0.2 - - [05/Mar/2024:10:10:00 +0000] \"GET /b1 HTTP/1.1\" 200 64\n"
            "not a log line\n"
            "10.0.0.2 - - [05/Mar/2024:13:10:00 +0000] \"GET /b2 HTTP/1.1\" 200 64\n");
  return dir;
}

TEST(RunReport, JsonMatchesTheRunFieldByField) {
  if (!HaveCommand("jq")) GTEST_SKIP() << "jq is not installed (scripts/install-deps.sh)";
  const fs::path dir = ServerLogs("report-json");
  const ProgramRun run = RunStitcher(dir, {"-p", "--output-format=ncsa", "-o", "merged.log",
                                           "--report=run.json", "a.log", "b.log", "gone.log"});
  EXPECT_EQ(run.status, 2) << run.console;
  auto f = Flatten(dir / "run.json");
  const std::map<std::string, std::string> expected = {
      {"program", "stitcher"},
      {"settings.output-format", "ncsa"},
      {"settings.compress", "false"},
      {"settings.gap-seconds", "3600"},
      {"settings.timezone", "null"},
      {"inputs.0.path", "a.log"},
      {"inputs.0.size", std::to_string(fs::file_size(dir / "a.log"))},
      {"inputs.0.container", "plain"},
      {"inputs.0.opened", "true"},
      {"inputs.0.read_to_end", "true"},
      {"inputs.0.lines_read", "3"},
      {"inputs.0.entries", "3"},
      {"inputs.0.filtered", "0"},
      {"inputs.0.dialects.0.name", "NCSA common/combined"},
      {"inputs.0.dialects.0.entries", "3"},
      {"inputs.0.corrupt.total", "0"},
      {"inputs.0.first_entry", "2024-03-05T10:00:00"},
      {"inputs.0.last_entry", "2024-03-05T11:20:00"},
      {"inputs.0.first_unknown_line", "null"},
      {"inputs.0.out_of_order", "0"},
      {"inputs.1.path", "b.log"},
      {"inputs.1.lines_read", "3"},
      {"inputs.1.entries", "2"},
      {"inputs.1.corrupt.total", "1"},
      {"inputs.1.corrupt.no_dialect", "1"},
      {"inputs.1.corrupt.date_out_of_range", "0"},
      {"inputs.1.corrupt.over_long", "0"},
      {"inputs.1.skipped.total", "0"},
      {"inputs.1.skipped.header", "0"},
      {"inputs.1.skipped.error_log", "0"},
      {"inputs.1.first_unknown_line.number", "2"},
      {"inputs.1.first_unknown_line.text", "not a log line"},
      {"inputs.1.gaps.0.from", "2024-03-05T10:10:00"},
      {"inputs.1.gaps.0.to", "2024-03-05T13:10:00"},
      {"inputs.1.gaps.0.seconds", "10800"},
      {"inputs.2.path", "gone.log"},
      {"inputs.2.opened", "false"},
      {"inputs.2.size", "null"},
      {"inputs.2.container", "null"},
      {"inputs.2.errors.0", "Error opening input file 'gone.log': No such file or directory."},
      {"output.path", "./merged.log"},
      {"output.format", "ncsa"},
      {"output.compressed", "false"},
      {"output.bytes", std::to_string(fs::file_size(dir / "merged.log"))},
      {"output.entries", "5"},
      {"output.complete", "true"},
      {"output.first_entry", "2024-03-05T10:00:00"},
      {"output.last_entry", "2024-03-05T13:10:00"},
      {"exit_status", "2"},
  };
  for (const auto& [key, value] : expected) {
    SCOPED_TRACE(key);
    ASSERT_EQ(f.count(key), 1u);
    EXPECT_EQ(f[key], value);
  }
  EXPECT_EQ(f.count("inputs.0.gaps.0.from"), 0u) << "a.log has no gap";
  EXPECT_EQ(f.count("inputs.1.errors.0"), 0u) << "a corrupt line is counted, not an error";
  EXPECT_EQ(f["version"].rfind("Stitcher Version ", 0), 0u);
  EXPECT_GE(std::stod(f["durations.total_seconds"]), std::stod(f["durations.merge_seconds"]));
  // The merged log holds exactly the entries the report counts.
  EXPECT_EQ(SplitLines(ReadFile(dir / "merged.log")).size(), 5u);
  EXPECT_TRUE(PartialFilesIn(dir).empty());
  fs::remove_all(dir);
}

TEST(RunReport, NamesThatAreNoUtf8StayValidJson) {
  if (!HaveCommand("jq")) GTEST_SKIP() << "jq is not installed (scripts/install-deps.sh)";
  const fs::path dir = ServerLogs("report-json-names");
  fs::rename(dir / "a.log", dir / "caf\xe9 \"q\".log");
  const ProgramRun run = RunStitcher(
      dir, {"-p", "-o", "merged.log", "--report=run.json", "caf\xe9 \"q\".log", "b.log"});
  EXPECT_EQ(run.status, 0) << run.console;
  auto f = Flatten(dir / "run.json");
  EXPECT_EQ(f["inputs.0.path"], "caf\\xe9 \"q\".log");
  fs::remove_all(dir);
}

TEST(RunReport, AReportThatCannotBeWrittenFailsTheRun) {
  const fs::path dir = ServerLogs("report-unwritable");
  const ProgramRun run = RunStitcher(
      dir, {"-p", "-o", "merged.log", "--report=no/such/dir/run.json", "a.log", "b.log"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.console.find("Error writing report 'no/such/dir/run.json': No such file or "
                             "directory."),
            std::string::npos)
      << run.console;
  fs::remove_all(dir);
}

// Loads the page in headless Chromium with a probe added: it counts the timelines that
// rendered with a size, and notes any script or resource error.
TEST(RunReport, HtmlPageRendersATimelinePerInputInChromium) {
  std::string browser;
  for (const char* name : {"chromium", "chromium-browser"}) {
    if (HaveCommand(name)) browser = name;
  }
  if (browser.empty()) {
    GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
  }
  const fs::path dir = ServerLogs("report-html");
  const ProgramRun run = RunStitcher(
      dir, {"-p", "-o", "merged.log", "--report=run.html", "a.log", "b.log", "gone.log"});
  EXPECT_EQ(run.status, 2) << run.console;
  std::string page = ReadFile(dir / "run.html");
  ASSERT_FALSE(page.empty());
  // Self-contained: nothing is fetched from anywhere.
  for (const char* fetch : {"<script", "src=", "href=", "url(", "@import"}) {
    EXPECT_EQ(page.find(fetch), std::string::npos) << fetch;
  }
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The page is the same bytes in every build, and no sanitizer watches the browser: the
  // optimised build's run renders it.
  GTEST_SKIP() << "the page was written; the release build renders it in Chromium";
#endif
  // The probe needs inline script, which the page's own policy forbids: the copy allows it.
  const std::string policy = "default-src 'none';";
  const size_t at = page.find(policy);
  ASSERT_NE(at, std::string::npos);
  page.replace(at, policy.size(), "default-src 'none'; script-src 'unsafe-inline';");
  const std::string probe =
      "<script>window.addEventListener('error',function(){document.title='ERROR';},true);"
      "window.addEventListener('load',function(){var n=0;"
      "document.querySelectorAll('svg g.timeline').forEach(function(g){"
      "var b=g.getBBox();if(b.width>0&&b.height>0)n++;});"
      "var m=document.querySelector('svg g.merged').getBBox();"
      "if(document.title!=='ERROR')document.title='timelines='+n+' merged='+(m.width>0);"
      "});</script>";
  page.insert(page.rfind("</body>"), probe);
  WriteFile(dir / "probe.html", page);
  const fs::path profile = dir / "profile";
  int status = -1;
  const std::string dom = Capture(
      "timeout 120 " + browser +
          " --headless --no-sandbox --disable-gpu --disable-background-networking"
          " --disable-component-update --disable-sync --no-first-run --user-data-dir=" +
          ShellQuote(profile.string()) + " --enable-logging=stderr --v=0 --dump-dom file://" +
          ShellQuote((dir / "probe.html").string()) + " 2>" +
          ShellQuote((dir / "browser.log").string()),
      status);
  ASSERT_EQ(status, 0) << ReadFile(dir / "browser.log");
  EXPECT_NE(dom.find("<title>timelines=3 merged=true</title>"), std::string::npos)
      << dom.substr(0, 2000);
  const std::string log = ReadFile(dir / "browser.log");
  for (const char* error : {"CONSOLE", "Uncaught", "Refused to"}) {
    EXPECT_EQ(log.find(error), std::string::npos) << log;
  }
  fs::remove_all(dir);
}

}  // namespace
