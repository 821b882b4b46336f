#include "variant_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "import_error.h"

namespace zirk_import {

VariantSource::VariantSource(const std::string& path, int threads)
    : path_(path) {
  errno = 0;
  file_ = hts_open(path.c_str(), "r");
  if (!file_) {
    throw ImportError(path + ": cannot open: " +
                      (errno ? std::strerror(errno) : "unknown error"));
  }
  try {
    check_header(threads);
  } catch (...) {
    release();
    throw;
  }
}

void VariantSource::check_header(int threads) {
  const std::string& path = path_;
  const htsFormat* format = hts_get_format(file_);
  if (format->category != variant_data ||
      (format->format != vcf && format->format != bcf)) {
    throw ImportError(path + ": not a VCF or BCF file");
  }
  if (threads > 0) hts_set_threads(file_, threads);
  header_ = bcf_hdr_read(file_);
  if (!header_) {
    throw ImportError(
        path +
        ": cannot read the VCF header (malformed, or a sample ID repeated)");
  }
  record_ = bcf_init();
  for (const char* field : {"GT", "GP", "GL", "PL", "DS"}) {
    const int id = bcf_hdr_id2int(header_, BCF_DT_ID, field);
    if (id >= 0 && bcf_hdr_idinfo_exists(header_, BCF_HL_FMT, id)) return;
  }
  throw ImportError(path +
                    ": no GT, GP, GL, PL or DS field in the header "
                    "(genotypes needed)");
}

VariantSource::~VariantSource() { release(); }

void VariantSource::release() {
  std::free(line_.s);
  if (iterator_) hts_itr_destroy(iterator_);
  if (tabix_) tbx_destroy(tabix_);
  if (index_) hts_idx_destroy(index_);
  if (record_) bcf_destroy(record_);
  if (header_) bcf_hdr_destroy(header_);
  if (file_) hts_close(file_);
  line_.s = nullptr;
  iterator_ = nullptr;
  tabix_ = nullptr;
  index_ = nullptr;
  record_ = nullptr;
  header_ = nullptr;
  file_ = nullptr;
}

std::vector<std::string> VariantSource::samples() const {
  std::vector<std::string> ids;
  for (int i = 0; i < bcf_hdr_nsamples(header_); ++i) {
    ids.emplace_back(header_->samples[i]);
  }
  return ids;
}

void VariantSource::set_region(const std::string& region) {
  const char** names = nullptr;
  int count = 0;
  const std::string no_index = path_ + ": --region needs an index (" + path_ +
                               ".tbi or .csi; make one with 'bcftools index')";
  if (hts_get_format(file_)->format == bcf) {
    index_ = bcf_index_load3(path_.c_str(), nullptr, HTS_IDX_SILENT_FAIL);
    if (!index_) throw ImportError(no_index);
    names = bcf_index_seqnames(index_, header_, &count);
  } else {
    if (hts_get_format(file_)->compression != bgzf) {
      throw ImportError(path_ +
                        ": --region needs a bgzip-compressed, indexed file");
    }
    tabix_ = tbx_index_load3(path_.c_str(), nullptr, HTS_IDX_SILENT_FAIL);
    if (!tabix_) throw ImportError(no_index);
    names = tbx_seqnames(tabix_, &count);
  }
  const std::string contig = region.substr(0, region.find(':'));
  std::string known;
  bool found = false;
  for (int i = 0; i < count; ++i) {
    found = found || contig == names[i];
    if (i < 10) known += std::string(known.empty() ? "" : ", ") + names[i];
  }
  std::free(names);
  if (!found) {
    throw ImportError(path_ + ": the index has no contig '" + contig +
                      "' (it has: " + (known.empty() ? "none" : known) +
                      (count > 10 ? ", ..." : "") + ")");
  }
  iterator_ = tabix_ ? tbx_itr_querys(tabix_, region.c_str())
                     : bcf_itr_querys(index_, header_, region.c_str());
  if (!iterator_) {
    throw ImportError("--region: cannot parse '" + region +
                      "' (expected CHR, CHR:BEG or CHR:BEG-END)");
  }
}

bool VariantSource::next() {
  int r;
  if (tabix_) {
    r = tbx_itr_next(file_, tabix_, iterator_, &line_);
    if (r >= 0) r = vcf_parse1(&line_, header_, record_) == 0 ? 0 : -2;
  } else if (iterator_) {
    r = bcf_itr_next(file_, iterator_, record_);
  } else {
    r = bcf_read(file_, header_, record_);
  }
  if (r == -1) return false;
  if (r < -1 || record_->errcode != 0) {
    throw ImportError(path_ + ": malformed or truncated record after " +
                      std::to_string(records_) + " records");
  }
  ++records_;
  bcf_unpack(record_, BCF_UN_STR);
  return true;
}

}  // namespace zirk_import
