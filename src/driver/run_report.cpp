#include "driver/run_report.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "driver/command_line.h"
#include "driver/input_stats.h"
#include "driver/merge.h"
#include "driver/settings.h"
#include "input/input.h"
#include "output/destination.h"
#include "platform/byte_scan.h"
#include "platform/replace_file.h"

namespace {

// ---- JSON text -------------------------------------------------------------------------------
// Writes JSON with two-space indents. Strings are UTF-8; a byte that is not part of valid
// UTF-8 (a file name in another encoding) is written as the text "\xHH", so the document stays
// valid and the name stays recognisable.
class JsonOut {
 public:
  JsonOut& Key(std::string_view key) {
    Separate();
    String(key);
    out_ += ": ";
    after_key_ = true;
    return *this;
  }
  JsonOut& BeginObject() { return Open('{'); }
  JsonOut& EndObject() { return Close('}'); }
  JsonOut& BeginArray() { return Open('['); }
  JsonOut& EndArray() { return Close(']'); }
  JsonOut& Value(std::string_view text) {
    Separate();
    String(text);
    return *this;
  }
  JsonOut& Value(const char* text) {
    return text == nullptr ? Null() : Value(std::string_view(text));
  }
  JsonOut& Value(int64_t number) {
    Separate();
    out_ += std::to_string(number);
    return *this;
  }
  JsonOut& Value(int number) { return Value(int64_t{number}); }
  JsonOut& Value(double number) {
    Separate();
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", number);
    out_ += text;
    return *this;
  }
  JsonOut& Value(bool flag) {
    Separate();
    out_ += flag ? "true" : "false";
    return *this;
  }
  JsonOut& Null() {
    Separate();
    out_ += "null";
    return *this;
  }
  std::string Text() const { return out_ + "\n"; }

 private:
  JsonOut& Open(char bracket) {
    Separate();
    out_ += bracket;
    first_.push_back(true);
    return *this;
  }
  JsonOut& Close(char bracket) {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) NewLine();
    out_ += bracket;
    return *this;
  }
  void NewLine() {
    out_ += '\n';
    out_.append(first_.size() * 2, ' ');
  }
  // A comma and a new line before every member but the first; nothing after a key.
  void Separate() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (first_.empty()) return;
    if (!first_.back()) out_ += ',';
    first_.back() = false;
    NewLine();
  }
  void String(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_ += '"';
    for (size_t i = 0; i < text.size();) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (byte >= 0x80) {
        const auto* at = reinterpret_cast<const unsigned char*>(text.data()) + i;
        const size_t length = Utf8SequenceLength(at, at + (text.size() - i));
        if (length > 0) {
          out_.append(text.substr(i, length));
          i += length;
        } else {
          out_ += "\\\\x";
          out_ += kHex[byte >> 4];
          out_ += kHex[byte & 0x0F];
          ++i;
        }
        continue;
      }
      ++i;
      switch (byte) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '\t':
          out_ += "\\t";
          break;
        default:
          if (byte < 0x20 || byte == 0x7F) {
            out_ += "\\u00";
            out_ += kHex[byte >> 4];
            out_ += kHex[byte & 0x0F];
          } else {
            out_ += static_cast<char>(byte);
          }
      }
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;  // per open bracket: no member written yet
  bool after_key_ = false;
};

// "2001-03-05T10:00:00": the clock time as the merged log writes it (no zone is implied).
std::string IsoTime(int64_t seconds) {
  std::string text = ClockText(seconds);
  text[10] = 'T';
  return text;
}

void TimeOrNull(JsonOut& json, std::string_view key, bool known, int64_t seconds) {
  json.Key(key);
  if (known) {
    json.Value(IsoTime(seconds));
  } else {
    json.Null();
  }
}

const char* NewlinesName(NewlineStyle style) {
  switch (style) {
    case NewlineStyle::UNIX:
      return "unix";
    case NewlineStyle::DOS:
      return "dos";
    case NewlineStyle::MAC:
      return "mac";
  }
  return "?";
}

void TextOrNull(JsonOut& json, std::string_view key, const std::string& text) {
  json.Key(key);
  if (text.empty()) {
    json.Null();
  } else {
    json.Value(text);
  }
}

void StringList(JsonOut& json, std::string_view key, const std::vector<std::string>& list) {
  json.Key(key).BeginArray();
  for (const std::string& item : list) json.Value(item);
  json.EndArray();
}

