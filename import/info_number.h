// A per-variant number in the INFO column that a filter reads: the
// imputation quality (R2, DR2 or INFO, as imputation servers write it) or
// the Hardy-Weinberg exact-test p-value that `bcftools +fill-tags -- -t HWE`
// writes as HWE.
#ifndef ZIRK_IMPORT_INFO_NUMBER_H_
#define ZIRK_IMPORT_INFO_NUMBER_H_

#include <htslib/vcf.h>

#include <optional>
#include <string>

namespace zirk_import {

class InfoNumber {
 public:
  // The INFO field `name` of `header`. Throws ImportError naming `path` and
  // `option` (the option that needs the field) when the header does not
  // define it or declares it other than Float.
  InfoNumber(bcf_hdr_t* header, const std::string& name,
             const std::string& path, const std::string& option);
  ~InfoNumber();
  InfoNumber(const InfoNumber&) = delete;
  InfoNumber& operator=(const InfoNumber&) = delete;

  const std::string& name() const { return name_; }

  // The value at `record` (the first, for a per-ALT field); none when the
  // record has no value or a missing one ('.', or text htslib could not read
  // as a number).
  std::optional<float> read(bcf1_t* record);

 private:
  bcf_hdr_t* header_;
  std::string name_;
  float* values_ = nullptr;
  int capacity_ = 0;
};

// Whether `value` is below `threshold`, both as the VCF's floats, so that
// R2=0.7 reaches 0.7.
inline bool below(float value, double threshold) {
  return value < static_cast<float>(threshold);
}

// The first of R2, DR2, INFO that `header` defines as an INFO field, or ""
// when it defines none.
std::string default_r2_field(const bcf_hdr_t* header);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_INFO_NUMBER_H_
