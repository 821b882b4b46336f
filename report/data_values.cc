#include "data_values.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "report_error.h"

namespace zirk_report {

namespace {

constexpr const char* kFiles[] = {"geno.txt", "allele.txt", "expr.txt"};

std::ifstream open(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ReportError(path + ": cannot open");
  return in;
}

[[noreturn]] void bad_line(const std::string& path, std::uint64_t line,
                           const std::string& cause) {
  throw ReportError(path + ": line " + std::to_string(line) + ": " +
                    cause);
}

bool next_line(std::ifstream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace

bool DataValues::any_present(const std::string& dir) {
  for (const char* f : kFiles) {
    if (std::filesystem::exists(dir + "/" + f)) return true;
  }
  return false;
}

DataValues::DataValues(const std::string& dir,
                       const std::set<std::uint64_t>& snps,
                       const std::set<std::uint32_t>& genes) {
  std::string line;
  // The reference allele of each wanted SNP.
  std::map<std::uint64_t, char> reference;
  {
    const std::string path = dir + "/allele.txt";
    std::ifstream in = open(path);
    std::uint64_t s = 0;
    for (auto want = snps.begin(); want != snps.end(); ++s) {
      if (!next_line(in, line)) {
        bad_line(path, s + 1,
                 "no allele line for SNP " + std::to_string(*want));
      }
      if (s != *want) continue;
      if (line.empty()) bad_line(path, s + 1, "empty allele line");
      reference[s] = line[0];
      ++want;
    }
  }
  // Lines of geno.txt: the individuals.
  std::uint64_t number = 0;
  {
    const std::string path = dir + "/geno.txt";
    std::ifstream in = open(path);
    while (next_line(in, line)) {
      ++number;
      for (const auto& [s, ref] : reference) {
        if (line.size() < 4 * s + 3) {
          bad_line(path, number, "too short for SNP " + std::to_string(s));
        }
        const bool first = line[4 * s] == ref, second = line[4 * s + 2] == ref;
        classes_[s].push_back(first && second ? 0 : first != second ? 1 : 2);
      }
    }
  }
  const std::size_t individuals = number;
  const std::string strata = dir + "/" + zirk_formats::kStrataName;
  if (std::filesystem::exists(strata)) {
    strata_ = zirk_formats::read_strata(strata, individuals, dir + "/geno.txt");
  }
  {
    const std::string path = dir + "/expr.txt";
    std::ifstream in = open(path);
    std::uint32_t g = 0;
    for (auto want = genes.begin(); want != genes.end(); ++g) {
      if (!next_line(in, line)) {
        bad_line(path, g + 1, "no line for gene " + std::to_string(*want));
      }
      if (g != *want) continue;
      std::vector<double>& v = values_[g];
      const char* p = line.data();
      const char* end = p + line.size();
      for (;;) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p == end) break;
        double x = 0;
        const auto r = std::from_chars(p, end, x);
        if (r.ec != std::errc() ||
            (r.ptr != end && *r.ptr != ' ' && *r.ptr != '\t')) {
          bad_line(path, g + 1, "not a number");
        }
        v.push_back(std::log10(x));
        p = r.ptr;
      }
      if (!classes_.empty() && v.size() != individuals) {
        bad_line(path, g + 1,
                 std::to_string(v.size()) + " values for " +
                     std::to_string(individuals) + " individuals");
      }
      ++want;
    }
  }
}

}  // namespace zirk_report