void SettingsObject(JsonOut& json) {
  const Settings& s = settings;
  json.Key("settings").BeginObject();
  json.Key("output-format").Value(OutputFormatName(s.output_format));
  json.Key("compress").Value(s.compress);
  json.Key("level").Value(s.level);
  json.Key("newlines").Value(NewlinesName(s.newlines));
  json.Key("header").Value(s.header);
  json.Key("vhost").Value(s.vhost);
  json.Key("normalize").Value(s.normalize);
  json.Key("lowercase").Value(s.lowercase);
  json.Key("trim-first-n-dirs").Value(int{s.trim_first_n_dirs});
  TextOrNull(json, "format", s.user_format);
  TextOrNull(json, "timezone", s.timezone);
  TextOrNull(json, "input-timezone", s.input_timezone);
  TimeOrNull(json, "since", s.window.since.has_value(),
             s.window.since ? ClockTimeSeconds(*s.window.since) : 0);
  TimeOrNull(json, "until", s.window.until.has_value(),
             s.window.until ? ClockTimeSeconds(*s.window.until) : 0);
  StringList(json, "filter-host", s.filters.host);
  StringList(json, "filter-request", s.filters.request);
  StringList(json, "filter-agent", s.filters.agent);
  StringList(json, "filter-server", s.filters.server);
  StringList(json, "filter-user", s.filters.user);
  json.Key("threads").Value(s.threads);
  json.Key("max-open").Value(s.max_open);
  json.Key("gap-seconds").Value(s.gap_seconds);
  json.EndObject();
}

void LinesObject(JsonOut& json, std::string_view key, const InputCounts& counts, bool corrupt) {
  json.Key(key).BeginObject();
  json.Key("total").Value(corrupt ? counts.Corrupt() : counts.Skipped());
  for (const FateRow& row : kFates) {
    if (row.corrupt == corrupt) json.Key(row.key).Value(counts.by_fate[static_cast<int>(row.fate)]);
  }
  json.EndObject();
}

void InputObject(JsonOut& json, const MergeInput& input) {
  const InputCounts& c = input.counts;
  json.BeginObject();
  json.Key("path").Value(std::string_view(input.name));
  std::error_code error;
  const auto size = std::filesystem::file_size(input.name, error);
  json.Key("size");
  if (error) {
    json.Null();
  } else {
    json.Value(static_cast<int64_t>(size));
  }
  json.Key("container");
  if (c.container >= 0) {
    json.Value(INTypeName(c.container));
  } else {
    json.Null();
  }
  json.Key("opened").Value(c.opened);
  json.Key("read_to_end").Value(c.finished && !c.read_failed);
  json.Key("bytes_read").Value(c.bytes_read);
  json.Key("lines_read").Value(input.lines_read);
  json.Key("entries").Value(c.entries);
  json.Key("filtered").Value(input.lines_read - c.entries - c.Skipped() - c.Corrupt());
  json.Key("dialects").BeginArray();
  for (int i = 0; i < TEMPLATE_COUNT; ++i) {
    if (c.by_template[i] == 0) continue;
    json.BeginObject();
    json.Key("name").Value(TemplateName(i));
    json.Key("entries").Value(c.by_template[i]);
    json.EndObject();
  }
  json.EndArray();
  LinesObject(json, "skipped", c, false);
  LinesObject(json, "corrupt", c, true);
  json.Key("first_unknown_line");
  if (c.first_unknown_number > 0) {
    json.BeginObject();
    json.Key("number").Value(c.first_unknown_number);
    json.Key("text").Value(c.first_unknown);
    json.EndObject();
  } else {
    json.Null();
  }
  TimeOrNull(json, "first_entry", c.dated > 0, c.first);
  TimeOrNull(json, "last_entry", c.dated > 0, c.last);
  json.Key("gaps").BeginArray();
  for (const TimeGap& gap : c.gaps) {
    json.BeginObject();
    json.Key("from").Value(IsoTime(gap.from));
    json.Key("to").Value(IsoTime(gap.to));
    json.Key("seconds").Value(gap.to - gap.from);
    json.EndObject();
  }
  json.EndArray();
  json.Key("out_of_order").Value(c.out_of_order);
  StringList(json, "errors", ProblemsNaming(input));
  json.EndObject();
}

