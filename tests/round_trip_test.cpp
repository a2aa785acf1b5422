// The merged log reads back: merging the merged log again on its own gives the same log,
// byte for byte, in every output dialect. The inputs are the sample logs of four dialects
// and a line whose fields hold blanks, a tab, a "-" request and no byte count.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(RoundTrip, MergedLogMergedAgainIsUnchangedInEveryDialect) {
  struct Case {
    const char* dialect;
    const char* vhost;  // NCSA's field two holds a virtual host no reader takes back
  };
  const Case cases[] = {{"ncsa", "no"}, {"w3c", "yes"}, {"webstar", "yes"}};
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
    std::ofstream(work / "awkward.log", std::ios::binary) << kAwkwardLog;
    inputs.push_back("awkward.log");
    std::ofstream(work / "empty.cfg");

    const std::vector<std::string> common = {
        "--config=empty.cfg", "--quiet",       std::string("--output-format=") + c.dialect,
        "--newlines=unix",    "--compress=no", std::string("--vhost=") + c.vhost};
    std::vector<std::string> first = common;
    first.push_back("--output=first.txt");
    first.insert(first.end(), inputs.begin(), inputs.end());
    ASSERT_EQ(RunStitcher(work, first).status, 0);
    std::vector<std::string> second = common;
    second.push_back("--output=second.txt");
    second.push_back("first.txt");
    ASSERT_EQ(RunStitcher(work, second).status, 0);

    const std::string once = Slurp(work / "first.txt");
    EXPECT_NE(once.find("NT+AUTHORITY\\LOCAL+SERVICE"), std::string::npos) << once;
    EXPECT_NE(once.find("408"), std::string::npos) << once;  // the entry without a request
    EXPECT_EQ(Slurp(work / "second.txt"), once);
    fs::remove_all(work);
  }
}

}  // namespace
