#include "text_lines.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "import_error.h"

namespace zirk_import {

LineReader::LineReader(const std::string& path) : path_(path) {
  errno = 0;
  fp_.reset(bgzf_open(path.c_str(), "r"));
  if (!fp_) {
    throw ImportError(path + ": cannot open: " +
                      (errno ? std::strerror(errno) : "unknown error"));
  }
}

LineReader::LineReader(std::string_view text, const std::string& name)
    : path_(name), text_(text) {}

LineReader::~LineReader() { std::free(line_.s); }

bool LineReader::next(std::string_view& line) {
  if (fp_) {
    const int r = bgzf_getline(fp_.get(), '\n', &line_);
    if (r == -1) return false;
    if (r < -1) {
      throw ImportError(path_ + ": read error (damaged compressed data?)");
    }
    line = std::string_view(line_.s, line_.l);
  } else {
    // As bgzf_getline splits: at every newline, a last line without one
    // still a line, nothing after a final newline.
    if (text_.empty()) return false;
    const std::size_t newline = text_.find('\n');
    line = text_.substr(0, newline);
    text_.remove_prefix(newline == text_.npos ? text_.size() : newline + 1);
  }
  ++number_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

void split_fields(std::string_view line, bool tabs,
                  std::vector<std::string_view>& out) {
  out.clear();
  if (tabs) {
    std::size_t begin = 0;
    while (true) {
      const std::size_t tab = line.find('\t', begin);
      out.push_back(
          line.substr(begin, tab == line.npos ? line.npos : tab - begin));
      if (tab == line.npos) return;
      begin = tab + 1;
    }
  }
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t begin = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > begin) out.push_back(line.substr(begin, i - begin));
  }
}

bool read_header(LineReader& reader, const std::string& path,
                 std::string_view& line, std::vector<std::string_view>& fields) {
  if (!reader.next(line) || line.empty()) {
    throw ImportError(path + ": empty file, no header line");
  }
  const bool tabs = line.find('\t') != line.npos;
  split_fields(line, tabs, fields);
  return tabs;
}

}  // namespace zirk_import
