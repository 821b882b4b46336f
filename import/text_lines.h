// Lines and fields of the importer's text inputs: plain, gzip or bgzip,
// read through htslib's BGZF layer (which passes plain text through), or
// text already in memory. The readers of the formats take a LineReader, so
// that a file and bytes in memory go through the same parsing code.
#ifndef ZIRK_IMPORT_TEXT_LINES_H_
#define ZIRK_IMPORT_TEXT_LINES_H_

#include <htslib/bgzf.h>
#include <htslib/kstring.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zirk_import {

class LineReader {
 public:
  // Opens `path` ("-" is standard input); throws ImportError naming it when
  // it cannot be opened.
  explicit LineReader(const std::string& path);
  // The lines of the plain text `text`, which must outlive the reader;
  // `name` stands for it in messages as a path would.
  LineReader(std::string_view text, const std::string& name);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its newline or carriage return, valid until the
  // next call; false at the end. Throws ImportError on damaged data.
  bool next(std::string_view& line);
  // The 1-based number of the line last returned.
  long number() const { return number_; }
  // The path, or the name given with the text: what messages call the input.
  const std::string& name() const { return path_; }

 private:
  struct BgzfCloser {
    void operator()(BGZF* fp) const { bgzf_close(fp); }
  };
  std::string path_;
  std::unique_ptr<BGZF, BgzfCloser> fp_;  // null for text in memory
  kstring_t line_ = {0, 0, nullptr};
  std::string_view text_;  // the text in memory not yet returned
  long number_ = 0;
};

// Splits `line` into `out`: at every tab when `tabs` (empty fields kept),
// otherwise at runs of blanks (no empty fields).
void split_fields(std::string_view line, bool tabs,
                  std::vector<std::string_view>& out);

// Reads the header line of the table at `path` from `reader` into `line` and
// its fields into `fields`, and returns whether the file is tab-separated
// (its header holds a tab) rather than blank-separated. Throws ImportError
// when the file has no header line.
bool read_header(LineReader& reader, const std::string& path,
                 std::string_view& line, std::vector<std::string_view>& fields);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_TEXT_LINES_H_
