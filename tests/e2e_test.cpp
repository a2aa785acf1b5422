// End-to-end cases: every folder tests/e2e/<case>/ runs the program once.
//
//   args              the arguments, one per line (an empty line is an empty argument)
//   stdin             standard input of the run (/dev/null when absent)
//   in/               copied into a fresh working directory before the run
//   expected/console  the exact console text, standard output and standard error together
//                     ("... in M:SS!" normalised to 0:00)
//   expected/stdout   when present, standard output is captured apart and compared with it
//                     (after decompression when gzip); console is then standard error alone
//   expected/status   the exit status (0 when absent)
//   expected/absent   paths that must not exist after the run, one per line
//   expected/<path>   every other file: <path> must exist afterwards and equal it byte for
//                     byte, after decompression when the produced file is gzip
//
// STITCHER_ACCEPT=1 rewrites expected/ from what the run produced.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "program_runner.h"

// Without the program (an early build of a branch) there is nothing to run.
#ifdef STITCHER_BINARY

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const fs::path kCasesRoot = fs::path(STITCHER_SOURCE_DIR) / "tests" / "e2e";

// Files of expected/ that describe the run rather than a produced file.
const std::set<std::string> kControlFiles = {"console", "status", "absent", "README", "stdout"};

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  if (!fs::is_directory(kCasesRoot)) return names;
  for (const auto& entry : fs::directory_iterator(kCasesRoot)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsGzip(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
         static_cast<unsigned char>(bytes[1]) == 0x8B;
}

std::string ProducedText(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  return IsGzip(bytes) ? Gunzip(bytes) : bytes;
}

// The elapsed time of the final statistics line depends on the machine.
std::string NormaliseElapsed(const std::string& console) {
  static const std::regex kElapsed("(Wrote -?[0-9]+ log entries in )[0-9]+:[0-9]{2}!");
  std::string result;
  auto rest = console.cbegin();
  for (std::smatch m; std::regex_search(rest, console.cend(), m, kElapsed); rest = m[0].second) {
    result.append(rest, m[0].first).append(m[1].str()).append("0:00!");
  }
  return result.append(rest, console.cend());
}

// The working directory's path, which differs from run to run, is shown as "<dir>".
std::string NormaliseConsole(const std::string& console, const fs::path& work) {
  std::string text = console;
  for (const std::string& dir : {fs::canonical(work).string(), work.string()}) {
    for (size_t at; (at = text.find(dir)) != std::string::npos;)
      text.replace(at, dir.size(), "<dir>");
  }
  return NormaliseElapsed(text);
}

// GoogleTest names allow only letters, digits and '_'.
std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    const bool keep = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!keep) c = '_';
  }
  return name;
}

class EndToEnd : public ::testing::TestWithParam<std::string> {};

// Relative paths of the regular files below `root`.
std::vector<fs::path> FilesBelow(const fs::path& root) {
  std::vector<fs::path> files;
  if (!fs::is_directory(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root));
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool Accepting() {
  const char* accept = std::getenv("STITCHER_ACCEPT");
  return accept != nullptr && std::string(accept) == "1";
}

void Accept(const fs::path& case_dir, const fs::path& work, const ProgramRun& run,
            const std::vector<fs::path>& expected_files) {
  const fs::path expected = case_dir / "expected";
  fs::create_directories(expected);
  WriteFile(expected / "console", NormaliseConsole(run.console, work));
  if (fs::exists(expected / "stdout")) {
    WriteFile(expected / "stdout", IsGzip(run.output) ? Gunzip(run.output) : run.output);
  }
  if (run.status != 0) {
    WriteFile(expected / "status", std::to_string(run.status) + "\n");
  } else {
    fs::remove(expected / "status");
  }
  // Keep every produced file the case already pins, and pin the files the run created.
  std::set<fs::path> pinned(expected_files.begin(), expected_files.end());
  const auto inputs = FilesBelow(case_dir / "in");
  const std::set<fs::path> input_set(inputs.begin(), inputs.end());
  for (const auto& produced : FilesBelow(work)) {
    if (input_set.count(produced) == 0) pinned.insert(produced);
  }
  for (const auto& path : pinned) {
    if (!fs::exists(work / path)) continue;
    fs::create_directories((expected / path).parent_path());
    WriteFile(expected / path, ProducedText(work / path));
  }
}

// Runs a case with `first_args` before its own arguments and checks what it expects.
void CheckCase(const std::string& name, const std::vector<std::string>& first_args) {
  const fs::path case_dir = kCasesRoot / name;
  const fs::path work = FreshDirectory("e2e-" + name);
  if (fs::is_directory(case_dir / "in")) {
    fs::copy(case_dir / "in", work, fs::copy_options::recursive);
  }
  std::vector<std::string> args = first_args;
  if (fs::exists(case_dir / "args")) {
    const std::vector<std::string> own = SplitLines(ReadFile(case_dir / "args"));
    args.insert(args.end(), own.begin(), own.end());
  }

  const fs::path expected = case_dir / "expected";
  RunOptions options;
  if (fs::exists(case_dir / "stdin")) options.stdin_path = (case_dir / "stdin").string();
  options.separate_output = fs::exists(expected / "stdout");
  const ProgramRun run = RunStitcher(work, args, options);

  std::vector<fs::path> expected_files;
  for (const auto& path : FilesBelow(expected)) {
    if (!(path.parent_path().empty() && kControlFiles.count(path.string()) != 0)) {
      expected_files.push_back(path);
    }
  }
  if (Accepting()) {
    Accept(case_dir, work, run, expected_files);
    fs::remove_all(work);
    GTEST_SKIP() << "expectations rewritten";
  }

  ASSERT_TRUE(fs::exists(expected / "console")) << "case has no expected/console";
  EXPECT_EQ(NormaliseConsole(run.console, work), ReadFile(expected / "console"));
  int want_status = 0;
  if (fs::exists(expected / "status"))
    want_status = std::atoi(ReadFile(expected / "status").c_str());
  EXPECT_EQ(run.status, want_status);
  if (options.separate_output) {
    EXPECT_EQ(IsGzip(run.output) ? Gunzip(run.output) : run.output, ReadFile(expected / "stdout"));
  }

  for (const auto& path : expected_files) {
    SCOPED_TRACE(path.string());
    ASSERT_TRUE(fs::exists(work / path)) << path << " was not produced";
    EXPECT_EQ(ProducedText(work / path), ReadFile(expected / path));
  }
  if (fs::exists(expected / "absent")) {
    for (const auto& path : SplitLines(ReadFile(expected / "absent"))) {
      if (path.empty()) continue;
      EXPECT_FALSE(fs::exists(work / path)) << path << " should not exist";
    }
  }
  if (!::testing::Test::HasFailure()) fs::remove_all(work);
}

TEST_P(EndToEnd, Case) {
  CheckCase(GetParam(), {});
}

// Every case gives the same merged log and messages when no more than two inputs may be open
// at once, so that the inputs are merged in passes through temporary files: every dialect,
// container, option and tie of the cases above.
TEST_P(EndToEnd, InPassesOfTwoInputs) {
  if (Accepting()) GTEST_SKIP() << "the expectations are the one-pass run's";
  CheckCase(GetParam(), {"--max-open=2"});
}

INSTANTIATE_TEST_SUITE_P(Folders, EndToEnd, ::testing::ValuesIn(CaseNames()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EndToEnd);

}  // namespace

#endif  // STITCHER_BINARY
