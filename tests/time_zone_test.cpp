#include "base/time_zone.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "entries/log_entry.h"
#include "entries/zone_shift.h"

namespace {

// "2024-03-31 02:30:00" as an entry's fields, offset unknown.
LogEntry EntryAt(const char* stamp) {
  LogEntry entry;
  ResetEntry(entry);
  EXPECT_EQ(std::sscanf(stamp, "%d-%d-%d %d:%d:%d", &entry.year, &entry.month, &entry.day,
                        &entry.hour, &entry.minute, &entry.second),
            6)
      << stamp;
  return entry;
}

// "2024-03-31 02:30:00 +0200": the entry's clock and offset.
std::string StampOf(const LogEntry& e) {
  char text[64];
  const int32_t offset = e.utc_offset < 0 ? -e.utc_offset : e.utc_offset;
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d%02d", e.year, e.month,
                e.day, e.hour, e.minute, e.second, e.utc_offset < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

int64_t UtcInstant(const char* stamp) {
  return EntryClockSeconds(EntryAt(stamp));
}

TimeZone Zone(const char* name) {
  TimeZone zone;
  std::string error;
  EXPECT_TRUE(LoadTimeZone(name, zone, error)) << name << ": " << error;
  return zone;
}

TEST(CalendarTest, DaysAndDatesAgreeAcrossCenturiesAndLeapDays) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
  EXPECT_EQ(DaysFromCivil(1969, 12, 31), -1);
  for (int64_t days : {-719468L, -1L, 0L, 11016L, 11017L, 47540L, 2932896L}) {
    const CivilDate date = CivilFromDays(days);
    EXPECT_EQ(DaysFromCivil(date.year, date.month, date.day), days);
  }
  const CivilDate leap = CivilFromDays(DaysFromCivil(2024, 2, 29));
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
}

// A UTC instant written as each zone's clock: the offset and the date move together, across
// day and year boundaries and both daylight-saving changes; dates past the last change the
// file lists follow its footer rule.
TEST(TimeZoneTest, InstantsWrittenAsTheZonesClock) {
  struct Case {
    const char* zone;
    const char* utc;
    const char* local;
    bool repeated = false;  // the clock time is one of an hour daylight saving repeats
  };
  const Case cases[] = {
      {"UTC", "2024-06-01 12:00:00", "2024-06-01 12:00:00 +0000"},
      {"Europe/Berlin", "2024-03-31 00:59:59", "2024-03-31 01:59:59 +0100"},
      {"Europe/Berlin", "2024-03-31 01:00:00", "2024-03-31 03:00:00 +0200"},
      {"Europe/Berlin", "2024-10-27 00:59:59", "2024-10-27 02:59:59 +0200"},
      {"Europe/Berlin", "2024-10-27 01:00:00", "2024-10-27 02:00:00 +0100", true},
      {"America/New_York", "2024-03-10 06:59:59", "2024-03-10 01:59:59 -0500"},
      {"America/New_York", "2024-03-10 07:00:00", "2024-03-10 03:00:00 -0400"},
      {"America/New_York", "2024-11-03 05:59:59", "2024-11-03 01:59:59 -0400"},
      {"America/New_York", "2024-11-03 06:00:00", "2024-11-03 01:00:00 -0500", true},
      {"America/New_York", "2024-01-01 03:00:00", "2023-12-31 22:00:00 -0500"},
      {"Asia/Tokyo", "2023-12-31 20:00:00", "2024-01-01 05:00:00 +0900"},
      {"Asia/Kolkata", "2024-06-01 20:00:00", "2024-06-02 01:30:00 +0530"},
      {"Australia/Lord_Howe", "2024-01-15 00:00:00", "2024-01-15 11:00:00 +1100"},
      // Far beyond the listed changes: the footer rule alone decides.
      {"Europe/Berlin", "2100-03-28 00:59:59", "2100-03-28 01:59:59 +0100"},
      {"Europe/Berlin", "2100-03-28 01:00:00", "2100-03-28 03:00:00 +0200"},
      {"Europe/Berlin", "2100-10-31 01:00:00", "2100-10-31 02:00:00 +0100", true},
      {"America/New_York", "2099-11-01 06:00:00", "2099-11-01 01:00:00 -0500", true},
      {"Australia/Sydney", "2090-01-15 00:00:00", "2090-01-15 11:00:00 +1100"},
      {"Australia/Sydney", "2090-07-15 00:00:00", "2090-07-15 10:00:00 +1000"},
  };
  for (const Case& c : cases) {
    const TimeZone zone = Zone(c.zone);
    LogEntry entry = EntryAt(c.utc);
    OffsetMemo memo;
    RestampEntry(entry, UtcInstant(c.utc), zone, memo);
    EXPECT_EQ(StampOf(entry), c.local) << c.zone << " at " << c.utc << " UTC";
    // Read back as a clock time of that zone, the stamp gives the same instant, except in
    // the repeated hour, where the earlier reading wins.
    LogEntry local = EntryAt(c.local);
    OffsetMemo back;
    const int64_t earlier = c.repeated ? 3600 : 0;
    EXPECT_EQ(EntryInstant(local, zone, back), UtcInstant(c.utc) - earlier)
        << c.zone << " " << c.local;
  }
}

// Clock times without an offset: the zone decides, and where daylight saving skips or
// repeats an hour the offset before the change is taken.
TEST(TimeZoneTest, OffsetOfALocalClockTime) {
  struct Case {
    const char* zone;
    const char* local;
    int32_t minutes;
  };
  const Case cases[] = {
      {"Europe/Berlin", "2024-07-01 12:00:00", 120},
      {"Europe/Berlin", "2024-01-01 00:00:00", 60},
      {"Europe/Berlin", "2024-03-31 02:30:00", 60},   // skipped hour
      {"Europe/Berlin", "2024-03-31 03:00:00", 120},  // first clock time after the skip
      {"Europe/Berlin", "2024-10-27 02:30:00", 120},  // repeated hour: the earlier reading
      {"Europe/Berlin", "2024-10-27 03:00:00", 60},
      {"America/New_York", "2024-03-10 02:30:00", -300},
      {"America/New_York", "2024-11-03 01:30:00", -240},
      {"America/New_York", "2024-11-03 02:00:00", -300},
      {"Europe/Berlin", "2100-03-28 02:30:00", 60},
      {"Europe/Berlin", "2100-07-01 12:00:00", 120},
  };
  for (const Case& c : cases) {
    const TimeZone zone = Zone(c.zone);
    OffsetMemo memo;
    EXPECT_EQ(LocalOffsetMinutes(zone, UtcInstant(c.local), memo), c.minutes)
        << c.zone << " " << c.local;
  }
}

// The memo answers only inside its span: a run that walks across a change still gets the
// offset of each side.
TEST(TimeZoneTest, MemoFollowsARunAcrossAChange) {
  const TimeZone zone = Zone("Europe/Berlin");
  OffsetMemo local_memo, instant_memo;
  const char* clocks[] = {"2024-03-01 12:00:00", "2024-03-30 12:00:00", "2024-03-31 01:59:59",
                          "2024-03-31 03:00:00", "2024-04-15 12:00:00", "2024-10-27 03:00:00"};
  const int32_t expected[] = {60, 60, 60, 120, 120, 60};
  for (size_t i = 0; i < std::size(clocks); ++i) {
    EXPECT_EQ(LocalOffsetMinutes(zone, UtcInstant(clocks[i]), local_memo), expected[i])
        << clocks[i];
    const int64_t instant = UtcInstant(clocks[i]) - int64_t{expected[i]} * 60;
    EXPECT_EQ(InstantOffsetMinutes(zone, instant, instant_memo), expected[i]) << clocks[i];
  }
}

// An entry that carries its own offset needs no zone: the instant is its clock less its
// offset, and the conversion may cross a day, a month and a year.
TEST(ZoneShiftTest, EntriesWithOffsetsRestampedInAnotherZone) {
  struct Case {
    const char* clock;
    int32_t offset;
    const char* zone;
    const char* written;
  };
  const Case cases[] = {
      {"2024-12-31 23:30:00", -300, "UTC", "2025-01-01 04:30:00 +0000"},
      {"2024-03-01 00:30:00", 60, "UTC", "2024-02-29 23:30:00 +0000"},
      {"2024-06-30 21:15:00", -300, "Europe/Berlin", "2024-07-01 04:15:00 +0200"},
      {"2024-01-01 00:10:00", 60, "America/New_York", "2023-12-31 18:10:00 -0500"},
      {"2024-10-27 02:30:00", 60, "Europe/Berlin", "2024-10-27 02:30:00 +0100"},
  };
  const TimeZone unused = Zone("UTC");
  for (const Case& c : cases) {
    LogEntry entry = EntryAt(c.clock);
    entry.utc_offset = c.offset;
    OffsetMemo input_memo, output_memo;
    const int64_t instant = EntryInstant(entry, unused, input_memo);
    RestampEntry(entry, instant, Zone(c.zone), output_memo);
    EXPECT_EQ(StampOf(entry), c.written) << c.clock << " " << c.offset;
  }
}

TEST(ZoneShiftTest, KeysFollowInstantsAndEntriesWithoutADateKeepTheirStamp) {
  EXPECT_LT(InstantTimeKey(UtcInstant("0001-01-01 00:00:00")), InstantTimeKey(0));
  EXPECT_LT(InstantTimeKey(0), InstantTimeKey(1));
  EXPECT_LT(InstantTimeKey(0), InstantTimeKey(0, 1));
  EXPECT_LT(InstantTimeKey(0, 999), InstantTimeKey(1));
  EXPECT_LT(InstantTimeKey(UtcInstant("9999-12-31 23:59:59"), 999), NO_ENTRY);
  EXPECT_LT(InstantTimeKey(UtcInstant("9999-12-31 23:59:59")), NO_ENTRY);
  LogEntry undated;
  ResetEntry(undated);
  OffsetMemo memo;
  RestampEntry(undated, 0, Zone("Europe/Berlin"), memo);
  EXPECT_EQ(undated.year, 0);
  EXPECT_EQ(undated.hour, 12);
  EXPECT_EQ(undated.utc_offset, NO_OFFSET);
}

TEST(TimeZoneTest, FooterRules) {
  struct Case {
    const char* text;
    bool valid;
    int32_t standard;
    int32_t daylight;
  };
  const Case cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", true, 3600, 7200},
      {"EST5EDT,M3.2.0,M11.1.0", true, -18000, -14400},
      {"<+0530>-5:30", true, 19800, 0},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", true, 3600, 0},
      {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", true, -10800, -7200},
      {"EST5EDT", true, -18000, -14400},
      {"", false, 0, 0},
      {"CET", false, 0, 0},
      {"CET-1CEST,M13.5.0,M10.5.0", false, 0, 0},
      {"CET-1CEST,M3.5.0", false, 0, 0},
      {"CET-1CEST,M3.5.0,M10.5.0/3x", false, 0, 0},
  };
  for (const Case& c : cases) {
    ZoneRule rule;
    ASSERT_EQ(ParseZoneRule(c.text, rule), c.valid) << c.text;
    if (!c.valid) continue;
    EXPECT_EQ(rule.standard_offset, c.standard) << c.text;
    if (rule.has_daylight) {
      EXPECT_EQ(rule.daylight_offset, c.daylight) << c.text;
    }
  }
}

TEST(TimeZoneTest, UnknownNamesAreRefusedWithAReason) {
  for (const char* name : {"Mars/Olympus_Mons", "", "../../etc/passwd", "/etc/localtime",
                           "Europe/../Europe/Berlin", "America", "Europe/Berlin\n"}) {
    TimeZone zone;
    std::string error;
    EXPECT_FALSE(LoadTimeZone(name, zone, error)) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A damaged zone file is refused whole, wherever it was cut or spoiled.
TEST(TimeZoneTest, DamagedZoneFilesAreRefused) {
  const std::string bytes = ReadBytes("/usr/share/zoneinfo/Europe/Berlin");
  ASSERT_GT(bytes.size(), 100u);
  TimeZone zone;
  std::string error;
  ASSERT_TRUE(ReadTimeZoneData(bytes, zone, error)) << error;
  for (size_t cut :
       {size_t{0}, size_t{20}, size_t{44}, bytes.size() / 2, bytes.size() - 10, bytes.size() - 1}) {
    error.clear();
    EXPECT_FALSE(ReadTimeZoneData(bytes.substr(0, cut), zone, error)) << "cut at " << cut;
    EXPECT_FALSE(error.empty());
  }
  std::string version1 = bytes;
  version1[4] = '\0';
  EXPECT_FALSE(ReadTimeZoneData(version1, zone, error));
  std::string not_tzif = bytes;
  not_tzif[0] = 'X';
  EXPECT_FALSE(ReadTimeZoneData(not_tzif, zone, error));
  // Any one byte spoiled: the file is refused with a reason, or what is read stays a zone
  // whose offsets are less than a day from UTC.
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::string spoiled = bytes;
    spoiled[at] = static_cast<char>(spoiled[at] ^ 0xA5);
    TimeZone read;
    error.clear();
    if (!ReadTimeZoneData(spoiled, read, error)) {
      EXPECT_FALSE(error.empty()) << "byte " << at;
      continue;
    }
    for (int64_t instant :
         {int64_t{-5000000000}, int64_t{0}, int64_t{1711846800}, int64_t{4102444800}}) {
      const OffsetSpan span = OffsetAtInstant(read, instant);
      EXPECT_LT(span.offset < 0 ? -span.offset : span.offset, 26 * 3600) << "byte " << at;
      EXPECT_TRUE(span.begin <= instant && instant < span.end) << "byte " << at;
    }
  }
}

// A zone folder named by TZDIR holds a truncated copy: loading it by name says which file
// and why, instead of taking a half-read zone.
TEST(TimeZoneTest, TruncatedFileInTheDatabaseIsReportedByPath) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("zones-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(folder / "Test");
  const std::string bytes = ReadBytes("/usr/share/zoneinfo/Europe/Berlin");
  std::ofstream(folder / "Test" / "Cut", std::ios::binary) << bytes.substr(0, bytes.size() / 3);
  std::ofstream(folder / "Test" / "Whole", std::ios::binary) << bytes;
  const char* saved = std::getenv("TZDIR");
  const std::string old = saved != nullptr ? saved : "";
  setenv("TZDIR", folder.c_str(), 1);
  TimeZone zone;
  std::string error;
  EXPECT_FALSE(LoadTimeZone("Test/Cut", zone, error));
  EXPECT_NE(error.find("Test/Cut"), std::string::npos) << error;
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
  EXPECT_TRUE(LoadTimeZone("Test/Whole", zone, error)) << error;
  EXPECT_EQ(zone.name, "Test/Whole");
  if (saved != nullptr) {
    setenv("TZDIR", old.c_str(), 1);
  } else {
    unsetenv("TZDIR");
  }
  std::filesystem::remove_all(folder);
}

// "local" is this machine's zone: the TZ variable first, as the C library reads it.
TEST(TimeZoneTest, LocalFollowsTheTzVariable) {
  struct Case {
    const char* tz;
    const char* utc;
    int32_t minutes;
  };
  const Case cases[] = {
      {"Europe/Berlin", "2024-07-01 12:00:00", 120},
      {":America/New_York", "2024-01-15 12:00:00", -300},
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2024-07-01 12:00:00", 120},
      {"", "2024-07-01 12:00:00", 0},
  };
  const char* saved = std::getenv("TZ");
  const std::string old = saved != nullptr ? saved : "";
  for (const Case& c : cases) {
    setenv("TZ", c.tz, 1);
    const TimeZone zone = Zone("local");
    OffsetMemo memo;
    EXPECT_EQ(InstantOffsetMinutes(zone, UtcInstant(c.utc), memo), c.minutes) << c.tz;
  }
  setenv("TZ", "Nowhere/Atlantis", 1);
  TimeZone zone;
  std::string error;
  EXPECT_FALSE(LoadTimeZone("local", zone, error));
  EXPECT_NE(error.find("Nowhere/Atlantis"), std::string::npos) << error;
  if (saved != nullptr) {
    setenv("TZ", old.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
}

}  // namespace
