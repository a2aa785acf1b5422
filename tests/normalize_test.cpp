#include "entries/normalize.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "entries/filters.h"
#include "entries/log_entry.h"

namespace {

struct TextCase {
  const char* in;
  const char* out;
};

// Runs `normalise` on an exact-size copy of every input (so ASan sees any read or write
// past the NUL) and compares the result and the length it returns.
template <typename Normaliser>
void ExpectRewrites(const std::vector<TextCase>& cases, Normaliser normalise) {
  for (const TextCase& c : cases) {
    SCOPED_TRACE(std::string("input '") + c.in + "'");
    const size_t size = std::strlen(c.in) + 1;
    std::vector<char> buffer(c.in, c.in + size);
    const int32_t length = normalise(buffer.data());
    ASSERT_NE(std::memchr(buffer.data(), '\0', size), nullptr);
    EXPECT_STREQ(buffer.data(), c.out);
    EXPECT_EQ(length, static_cast<int32_t>(std::strlen(buffer.data())));
  }
}

// The text of an entry field, checked against the length the field carries; "(absent)"
// for an absent field.
std::string Value(const EntryText& field) {
  if (field.text == nullptr) {
    EXPECT_EQ(field.length, 0);
    return "(absent)";
  }
  EXPECT_EQ(field.length, static_cast<int32_t>(std::strlen(field.text))) << field.text;
  return field.text;
}

// ---- Client host ---------------------------------------------------------------------

TEST(NormalizeHost, PortsDotsCaseAndStrayCharacters) {
  ExpectRewrites(
      {
          {"Alpha.Beta.:81", "alpha.beta"},
          {"Alpha.Beta", "alpha.beta"},
          {"10.0.0.1", "10.0.0.1"},
          {"host...", "host"},
          {"user@Host/x", "user@host/x"},  // '@' and '/' stay as they are
          {"a b_c!d", "abcd"},             // anything else goes
          {"my-host", "my-host"},
          {":80", ""},
          {"", ""},
          {".", ""},
          {"A", "a"},
          {"h\xe9st", "hst"},  // bytes above 127 are not alphanumerics
      },
      NormalizeHost);
}

// ---- Request path --------------------------------------------------------------------

TEST(NormalizeUriPath, DotSegmentsSlashesAndEscapes) {
  ExpectRewrites(
      {
          {"/a/./b//c/../d%2Ehtml", "/a/b/d.html"},
          {"/Dir/File.HTML", "/Dir/File.HTML"},  // case stays without the flag
          {"/../x", "/x"},
          {"/a/b/../../../x", "/x"},
          {"/a/b/..", "/a/"},
          {"/a/.", "/a/"},
          {"/./x", "/x"},
          {"//x", "/x"},
          {"///x//y", "/x/y"},
          {"/a/.hidden", "/a/.hidden"},
          {"/a/..b", "/a/..b"},
          {"/a/b./c", "/a/b./c"},
          {"/a%2F..", "/a/.."},  // an escaped slash does not start a dot segment
          {"/%2e%2E/x", "/../x"},
          {"http://Host//x", "http://Host/x"},  // the slashes after a scheme stay
          {"a/../b", "a/b"},                    // no directory before: nothing removed
          // Going up from the first directory of an absolute URL keeps its host.
          {"http://host/../x", "http://host/x"},
          {"http://host/a/../../x", "http://host/x"},
          {"http://../x", "http://x"},
          // Doubled slashes that follow no scheme name do not stop the way up.
          {"/a/.//../b", "/a/b"},
          {"/.//../x", "/x"},
          {"/a%2F/../b", "/a/b"},
      },
      [](char* text) { return NormalizeUriPath(text, false); });
}

TEST(NormalizeUriPath, LowerCaseFlag) {
  ExpectRewrites(
      {
          {"/Dir/File.HTML", "/dir/file.html"},
          {"/A%42C", "/abc"},  // decoded bytes are lower-cased too
          {"/\xc9t\xc9", "/\xc9t\xc9"},
      },
      [](char* text) { return NormalizeUriPath(text, true); });
}

// Escapes cut short or holding odd digits; a decoded NUL ends the text.
TEST(NormalizeUriPath, BrokenAndOddEscapes) {
  ExpectRewrites(
      {
          {"%", "%"},
          {"/a%", "/a%"},
          {"/a%4", "/a%4"},
          {"/a%4-", "/a%4-"},
          {"/a%%41", "/a%A"},
          {"/a%00b", "/a"},
          {"/a%G0b", "/a"},  // G counts 16: 16*16 + 0 wraps to NUL
          {"/%zz", "/C"},    // z counts 19: 16*19 + 19 = 0x143, low byte 'C'
          {"/%41%", "/A%"},
          {"/%e9", "/\xe9"},
      },
      [](char* text) { return NormalizeUriPath(text, false); });
}

// Escapes of a line end stay as written in every decoded field: a decoded CR or LF would
// split the entry's line in the merged log.
TEST(Escapes, LineEndsStayEscaped) {
  ExpectRewrites({{"/a%0Ab", "/a%0Ab"}, {"/a%0dx%41", "/a%0dxA"}, {"/%gA", "/%gA"}},
                 [](char* text) { return NormalizeUriPath(text, false); });
  ExpectRewrites({{"x=%0A%3D", "x=%0A="}, {"%0D%0a", "%0D%0a"}}, DecodeQuery);
  ExpectRewrites({{"http://h/a%0Ab?x%0D", "http://h/a%0Ab?x%0D"}}, NormalizeReferer);
}

// ---- Absolute URLs in the request ------------------------------------------------------

struct SplitCase {
  const char* in;
  bool absolute;
  const char* host;  // the text after the split
  const char* path;  // null: the constant "/"
};

TEST(SplitAbsoluteUri, HostAndPath) {
  const SplitCase cases[] = {
      {"http://User@Alpha.Beta:80/x/y", true, "alpha.beta", "/x/y"},
      {"http://User@Alpha.Beta:80", true, "alpha.beta:80", nullptr},  // no '/' after :80
      {"http://Alpha.Beta", true, "alpha.beta", nullptr},
      {"HTTPS://a:b@Host.:8080/p", true, "host.:8080", "/p"},
      {"ftp://files.example/pub/x", true, "files.example", "/pub/x"},
      {"http://host./", true, "host", "/"},
      {"http://h:80:80/z", true, "h:80", "/z"},
      {"http://", true, "", nullptr},
      {"http:///x", true, "", "/x"},
      {"http://a@", true, "", nullptr},
      {"/http://x/y", false, "/http://x/y", nullptr},
      {"http:", false, "http:", nullptr},
      {"http:/x", false, "http:/x", nullptr},
      {"http/x://y", false, "http/x://y", nullptr},
      {"gopher://x/y", false, "gopher://x/y", nullptr},
      {"h", false, "h", nullptr},
      {"", false, "", nullptr},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string("uri '") + c.in + "'");
    std::vector<char> buffer(c.in, c.in + std::strlen(c.in) + 1);
    EntryText uri = TextOf(buffer.data());
    EntryText path{};
    ASSERT_EQ(SplitAbsoluteUri(uri, path), c.absolute);
    EXPECT_EQ(uri.text, buffer.data());
    EXPECT_EQ(Value(uri), c.host);
    if (!c.absolute) {
      EXPECT_EQ(path.text, nullptr);
    } else if (c.path == nullptr) {
      EXPECT_EQ(Value(path), "/");
      EXPECT_TRUE(path.text < buffer.data() || path.text >= buffer.data() + buffer.size());
    } else {
      // The path lies in the text, behind the rewritten host.
      ASSERT_GT(path.text, buffer.data() + std::strlen(buffer.data()));
      ASSERT_LT(path.text, buffer.data() + buffer.size());
      EXPECT_EQ(Value(path), c.path);
    }
  }
}

