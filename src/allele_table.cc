#include "allele_table.h"

#include <cstdio>
#include <cstring>

#include "common.h"
#include "input.h"

AlleleTable::AlleleTable(const char* fileName, std::size_t snps) {
  using input_detail::LineRead;
  input_detail::File file(std::fopen(fileName, "r"));
  if (!file) error("Error: Cannot open the allele file.");
  pieces_.reserve(snps);
  while (pieces_.size() < snps) {
    Piece piece{};
    const LineRead read =
        input_detail::read_line(piece.text, sizeof piece.text, file.get());
    if (read == LineRead::kEnd) {
      stop_ = Stop::kEnd;
      break;
    }
    if (read == LineRead::kError) {
      stop_ = Stop::kError;
      break;
    }
    piece.gotLine = read == LineRead::kLine;
    piece.endOfFile = std::feof(file.get()) != 0;
    pieces_.push_back(piece);
  }
}

char AlleleTable::lookup(std::size_t s) const {
  if (s >= pieces_.size()) {
    if (stop_ == Stop::kError) {
      error("Error: Aborted due to input error (allele data).");
    }
    error("Error: Invalid format in allele data.");
  }
  const Piece& piece = pieces_[s];
  if (!piece.gotLine ||
      (std::strchr(piece.text, '\n') == nullptr && !piece.endOfFile)) {
    error("Error: Invalid format in allele data.");
  }
  if (!input_detail::is_allele(piece.text[0])) {
    error("Error: Invalid data in allele data.");
  }
  return piece.text[0];
}
