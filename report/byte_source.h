// A byte source: the text of one input, plain, gzip or zstd (told apart by
// their magic bytes), from a file, from standard input ("-") or from bytes
// in memory, delivered in large blocks so that the row scanner never sees a
// compressed byte.
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
  // The `size` bytes at `data`, which must outlive the source, as the
  // content of a file; `name` stands for it in messages.
  ByteSource(const char* data, std::size_t size, const std::string& name);
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
  // Tells the kind from the first bytes, which `decoder_` holds.
  void start_decoding();

  std::string name_;
  int fd_ = -1;  // -1 for bytes in memory
  bool owns_fd_ = false;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace zirk_report

#endif  // ZIRK_REPORT_BYTE_SOURCE_H_