// ---- Agent, domain, query -------------------------------------------------------------

TEST(NormalizeAgent, ViaPlusAndTrailingBlanks) {
  ExpectRewrites(
      {
          {"Agent/1.0+(x) via cache", "Agent/1.0 (x)"},
          {"Agent  via a via b", "Agent"},
          {"Agent VIA x", "Agent VIA x"},  // exact case only
          {"Agent+via+x", "Agent via x"},  // the cut looks for blanks, not plus signs
          {"Agent via", "Agent via"},
          {"a+b++", "a b"},
          {"   ", ""},
          {" via ", ""},
          {"", ""},
      },
      NormalizeAgent);
}

TEST(NormalizeDomain, PortsUsersAndCase) {
  ExpectRewrites(
      {
          {"Alpha.Beta.:80", "alpha.beta"},
          {"Alpha.Beta:8080", "alpha.beta:8080"},
          {"host:80x", "host:80x"},  // :80 is dropped only where it ends the text
          {"host:800", "host:800"},
          {"User:Pw@WWW.Example", "www.example"},
          {"a@b@c", "c"},
          {"host@", "host"},  // a last '@' is simply dropped
          {"we ird_name!", "weirdname"},
          {"host..", "host"},
          {":80", ""},
          {"", ""},
      },
      NormalizeDomain);
}

