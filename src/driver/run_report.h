#pragma once
// The report of a run for machines and people: --report=<file> writes one JSON object, or,
// for a name ending in ".html", one self-contained page with a timeline per input.
//
//   JSON  version, settings in effect, each input (size, container, dialects, lines by
//         reason, first and last entry, gaps, out-of-order count, errors), the output, the
//         exit status and the durations; the keys are listed in the manual page
//   HTML  the merged log's timeline on top, one per input beneath on a shared time axis
//         (entries per period, gaps marked), then the table of inputs; inline SVG, no script

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct MergeInput;

// What the merge tells the report about its output.
struct RunRecord {
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::string output_path;       // the merged log's name; "-" for standard output
  bool compressed = false;       // gzip
  bool output_complete = false;  // written to its end and published
  int64_t entries = 0;           // entries written
  std::chrono::steady_clock::time_point merge_started = started;  // the merge loop began
  double merge_seconds = 0;  // from merge_started to the output published
};

// Notes the merged log: its name, gzip or not, the entries written and whether it was
// published whole.
struct Destination;
void NoteOutput(RunRecord& record, const Destination& destination, int64_t entries, bool complete);

// The problems said about an input: those that name it as messages do, quoted.
std::vector<std::string> ProblemsNaming(const MergeInput& input);

// The report's text.
std::string RunReportJson(std::span<const MergeInput> inputs, const RunRecord& record,
                          int exit_status);
std::string RunReportHtml(std::span<const MergeInput> inputs, const RunRecord& record,
                          int exit_status);

// True for a report path that asks for the page (".html" or ".htm", any case).
bool WantsHtmlReport(const std::string& path);

// Writes the report to `path` (a new file renamed over the name, so a reader never sees
// half of one); false, with the reason said, when it could not be written.
bool WriteRunReport(const std::string& path, std::span<const MergeInput> inputs,
                    const RunRecord& record, int exit_status);
