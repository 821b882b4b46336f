#include "strata_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_map>

#include "error_line.h"

namespace zirk_formats {

Strata read_strata(const std::string& path, std::size_t individuals,
                   const std::string& genotype) {
  std::ifstream in(path);
  if (!in) throw Failure(path + ": cannot open: " + std::strerror(errno));
  Strata strata;
  std::unordered_map<std::string, std::uint32_t> index;
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.find('\t') != std::string::npos) {
      throw Failure(path + ": line " + std::to_string(number) +
                    (line.empty() ? ": no group name" : ": a tab in the group name"));
    }
    const auto [it, added] = index.try_emplace(
        line, static_cast<std::uint32_t>(strata.names.size()));
    if (added) strata.names.push_back(line);
    strata.group.push_back(it->second);
  }
  if (in.bad()) throw Failure(path + ": cannot read: " + std::strerror(errno));
  if (strata.group.size() != individuals) {
    throw Failure(path + ": " + std::to_string(strata.group.size()) +
                  " lines, but " + genotype + " has " +
                  std::to_string(individuals) + " individuals");
  }
  return strata;
}

}  // namespace zirk_formats
