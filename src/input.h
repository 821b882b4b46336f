// Input data: the dimension scan and the readers of the genotype, expression
// and allele files.
//
// `get_parmeters` runs first. It validates the genotype file's layout and
// characters and fixes the globals `n`, `ps` and `ngene`, so the genotype and
// expression readers fill matrices that `main` has already created at their
// final sizes. The allele file is consulted once per SNP by `getallele`.
// Every failure ends the process through `error` with a fixed message.
//
// Genotype line layout: for SNP j, characters 4j, 4j+1, 4j+2 and 4j+3 are the
// first allele, a separator, the second allele and a separator, the last
// separator being the newline. One or two further characters before the
// newline (a trailing separator, a carriage return) leave the SNP count
// unchanged, since ps = (L + 2) / 4 for a first line of L characters.
#ifndef ZIRK_INPUT_H_
#define ZIRK_INPUT_H_

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common.h"

namespace input_detail {

// Outcome of one line read (one fgets into a buffer).
enum class LineRead {
  kLine,   // characters were read; the buffer holds them, zero-terminated
  kEnd,    // nothing read: end of file
  kError,  // nothing read: read error
  kNone,   // nothing read for another reason
};

// Reads like one fgets(buffer, size, file): at most size - 1 characters,
// stopping after a newline. `size` is at least 2 and may exceed INT_MAX;
// such a read is made of chunks that together behave as a single read.
LineRead read_line(char* buffer, std::size_t size, std::FILE* file);

// read_line with the chunk size as a parameter (at least 2), so the
// continuation across chunks can be exercised on small inputs.
LineRead read_line_in_chunks(char* buffer, std::size_t size, std::FILE* file,
                             int chunk);

// The scan reads genotype lines of at most 4,000,001 characters.
inline constexpr std::size_t kGenotypeScanBufferSize = 4000002;

// Buffer sizes and counts derived from the dimensions, in 64-bit arithmetic
// so that no dimension overflows them.
//
// Expression pieces are at most 31 characters per individual plus newline.
inline std::size_t expression_scan_buffer_size(std::int32_t individuals) {
  return 31 * static_cast<std::size_t>(individuals) + 2;
}
// A genotype row of 4·ps + 1 characters (trailing separator and carriage
// return) plus its newline must fit one read, or later rows would shift.
inline std::size_t genotype_buffer_size(std::int32_t snps) {
  return 4 * static_cast<std::size_t>(snps) + 3;
}
inline std::size_t expression_value_count(std::int32_t individuals,
                                          std::int32_t genes) {
  return static_cast<std::size_t>(individuals) *
         static_cast<std::size_t>(genes);
}

inline bool is_allele(char c) {
  return c == 'A' || c == 'C' || c == 'G' || c == 'T' || c == 'a' || c == 'c' ||
         c == 'g' || c == 't';
}

// The reference allele that an allele-file piece gives its SNP: the piece's
// first character. `read` is how the SNP's own read ended and `endOfFile`
// whether the end of the file had been reached by then. Ends the run with
// the format error when the SNP has no piece of its own (an earlier end of
// file, or nothing read) or when its piece holds no newline before the end of
// the file, and with the data error when the character is not an allele.
inline char allele_of_piece(LineRead read, const char* piece, bool endOfFile) {
  if (read != LineRead::kLine ||
      (std::strchr(piece, '\n') == nullptr && !endOfFile)) {
    error("Invalid format in allele data.");
  }
  if (!is_allele(piece[0])) error("Invalid data in allele data.");
  return piece[0];
}

// Adds one to the line count `count`, which must stay a non-negative 32-bit
// value: a file with more lines (or pieces) than that ends the run with
// `message` instead of overflowing the count.
inline void count_line(std::int32_t& count, const char* message) {
  if (count == INT32_MAX) error(message);
  ++count;
}

// Closes the file when the reader is done with it.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct FreeBuffer {
  void operator()(char* buffer) const { std::free(buffer); }
};
using Buffer = std::unique_ptr<char[], FreeBuffer>;

