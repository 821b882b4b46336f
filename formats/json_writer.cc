#include "json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zirk_formats {

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void JsonWriter::newline() {
  out_ += '\n';
  out_.append(2 * first_.size(), ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
    newline();
  }
}

void JsonWriter::begin_object() {
  before_value();
  out_ += '{';
  first_.push_back(true);
}

void JsonWriter::close(char bracket) {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) newline();
  out_ += bracket;
}

void JsonWriter::end_object() { close('}'); }

void JsonWriter::begin_array() {
  before_value();
  out_ += '[';
  first_.push_back(true);
}

void JsonWriter::end_array() { close(']'); }

void JsonWriter::key(std::string_view name) {
  before_value();
  out_ += json_quote(name);
  out_ += ": ";
  after_key_ = true;
}

void JsonWriter::string(std::string_view text) {
  before_value();
  out_ += json_quote(text);
}

void JsonWriter::number(double value) {
  before_value();
  if (std::isfinite(value)) {
    char buffer[32];
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, r.ptr);
  } else {
    out_ += "null";
  }
}

void JsonWriter::integer(std::int64_t value) {
  before_value();
  out_ += std::to_string(value);
}

void JsonWriter::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  before_value();
  out_ += "null";
}

void JsonWriter::integer_row(const std::vector<std::size_t>& values) {
  before_value();
  out_ += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out_ += ", ";
    out_ += std::to_string(values[i]);
  }
  out_ += ']';
}

}  // namespace zirk_formats
