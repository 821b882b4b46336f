#include "info_number.h"

#include <cstdlib>

#include "import_error.h"

namespace zirk_import {

namespace {

bool defines_info(const bcf_hdr_t* header, const char* name) {
  const int id = bcf_hdr_id2int(header, BCF_DT_ID, name);
  return id >= 0 && bcf_hdr_idinfo_exists(header, BCF_HL_INFO, id);
}

}  // namespace

InfoNumber::InfoNumber(bcf_hdr_t* header, const std::string& name,
                       const std::string& path, const std::string& option)
    : header_(header), name_(name) {
  if (!defines_info(header, name.c_str())) {
    throw ImportError(path + ": " + option + " needs INFO/" + name +
                      ", which the header does not define");
  }
  const int id = bcf_hdr_id2int(header, BCF_DT_ID, name.c_str());
  if (bcf_hdr_id2type(header, BCF_HL_INFO, id) != BCF_HT_REAL) {
    throw ImportError(path + ": " + option + ": the header declares INFO/" +
                      name + " other than Type=Float");
  }
}

InfoNumber::~InfoNumber() { std::free(values_); }

std::optional<float> InfoNumber::read(bcf1_t* record) {
  const int n =
      bcf_get_info_float(header_, record, name_.c_str(), &values_, &capacity_);
  if (n <= 0 || bcf_float_is_missing(values_[0])) return std::nullopt;
  return values_[0];
}

std::string default_r2_field(const bcf_hdr_t* header) {
  for (const char* name : {"R2", "DR2", "INFO"}) {
    if (defines_info(header, name)) return name;
  }
  return "";
}

}  // namespace zirk_import
