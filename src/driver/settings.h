#pragma once
// Program-wide settings: written only at start-up (defaults, then the configuration file,
// then the switches; the last writer wins) and read everywhere else.

#include <cstdint>

enum class OutputFormat : uint8_t { NCSA = 0, W3C = 1, WEBSTAR = 2 };
enum class NewlineStyle : int32_t { MAC = 0, UNIX = 1, DOS = 2 };

// One node of a filter list. A text that begins with '+' is an accepting pattern (the
// '+' is not part of the pattern); any other text is a rejecting pattern.
struct FilterPattern {
  FilterPattern* next;
  char text[512];  // NUL-terminated, at most 511 characters
};

struct Settings {
  bool compress = true;  // merged.gz instead of merged.log
  int32_t level = 9;     // gzip level 0..9
  bool verbose = false;
  bool vhost = true;       // NCSA field two shows the domain
  bool lowercase = false;  // normalisation lower-cases the path
  bool normalize = false;
  int8_t trim_first_n_dirs = 0;  // 0..9
  OutputFormat output_format = OutputFormat::WEBSTAR;
  NewlineStyle newlines = NewlineStyle::MAC;
  FilterPattern* host_filters = nullptr;     // tested against client_host
  FilterPattern* request_filters = nullptr;  // tested against uri
  FilterPattern* agent_filters = nullptr;    // tested against agent
  FilterPattern* server_filters = nullptr;   // tested against domain
  FilterPattern* user_filters = nullptr;     // tested against user
  char user_format[512] = {};                // user log formats; empty = none
};

// The settings of this process.
extern Settings settings;

// Appends a pattern (at most 511 characters; longer text is refused with false) at the
// tail of a filter list, keeping the lists in the order the patterns were given.
bool AppendFilter(FilterPattern*& list, const char* text);

// Puts every setting back to its default and frees the filter lists (tests use it).
void ResetSettings();
