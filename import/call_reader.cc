#include "call_reader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "import_error.h"

namespace zirk_import {

namespace {

constexpr const char* kNames[] = {"GT", "GP", "GL", "PL", "DS", "none"};
// How far a GP's sum may stray from 1: two or three decimals per value, as
// imputation servers write them, round to within 0.015.
constexpr double kSumTolerance = 0.02;

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

}  // namespace

const char* field_name(CallField field) {
  return kNames[static_cast<int>(field)];
}

CallReader::CallReader(bcf_hdr_t* header, double min_gp,
                       const std::string& path)
    : header_(header), min_gp_(static_cast<float>(min_gp)), path_(path) {
  for (int f = 0; f < 5; ++f) {
    const int id = bcf_hdr_id2int(header, BCF_DT_ID, kNames[f]);
    defined_[f] = id >= 0 && bcf_hdr_idinfo_exists(header, BCF_HL_FMT, id);
  }
  if (min_gp > 0 && !defined_[1] && !defined_[2] && !defined_[3] &&
      !defined_[4]) {
    throw ImportError(path +
                      ": --min-gp needs genotype probabilities or dosages, "
                      "and the header defines none of FORMAT/GP, GL, PL, DS");
  }
}

CallReader::~CallReader() {
  std::free(ints_);
  std::free(floats_);
}

std::string CallReader::where(const std::string& id) const {
  return path_ + ": variant " + id + ": ";
}

CallField CallReader::fetch_probabilities(bcf1_t* record,
                                          const std::string& id) {
  const int samples = bcf_hdr_nsamples(header_);
  for (CallField field : {CallField::kGP, CallField::kGL, CallField::kPL}) {
    const int f = static_cast<int>(field);
    if (!defined_[f]) continue;
    const int n = field == CallField::kPL
                      ? bcf_get_format_int32(header_, record, kNames[f], &ints_,
                                             &ints_capacity_)
                      : bcf_get_format_float(header_, record, kNames[f],
                                             &floats_, &floats_capacity_);
    if (n == -2) {
      throw ImportError(where(id) + "FORMAT/" + kNames[f] + " is not of type " +
                        (field == CallField::kPL ? "Integer" : "Float"));
    }
    if (n <= 0) continue;  // not in this record
    if (n != 3 * samples) {
      throw ImportError(where(id) + "FORMAT/" + kNames[f] + " holds " +
                        std::to_string(n / samples) +
                        " values per individual, not 3 (a biallelic "
                        "diploid call's)");
    }
    return field;
  }
  return CallField::kNone;
}

bool CallReader::probabilities(CallField field, int sample,
                               const std::string& id, double p[3]) {
  const char* name = kNames[static_cast<int>(field)];
  const std::string who =
      where(id) + name + " of " + header_->samples[sample] + " ";
  if (field == CallField::kPL) {
    const std::int32_t* v = ints_ + static_cast<std::size_t>(sample) * 3;
    if (v[0] == bcf_int32_missing || v[0] == bcf_int32_vector_end) {
      return false;
    }
    std::int32_t low = v[0];
    for (int g = 0; g < 3; ++g) {
      if (v[g] == bcf_int32_missing || v[g] == bcf_int32_vector_end) {
        throw ImportError(who + "is not three numbers");
      }
      if (v[g] < 0) throw ImportError(who + "holds a negative value");
      if (v[g] < low) low = v[g];
    }
    for (int g = 0; g < 3; ++g) p[g] = std::pow(10.0, -(v[g] - low) / 10.0);
  } else {
    const float* v = floats_ + static_cast<std::size_t>(sample) * 3;
    if (bcf_float_is_missing(v[0]) || bcf_float_is_vector_end(v[0])) {
      return false;
    }
    for (int g = 0; g < 3; ++g) {
      if (bcf_float_is_missing(v[g]) || bcf_float_is_vector_end(v[g]) ||
          !std::isfinite(v[g])) {
        throw ImportError(who + "is not three numbers");
      }
    }
    if (field == CallField::kGP) {
      double sum = 0;
      for (int g = 0; g < 3; ++g) {
        if (v[g] < 0 || v[g] > 1) {
          throw ImportError(who + "holds " + number_text(v[g]) +
                            ", not a probability");
        }
        p[g] = v[g];
        sum += v[g];
      }
      if (std::fabs(sum - 1) > kSumTolerance) {
        throw ImportError(who + "sums to " + number_text(sum) + ", not 1");
      }
      return true;
    }
    const float high = std::fmax(v[0], std::fmax(v[1], v[2]));
    for (int g = 0; g < 3; ++g) p[g] = std::pow(10.0, v[g] - high);
  }
  // Likelihoods to probabilities under a flat prior.
  const double sum = p[0] + p[1] + p[2];
  for (int g = 0; g < 3; ++g) p[g] /= sum;
  return true;
}

CallReader::Calls CallReader::read(bcf1_t* record, const std::vector<int>& kept,
                                   const std::string& id, std::uint8_t* codes) {
  Calls calls;
  int gt_values = 0;
  if (defined_[0]) {
    gt_values = bcf_get_genotypes(header_, record, &ints_, &ints_capacity_);
  }
  const int samples = bcf_hdr_nsamples(header_);
  if (gt_values > 0) {
    calls.call_from = CallField::kGT;
    calls.verdict = genotype_codes(ints_, gt_values / samples, kept, codes);
    if (calls.verdict != CallVerdict::kOk) return calls;
    for (std::size_t k = 0; k < kept.size(); ++k) {
      calls.missing += codes[k] == kNoCall;
    }
    if (min_gp_ <= 0) return calls;
    // PL may now overwrite GT in ints_: the codes are taken.
    calls.certainty_from = fetch_probabilities(record, id);
    if (calls.certainty_from == CallField::kNone) return calls;
    for (std::size_t k = 0; k < kept.size(); ++k) {
      if (codes[k] == kNoCall) continue;
      double p[3];
      if (!probabilities(calls.certainty_from, kept[k], id, p) ||
          below(std::fmax(p[0], std::fmax(p[1], p[2])))) {
        codes[k] = kNoCall;
        ++calls.uncertain;
      }
    }
    return calls;
  }
  calls.certainty_from = fetch_probabilities(record, id);
  if (calls.certainty_from != CallField::kNone) {
    calls.call_from = calls.certainty_from;
    for (std::size_t k = 0; k < kept.size(); ++k) {
      double p[3];
      codes[k] = kNoCall;
      if (!probabilities(calls.certainty_from, kept[k], id, p)) {
        ++calls.missing;
        continue;
      }
      // The most probable genotype; of equal ones, the fewer ALT copies.
      int best = 0;
      for (int g = 1; g < 3; ++g) best = p[g] > p[best] ? g : best;
      if (below(p[best])) {
        ++calls.uncertain;
      } else {
        codes[k] = class_code(best);
      }
    }
    return calls;
  }
  const int n = defined_[4] ? bcf_get_format_float(header_, record, "DS",
                                                   &floats_, &floats_capacity_)
                            : -3;
  if (n == -2) throw ImportError(where(id) + "FORMAT/DS is not of type Float");
  if (n <= 0) {
    calls.verdict = CallVerdict::kNoField;
    return calls;
  }
  if (n != samples) {
    throw ImportError(where(id) + "FORMAT/DS holds " +
                      std::to_string(n / samples) +
                      " values per individual, not 1");
  }
  calls.call_from = CallField::kDS;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const float ds = floats_[kept[k]];
    codes[k] = kNoCall;
    if (bcf_float_is_missing(ds) || bcf_float_is_vector_end(ds)) {
      ++calls.missing;
      continue;
    }
    if (!(ds >= 0 && ds <= 2)) {
      throw ImportError(where(id) + "DS of " + header_->samples[kept[k]] +
                        " is " + number_text(ds) +
                        ", not a dosage from 0 to 2");
    }
    // The nearest number of ALT copies; a half rounds up.
    codes[k] = class_code(static_cast<int>(std::floor(ds + 0.5)));
  }
  return calls;
}

}  // namespace zirk_import