TEST(DecodeQuery, EscapesAndPlusSigns) {
  ExpectRewrites(
      {
          {"a+b%3Dc", "a b=c"},
          {"A%2Bb", "A+b"},  // an escaped plus stays a plus; no case change
          {"x=%", "x=%"},
          {"x=%4", "x=%4"},
          {"x%00y", "x"},
          {"%%%", "%%%"},
          {"", ""},
      },
      DecodeQuery);
}

// ---- Referer ---------------------------------------------------------------------------

TEST(NormalizeReferer, AbsoluteUrls) {
  ExpectRewrites(
      {
          {"HTTP://Alpha.Beta.:80/a%20b?x+y#top", "http://alpha.beta/a b?x y"},
          {"http://Host:8080/A+B", "http://host:8080/A+B"},  // plus before the query stays
          {"https://Host:443/x", "https://host/x"},
          {"https://Host:80/x", "https://host:80/x"},
          {"ftp://Host:21/x", "ftp://host/x"},
          {"Gopher://Host:70/x", "gopher://host/x"},
          {"http://host:080/x", "http://host/x"},                    // the whole default port goes
          {"http://host:4294967376/x", "http://host:4294967376/x"},  // no wrap-around to 80
          {"http://host:80", "http://host"},
          {"http://host.", "http://host"},
          {"http://host../", "http://host./"},  // one dot only
          {"http://host/a;b+c", "http://host/a;b c"},
          {"http://host/#", "http://host/"},
          {"http://host/a%00b", "http://host/a"},
          {"http://host/a%4", "http://host/a%4"},
          {"http://", "http://"},
          {"http://:80/x", "http:///x"},
      },
      NormalizeReferer);
}

TEST(NormalizeReferer, BareSchemesRelativeAndBookmarks) {
  ExpectRewrites(
      {
          {"javascript:void(0)", "Javascript"},
          {"mailto:someone@example", "Mailto"},
          {"file:///C:/x.html", "File"},
          {"bookmarks", "Bookmarks"},
          {"BOOKMARK", "BOOKMARK"},
          {"bookmark/x?a+b", "Bookmark/x?a b"},
          {"Host/a%41?q+r#f", "Host/aA?q r"},  // before the first '/' nothing changes
          {"host:8080/a+b", "host:8080/a+b"},
          {"http:/x", "http:/x"},
          {":", ""},
          {"x:", "X"},
          {"", ""},
          {"a", "a"},
          {"/", "/"},
      },
      NormalizeReferer);
}

// ---- Whole entries -----------------------------------------------------------------------

// Owns writable copies of the texts an entry points to.
class EntryFixture : public ::testing::Test {
 protected:
  void SetUp() override { ResetEntry(entry); }

  EntryText Text(const char* value) {
    storage.emplace_back(value, value + std::strlen(value) + 1);
    return TextOf(storage.back().data());
  }

  LogEntry entry{};
  FilterLists filters;
  std::vector<std::vector<char>> storage;
};

using NormalizeEntryTest = EntryFixture;

TEST_F(NormalizeEntryTest, EveryFieldInTurn) {
  entry.client_host = Text("Alpha.Beta.:81");
  entry.uri = Text("/Dir/./File.HTML");
  entry.agent = Text("Agent/1.0+(x) via cache");
  entry.method = Text("get");
  entry.domain = Text("WWW.Example:80");
  entry.query = Text("a+b%3Dc");
  entry.referer = Text("javascript:void(0)");
  entry.user = Text("User+Name");
  entry.cookie = Text("A%20B");
  NormalizeEntry(entry, /*lowercase_path=*/true);
  EXPECT_EQ(Value(entry.client_host), "alpha.beta");
  EXPECT_EQ(Value(entry.uri), "/dir/file.html");
  EXPECT_EQ(Value(entry.agent), "Agent/1.0 (x)");
  EXPECT_EQ(Value(entry.method), "GET");
  EXPECT_EQ(Value(entry.domain), "www.example");
  EXPECT_EQ(Value(entry.query), "a b=c");
  EXPECT_EQ(Value(entry.referer), "Javascript");
  EXPECT_EQ(Value(entry.user), "User+Name");  // user and cookie are left alone
  EXPECT_EQ(Value(entry.cookie), "A%20B");
}

