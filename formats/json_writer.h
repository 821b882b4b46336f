// JSON as the programs write it: a small pretty-printing writer (objects,
// arrays, strings, numbers and booleans, two-space indentation) for
// import.json, and the one string escaper every JSON file of ZIRK uses.
#ifndef ZIRK_FORMATS_JSON_WRITER_H_
#define ZIRK_FORMATS_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zirk_formats {

class JsonWriter {
 public:
  // Inside an object every value is preceded by key(); inside an array not.
  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);
  void string(std::string_view text);
  void number(double value);  // shortest round-trip text; null if not finite
  void integer(std::int64_t value);
  void boolean(bool value);
  void null();
  // An array of integers on one line, for permutations.
  void integer_row(const std::vector<std::size_t>& values);

  // The document, ending with a newline.
  std::string text() const { return out_ + "\n"; }

 private:
  void before_value();
  void newline();
  void close(char bracket);

  std::string out_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool after_key_ = false;
};

// `text` as a JSON string literal, quotes included: quote and backslash
// escaped with a backslash, the control characters below 0x20 as \u00XX,
// every other byte (UTF-8 included) as it is.
std::string json_quote(std::string_view text);

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_JSON_WRITER_H_
