// The one error type of zirk-report: its message is the whole line the user
// sees ("Error: <file>: <cause>"), so every failure ends the same way.
#ifndef ZIRK_REPORT_REPORT_ERROR_H_
#define ZIRK_REPORT_REPORT_ERROR_H_

#include <stdexcept>
#include <string>

namespace zirk_report {

class ReportError : public std::runtime_error {
 public:
  explicit ReportError(const std::string& line) : std::runtime_error(line) {}
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_REPORT_ERROR_H_