TEST_F(NormalizeEntryTest, AbsentFieldsStayAbsent) {
  NormalizeEntry(entry, false);
  EXPECT_EQ(entry.client_host.text, nullptr);
  EXPECT_EQ(entry.uri.text, nullptr);
  EXPECT_EQ(entry.domain.text, nullptr);
  EXPECT_EQ(entry.referer.text, nullptr);
}

TEST_F(NormalizeEntryTest, AbsoluteUriGivesDomainOnlyWhenAbsent) {
  struct Case {
    const char* uri;
    const char* domain;  // null: absent before normalising
    const char* want_uri;
    const char* want_domain;  // null: still absent
  };
  const Case cases[] = {
      {"http://User@Alpha.Beta:80/x/y", nullptr, "/x/y", "alpha.beta"},
      {"http://User@Alpha.Beta:80", nullptr, "/", "alpha.beta"},  // NormalizeDomain drops :80
      {"http://Alpha.Beta/x", "Own.Host", "/x", "own.host"},
      {"http://Alpha.Beta", "Own.Host", "/", "own.host"},
      {"http://@/x", nullptr, "/x", nullptr},  // an empty host names no virtual host
      {"http:///x", nullptr, "/", "x"},        // the path cleaning folds the third slash
      {"http://host/../x", nullptr, "/x", "host"},
      {"/plain/path", nullptr, "/plain/path", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    ResetEntry(entry);
    entry.uri = Text(c.uri);
    if (c.domain != nullptr) entry.domain = Text(c.domain);
    NormalizeEntry(entry, false);
    EXPECT_EQ(Value(entry.uri), c.want_uri);
    if (c.want_domain == nullptr) {
      EXPECT_EQ(entry.domain.text, nullptr);
    } else {
      ASSERT_NE(entry.domain.text, nullptr);
      EXPECT_EQ(Value(entry.domain), c.want_domain);
    }
  }
}

TEST_F(NormalizeEntryTest, PathIsCleanedBeforeTheSplit) {
  entry.uri = Text("HTTP://Host//a/./b");
  NormalizeEntry(entry, false);
  EXPECT_EQ(Value(entry.domain), "host");
  EXPECT_EQ(Value(entry.uri), "/a/b");
}

// ---- Trimming --------------------------------------------------------------------------

using TrimLeadingDirsTest = EntryFixture;

TEST_F(TrimLeadingDirsTest, DropsDirectoriesButNeverTheLastComponent) {
  struct Case {
    const char* uri;
    int n;
    const char* want;
  };
  const Case cases[] = {
      {"/a/b/c.html", 1, "/b/c.html"},
      {"/a/b/c.html", 2, "/c.html"},
      {"/a/b/c.html", 9, "/c.html"},
      {"/c.html", 1, "/c.html"},
      {"/a/b/", 2, "/"},
      {"/", 3, "/"},
      {"/a/b", 0, "/a/b"},
      {"/a/b", -1, "/a/b"},
      {"a/b/c", 1, "a/b/c"},  // only a path that begins with '/'
      {"", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.uri) + " n=" + std::to_string(c.n));
    entry.uri = Text(c.uri);
    const char* const original = entry.uri.text;
    TrimLeadingDirs(entry, c.n);
    EXPECT_EQ(Value(entry.uri), c.want);
    EXPECT_STREQ(original, c.uri);  // the text itself is not rewritten
  }
}

TEST_F(TrimLeadingDirsTest, AbsentUriStaysAbsent) {
  TrimLeadingDirs(entry, 2);
  EXPECT_EQ(entry.uri.text, nullptr);
}

// ---- Filters ---------------------------------------------------------------------------

using PassesFiltersTest = EntryFixture;

TEST_F(PassesFiltersTest, NoFiltersPassEverything) {
  EXPECT_TRUE(PassesFilters(entry, filters));
  entry.client_host = Text("anything");
  EXPECT_TRUE(PassesFilters(entry, filters));
}

