// Fuzzes the start-up's threshold prompt on the fuzz input in memory as
// standard input. It must either take a number or stop with the input error
// message; nothing else is a valid outcome.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The prompt goes to standard output; libFuzzer reports on standard
  // error, which stays.
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0 || dup2(null, STDOUT_FILENO) < 0) std::abort();
  close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::istringstream in(
      std::string(reinterpret_cast<const char*>(data), size));
  RunSettings settings;
  const std::string message =
      run_to_exit([&] { read_threshold(in, settings); });
  if (!message.empty() && message != "Aborted due to input error.") {
    std::fprintf(stderr, "threshold oracle: message \"%s\"\n",
                 message.c_str());
    std::abort();
  }
  return 0;
}