// The earliest and latest entry over every input: the merged log's span.
struct Span {
  bool known = false;
  int64_t first = 0;
  int64_t last = 0;
};
Span MergedSpan(std::span<const MergeInput> inputs) {
  Span span;
  for (const MergeInput& input : inputs) {
    const InputCounts& c = input.counts;
    if (c.dated == 0) continue;
    span.first = span.known ? std::min(span.first, c.first) : c.first;
    span.last = span.known ? std::max(span.last, c.last) : c.last;
    span.known = true;
  }
  return span;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<std::string> ProblemsNaming(const MergeInput& input) {
  const std::string quoted = "'" + EscapedName(input.name) + "'";
  std::vector<std::string> problems;
  for (const std::string& problem : ProblemsSaid()) {
    if (problem.find(quoted) != std::string::npos) problems.push_back(problem);
  }
  return problems;
}

void NoteOutput(RunRecord& record, const Destination& destination, int64_t entries, bool complete) {
  record.output_path = destination.standard_output ? "-" : destination.final_spec.Path();
  record.compressed = destination.options.compress;
  record.entries = entries;
  record.output_complete = complete;
  record.merge_seconds = SecondsSince(record.merge_started);
}

std::string RunReportJson(std::span<const MergeInput> inputs, const RunRecord& record,
                          int exit_status) {
  JsonOut json;
  json.BeginObject();
  json.Key("program").Value("stitcher");
  json.Key("version").Value(VersionText());
  SettingsObject(json);
  json.Key("inputs").BeginArray();
  for (const MergeInput& input : inputs) InputObject(json, input);
  json.EndArray();

  json.Key("output").BeginObject();
  json.Key("path").Value(record.output_path);
  json.Key("format").Value(OutputFormatName(settings.output_format));
  json.Key("compressed").Value(record.compressed);
  std::error_code error;
  const auto bytes = record.output_path == "-" || record.output_path.empty()
                         ? 0
                         : std::filesystem::file_size(record.output_path, error);
  json.Key("bytes");
  if (record.output_path == "-" || record.output_path.empty() || error || !record.output_complete) {
    json.Null();
  } else {
    json.Value(static_cast<int64_t>(bytes));
  }
  json.Key("entries").Value(record.entries);
  json.Key("complete").Value(record.output_complete);
  const Span span = MergedSpan(inputs);
  TimeOrNull(json, "first_entry", span.known, span.first);
  TimeOrNull(json, "last_entry", span.known, span.last);
  json.EndObject();

  json.Key("exit_status").Value(exit_status);
  json.Key("durations").BeginObject();
  json.Key("total_seconds").Value(SecondsSince(record.started));
  json.Key("merge_seconds").Value(record.merge_seconds);
  json.EndObject();
  StringList(json, "problems", ProblemsSaid());
  json.EndObject();
  return json.Text();
}

bool WantsHtmlReport(const std::string& path) {
  const auto ends_with = [&path](const char* suffix) {
    const size_t length = std::strlen(suffix);
    return path.size() >= length && StartsWithNoCase(suffix, path.c_str() + (path.size() - length));
  };
  return ends_with(".html") || ends_with(".htm");
}

bool WriteRunReport(const std::string& path, std::span<const MergeInput> inputs,
                    const RunRecord& record, int exit_status) {
  const std::string text = WantsHtmlReport(path) ? RunReportHtml(inputs, record, exit_status)
                                                 : RunReportJson(inputs, record, exit_status);
  const std::string shown = EscapedName(path);
  std::string partial;
  const int fd = CreateUniqueFile(path + ".", ".partial", partial);
  if (fd < 0) {
    SayFailure("Error writing report '%s': %s.\n", shown.c_str(), std::strerror(errno));
    return false;
  }
  std::FILE* stream = WriteStreamOn(fd);
  bool written =
      stream != nullptr && std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  int reason = errno;
  if (stream != nullptr && std::fclose(stream) != 0 && written) {
    written = false;
    reason = errno;
  }
  CloseFile(fd);
  std::error_code error;
  if (written) {
    std::filesystem::rename(partial, path, error);
    if (!error) return true;
    reason = error.value();
  }
  std::filesystem::remove(partial, error);
  SayFailure("Error writing report '%s': %s.\n", shown.c_str(), std::strerror(reason));
  return false;
}
