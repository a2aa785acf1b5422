// Which folder of src/ may include which. Every folder sits on a layer; a source file may
// include headers of its own folder and of any lower layer, never of a higher one, and two
// folders on the same layer stay out of each other. Only platform/ talks to the operating
// system: elsewhere angle-bracket includes are the C++ standard library or the compression
// libraries the program links.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

struct Folder {
  std::string_view name;
  int layer;  // a folder may include folders on lower layers
};

constexpr Folder kFolders[] = {
    {"platform", 0},  // console, lock, time, limits: the operating system
    {"base", 1},      // internal check, text helpers, clock, file specifications, messages
    {"entries", 2},   // the record, normalisers, filters
    {"input", 2},     // byte sources and decoders
    {"parse", 3},     // dialects and line parsing into records
    {"output", 4},    // writers, sinks and where the merged log goes
    {"driver", 5},    // main, settings, configuration, the merge loop
};

// Library headers that are not the operating system's.
constexpr std::string_view kLibraryHeaders[] = {
    "zlib.h",        "bzlib.h",      "minizip/unzip.h",   "lzma.h",    "zstd.h",
    "zstd_errors.h", "libdeflate.h", "isa-l/igzip_lib.h", "simdjson.h"};

const Folder* FindFolder(std::string_view name) {
  for (const Folder& f : kFolders) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

// The header named by an include line with its delimiters ("x/y.h" or <y.h>), or nothing
// when the line is not an include.
std::optional<std::string_view> IncludedHeader(std::string_view line) {
  auto skip_blanks = [&line] {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  };
  skip_blanks();
  if (!line.starts_with('#')) return std::nullopt;
  line.remove_prefix(1);
  skip_blanks();
  if (!line.starts_with("include")) return std::nullopt;
  line.remove_prefix(7);
  skip_blanks();
  if (line.empty() || (line.front() != '"' && line.front() != '<')) return std::nullopt;
  const char close = line.front() == '"' ? '"' : '>';
  const size_t end = line.find(close, 1);
  if (end == std::string_view::npos) return std::nullopt;
  return line.substr(0, end + 1);
}

// Why a file in `folder` may not have `line`, or nothing when it may.
std::optional<std::string> Refusal(std::string_view folder, std::string_view line) {
  const std::optional<std::string_view> header = IncludedHeader(line);
  if (!header) return std::nullopt;
  const std::string_view name = header->substr(1, header->size() - 2);
  const std::string from(folder);

  if (header->front() == '<') {
    if (folder == "platform") return std::nullopt;
    const bool standard = name.find('.') == std::string_view::npos;
    const bool library = std::find(std::begin(kLibraryHeaders), std::end(kLibraryHeaders), name) !=
                         std::end(kLibraryHeaders);
    if (standard || library) return std::nullopt;
    return "only platform may include operating-system headers, not " + from;
  }

  const size_t slash = name.find('/');
  if (slash == std::string_view::npos) return std::nullopt;  // beside the including file
  const std::string to(name.substr(0, slash));
  const Folder* source = FindFolder(folder);
  const Folder* target = FindFolder(to);
  if (source == nullptr || target == nullptr) {
    return (source == nullptr ? from : to) + " is not a folder of the layer table";
  }
  if (source == target || target->layer < source->layer) return std::nullopt;
  if (target->layer == source->layer) {
    return from + " may not include " + to + ": they share a layer";
  }
  return from + " may not include " + to + ", a higher layer";
}

TEST(IncludeLayers, RuleRefusesUpwardSidewaysAndOperatingSystemIncludes) {
  struct Case {
    std::string_view folder;
    std::string_view line;
    bool refused;
  };
  const Case cases[] = {
      // Own folder and lower layers.
      {"entries", R"(#include "entries/log_entry.h")", false},
      {"entries", R"(#include "normalize.h")", false},
      {"entries", R"(#include "base/text.h")", false},
      {"driver", R"(#include "platform/console.h")", false},
      {"parse", R"(  #  include "input/input.h"  // byte source)", false},
      // Higher layers, the same layer, folders the table does not know.
      {"base", R"(#include "output/sink.h")", true},
      {"output", R"(#include "driver/settings.h")", true},
      {"entries", R"(#include "input/input.h")", true},
      {"input", R"(#include "entries/log_entry.h")", true},
      {"parse", R"(#include "tools/x.h")", true},
      // Angle brackets: the standard library and the linked libraries anywhere, the
      // operating system only in platform.
      {"output", "#include <vector>", false},
      {"input", "#include <minizip/unzip.h>", false},
      {"platform", "#include <sys/resource.h>", false},
      {"parse", "#include <unistd.h>", true},
      {"driver", "#include <sys/stat.h>", true},
      {"base", "#include <windows.h>", true},
      // Lines that are not includes.
      {"base", "// #include <unistd.h>", false},
      {"base", "#define INCLUDE_UNISTD <unistd.h>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + ": " + std::string(c.line));
    EXPECT_EQ(Refusal(c.folder, c.line).has_value(), c.refused);
  }
}

TEST(IncludeLayers, SourceTreeKeepsToTheLayers) {
  const fs::path src = fs::path(STITCHER_SOURCE_DIR) / "src";
  std::set<std::string> folders_seen;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")) {
      continue;
    }
    const fs::path relative = path.lexically_relative(src);
    const std::string folder = relative.has_parent_path() ? relative.begin()->string() : "";
    folders_seen.insert(folder);
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (const auto reason = Refusal(folder, line)) {
        ADD_FAILURE() << "src/" << relative.string() << ":" << number << ": "
                      << *IncludedHeader(line) << ": " << *reason;
      }
    }
  }
  // Every folder is in the table; a table row without sources is stale or the source
  // directory is wrong.
  for (const std::string& folder : folders_seen) {
    EXPECT_NE(FindFolder(folder), nullptr) << "src/" << folder << " is not in the layer table";
  }
  for (const Folder& f : kFolders) {
    EXPECT_TRUE(folders_seen.contains(std::string(f.name)))
        << "src/" << f.name << " has no sources";
  }
}

}  // namespace
