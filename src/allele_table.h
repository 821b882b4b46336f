// The allele file read once for a whole run.
//
// getallele() opens the allele file for every SNP and reads it from its
// start down to the SNP's line, which costs a run time quadratic in the SNP
// count. AlleleTable reads the file once, in the same pieces of at most five
// characters, and remembers for every read what getallele() would have seen
// at that point: the piece, how the read ended and whether the end of the
// file had been reached. lookup() then reaches the same verdict for SNP s as
// getallele(s, ...) would, and raises the same error, at the moment it is
// asked: a bad line of SNP k still ends the run only when SNP k is reached.
#ifndef ZIRK_ALLELE_TABLE_H_
#define ZIRK_ALLELE_TABLE_H_

#include <cstddef>
#include <cstdio>
#include <vector>

#include "input.h"

class AlleleTable {
 public:
  // Reads the first `snps` pieces of `fileName` (fewer when the file ends or
  // a read fails first). Ends the run through error() with "Error: Cannot
  // open the allele file." when the file cannot be opened.
  AlleleTable(const char* fileName, std::size_t snps);
  // The same from `file`, opened by the caller.
  AlleleTable(std::FILE* file, std::size_t snps);

  // Returns SNP s's reference allele, or ends the run through error() with
  // the message getallele() gives for that SNP.
  char lookup(std::size_t s) const;

 private:
  void read_pieces(std::FILE* file, std::size_t snps);

  struct Piece {
    char text[6];
    input_detail::LineRead read;  // a line, or "nothing read, retry"
    bool endOfFile;  // the stream's end-of-file indicator after this read
  };
  std::vector<Piece> pieces_;
  // Set when the read after the last stored piece failed; later SNPs then
  // see the read error rather than the end of the file.
  bool readFailed_ = false;
};

#endif  // ZIRK_ALLELE_TABLE_H_
