// A byte source: the text of one input, plain, gzip or zstd (told apart by
// their magic bytes), from a file or from standard input ("-"), delivered in
// large blocks so that the row scanner never sees a compressed byte.
#ifndef ZIRK_REPORT_BYTE_SOURCE_H_
#define ZIRK_REPORT_BYTE_SOURCE_H_

#include <cstddef>
#include <memory>
#include <string>

namespace zirk_report {

class ByteSource {
 public:
  // Opens `path` ("-" is standard input). Throws ReportError
  // "<name>: cannot open (<reason>)" when it cannot be opened.
  explicit ByteSource(const std::string& path);
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // Decoded bytes, at most `capacity`, into `out`; 0 only at the end of the
  // input. Throws ReportError naming the input on a read or decoding error,
  // and on a compressed stream that ends early.
  std::size_t read(char* out, std::size_t capacity);

  // "standard input" for "-", the path otherwise: the name in messages.
  const std::string& name() const { return name_; }

 private:
  struct Decoder;
  std::size_t read_raw(char* out, std::size_t capacity);

  std::string name_;
  int fd_ = -1;
  bool owns_fd_ = false;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_BYTE_SOURCE_H_
