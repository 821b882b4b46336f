#include "input.h"

#include <cctype>
#include <charconv>
#include <string>
#include <system_error>
#include <vector>

namespace input_detail {

LineRead read_line(char* buffer, std::size_t size, std::FILE* file) {
  return read_line_in_chunks(buffer, size, file, INT_MAX);
}

LineRead read_line_in_chunks(char* buffer, std::size_t size, std::FILE* file,
                             int chunk) {
  // fgets counts in int; a larger read continues chunk after chunk until a
  // newline, the end of the file or the full size ends it, as one read would.
  std::size_t used = 0;
  for (;;) {
    const std::size_t room = size - used;
    const bool last_chunk = room <= static_cast<std::size_t>(chunk);
    const int count = last_chunk ? static_cast<int>(room) : chunk;
    if (std::fgets(buffer + used, count, file) == nullptr) {
      if (used == 0) {
        if (std::feof(file)) return LineRead::kEnd;
        if (std::ferror(file)) return LineRead::kError;
        return LineRead::kNone;
      }
      // The earlier chunks hold the piece; fgets left their terminator.
      return std::ferror(file) ? LineRead::kError : LineRead::kLine;
    }
    const std::size_t got = std::strlen(buffer + used);
    used += got;
    if (last_chunk || got + 1 < static_cast<std::size_t>(count) ||
        (got > 0 && buffer[used - 1] == '\n')) {
      return LineRead::kLine;
    }
  }
}

void scan_genotype(std::FILE* file, char* line) {
  ps = 0;
  n = 0;
  std::size_t first_length = 0;
  for (;;) {
    const LineRead read = read_line(line, kGenotypeScanBufferSize, file);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kError) {
      error("Aborted due to input error (genome data).");
    }
    if (read == LineRead::kNone) continue;
    count_line(n, "Aborted due to input error (genome data).");
    const std::size_t length = std::strlen(line);
    const char* newline =
        static_cast<const char*>(std::memchr(line, '\n', length));
    // A line without newline ended the file only if the read hit its end;
    // otherwise it filled the buffer.
    const bool last_unterminated = newline == nullptr && std::feof(file);
    if (n == 1) {
      for (std::size_t p = 0; p + 1 < length; ++p) {
        if (line[p] == line[p + 1]) {
          error("Invalid format in genome data.");
        }
      }
      if (newline != nullptr) {
        first_length = static_cast<std::size_t>(newline - line);
      } else if (last_unterminated) {
        first_length = length;
      } else {
        error("Absorted due to input error (genome data).");
      }
      ps = static_cast<std::int32_t>((first_length + 2) / 4);
    }
    const std::size_t alleles = 2 * static_cast<std::size_t>(ps);
    if (last_unterminated) {
      // Not held to the first line's length, but every allele position up
      // to 4·ps - 2 must have been read.
      if (length + 1 < 2 * alleles) {
        error("Invalid format in genome data");
      }
    } else if (newline == nullptr ||
               static_cast<std::size_t>(newline - line) != first_length) {
      error("Invalid format in genome data");
    }
    for (std::size_t k = 0; k < alleles; ++k) {
      if (!is_allele(line[2 * k])) {
        error("Invalid data or format in genome data");
      }
    }
  }
}

void count_expression_pieces(std::FILE* file, char* piece) {
  ngene = 0;
  const std::size_t size = expression_scan_buffer_size(n);
  for (;;) {
    const LineRead read = read_line(piece, size, file);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kError) {
      error("Aborted due to input error (expression data).");
    }
    if (read == LineRead::kLine) {
      count_line(ngene, "Aborted due to input error (expression data).");
    }
  }
}

NumberScan scan_numbers_with_fscanf(std::FILE* file, double* values,
                                    std::size_t from, std::size_t count) {
  for (std::size_t k = from; k < count; ++k) {
    const int converted = std::fscanf(file, "%lf", &values[k]);
    if (converted == EOF) return NumberScan::kEndOfFile;
    if (converted != 1) return NumberScan::kNotNumber;
  }
  double extra;
  if (std::fscanf(file, "%lf", &extra) != EOF) return NumberScan::kTrailing;
  return NumberScan::kRead;
}

namespace {

// isspace in the C locale, which the program never leaves, without a call.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The file read in blocks, with one token at a time held whole.
class Tokens {
 public:
  // Tokens longer than this are left to fscanf.
  static constexpr std::size_t kLongestToken = 4096;

