// The message channel: quiet runs, the exit status from what was reported, and names
// with control characters escaped.

#include "base/messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetMessages(); }
  void TearDown() override { ResetMessages(); }
};

TEST_F(MessagesTest, ExitStatusFromWhatWasReported) {
  struct Case {
    bool failure;
    bool input_lost;
    int status;
  };
  // A usage, configuration or output failure outranks a lost input.
  for (const Case& c :
       {Case{false, false, 0}, Case{false, true, 2}, Case{true, false, 1}, Case{true, true, 1}}) {
    SCOPED_TRACE(std::to_string(c.failure) + std::to_string(c.input_lost));
    ResetMessages();
    ::testing::internal::CaptureStdout();
    if (c.input_lost) SayInputLost("lost\n");
    if (c.failure) NoteFailure();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(ExitStatus(), c.status);
  }
}

TEST_F(MessagesTest, QuietHidesOnlyInformation) {
  SetQuiet(true);
  ::testing::internal::CaptureStdout();
  SayInfo("Merging . . .\n");
  Say("Read error on input!\n");
  SayInputLost("Error opening input file 'a.log': No such file or directory.\n");
  SayFailure("Write error on output file!\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Read error on input!\n"
            "Error opening input file 'a.log': No such file or directory.\n"
            "Write error on output file!\n");
  SetQuiet(false);
  ::testing::internal::CaptureStdout();
  SayInfo("Merging . . .\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Merging . . .\n");
}

TEST_F(MessagesTest, ControlCharactersInNamesAreEscaped) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"web1/access.log", "web1/access.log"},
      {"a\nb.log", "a\\nb.log"},
      {"tab\there\r", "tab\\there\\r"},
      {"\x1b[31mred\x1b[0m.log", "\\e[31mred\\e[0m.log"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"bell\x07\x7f", "bell\\x07\\x7F"},
      {"caf\xc3\xa9.log", "caf\xc3\xa9.log"},  // bytes from 128 up stay as they are
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(EscapedName(c.name), c.shown);
  }
}

}  // namespace
