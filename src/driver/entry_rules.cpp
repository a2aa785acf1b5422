#include "driver/entry_rules.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/messages.h"
#include "driver/settings.h"
#include "platform/descriptor.h"

namespace {

// Reads the key of the address hash; the key itself is never shown.
bool ReadHashKey(const std::string& path, HashKey& key) {
  if (path.empty()) {
    SayFailure(
        "--anonymize-ip=hash needs a key: give --anonymize-key=<file> (for example a file "
        "made by 'head -c 32 /dev/urandom > stitcher.key').\n");
    return false;
  }
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    SayFailure("Error reading the key file '%s': %s.\n", EscapedName(path).c_str(),
               error ? error.message().c_str() : "it is not a regular file");
    return false;
  }
  const std::string shown = EscapedName(path);
  const FileDescriptor file = OpenForReading(path.c_str());
  if (!file.IsOpen()) {
    SayFailure("Error reading the key file '%s': %s.\n", shown.c_str(), std::strerror(errno));
    return false;
  }
  // At most one byte more than a key may hold is read, so a large file named by mistake is
  // refused without being read whole.
  std::string bytes(HASH_KEY_MOST_BYTES + 1, '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const int64_t n = ReadSome(file.Get(), bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      SayFailure("Error reading the key file '%s': %s.\n", shown.c_str(), std::strerror(errno));
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  if (bytes.size() > HASH_KEY_MOST_BYTES) {
    SayFailure("The key file '%s' holds more than %zu bytes; a key is %zu to %zu bytes.\n",
               shown.c_str(), HASH_KEY_MOST_BYTES, HASH_KEY_LEAST_BYTES, HASH_KEY_MOST_BYTES);
    return false;
  }
  if (bytes.size() < HASH_KEY_LEAST_BYTES) {
    SayFailure("The key file '%s' holds %zu bytes; a key needs at least %zu.\n", shown.c_str(),
               bytes.size(), HASH_KEY_LEAST_BYTES);
    return false;
  }
  key = HashKeyFrom(bytes);
  return true;
}

bool CompilePattern(const std::string& text, std::optional<std::regex>& pattern) {
  if (text.empty()) {
    SayFailure("--source=host needs --source-pattern=<regex>, e.g. '/logs/([^/]+)/'.\n");
    return false;
  }
  try {
    pattern.emplace(text, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    SayFailure("Invalid --source-pattern '%s': %s.\n", EscapedName(text).c_str(), error.what());
    return false;
  }
  return true;
}

// The pattern's first group (or whole match) in `path`; empty when it does not match.
std::string HostFromPath(const std::regex& pattern, const std::string& path) {
  std::smatch match;
  if (!std::regex_search(path, match, pattern)) return std::string();
  return match.size() > 1 && match[1].matched ? match[1].str() : match[0].str();
}

}  // namespace

bool LoadEntryRules(EntryRules& rules, OutputFormat format) {
  rules = EntryRules{};
  rules.client.source = settings.client;
  rules.client.anonymize = settings.anonymize_ip;
  if (rules.client.anonymize == Anonymize::HASH &&
      !ReadHashKey(settings.anonymize_key, rules.client.key)) {
    return false;
  }
  rules.source = settings.source;
  if (rules.source == SourceKind::HOST &&
      !CompilePattern(settings.source_pattern, rules.source_pattern)) {
    return false;
  }
  // JSON lines carry the source in a key of its own; the other dialects in the virtual
  // host, where the entry has none, or always when asked.
  rules.placement.into_vhost_always = settings.source_into_vhost;
  rules.placement.into_vhost = format != OutputFormat::JSON || settings.source_into_vhost;
  rules.any = rules.client.source != ClientSource::REMOTE ||
              rules.client.anonymize != Anonymize::NONE || rules.source != SourceKind::NONE;
  return true;
}

void StartInputRewrite(InputRewrite& rewrite, const char* name, const EntryRules& rules) {
  rewrite.source.clear();
  const std::string path = name;
  switch (rules.source) {
    case SourceKind::NONE:
      return;
    case SourceKind::FILE:
      rewrite.source = FileNameOf(path);
      return;
    case SourceKind::NAME:
      rewrite.source = NameWithoutRotation(FileNameOf(path));
      return;
    case SourceKind::HOST: {
      rewrite.source = HostFromPath(*rules.source_pattern, path);
      if (rewrite.source.empty()) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        if (!error) rewrite.source = HostFromPath(*rules.source_pattern, absolute.string());
      }
      if (rewrite.source.empty()) {
        rewrite.source = FileNameOf(path);
        Say("The path '%s' does not match --source-pattern; its entries' source is its file "
            "name '%s'.\n",
            EscapedName(path).c_str(), EscapedName(rewrite.source).c_str());
      }
      return;
    }
  }
}
