// A stream of VCF/BCF records through htslib, the whole file or one indexed
// region, with the checks that turn htslib's failures into one-line causes.
#ifndef ZIRK_IMPORT_VARIANT_SOURCE_H_
#define ZIRK_IMPORT_VARIANT_SOURCE_H_

#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>

#include <string>
#include <vector>

namespace zirk_import {

class VariantSource {
 public:
  // Opens `path` ("-": standard input) with `threads` extra decompression
  // threads and reads its header. Throws ImportError naming the file when it
  // cannot be opened, is not VCF or BCF, has an unreadable header (htslib
  // also refuses a repeated sample ID there) or declares none of the FORMAT
  // fields a call is read from (GT, GP, GL, PL, DS).
  VariantSource(const std::string& path, int threads);
  ~VariantSource();
  VariantSource(const VariantSource&) = delete;
  VariantSource& operator=(const VariantSource&) = delete;

  bcf_hdr_t* header() const { return header_; }
  std::vector<std::string> samples() const;

  // Restricts the stream to `region` (CHR, CHR:BEG or CHR:BEG-END). Throws
  // ImportError when the file has no index or the index knows no contig of
  // that name (the message lists the contigs it knows).
  void set_region(const std::string& region);

  // Reads the next record into record(); false at the end. Throws
  // ImportError on a malformed or truncated record. The record is unpacked
  // up to BCF_UN_STR (ID and alleles) only.
  bool next();
  bcf1_t* record() const { return record_; }

 private:
  void check_header(int threads);
  void release();

  std::string path_;
  htsFile* file_ = nullptr;
  bcf_hdr_t* header_ = nullptr;
  bcf1_t* record_ = nullptr;
  hts_idx_t* index_ = nullptr;  // BCF region
  tbx_t* tabix_ = nullptr;      // compressed VCF region
  hts_itr_t* iterator_ = nullptr;
  kstring_t line_ = {0, 0, nullptr};
  long records_ = 0;
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_VARIANT_SOURCE_H_
