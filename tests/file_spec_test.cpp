#include "base/file_spec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/shortcut.h"
#include "program_runner.h"

namespace {

// A spec of `style` holding `before`: a `before` that starts with the initial "./" or ".\"
// is reached by setting the rest of it, as a relative name is.
FileSpec SpecAt(PathStyle style, const std::string& before) {
  FileSpec spec(style);
  const std::string initial = spec.Path();
  spec.Set(before.starts_with(initial) ? before.c_str() + initial.size() : before.c_str());
  EXPECT_EQ(spec.Path(), before);
  return spec;
}

std::string NameOf(const FileSpec& spec) {
  char name[FileSpec::kPathSize];
  std::memset(name, 'X', sizeof name);
  spec.GetName(name);
  return name;
}

struct SetCase {
  const char* before;
  const char* new_path;
  const char* after;
};

void CheckSet(PathStyle style, const SetCase& c) {
  SCOPED_TRACE(std::string(c.before) + " + " + c.new_path);
  FileSpec spec = SpecAt(style, c.before);
  spec.Set(c.new_path);
  EXPECT_STREQ(spec.Path(), c.after);
}

TEST(FileSpec, InitialPathIsTheCurrentDirectory) {
  EXPECT_STREQ(FileSpec(PathStyle::Windows).Path(), ".\\");
  EXPECT_STREQ(FileSpec(PathStyle::Posix).Path(), "./");
  EXPECT_STREQ(FileSpec().Path(), "./");  // the program's style on Linux
}

TEST(FileSpec, WindowsSet) {
  const SetCase cases[] = {
      {".\\", "access.log", ".\\access.log"},
      {"D:\\logs\\a.log", "merged.gz", "D:\\logs\\merged.gz"},
      {"D:\\logs\\a.log", "\\tmp\\x", "D:\\tmp\\x"},
      {".\\", "E:b.log", "E:.\\b.log"},
      {"C:\\w\\a.log", "E:b.log", "E:\\w\\b.log"},
      {".\\", "logs/a.log", ".\\logs/a.log"},
      // Absolute with either slash replaces everything.
      {"D:\\logs\\a.log", "c:/x/y.log", "c:/x/y.log"},
      // Rooted without a drive in the path starts afresh; a forward slash roots too.
      {".\\a.log", "\\tmp\\x", "\\tmp\\x"},
      {"D:\\logs\\a.log", "/tmp/x", "D:/tmp/x"},
      // A relative name replaces what follows the last slash, backslash or colon.
      {".\\logs/a.log", "b.log", ".\\logs/b.log"},
      {"D:\\logs\\", "sub\\c.log", "D:\\logs\\sub\\c.log"},
      {"D:\\logs\\a.log", "", "D:\\logs\\"},
      // Drive-relative onto a path that has a drive only swaps the letter.
      {"C:\\w\\a.log", "e:", "e:\\w\\"},
  };
  for (const auto& c : cases) CheckSet(PathStyle::Windows, c);
}

// On Linux only '/' separates; ':' and '\' are ordinary characters and there are no drives.
TEST(FileSpec, PosixSet) {
  const SetCase cases[] = {
      {"./", "access.log", "./access.log"},
      {"./", "logs/web1:2023.log", "./logs/web1:2023.log"},
      {"./logs/web1:2023.log", "merged.gz", "./logs/merged.gz"},
      {"./logs/a.log", "web1:2023.log", "./logs/web1:2023.log"},
      {"/var/log/a.log", "merged.log", "/var/log/merged.log"},
      {"/var/log/a.log", "/tmp/x", "/tmp/x"},
      {"./", "/abs/x", "/abs/x"},
      {"./", "C:\\x", "./C:\\x"},
      {"./", "E:b.log", "./E:b.log"},
      {"./a\\b.log", "c.log", "./c.log"},
      {"./logs/a", "sub/b", "./logs/sub/b"},
      {"./logs/", "", "./logs/"},
  };
  for (const auto& c : cases) CheckSet(PathStyle::Posix, c);
}

TEST(FileSpec, GetNameTakesThePartAfterTheStylesSeparator) {
  struct Case {
    PathStyle style;
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {PathStyle::Windows, "D:\\logs\\a.log", "a.log"},
      {PathStyle::Windows, ".\\logs/a.log", "logs/a.log"},  // forward slashes only
      {PathStyle::Windows, "C:\\x:y", "x:y"},               // a colon does not count
      {PathStyle::Windows, ".\\", ""},
      {PathStyle::Posix, "./logs/web1:2023.log", "web1:2023.log"},
      {PathStyle::Posix, "./a\\b.log", "a\\b.log"},
      {PathStyle::Posix, "/x", "x"},
      {PathStyle::Posix, "./", ""},
      {PathStyle::Posix, "/", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(NameOf(SpecAt(c.style, c.path)), c.name);
  }
}

// The output's spec is made from the first input's: set to its name, then to the output
// name, which lands in the same directory.
TEST(FileSpec, OutputNameFollowsTheFirstInput) {
  struct Case {
    PathStyle style;
    const char* input;
    const char* output;
    const char* name;
  };
  const Case cases[] = {
      {PathStyle::Windows, "E:b.log", "E:.\\merged.gz", "merged.gz"},
      {PathStyle::Windows, "D:\\logs\\a.log", "D:\\logs\\merged.gz", "merged.gz"},
      {PathStyle::Posix, "logs/web1:2023.log", "./logs/merged.gz", "merged.gz"},
      {PathStyle::Posix, "/srv/w\\1.log", "/srv/merged.gz", "merged.gz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    FileSpec spec(c.style);
    spec.Set(c.input);
    spec.Set("merged.gz");
    EXPECT_STREQ(spec.Path(), c.output);
    EXPECT_EQ(NameOf(spec), c.name);
  }
}

TEST(FileSpec, PathsAreCutAt256Characters) {
  const std::string tail(300 - 3, 'a');
  // Named, not temporaries: GCC 12 at -O3 reports a false -Wrestrict overlap for
  // "literal" + <temporary std::string>.
  const std::string d240(240, 'd');
  const std::string d250(250, 'd');
  struct Case {
    PathStyle style;
    std::string before;
    std::string new_path;
    std::string after;
  };
  const Case cases[] = {
      // An absolute new path of 300 characters keeps its first 256.
      {PathStyle::Windows, ".\\", "C:\\" + tail, ("C:\\" + tail).substr(0, 256)},
      {PathStyle::Posix, "./", "/ab" + tail, ("/ab" + tail).substr(0, 256)},
      // A relative name appended to a long path stops at 256 in all.
      {PathStyle::Posix, "/" + d250 + "/", "abcdefghij", "/" + d250 + "/abcde"},
      {PathStyle::Windows, "\\" + d250 + "\\", "abcdefghij", "\\" + d250 + "\\abcde"},
      // A drive prefix inserted into a full path pushes its last two characters out.
      {PathStyle::Windows, "\\" + d240 + "\\" + std::string(14, 'x'), "E:b.log",
       "E:\\" + d240 + "\\b.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.new_path.substr(0, 12));
    FileSpec spec(c.style);
    spec.Set(c.before.c_str());
    spec.Set(c.new_path.c_str());
    EXPECT_EQ(spec.Path(), c.after.substr(0, 256));
    EXPECT_LE(std::strlen(spec.Path()), 256u);
  }
}

TEST(FileSpec, ShortcutNamesAreUsedUnchangedOnLinux) {
  char out[SHORTCUT_PATH_SIZE];
  for (const char* name : {"x.lnk", ".lnk", "LOG.LNK", "logs/a.log"}) {
    SCOPED_TRACE(name);
    ResolveShortcut(out, name);
    EXPECT_STREQ(out, name);
  }
  const std::string long_name(400, 'n');
  ResolveShortcut(out, long_name.c_str());
  EXPECT_EQ(std::string(out), long_name.substr(0, SHORTCUT_PATH_SIZE - 1));
}

// ---- Opening -------------------------------------------------------------------------------

class FileSpecOpen : public ::testing::Test {
 protected:
  std::filesystem::path dir = testing_support::FreshDirectory("file-spec");
  void TearDown() override { std::filesystem::remove_all(dir); }

  // A spec of the first input, as the merge engine makes the output's spec from it.
  FileSpec InDir(const char* name) {
    FileSpec spec;
    spec.Set((dir / "first.log").c_str());
    spec.Set(name);
    EXPECT_EQ(spec.Path(), (dir / name).string());
    return spec;
  }
};

TEST_F(FileSpecOpen, OpenReadsAndWritesThePath) {
  std::FILE* out = InDir("x.lnk").Open("wb");  // a shortcut name is an ordinary file here
  ASSERT_NE(out, nullptr);
  std::fputs("line\n", out);
  std::fclose(out);
  EXPECT_EQ(testing_support::ReadFile(dir / "x.lnk"), "line\n");
  std::FILE* in = InDir("x.lnk").Open("rb");
  ASSERT_NE(in, nullptr);
  std::fclose(in);
  EXPECT_EQ(InDir("missing.log").Open("rb"), nullptr);
}

// A path cut at 256 characters names another file than the one asked for: it is never
// opened, for reading or writing, even when a file of the cut name exists.
TEST_F(FileSpecOpen, APathThatWasCutIsNeverOpened) {
  // A directory whose path with a slash is 248 characters: "merged.gz" there is cut to
  // "merged.g".
  const std::string prefix = dir.string() + "/";
  ASSERT_LT(prefix.size(), 240u);
  const std::filesystem::path sub = dir / std::string(247 - prefix.size(), 'd');
  std::filesystem::create_directories(sub);
  testing_support::WriteFile(sub / "merged.g", "an unrelated file\n");
  FileSpec spec;
  spec.Set((sub / "first.log").c_str());
  spec.Set("merged.gz");
  ASSERT_EQ(spec.Path(), (sub / "merged.g").string());
  EXPECT_EQ(spec.Open("rb"), nullptr);
  EXPECT_EQ(spec.Open("wb"), nullptr);
  EXPECT_EQ(testing_support::ReadFile(sub / "merged.g"), "an unrelated file\n");

  // A later name that fits beside the cut one is still refused: the directory part kept
  // may itself have been cut. A new absolute path starts afresh.
  spec.Set("a");
  EXPECT_EQ(spec.Open("rb"), nullptr);
  spec.Set((sub / "merged.g").c_str());
  std::FILE* file = spec.Open("rb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
}

}  // namespace