// A zero-filled buffer of `size` bytes, or null when it cannot be allocated.
// calloc takes large buffers straight from fresh, already zero pages, so the
// pages that a read never reaches (most of the 4 MB genotype scan buffer) are
// never touched.
inline Buffer allocate_buffer(std::size_t size) {
  return Buffer(static_cast<char*>(std::calloc(size, 1)));
}

// How reading numbers as calls of fscanf(file, "%lf", ...) ended: every
// call converted one, a call returned 0 (the characters there start no
// number), a call returned EOF (nothing but white space was left), or the
// one further call after the last number did not return EOF.
enum class NumberScan { kRead, kNotNumber, kEndOfFile, kTrailing };

// Reads values[from..count) from `file` by count - from calls of
// fscanf(file, "%lf", ...), then makes one further call, and tells how that
// ended; values up to the failing call are written.
NumberScan scan_numbers_with_fscanf(std::FILE* file, double* values,
                                    std::size_t from, std::size_t count);

// The same outcome and values as scan_numbers_with_fscanf(file, values, 0,
// count) on a file just opened, but faster: white-space separated tokens are
// converted by std::from_chars or std::strtod, which give the same correctly
// rounded values as fscanf, wherever the conversion takes in the whole token.
// From the first token where it does not (garbage, or a number run into
// other characters, whose split fscanf decides) the rest is read by
// scan_numbers_with_fscanf from that token's position on.
NumberScan scan_numbers(std::FILE* file, double* values, std::size_t count);

}  // namespace input_detail

namespace input_detail {

// The readers below work on a file the caller has opened (a file on disk, a
// pipe, or memory): the functions by file name further down only open the
// file, allocate the buffer and call them, so every rule of the formats
// lives here once.

// Scans the genotype file `file` from its current position and sets `n`
// (lines) and `ps` (SNPs, from the first line's length), with the checks that
// get_parmeters describes. `line` is a buffer of kGenotypeScanBufferSize
// bytes whose contents do not matter.
void scan_genotype(std::FILE* file, char* line);

// Counts the expression file's pieces of at most 31·n + 1 characters (n as
// scanned) into `ngene`, through `piece`, a buffer of
// expression_scan_buffer_size(n) bytes.
void count_expression_pieces(std::FILE* file, char* piece);

// read_genotype on the open file `file`, through `buffer`, a zero-filled
// buffer of genotype_buffer_size(ps) bytes.
template <class Matrix>
void read_genotype_rows(Matrix& gmat, std::FILE* file, char* buffer) {
  const std::size_t size = genotype_buffer_size(ps);
  const char* line = buffer;
  const std::size_t rows = static_cast<std::size_t>(n);
  const std::size_t snps = static_cast<std::size_t>(ps);
  for (std::size_t i = 0; i < rows; ++i) {
    const LineRead read = read_line(buffer, size, file);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kError) {
      error("Aborted due to input error (genome data).");
    }
    if (read == LineRead::kNone) continue;
    for (std::size_t j = 0; j < snps; ++j) {
      gmat(i, 2 * j) = line[4 * j];
      gmat(i, 2 * j + 1) = line[4 * j + 2];
    }
  }
}

// read_expression on the open file `file`, with `values` room for
// expression_value_count(n, ngene) numbers.
template <class Matrix>
void read_expression_values(Matrix& emat, std::FILE* file, double* values) {
  const std::size_t count = expression_value_count(n, ngene);
  if (count > 0) {
    switch (scan_numbers(file, values, count)) {
      case NumberScan::kRead:
        break;
      case NumberScan::kNotNumber:
        error("Invalid data in expressions");
      case NumberScan::kEndOfFile:
      case NumberScan::kTrailing:
        error("Invalid format in expression data.");
    }
  }
  const std::size_t rows = static_cast<std::size_t>(n);
  const std::size_t genes = static_cast<std::size_t>(ngene);
  for (std::size_t g = 0; g < genes; ++g) {
    for (std::size_t i = 0; i < rows; ++i) {
      emat(i, g) = values[g * rows + i];
    }
  }
}

