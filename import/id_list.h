// ID list files (--snps, --genes, --samples): one ID per line.
#ifndef ZIRK_IMPORT_ID_LIST_H_
#define ZIRK_IMPORT_ID_LIST_H_

#include <string>
#include <unordered_set>

namespace zirk_import {

// Reads the IDs of `path` (plain or compressed): the first blank-separated
// word of each line; empty lines are ignored. Throws ImportError naming the
// file when it cannot be read or holds no ID.
std::unordered_set<std::string> read_id_list(const std::string& path);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_ID_LIST_H_
