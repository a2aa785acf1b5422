#include "entries/entry_source.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EntrySource, NameWithoutRotationSuffixesAndExtensions) {
  struct Case {
    const char* file;
    const char* name;
  };
  const Case cases[] = {
      {"web1.access.log.2.gz", "web1.access"},
      {"access.log", "access"},
      {"access.log.1", "access"},
      {"access.log-20240301.gz", "access"},
      {"access.log.2024-03-01.bz2", "access"},
      {"web2-access_log.zst", "web2-access_log"},
      {"u_ex240301.log", "u_ex240301"},
      {"ssl_access.LOG.GZ", "ssl_access.LOG"},
      {"www.example.com.log.xz", "www.example.com"},
      {"log", "log"},  // nothing would be left
      {"20240301.log", "20240301"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(NameWithoutRotation(c.file), c.name);
  }
  EXPECT_EQ(FileNameOf("/var/log/web1/access.log"), "access.log");
  EXPECT_EQ(FileNameOf("access.log"), "access.log");
}

TEST(EntrySource, PlacedInSourceAndVirtualHost) {
  const std::string source = "web1";
  char own_vhost[] = "www.example.com";
  struct Case {
    SourcePlacement placement;
    bool has_vhost;
    const char* vhost;  // afterwards; null: absent
  };
  const Case cases[] = {
      {{true, false}, false, "web1"},
      {{true, false}, true, "www.example.com"},
      {{true, true}, true, "web1"},
      {{false, false}, false, nullptr},
  };
  for (const Case& c : cases) {
    LogEntry e;
    ResetEntry(e);
    if (c.has_vhost) e.domain = TextOf(own_vhost);
    ApplySource(e, source, c.placement);
    EXPECT_STREQ(e.source.text, "web1");
    EXPECT_EQ(e.source.length, 4);
    if (c.vhost == nullptr) {
      EXPECT_EQ(e.domain.text, nullptr);
    } else {
      EXPECT_STREQ(e.domain.text, c.vhost);
    }
  }
  // No source: the entry is left as it is.
  LogEntry e;
  ResetEntry(e);
  ApplySource(e, std::string(), SourcePlacement{true, true});
  EXPECT_EQ(e.source.text, nullptr);
  EXPECT_EQ(e.domain.text, nullptr);
}

}  // namespace
