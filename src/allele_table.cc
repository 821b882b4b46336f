#include "allele_table.h"

#include <cstdio>

#include "common.h"
#include "input.h"

AlleleTable::AlleleTable(const char* fileName, std::size_t snps) {
  input_detail::File file(std::fopen(fileName, "r"));
  if (!file) error("Cannot open the allele file.");
  read_pieces(file.get(), snps);
}

AlleleTable::AlleleTable(std::FILE* file, std::size_t snps) {
  read_pieces(file, snps);
}

void AlleleTable::read_pieces(std::FILE* file, std::size_t snps) {
  using input_detail::LineRead;
  pieces_.reserve(snps);
  while (pieces_.size() < snps) {
    Piece piece{};
    const LineRead read =
        input_detail::read_line(piece.text, sizeof piece.text, file);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kError) {
      readFailed_ = true;
      break;
    }
    piece.read = read;
    piece.endOfFile = std::feof(file) != 0;
    pieces_.push_back(piece);
  }
}

char AlleleTable::lookup(std::size_t s) const {
  if (s >= pieces_.size()) {
    if (readFailed_) {
      error("Aborted due to input error (allele data).");
    }
    // The reads ended before SNP s: it has no piece of its own.
    return input_detail::allele_of_piece(input_detail::LineRead::kEnd, "",
                                         true);
  }
  const Piece& piece = pieces_[s];
  return input_detail::allele_of_piece(piece.read, piece.text, piece.endOfFile);
}
