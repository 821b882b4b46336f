// The failure convention of every ZIRK program: a failure ends the program
// with one line "Error: <cause>" on standard error and exit status 1, and the
// cause names the file or option it concerns where there is one. The causes
// are written without the prefix; only print_error_line() adds it.
#ifndef ZIRK_FORMATS_ERROR_LINE_H_
#define ZIRK_FORMATS_ERROR_LINE_H_

#include <stdexcept>
#include <string>
#include <string_view>

namespace zirk_formats {

// A failure the user has to see; what() is the cause without "Error: ".
// The programs' own failure types derive from it.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& cause) : std::runtime_error(cause) {}
};

// Writes "Error: <cause>" and a newline to standard error and flushes it.
void print_error_line(std::string_view cause);

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_ERROR_LINE_H_
