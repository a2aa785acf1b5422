#pragma once
// What the run does to every entry after parsing and filtering, beside normalising: the
// client taken from X-Forwarded-For, client addresses anonymised, and the entry's source
// recorded. The rules are built from the settings once; each input keeps the texts its
// entries' rewritten fields point to.

#include <optional>
#include <regex>
#include <string>

#include "entries/client_address.h"
#include "entries/entry_source.h"
#include "entries/log_entry.h"
#include "output/writers.h"

struct EntryRules {
  ClientRules client;
  SourceKind source = SourceKind::NONE;
  std::optional<std::regex> source_pattern;  // --source=host
  SourcePlacement placement;
  bool any = false;  // some rule changes entries
};

// Builds the rules from the settings for output in `format`, reading the hash key file; a
// setting that cannot be used is reported (exit status 1) and the result is false.
bool LoadEntryRules(EntryRules& rules, OutputFormat format);

// One input's part: the texts its entries' rewritten fields point to.
struct InputRewrite {
  ClientScratch client;
  std::string source;  // the input's source; empty when none is recorded
};

// Names the source of the input `name` as `rules` say. A path that the host pattern does
// not match is said once and recorded by its file name.
void StartInputRewrite(InputRewrite& rewrite, const char* name, const EntryRules& rules);

// Applies the rules to one accepted entry of the input.
inline void RewriteEntry(LogEntry& entry, const EntryRules& rules, InputRewrite& rewrite) {
  if (!rules.any) return;
  RewriteClient(entry, rules.client, rewrite.client);
  ApplySource(entry, rewrite.source, rules.placement);
}
