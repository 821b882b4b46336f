// The one failure type of the importer: a user-facing cause, printed by the
// driver as a single "Error: <cause>" line. Every cause names the file or
// option it concerns.
#ifndef ZIRK_IMPORT_IMPORT_ERROR_H_
#define ZIRK_IMPORT_IMPORT_ERROR_H_

#include <stdexcept>
#include <string>

namespace zirk_import {

// Thrown for bad input or options; what() is the cause without the
// "Error: " prefix.
class ImportError : public std::runtime_error {
 public:
  explicit ImportError(const std::string& cause) : std::runtime_error(cause) {}
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_IMPORT_ERROR_H_
