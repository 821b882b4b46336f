// The one failure type of the importer: a user-facing cause, printed by the
// driver as the error line (formats/error_line.h). Every cause names the
// file or option it concerns.
#ifndef ZIRK_IMPORT_IMPORT_ERROR_H_
#define ZIRK_IMPORT_IMPORT_ERROR_H_

#include <string>

#include "error_line.h"

namespace zirk_import {

// Thrown for bad input or options; what() is the cause without the
// "Error: " prefix. The shared output code throws its base, Failure.
class ImportError : public zirk_formats::Failure {
 public:
  explicit ImportError(const std::string& cause)
      : zirk_formats::Failure(cause) {}
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_IMPORT_ERROR_H_