TEST_F(PassesFiltersTest, AcceptingThenRejectAllKeepsOnlyWantedHosts) {
  AppendFilter(filters.host, "+*.example.com");
  AppendFilter(filters.host, "+10.0.*");
  AppendFilter(filters.host, "*");
  const struct {
    const char* host;
    bool passes;
  } cases[] = {
      {"www.example.com", true}, {"WWW.EXAMPLE.COM", true},  // lower-case patterns ignore case
      {"10.0.3.4", true},        {"example.com", false},
      {"10.1.0.1", false},       {nullptr, false},  // absent host: the empty text, rejected by "*"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host != nullptr ? c.host : "(absent)");
    entry.client_host = c.host != nullptr ? Text(c.host) : EntryText{};
    EXPECT_EQ(PassesFilters(entry, filters), c.passes);
  }
}

TEST_F(PassesFiltersTest, SingleRejectingPatternDropsOnlyWhatItMatches) {
  AppendFilter(filters.request, "*.gif");
  entry.uri = Text("/img/LOGO.GIF");
  EXPECT_FALSE(PassesFilters(entry, filters));
  entry.uri = Text("/index.html");
  EXPECT_TRUE(PassesFilters(entry, filters));
  entry.uri = EntryText{};
  EXPECT_TRUE(PassesFilters(entry, filters));
}

TEST_F(PassesFiltersTest, FirstMatchingPatternDecides) {
  AppendFilter(filters.agent, "*bot*");
  AppendFilter(filters.agent, "+*");
  entry.agent = Text("Googlebot/2.1");
  EXPECT_FALSE(PassesFilters(entry, filters));  // rejected before the accept-all is reached

  filters = FilterLists{};
  AppendFilter(filters.agent, "+*");
  AppendFilter(filters.agent, "*bot*");
  EXPECT_TRUE(PassesFilters(entry, filters));  // accepted before the rejecting pattern
}

TEST_F(PassesFiltersTest, UserFiltersAndAbsentUser) {
  AppendFilter(filters.user, "*");
  EXPECT_FALSE(PassesFilters(entry, filters));  // "*" matches the empty text of an absent user
  entry.user = Text("alice");
  EXPECT_FALSE(PassesFilters(entry, filters));

  filters = FilterLists{};
  AppendFilter(filters.user, "?*");
  entry.user = EntryText{};
  EXPECT_TRUE(PassesFilters(entry, filters));  // "?*" needs at least one character
  entry.user = Text("alice");
  EXPECT_FALSE(PassesFilters(entry, filters));
}

// An accepting list ends with success for its own field only: every other list still
// has its say, in the order host, request, agent, server, user.
TEST_F(PassesFiltersTest, EveryListMustPass) {
  AppendFilter(filters.host, "+good");
  AppendFilter(filters.request, "/private/*");
  AppendFilter(filters.agent, "*curl*");
  AppendFilter(filters.server, "+www.example");
  AppendFilter(filters.server, "*");
  AppendFilter(filters.user, "root");
  entry.client_host = Text("good");
  entry.uri = Text("/public/x");
  entry.agent = Text("Mozilla");
  entry.domain = Text("www.example");
  entry.user = Text("alice");
  EXPECT_TRUE(PassesFilters(entry, filters));

  const struct {
    EntryText* field;
    const char* value;
  } spoilers[] = {
      {&entry.uri, "/private/x"}, {&entry.agent, "curl/7.0"}, {&entry.domain, "other.example"},
      {&entry.domain, nullptr},   {&entry.user, "root"},
  };
  for (const auto& s : spoilers) {
    SCOPED_TRACE(s.value != nullptr ? s.value : "(absent)");
    const EntryText saved = *s.field;
    *s.field = s.value != nullptr ? Text(s.value) : EntryText{};
    EXPECT_FALSE(PassesFilters(entry, filters));
    *s.field = saved;
  }
  EXPECT_TRUE(PassesFilters(entry, filters));
}

TEST_F(PassesFiltersTest, PlusAloneAcceptsOnlyTheEmptyText) {
  AppendFilter(filters.user, "+");
  AppendFilter(filters.user, "*");
  EXPECT_TRUE(PassesFilters(entry, filters));  // absent user: empty text, accepted by "+"
  entry.user = Text("bob");
  EXPECT_FALSE(PassesFilters(entry, filters));
}

}  // namespace
