#include "entries/client_address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ForwardedClient, LeftMostOutsideInternalRangesElseLeftMost) {
  struct Case {
    const char* list;
    const char* client;
  };
  const Case cases[] = {
      {"203.0.113.9", "203.0.113.9"},
      {"203.0.113.9, 10.0.0.2", "203.0.113.9"},
      // Internal hops in front of the real client are passed over.
      {"10.1.2.3, 192.168.0.4, 198.51.100.7, 203.0.113.1", "198.51.100.7"},
      {"172.16.0.1,172.31.255.255, 172.32.0.1", "172.32.0.1"},
      {"127.0.0.1, 100.64.1.1, 169.254.0.9, 8.8.8.8", "8.8.8.8"},
      // Ports and brackets, as proxies write them.
      {"198.51.100.7:61234, 10.0.0.2", "198.51.100.7"},
      {"[2001:db8::1]:443, 10.0.0.2", "2001:db8::1"},
      {"fd00::1, fe80::2, ::1, 2001:db8:0:1::5", "2001:db8:0:1::5"},
      {"::ffff:10.0.0.1, ::ffff:198.51.100.1", "::ffff:198.51.100.1"},
      // Only internal addresses: the left-most. Words that are no address are skipped.
      {"10.0.0.1, 192.168.1.1", "10.0.0.1"},
      {"unknown, 10.0.0.1", "10.0.0.1"},
      {"unknown, _hidden", ""},
      {"", ""},
      {"999.1.1.1, 1.2.3", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    EXPECT_EQ(ForwardedClient(c.list), c.client);
  }
}

