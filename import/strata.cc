#include "strata.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "import_error.h"
#include "text_lines.h"

namespace zirk_import {

std::vector<std::string> strata_from_file(
    const std::string& path, const std::vector<std::string>& kept,
    const std::vector<std::string>& vcf_samples,
    const std::vector<std::string>& expression_samples) {
  std::unordered_set<std::string_view> known(vcf_samples.begin(),
                                             vcf_samples.end());
  known.insert(expression_samples.begin(), expression_samples.end());
  std::unordered_map<std::string, std::string> group_of;
  LineReader reader(path);
  std::string_view line;
  std::vector<std::string_view> fields;
  while (reader.next(line)) {
    split_fields(line, line.find('\t') != std::string_view::npos, fields);
    if (fields.empty()) continue;
    const std::string where = path + ": line " + std::to_string(reader.number());
    if (fields.size() != 2 || fields[0].empty() || fields[1].empty()) {
      throw ImportError(where + ": " + std::to_string(fields.size()) +
                        " fields, not a sample ID and a group name");
    }
    if (!known.contains(fields[0])) {
      throw ImportError(where + ": sample '" + std::string(fields[0]) +
                        "' is in neither the VCF nor the expression file");
    }
    if (!group_of.emplace(fields[0], fields[1]).second) {
      throw ImportError(where + ": sample '" + std::string(fields[0]) +
                        "' repeats");
    }
  }
  std::vector<std::string> groups;
  groups.reserve(kept.size());
  for (const std::string& id : kept) {
    const auto it = group_of.find(id);
    if (it == group_of.end()) {
      throw ImportError(path + ": kept sample '" + id + "' has no group");
    }
    groups.push_back(it->second);
  }
  return groups;
}

std::vector<std::uint32_t> group_indices(const std::vector<std::string>& groups,
                                         const std::string& path) {
  std::unordered_map<std::string_view, std::uint32_t> index;
  std::vector<std::uint32_t> result;
  result.reserve(groups.size());
  for (const std::string& g : groups) {
    const auto [it, added] =
        index.try_emplace(g, static_cast<std::uint32_t>(index.size()));
    result.push_back(it->second);
  }
  if (index.size() < 2) {
    throw ImportError(path + ": all " + std::to_string(groups.size()) +
                      " kept samples are in one group" +
                      (groups.empty() ? "" : " '" + groups[0] + "'") +
                      "; strata need at least two");
  }
  return result;
}

}  // namespace zirk_import
