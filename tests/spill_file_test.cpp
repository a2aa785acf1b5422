// Spill files: records come back as they went in, the file never has a name others can
// see, a directory that refuses it sends it to the temporary directory, and every write or
// read failure is reported rather than taken for the end.

#include "output/spill_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "program_runner.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

struct Record {
  TimeKey key;
  std::string line;
  bool operator==(const Record&) const = default;
};

// A line of `size` bytes whose content depends on `seed`: every byte value, NUL and line
// ends included, so a lost or shifted byte shows.
std::string Line(size_t size, unsigned seed) {
  std::string line(size, '\0');
  for (size_t i = 0; i < size; ++i) line[i] = static_cast<char>((i * 31 + seed * 7) & 0xff);
  return line;
}

std::set<std::string> Listing(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Everything a reader gives until it stops.
std::vector<Record> ReadAll(SpillReader& reader) {
  std::vector<Record> records;
  TimeKey key = 0;
  std::string_view line;
  while (reader.Next(key, line)) records.push_back({key, std::string(line)});
  return records;
}

class SpillFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDirectory("spill");
    temporary_ = FreshDirectory("spill-tmpdir");
    const char* old = std::getenv("TMPDIR");
    had_tmpdir_ = old != nullptr;
    if (had_tmpdir_) old_tmpdir_ = old;
    setenv("TMPDIR", temporary_.c_str(), 1);
  }
  void TearDown() override {
    if (had_tmpdir_) {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
    fs::remove_all(temporary_);
  }

  // A spill beside "<dir>/merged.gz" holding `records`, finished.
  FileDescriptor Spill(const std::vector<Record>& records) {
    SpillWriter writer;
    EXPECT_TRUE(writer.Create((dir_ / "merged.gz").string())) << writer.Error();
    for (const Record& r : records) EXPECT_TRUE(writer.Append(r.key, r.line)) << writer.Error();
    EXPECT_TRUE(writer.Finish()) << writer.Error();
    return writer.TakeFile();
  }

  fs::path dir_;
  fs::path temporary_;
  bool had_tmpdir_ = false;
  std::string old_tmpdir_;
};

// ---- Round trip ----------------------------------------------------------------------------

TEST_F(SpillFileTest, RecordsComeBackAsWritten) {
  std::vector<Record> many_small;
  for (unsigned i = 0; i < 150000; ++i) many_small.push_back({i * 7ull, Line(i % 98, i)});
  struct Case {
    const char* name;
    std::vector<Record> records;
  };
  const Case cases[] = {
      {"no records", {}},
      {"empty line", {{0, ""}}},
      {"one byte, the largest key a record carries", {{UINT64_MAX - 1, "x"}}},
      {"line as long as the read buffer", {{5, Line(kSpillReadBuffer, 1)}}},
      {"record as long as the read buffer",
       {{5, Line(kSpillReadBuffer - kSpillRecordHeader, 2)}, {6, "after"}}},
      {"record as long as the write buffer",
       {{1, "before"}, {5, Line(kSpillWriteBuffer - kSpillRecordHeader, 3)}, {6, "after"}}},
      {"line longer than the write buffer",
       {{1, "before"}, {2, Line(kSpillWriteBuffer + 1, 4)}, {3, ""}}},
      {"several MiB between small lines, then small again",
       {{9, "a"}, {8, Line(5 << 20, 5)}, {7, Line(70000, 6)}, {6, "b"}, {5, Line(100, 7)}}},
      {"many small records across both buffers' boundaries", many_small},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpillWriter writer;
    ASSERT_TRUE(writer.Create((dir_ / "merged.gz").string())) << writer.Error();
    uint64_t bytes = 0;
    for (const Record& r : c.records) {
      ASSERT_TRUE(writer.Append(r.key, r.line)) << writer.Error();
      bytes += kSpillRecordHeader + r.line.size();
    }
    ASSERT_TRUE(writer.Finish()) << writer.Error();
    EXPECT_EQ(writer.Records(), c.records.size());
    EXPECT_EQ(writer.Bytes(), bytes);

    SpillReader reader(writer.TakeFile());
    const std::vector<Record> read = ReadAll(reader);
    EXPECT_FALSE(reader.Failed()) << reader.Error();
    ASSERT_EQ(read.size(), c.records.size());
    for (size_t i = 0; i < read.size(); ++i) {
      if (read[i] == c.records[i]) continue;
      ADD_FAILURE() << "record " << i << " differs: key " << read[i].key << ", "
                    << read[i].line.size() << " bytes";
      break;
    }
    TimeKey key = 0;
    std::string_view line;
    EXPECT_FALSE(reader.Next(key, line)) << "the end stays the end";
    EXPECT_FALSE(reader.Failed());
  }
}

// ---- Where the file is, and that nobody sees it -----------------------------------------------

