#include "base/file_spec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/descriptor.h"
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

// Paths are kept to the system's limit: far beyond the 256 characters of old platforms, and
// cut only where the system would refuse them anyway.
TEST(FileSpec, PathsAreCutAtTheSystemLimit) {
  constexpr size_t kLimit = FileSpec::kPathSize - 1;
  static_assert(kLimit >= 1023, "the system's limit, not a short fixed one");
  const std::string tail(kLimit + 50, 'a');
  const std::string dirs = std::string(kLimit - 6, 'd');
  const std::string full_dirs = std::string(kLimit - 16, 'd');  // with 14 more: a full path
  // Named, not temporaries: GCC 12 at -O3 reports a false -Wrestrict overlap for
  // "literal" + <temporary std::string>.
  const std::string tail297 = tail.substr(0, 297);
  struct Case {
    PathStyle style;
    std::string before;
    std::string new_path;
    std::string after;
  };
  const Case cases[] = {
      // A path of 300 characters is kept whole.
      {PathStyle::Posix, "./", "/ab" + tail297, "/ab" + tail297},
      {PathStyle::Windows, ".\\", "C:\\" + tail297, "C:\\" + tail297},
      // An absolute new path longer than the limit keeps its first kLimit characters.
      {PathStyle::Windows, ".\\", "C:\\" + tail, ("C:\\" + tail).substr(0, kLimit)},
      {PathStyle::Posix, "./", "/ab" + tail, ("/ab" + tail).substr(0, kLimit)},
      // A relative name appended to a long path stops at the limit in all.
      {PathStyle::Posix, "/" + dirs + "/", "abcdefghij", "/" + dirs + "/abcd"},
      {PathStyle::Windows, "\\" + dirs + "\\", "abcdefghij", "\\" + dirs + "\\abcd"},
      // A drive prefix inserted into a full path pushes its last two characters out.
      {PathStyle::Windows, "\\" + full_dirs + "\\" + std::string(14, 'x'), "E:b.log",
       "E:\\" + full_dirs + "\\b.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.new_path.substr(0, 12));
    FileSpec spec(c.style);
    spec.Set(c.before.c_str());
    spec.Set(c.new_path.c_str());
    EXPECT_EQ(spec.Path(), c.after);
    EXPECT_LE(std::strlen(spec.Path()), kLimit);
  }
}

TEST(FileSpec, ShortcutNamesAreUsedUnchangedOnLinux) {
  char out[SHORTCUT_PATH_SIZE];
  for (const char* name : {"x.lnk", ".lnk", "LOG.LNK", "logs/a.log"}) {
    SCOPED_TRACE(name);
    ResolveShortcut(out, name);
    EXPECT_STREQ(out, name);
  }
  const std::string long_name(SHORTCUT_PATH_SIZE + 100, 'n');
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

TEST_F(FileSpecOpen, OpenReadsThePath) {
  testing_support::WriteFile(dir / "x.lnk", "line\n");  // a shortcut name is an ordinary file
  const FileDescriptor in = InDir("x.lnk").OpenForReading();
  ASSERT_TRUE(in.IsOpen());
  char got[8] = {};
  EXPECT_EQ(ReadSome(in.Get(), got, sizeof got), 5);
  EXPECT_STREQ(got, "line\n");
  errno = 0;
  EXPECT_FALSE(InDir("missing.log").OpenForReading().IsOpen());
  EXPECT_EQ(errno, ENOENT);
}

// A path cut at the system's limit names another file than the one asked for: it is never
// opened, for reading or writing, even when a file of the cut name exists.
TEST_F(FileSpecOpen, APathThatWasCutIsNeverOpened) {
  // A directory whose path with a slash is kPathSize - 9 characters: "merged.gz" there is
  // cut to "merged.g". Components stay under the system's 255-character name limit.
  const size_t wanted = FileSpec::kPathSize - 9 - 1;  // without the final slash
  std::filesystem::path sub = dir;
  while (sub.string().size() < wanted) {
    const size_t room = wanted - sub.string().size() - 1;
    sub /= std::string(std::min<size_t>(room, 200), 'd');
  }
  ASSERT_EQ(sub.string().size(), wanted);
  std::filesystem::create_directories(sub);
  testing_support::WriteFile(sub / "merged.g", "an unrelated file\n");
  FileSpec spec;
  spec.Set((sub / "first.log").c_str());
  spec.Set("merged.gz");
  ASSERT_EQ(spec.Path(), (sub / "merged.g").string());
  EXPECT_FALSE(spec.OpenForReading().IsOpen());
  EXPECT_EQ(testing_support::ReadFile(sub / "merged.g"), "an unrelated file\n");

  // A later name that fits beside the cut one is still refused: the directory part kept
  // may itself have been cut. A new absolute path starts afresh.
  spec.Set("a");
  EXPECT_FALSE(spec.OpenForReading().IsOpen());
  spec.Set((sub / "merged.g").c_str());
  EXPECT_TRUE(spec.OpenForReading().IsOpen());
}

}  // namespace
