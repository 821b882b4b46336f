// Fuzzes zirk-report's readers of result files and summary files (plain,
// gzip or zstd, told apart by their first bytes) through a scratch file, as
// the program reads the files users pass to it. Beyond "no crash": a
// rejected input is named first in the error; an accepted one, written as a
// summary file, reads back, and writing that again gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "input_reader.h"
#include "report_error.h"
#include "run_summary.h"

namespace {

void fail(const std::string& what) {
  std::fprintf(stderr, "report input oracle: %s\n", what.c_str());
  std::abort();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Few kept candidates, so that the cap and its "complete below" key are
// exercised as well as the rows.
constexpr std::uint64_t kCandidates = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string path = write_scratch("input", data, size);
  zirk_report::InputOptions options;
  options.max_candidates = kCandidates;
  zirk_report::RunSummary summary(kCandidates);
  try {
    zirk_report::read_input(path, options, summary);
  } catch (const zirk_report::ReportError& e) {
    if (std::string(e.what()).rfind(path + ": ", 0) != 0) {
      fail(std::string("a rejection that does not name the file first: ") +
           e.what());
    }
    return 0;
  }
  const std::string first = scratch_path("first.sum");
  const std::string second = scratch_path("second.sum");
  zirk_report::write_summary_file(summary, first);
  zirk_report::RunSummary again(kCandidates);
  try {
    if (!zirk_report::read_input(first, options, again)) {
      fail("a written summary read back as a result file");
    }
  } catch (const zirk_report::ReportError& e) {
    fail(std::string("a written summary rejected: ") + e.what());
  }
  zirk_report::write_summary_file(again, second);
  if (read_file(first) != read_file(second)) {
    fail("a summary changed on its way through a file");
  }
  return 0;
}
