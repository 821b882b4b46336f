#include "data_folder.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "data_tables.h"
#include "report_error.h"

namespace zirk_report {

namespace {

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return out;
    start = tab + 1;
  }
}

bool parse_count(const std::string& text, std::uint64_t& out) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// Calls row(fields) for every line after the header; checks the header, the
// field count and that the index column counts from 0.
template <typename F>
void read_table(const std::string& path, const std::string& header, F row) {
  std::ifstream in(path);
  if (!in) throw ReportError(path + ": cannot open");
  std::string line;
  if (!std::getline(in, line) || line != header) {
    throw ReportError(path + ": line 1: expected the header \"" +
                      header + "\"");
  }
  const std::size_t width = split_tabs(header).size();
  std::uint64_t number = 1, index = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto fields = split_tabs(line);
    std::uint64_t got = 0;
    if (fields.size() != width || !parse_count(fields[0], got) ||
        got != index) {
      throw ReportError(path + ": line " + std::to_string(number) +
                        ": malformed line");
    }
    if (!row(fields)) {
      throw ReportError(path + ": line " + std::to_string(number) +
                        ": malformed line");
    }
    ++index;
  }
}

}  // namespace

DataFolder read_data_folder(const std::string& dir) {
  DataFolder data;
  data.dir = dir;
  using namespace zirk_formats;
  read_table(dir + "/" + kSnpTableName, kSnpTableHeader,
             [&data](const std::vector<std::string>& f) {
               SnpInfo s{f[1], f[2], f[3], f[4], f[5], {0, 0, 0}, 0};
               for (int c = 0; c < 3; ++c) {
                 if (!parse_count(f[6 + c], s.n[c])) return false;
               }
               if (!parse_count(f[9], s.filled)) return false;
               data.snps.push_back(std::move(s));
               return true;
             });
  read_table(dir + "/" + kGeneTableName, kGeneTableHeader,
             [&data](const std::vector<std::string>& f) {
               data.genes.push_back(GeneInfo{f[1], f[2], f[3], f[4]});
               return true;
             });
  return data;
}

}  // namespace zirk_report
