// Fuzzes zirk-report's readers of result files and summary files (plain,
// gzip or zstd, told apart by their first bytes) on the fuzz input in
// memory, through the byte source that the program reads its files with.
// Beyond "no crash": a rejected input is named first in the error; an
// accepted one, written as a summary file, reads back with the same
// threshold line and row count, and writing that again gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "byte_source.h"
#include "input_reader.h"
#include "report_error.h"
#include "run_summary.h"

namespace {

void fail(const std::string& what) {
  std::fprintf(stderr, "report input oracle: %s\n", what.c_str());
  std::abort();
}

// The summary file of `summary`, written as write_summary_file writes it.
std::string summary_text(const zirk_report::RunSummary& summary) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&text, &size);
  if (file == nullptr) fail("open_memstream failed");
  zirk_report::write_summary(summary, file);
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) fail("writing a summary failed");
  std::string out(text, size);
  std::free(text);
  return out;
}

// Few kept candidates, so that the cap and its "complete below" key are
// exercised as well as the rows.
constexpr std::uint64_t kCandidates = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The reader's block, set up once as the program does for all its inputs.
  static std::vector<char> buffer;
  static const std::string name = "input";
  zirk_report::InputOptions options;
  options.max_candidates = kCandidates;
  zirk_report::RunSummary summary(kCandidates);
  try {
    zirk_report::ByteSource source(reinterpret_cast<const char*>(data), size,
                                   name);
    zirk_report::read_input(source, options, summary, buffer);
  } catch (const zirk_report::ReportError& e) {
    if (std::string(e.what()).rfind(name + ": ", 0) != 0) {
      fail(std::string("a rejection that does not name the file first: ") +
           e.what());
    }
    return 0;
  }
  const std::string first = summary_text(summary);
  zirk_report::RunSummary again(kCandidates);
  try {
    zirk_report::ByteSource source(first.data(), first.size(), "first.sum");
    if (!zirk_report::read_input(source, options, again, buffer)) {
      fail("a written summary read back as a result file");
    }
  } catch (const zirk_report::ReportError& e) {
    fail(std::string("a written summary rejected: ") + e.what());
  }
  if (again.threshold_line != summary.threshold_line ||
      again.rows != summary.rows) {
    fail("a summary read back with another threshold line or row count");
  }
  if (summary_text(again) != first) {
    fail("a summary changed on its way through a file");
  }
  return 0;
}