TEST(AnonymizedAddress, MasksToTheNetworkOfEachLevel) {
  struct Case {
    const char* address;
    Anonymize mode;
    const char* written;  // null: no address
  };
  const Case cases[] = {
      {"198.51.100.77", Anonymize::NETWORK_24, "198.51.100.0"},
      {"198.51.100.77", Anonymize::NETWORK_16, "198.51.0.0"},
      {"198.51.100.77", Anonymize::NETWORK_8, "198.0.0.0"},
      {"2001:db8:1:2:3:4:5:6", Anonymize::NETWORK_24, "2001:db8:1:2::"},
      {"2001:db8:1:2:3:4:5:6", Anonymize::NETWORK_16, "2001:db8:1::"},
      {"2001:DB8:1:2:3:4:5:6", Anonymize::NETWORK_8, "2001:db8::"},
      {"::1", Anonymize::NETWORK_24, "::"},
      {"::ffff:198.51.100.77", Anonymize::NETWORK_24, "::ffff:198.51.100.0"},
      {"2001:0db8:0000:0000:0001:0000:0000:0001", Anonymize::NETWORK_24, "2001:db8::"},
      {"www.example.com", Anonymize::NETWORK_24, nullptr},
      {"1.2.3.4.5", Anonymize::NETWORK_24, nullptr},
      {"1::2::3", Anonymize::NETWORK_24, nullptr},
      {"1:2:3:4:5:6:7:8:9", Anonymize::NETWORK_24, nullptr},
      {"256.1.1.1", Anonymize::NETWORK_24, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    std::string out;
    EXPECT_EQ(AppendAnonymized(c.address, c.mode, HashKey{}, out), c.written != nullptr);
    EXPECT_EQ(out, c.written != nullptr ? c.written : "");
  }
}

// The keyed hash: stable for one key, another for another key, one name per address, and an
// address every analyser takes (fd00::/8).
TEST(AnonymizedAddress, KeyedHashIsStableAndKeyDependent) {
  const HashKey key = HashKeyFrom("0123456789abcdef0123456789abcdef");
  const HashKey other = HashKeyFrom("0123456789abcdef0123456789abcdeF");
  const auto hashed = [](const char* address, const HashKey& k) {
    std::string out;
    EXPECT_TRUE(AppendAnonymized(address, Anonymize::HASH, k, out));
    return out;
  };
  const std::string a = hashed("198.51.100.77", key);
  EXPECT_EQ(a.substr(0, 2), "fd");
  EXPECT_EQ(a.find("198"), std::string::npos);
  EXPECT_EQ(hashed("198.51.100.77", key), a);
  // The same address however it is written.
  EXPECT_EQ(hashed("2001:db8::1", key), hashed("2001:0DB8:0:0:0:0:0:1", key));
  EXPECT_NE(hashed("198.51.100.78", key), a);
  EXPECT_NE(hashed("198.51.100.77", other), a);
  EXPECT_NE(hashed("host.example.com", key), hashed("host.example.org", key));
}

// The names a key gives stay the same from run to run and release to release, so that
// logs anonymised apart still group: these were written with this key file's bytes.
TEST(AnonymizedAddress, KeyedHashKeepsItsNames) {
  const HashKey key = HashKeyFrom("0123456789abcdef0123456789abcdef");
  struct Case {
    const char* address;
    const char* hashed;
  };
  const Case cases[] = {
      {"198.51.100.77", "fd5a:3a3a:3fb8:f99:80a0:3d9a:c0c3:3f42"},
      {"2001:db8::1", "fd45:7e17:c683:84b7:26b1:c9c8:eead:ed81"},
      {"host.example.com", "fdb9:b964:f294:fec0:6ccc:4c82:372b:2a6"},
      // Hashes with zero groups, written as RFC 5952 says.
      {"10.0.2.56", "fd48:355a:2b0e:bc89:5cde:df1b:f09c:0"},
      {"10.0.16.28", "fdaf:0:95:5148:e41:dbb7:a031:b710"},
      {"10.0.47.11", "fd9f:2b3c:c36a:3b:6342:faa:0:5e0a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    std::string out;
    EXPECT_TRUE(AppendAnonymized(c.address, Anonymize::HASH, key, out));
    EXPECT_EQ(out, c.hashed);
  }
}

// SipHash-2-4's published test vector: key 00..0f, message 00..0e.
TEST(AnonymizedAddress, SipHashMatchesItsReferenceVector) {
  const HashKey key{0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
  std::string message;
  for (char c = 0; c < 15; ++c) message += c;
  EXPECT_EQ(SipHash24(key, message), 0xA129CA6149BE45E5ull);
  EXPECT_EQ(SipHash24(key, ""), 0x726FDB47DD0E0E31ull);
}

// The rewrite of one entry: the client from X-Forwarded-For, then every address masked.
TEST(RewriteClient, ForwardedClientThenMasked) {
  char client[] = "10.0.0.2";
  char forwarded[] = "203.0.113.9:5555, 198.51.100.4, 10.0.0.1";
  char name[] = "dsl-1.isp.example";
  struct Case {
    ClientRules rules;
    char* client;
    const char* client_written;
    const char* forwarded_written;
  };
  const Case cases[] = {
      {{ClientSource::REMOTE, Anonymize::NONE, {}}, client, "10.0.0.2", forwarded},
      {{ClientSource::FORWARDED, Anonymize::NONE, {}}, client, "203.0.113.9", forwarded},
      {{ClientSource::FORWARDED, Anonymize::NETWORK_16, {}},
       client,
       "203.0.0.0",
       "203.0.0.0, 198.51.0.0, 10.0.0.0"},
      {{ClientSource::REMOTE, Anonymize::NETWORK_24, {}},
       name,
       "isp.example",
       "203.0.113.0, 198.51.100.0, 10.0.0.0"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    LogEntry e;
    ResetEntry(e);
    e.client_host = TextOf(c.client);
    e.forwarded_for = TextOf(forwarded);
    ClientScratch scratch;
    RewriteClient(e, c.rules, scratch);
    EXPECT_EQ(std::string(e.client_host.text, static_cast<size_t>(e.client_host.length)),
              c.client_written);
    EXPECT_EQ(e.client_host.text[e.client_host.length], '\0');
    EXPECT_EQ(std::string(e.forwarded_for.text, static_cast<size_t>(e.forwarded_for.length)),
              c.forwarded_written);
  }
  // Without X-Forwarded-For the client stays.
  LogEntry e;
  ResetEntry(e);
  e.client_host = TextOf(client);
  ClientScratch scratch;
  RewriteClient(e, {ClientSource::FORWARDED, Anonymize::NONE, {}}, scratch);
  EXPECT_STREQ(e.client_host.text, "10.0.0.2");
}

// Entry after entry through one scratch, as an input's lines go: dotted quads (rewritten
// from their bytes), other addresses and host names (remembered texts), repeats and
// changes in any order give each client what it alone gives, ending in a NUL.
TEST(RewriteClient, EveryClientOfARunAsAlone) {
  const char* const clients[] = {
      "198.51.100.77", "198.51.100.77", "255.255.255.255",   "010.001.002.003", "0.0.0.0",
      "2001:db8::1",   "198.51.100.77", "dsl-1.isp.example", "1.2.3.4.5",       "256.1.1.1",
      "1.2.3",         "1.2.3.4",       "1.2.3.1234",        "1..2.3",          "1.2.3.4",
  };
  const HashKey key = HashKeyFrom("0123456789abcdef0123456789abcdef");
  for (const Anonymize mode :
       {Anonymize::NETWORK_24, Anonymize::NETWORK_16, Anonymize::NETWORK_8, Anonymize::HASH}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const ClientRules rules{ClientSource::REMOTE, mode, key};
    ClientScratch scratch;
    for (const char* client : clients) {
      SCOPED_TRACE(client);
      std::string alone;
      if (!AppendAnonymized(client, mode, key, alone)) {
        // A host name keeps its domain; a text with no domain becomes "-".
        const std::string_view name(client);
        const size_t dot = name.find('.');
        alone = dot == std::string_view::npos || dot + 1 == name.size()
                    ? "-"
                    : std::string(name.substr(dot + 1));
      }
      std::string text(client);
      LogEntry e;
      ResetEntry(e);
      e.client_host = TextOf(text.data());
      RewriteClient(e, rules, scratch);
      EXPECT_EQ(std::string(e.client_host.text, static_cast<size_t>(e.client_host.length)), alone);
      EXPECT_EQ(e.client_host.text[e.client_host.length], '\0');
    }
  }
}

}  // namespace