TEST_F(SpillFileTest, TheFileHasNoNameFromTheStartAndIsPrivate) {
  WriteFile(dir_ / "merged.gz", "an earlier merged log");
  const std::set<std::string> before = Listing(dir_);
  SpillWriter writer;
  ASSERT_TRUE(writer.Create((dir_ / "merged.gz").string())) << writer.Error();
  EXPECT_EQ(Listing(dir_), before) << "created";
  ASSERT_TRUE(writer.Append(42, "203.0.113.9 - - [10/Oct/2024:13:55:36 +0000] \"GET / HTTP/1.1\""));
  EXPECT_EQ(Listing(dir_), before) << "written";
  ASSERT_TRUE(writer.Finish());
  EXPECT_EQ(Listing(dir_), before) << "finished";
  EXPECT_EQ(writer.Directory(), dir_.string());

  const FileDescriptor file = writer.TakeFile();
  struct stat info {};
  ASSERT_EQ(fstat(file.Get(), &info), 0);
  EXPECT_EQ(info.st_nlink, 0u) << "no name refers to the file";
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  struct stat directory {};
  ASSERT_EQ(stat(dir_.c_str(), &directory), 0);
  EXPECT_EQ(info.st_dev, directory.st_dev) << "made on the output's file system";
  EXPECT_TRUE(Listing(temporary_).empty());
}

