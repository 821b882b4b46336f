// Fuzzes the start-up's threshold prompt: start_up runs with a fixed command
// line over small valid input files and the fuzz input as standard input.
// It must either go on with the files' dimensions or stop with the input
// error message; nothing else is a valid outcome.
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "common.h"
#include "driver.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string> command_line;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  command_line = {
      "zirk",
      "-g",
      write_scratch("genotype.txt", "A T G G\nT T G C\nA A C C\n"),
      "-e",
      write_scratch("expression.txt", "1 2 3\n4.5 5e1 6\n10 100 1000\n"),
      "-a",
      write_scratch("allele.txt", "A T\nG C\n"),
      "-o",
      scratch_path("result.txt"),
  };
  // start_up reports its progress on standard output; libFuzzer reports on
  // standard error, which stays.
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) std::abort();
  close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string input = write_scratch("stdin.txt", data, size);
  if (std::freopen(input.c_str(), "r", stdin) == nullptr) std::abort();
  std::cin.clear();
  optind = 0;  // glibc: start the next getopt scan afresh

  std::vector<std::string> words = command_line;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  RunSettings settings;
  int status = 0;
  const std::string message = run_to_exit([&] {
    status = start_up(static_cast<int>(words.size()), argv.data(), settings);
  });
  const bool stopped = message == "Aborted due to input error.";
  const bool went_on =
      message.empty() && status == -1 && n == 3 && ps == 2 && ngene == 3;
  if (!stopped && !went_on) {
    std::fprintf(stderr,
                 "threshold oracle: status %d, message \"%s\", n %d, ps %d, "
                 "ngene %d\n",
                 status, message.c_str(), n, ps, ngene);
    std::abort();
  }
  return 0;
}