// getallele's answer for SNP s from the allele file `file`, just opened.
template <class Index>
char allele_of_snp(Index s, std::FILE* file) {
  char piece[6] = {};
  const std::uint64_t reads = static_cast<std::uint64_t>(s) + 1;
  LineRead read = LineRead::kNone;
  for (std::uint64_t k = 0; k < reads; ++k) {
    read = read_line(piece, sizeof piece, file);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kError) {
      error("Aborted due to input error (allele data).");
    }
  }
  // Only the (s+1)-th read holds SNP s's own line.
  return allele_of_piece(read, piece, std::feof(file));
}

}  // namespace input_detail

// Scans the genotype file, then the expression file, and sets `n` (genotype
// lines), `ps` (SNPs, from the first line's length) and `ngene` (expression
// lines, counted in pieces of at most 31·n + 1 characters). Rejects a
// genotype file whose first line holds two equal neighbouring characters,
// whose lines differ in length from the first (a last line without newline
// only needs room for every allele), or whose allele positions hold anything
// but A, C, G, T in either case. A file of more than 2^31 - 1 lines (or
// pieces) ends the run with its input error message.
template <class GenotypeName, class ExpressionName>
void get_parmeters(GenotypeName genotypeFile, ExpressionName expressionFile) {
  ps = 0;
  n = 0;
  input_detail::File genotype(std::fopen(genotypeFile, "r"));
  if (!genotype) error("Cannot open the genome file.");
  input_detail::Buffer buffer =
      input_detail::allocate_buffer(input_detail::kGenotypeScanBufferSize);
  if (!buffer) error("Absorted due to allocation error.");
  input_detail::scan_genotype(genotype.get(), buffer.get());
  genotype.reset();
  buffer.reset();

  ngene = 0;
  input_detail::File expression(std::fopen(expressionFile, "r"));
  if (!expression) error("Cannot open the expression file.");
  buffer = input_detail::allocate_buffer(
      input_detail::expression_scan_buffer_size(n));
  if (!buffer) error("Aborted due to allocation error.");
  input_detail::count_expression_pieces(expression.get(), buffer.get());
}

// Fills `gmat` (n rows, 2·ps columns, created by the caller) from a genotype
// file that the scan has validated: gmat(i, 2j) and gmat(i, 2j+1) become
// characters 4j and 4j+2 of line i. Checks only that the file opens and
// reads; rows past an early end of file are left unchanged.
template <class Matrix, class Name>
void read_genotype(Matrix& gmat, Name fileName) {
  input_detail::Buffer buffer =
      input_detail::allocate_buffer(input_detail::genotype_buffer_size(ps));
  if (!buffer) error("Aborted due to allocation error.");
  input_detail::File file(std::fopen(fileName, "r"));
  if (!file) error("Cannot open the genome file.");
  input_detail::read_genotype_rows(gmat, file.get(), buffer.get());
}

// Fills `emat` (n rows, ngene columns, created by the caller) from the
// expression file read as one stream of exactly n·ngene white-space
// separated numbers, gene by gene: value k belongs to individual k mod n and
// gene k div n. Rejects a token that is not a number, too few numbers and
// anything but white space after the last one.
template <class Matrix, class Name>
void read_expression(Matrix& emat, Name fileName) {
  const std::size_t count = input_detail::expression_value_count(n, ngene);
  std::unique_ptr<double[]> values(new (std::nothrow) double[count]);
  if (!values) error("Aborted due to allocation error.");
  input_detail::File file(std::fopen(fileName, "r"));
  if (!file) error("Cannot open the expression file.");
  input_detail::read_expression_values(emat, file.get(), values.get());
}

// Sets `allele` to the first character of SNP s's line (line s, from 0) of
// the allele file. The file is read in pieces of at most 5 characters, so a
// line of 5 or more characters counts as two or more lines. Rejects a SNP
// whose piece holds no newline before the end of the file, a SNP the file
// has no line for, and a first character other than A, C, G, T in either
// case.
template <class Index, class Char, class Name>
void getallele(Index s, Char& allele, Name fileName) {
  input_detail::File file(std::fopen(fileName, "r"));
  if (!file) error("Cannot open the allele file.");
  allele = input_detail::allele_of_snp(s, file.get());
}

#endif  // ZIRK_INPUT_H_
