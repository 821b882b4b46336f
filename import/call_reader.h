// Where each kept individual's call at a record comes from. The call is GT
// when the record holds GT; otherwise the most probable genotype of GP (or of
// GL or PL turned into probabilities), otherwise DS rounded to the nearest
// whole number. With a certainty threshold, a call whose largest genotype
// probability (GP, else GL, else PL) is below it counts as missing; a record
// with none of the three keeps its calls as they are. Missing calls are
// marked with kNoCall, for the importer to fill or to leave the variant out.
#ifndef ZIRK_IMPORT_CALL_READER_H_
#define ZIRK_IMPORT_CALL_READER_H_

#include <htslib/vcf.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "genotype_calls.h"

namespace zirk_import {

// The FORMAT fields, in the order in which they are preferred.
enum class CallField { kGT, kGP, kGL, kPL, kDS, kNone };
const char* field_name(CallField field);

class CallReader {
 public:
  // Learns which of GT, GP, GL, PL and DS the header defines. `min_gp` of 0
  // keeps every call. Throws ImportError naming `path` when `min_gp` is above
  // 0 and the header defines none of GP, GL, PL and DS.
  CallReader(bcf_hdr_t* header, double min_gp, const std::string& path);
  ~CallReader();
  CallReader(const CallReader&) = delete;
  CallReader& operator=(const CallReader&) = delete;

  struct Calls {
    CallVerdict verdict = CallVerdict::kOk;
    CallField call_from = CallField::kNone;
    CallField certainty_from = CallField::kNone;
    std::size_t missing = 0;    // kNoCall codes that were missing in the file
    std::size_t uncertain = 0;  // kNoCall codes below the threshold
  };

  // Fills codes[k] for the k-th of `kept` (VCF sample columns) of `record`,
  // unpacked to BCF_UN_FMT: the two-bit code of genotype_calls.h, or
  // kNoCall. verdict is kHaploid or kPolyploid for a kept GT call of another
  // ploidy, kNoField when the record holds no field to call from. Throws
  // ImportError naming the variant `id` for a GP, GL or PL that is not three
  // values per individual, a GP outside 0..1 or whose sum is not 1 within
  // rounding (0.02), or a DS outside 0..2.
  Calls read(bcf1_t* record, const std::vector<int>& kept,
             const std::string& id, std::uint8_t* codes);

 private:
  // The prefix of an error about variant `id`.
  std::string where(const std::string& id) const;
  // Fetches the first of GP, GL, PL that the record holds (PL into ints_,
  // the others into floats_) and returns it, or kNone.
  CallField fetch_probabilities(bcf1_t* record, const std::string& id);
  // The genotype probabilities of VCF sample `sample` from the fetched
  // `field`; false when its call is missing.
  bool probabilities(CallField field, int sample, const std::string& id,
                     double p[3]);

  // Whether probability `p` is below the threshold. Both are compared as
  // the VCF's floats, so that a GP written 0.9 reaches --min-gp 0.9.
  bool below(double p) const { return static_cast<float>(p) < min_gp_; }

  bcf_hdr_t* header_;
  float min_gp_;
  std::string path_;
  bool defined_[5] = {false, false, false, false, false};
  std::int32_t* ints_ = nullptr;  // GT, then PL
  int ints_capacity_ = 0;
  float* floats_ = nullptr;  // GP, GL or DS
  int floats_capacity_ = 0;
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_CALL_READER_H_
