// The one error type of zirk-report: its message is the cause the user sees
// on the error line (formats/error_line.h), "<file>: <cause>", so every
// failure ends the same way.
#ifndef ZIRK_REPORT_REPORT_ERROR_H_
#define ZIRK_REPORT_REPORT_ERROR_H_

#include <string>

#include "error_line.h"

namespace zirk_report {

class ReportError : public zirk_formats::Failure {
 public:
  explicit ReportError(const std::string& cause)
      : zirk_formats::Failure(cause) {}
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_REPORT_ERROR_H_