TEST_F(SpillFileTest, TheDirectoryComesFromTheOutputPath) {
  struct Case {
    std::string output;
    std::string directory;
  };
  const Case cases[] = {
      {(dir_ / "merged.gz").string(), dir_.string()},
      {dir_.string() + "/" + std::string(250, 'n') + ".log", dir_.string()},  // name cut to fit
      {"merged.gz", "."},
      {"-", temporary_.string()},  // standard output has no directory
      {"", temporary_.string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    SpillWriter writer;
    ASSERT_TRUE(writer.Create(c.output)) << writer.Error();
    EXPECT_EQ(writer.Directory(), c.directory);
    EXPECT_TRUE(writer.Append(1, "x"));
    EXPECT_TRUE(writer.Finish());
  }
  EXPECT_TRUE(Listing(dir_).empty());
  EXPECT_TRUE(Listing(temporary_).empty());
}

TEST_F(SpillFileTest, ADirectoryThatRefusesSendsTheFileToTheTemporaryDirectory) {
  WriteFile(dir_ / "plain-file", "");
  fs::create_directory(dir_ / "read-only");
  fs::permissions(dir_ / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
  struct Case {
    const char* name;
    fs::path output;
  };
  const Case cases[] = {
      {"missing directory", dir_ / "missing" / "merged.gz"},
      {"a file where the directory should be", dir_ / "plain-file" / "merged.gz"},
      {"read-only directory", dir_ / "read-only" / "merged.gz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The superuser writes into a read-only directory anyway: nothing to fall back from.
    if (geteuid() == 0 && c.output.parent_path().filename() == "read-only") continue;
    SpillWriter writer;
    ASSERT_TRUE(writer.Create(c.output.string())) << writer.Error();
    EXPECT_EQ(writer.Directory(), temporary_.string());
    ASSERT_TRUE(writer.Append(7, "line"));
    ASSERT_TRUE(writer.Finish());
    EXPECT_TRUE(Listing(temporary_).empty());
    SpillReader reader(writer.TakeFile());
    EXPECT_EQ(ReadAll(reader), (std::vector<Record>{{7, "line"}}));
  }
}

TEST_F(SpillFileTest, WhenBothDirectoriesRefuseTheMessageNamesEach) {
  setenv("TMPDIR", (temporary_ / "gone").c_str(), 1);
  SpillWriter writer;
  EXPECT_FALSE(writer.Create((dir_ / "missing" / "merged.gz").string()));
  EXPECT_EQ(writer.Error(), "cannot create a temporary file in '" + (dir_ / "missing").string() +
                                "' (No such file or directory) or in '" +
                                (temporary_ / "gone").string() + "' (No such file or directory)");
  EXPECT_FALSE(writer.Append(1, "x"));
  EXPECT_FALSE(writer.Finish());

  SpillWriter only_temporary;
  EXPECT_FALSE(only_temporary.Create("-"));
  EXPECT_EQ(only_temporary.Error(), "cannot create a temporary file in '" +
                                        (temporary_ / "gone").string() +
                                        "': No such file or directory");
}

// ---- Failures ----------------------------------------------------------------------------------

// Cuts a finished spill of three records (the middle one longer than the read buffer) to
// `size` bytes: a cut inside a record is an error, a cut between records an earlier end.
TEST_F(SpillFileTest, ACutSpillIsAnErrorNotTheEnd) {
  const std::vector<Record> records = {
      {1, "GET /a"}, {2, Line(70000, 1)}, {3, "x"}};  // 18 + 70012 + 13 bytes
  const off_t whole = 18 + 70012 + 13;
  struct Case {
    const char* name;
    off_t size;
    size_t records_read;
    bool failed;
  };
  const Case cases[] = {
      {"whole", whole, 3, false},
      {"last line short of one byte", whole - 1, 2, true},
      {"inside the last header", 18 + 70012 + 5, 2, true},
      {"inside the long line", 18 + 100, 1, true},
      {"inside the first header", 5, 0, true},
      {"between records", 18 + 70012, 2, false},
      {"empty", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileDescriptor file = Spill(records);
    ASSERT_EQ(ftruncate(file.Get(), c.size), 0);
    SpillReader reader(std::move(file));
    const std::vector<Record> read = ReadAll(reader);
    EXPECT_EQ(read, std::vector<Record>(records.begin(), records.begin() + c.records_read));
    EXPECT_EQ(reader.Failed(), c.failed) << reader.Error();
    EXPECT_EQ(reader.Error(), c.failed ? "the temporary file ends inside a record" : "");
    TimeKey key = 0;
    std::string_view line;
    EXPECT_FALSE(reader.Next(key, line));
    EXPECT_EQ(reader.Failed(), c.failed) << "the failure stays";
  }
}

TEST_F(SpillFileTest, ReadFailuresAreReported) {
  // A descriptor that cannot be read: the directory itself.
  SpillReader unreadable(FileDescriptor(open(dir_.c_str(), O_RDONLY | O_DIRECTORY)));
  EXPECT_TRUE(ReadAll(unreadable).empty());
  EXPECT_TRUE(unreadable.Failed());
  EXPECT_EQ(unreadable.Error(), "cannot read the temporary file: Is a directory");

  // A length no writer gives: the bytes are not a spill's.
  const int fd = open(dir_.c_str(), O_RDWR | O_TMPFILE, 0600);
  ASSERT_GE(fd, 0);
  const char damaged[] = "\1\0\0\0\0\0\0\0\xff\xff\xff\xff";
  ASSERT_EQ(write(fd, damaged, 12), 12);
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  SpillReader reader{FileDescriptor(fd)};
  EXPECT_TRUE(ReadAll(reader).empty());
  EXPECT_EQ(reader.Error(), "the temporary file holds a damaged record");

  SpillReader none{FileDescriptor()};
  EXPECT_TRUE(ReadAll(none).empty());
  EXPECT_TRUE(none.Failed());
}

TEST_F(SpillFileTest, AFullDiskFailsTheWriteThatMeetsIt) {
  struct Case {
    const char* name;
    std::vector<Record> records;
    bool appends_succeed;  // all fit the buffer, so only Finish writes
  };
  const Case cases[] = {
      {"small records fail when finished", {{1, "a"}, {2, "b"}}, true},
      {"a line longer than the buffer fails when appended",
       {{1, Line(kSpillWriteBuffer, 1)}},
       false},
      {"the record that overflows the buffer fails",
       {{1, Line(kSpillWriteBuffer / 2, 2)}, {2, Line(kSpillWriteBuffer / 2, 3)}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpillWriter writer(FileDescriptor(open("/dev/full", O_RDWR | O_CLOEXEC)));
    bool appended = true;
    for (const Record& r : c.records) appended = writer.Append(r.key, r.line) && appended;
    EXPECT_EQ(appended, c.appends_succeed);
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(writer.Error(), "cannot write the temporary file in '': No space left on device");
    EXPECT_FALSE(writer.Append(3, "c")) << "a failed spill takes nothing more";
  }
}

// The file-size limit (ulimit -f) makes the write that crosses it short, then refused.
TEST_F(SpillFileTest, AFileSizeLimitIsAWriteError) {
  struct rlimit old_limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_action = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old_limit;
  limit.rlim_cur = kSpillWriteBuffer + kSpillWriteBuffer / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  SpillWriter writer;
  const bool created = writer.Create((dir_ / "merged.gz").string());
  bool appended = true;
  for (unsigned i = 0; i < 3000 && appended; ++i) appended = writer.Append(i, Line(1000, i));
  const bool finished = appended && writer.Finish();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_action);

  ASSERT_TRUE(created) << writer.Error();
  EXPECT_FALSE(appended);
  EXPECT_FALSE(finished);
  EXPECT_EQ(writer.Error(),
            "cannot write the temporary file in '" + dir_.string() + "': File too large");
}

TEST_F(SpillFileTest, AppendingOutsideAnOpenSpillIsRefused) {
  SpillWriter never_created;
  EXPECT_FALSE(never_created.Append(1, "x"));
  EXPECT_EQ(never_created.Error(), "no temporary file is open for writing");

  SpillWriter finished;
  ASSERT_TRUE(finished.Create((dir_ / "merged.gz").string()));
  ASSERT_TRUE(finished.Append(1, "first"));
  ASSERT_TRUE(finished.Finish());
  EXPECT_FALSE(finished.Append(2, "would overwrite the first"));
  SpillReader reader(finished.TakeFile());
  EXPECT_EQ(ReadAll(reader), (std::vector<Record>{{1, "first"}}));
}

}  // namespace