  explicit Tokens(std::FILE* file) : file_(file), text_(kBlock + 1) {}

  // Skips white space; false at the end of the file (or a read error).
  bool next() {
    for (;;) {
      while (begin_ < end_ && is_space(text_[begin_])) ++begin_;
      if (begin_ < end_) return true;
      if (!fill()) return false;
    }
  }

  // After next(): the token from there on, up to white space or the end of
  // the file, or null when it is longer than kLongestToken. Until release()
  // or take(), a zero stands in for the character after it.
  const char* token(std::size_t& length) {
    length = 0;
    for (;;) {
      while (begin_ + length < end_ && !is_space(text_[begin_ + length])) {
        ++length;
      }
      if (length > kLongestToken) return nullptr;
      if (begin_ + length < end_ || !fill()) break;
    }
    next_ = begin_ + length;
    saved_ = text_[next_];
    text_[next_] = '\0';
    return &text_[begin_];
  }

  // Puts back the character after the token.
  void release() { text_[next_] = saved_; }

  // Moves past the token.
  void take() {
    release();
    begin_ = next_;
  }

  // Where the current token starts in the file.
  long offset() const { return static_cast<long>(start_ + begin_); }

  // The rest of the file from the current token on.
  std::string rest() {
    std::string rest(&text_[begin_], end_ - begin_);
    char block[kBlock];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file_)) > 0) {
      rest.append(block, got);
    }
    return rest;
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  // Keeps the current token's start, reads a block after what is held.
  bool fill() {
    if (atEnd_) return false;
    start_ += begin_;
    std::memmove(text_.data(), &text_[begin_], end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (text_.size() < end_ + kBlock + 1) text_.resize(end_ + kBlock + 1);
    const std::size_t got = std::fread(&text_[end_], 1, kBlock, file_);
    end_ += got;
    if (got < kBlock) atEnd_ = true;
    return got > 0;
  }

  std::FILE* file_;
  std::vector<char> text_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t next_ = 0;
  char saved_ = '\0';
  std::size_t start_ = 0;  // the file offset of text_[0]
  bool atEnd_ = false;
};

// Converts a whole token as fscanf's "%lf" would, or returns false when the
// conversion stops short of its end.
bool convert_whole(const char* token, std::size_t length, double& value) {
  const char* end = token + length;
  // from_chars takes plain decimals, those that start with a digit, '-' or
  // '.' and end with a digit or '.'; the rest ("+1", "-inf", "-nan(...)",
  // hexadecimal) goes to strtod, whose signs and NaN payloads are fscanf's.
  if (std::isdigit(static_cast<unsigned char>(token[0])) || token[0] == '-' ||
      token[0] == '.') {
    const std::from_chars_result result = std::from_chars(token, end, value);
    if (result.ec == std::errc() && result.ptr == end) {
      const char last = end[-1];
      if (std::isdigit(static_cast<unsigned char>(last)) || last == '.') {
        return true;
      }
    }
  }
  // fscanf reads "nan(...)" only up to "nan", where strtod takes it whole.
  if (std::memchr(token, '(', length) != nullptr) return false;
  char* stop;
  value = std::strtod(token, &stop);
  return stop == end;
}

}  // namespace

NumberScan scan_numbers(std::FILE* file, double* values, std::size_t count) {
  Tokens tokens(file);
  for (std::size_t k = 0; k < count; ++k) {
    if (!tokens.next()) return NumberScan::kEndOfFile;
    std::size_t length = 0;
    const char* token = tokens.token(length);
    if (token != nullptr) {
      const bool whole = convert_whole(token, length, values[k]);
      if (whole) {
        tokens.take();
        continue;
      }
      tokens.release();
    }
    // fscanf decides from here on, from this token's start.
    if (std::fseek(file, tokens.offset(), SEEK_SET) == 0) {
      return scan_numbers_with_fscanf(file, values, k, count);
    }
    std::string rest = tokens.rest();
    File memory(fmemopen(rest.data(), rest.size(), "r"));
    if (!memory) error("Aborted due to allocation error.");
    return scan_numbers_with_fscanf(memory.get(), values, k, count);
  }
  if (tokens.next()) return NumberScan::kTrailing;
  return NumberScan::kRead;
}

}  // namespace input_detail
