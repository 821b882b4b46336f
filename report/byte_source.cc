#include "byte_source.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "report_error.h"

namespace zirk_report {

namespace {

constexpr std::size_t kBlock = 1 << 20;

enum class Kind { kPlain, kGzip, kZstd };

}  // namespace

// The compressed bytes are read in blocks of kBlock; the first bytes read to
// tell the kind are the start of the first block. Bytes in memory are one
// block that ends the input, read where they are.
struct ByteSource::Decoder {
  Kind kind = Kind::kPlain;
  std::vector<char> block;
  const char* in = nullptr;  // block.data(), or the bytes in memory
  std::size_t in_pos = 0, in_end = 0;
  bool in_eof = false;
  bool stream_done = false;  // the last member/frame ended cleanly
  z_stream z{};
  bool z_ready = false;
  ZSTD_DStream* zstd = nullptr;

  ~Decoder() {
    if (z_ready) inflateEnd(&z);
    if (zstd != nullptr) ZSTD_freeDStream(zstd);
  }
};

ByteSource::ByteSource(const std::string& path)
    : name_(path == "-" ? "standard input" : path),
      decoder_(std::make_unique<Decoder>()) {
  if (path == "-") {
    fd_ = 0;
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      throw ReportError(name_ + ": cannot open (" +
                        std::strerror(errno) + ")");
    }
    owns_fd_ = true;
  }
  Decoder& d = *decoder_;
  d.block.resize(kBlock);
  d.in = d.block.data();
  // Fill at least four bytes (or reach the end) to see the magic number.
  while (d.in_end < 4 && !d.in_eof) {
    const std::size_t got =
        read_raw(d.block.data() + d.in_end, kBlock - d.in_end);
    if (got == 0) d.in_eof = true;
    d.in_end += got;
  }
  start_decoding();
}

ByteSource::ByteSource(const char* data, std::size_t size,
                       const std::string& name)
    : name_(name), decoder_(std::make_unique<Decoder>()) {
  Decoder& d = *decoder_;
  d.in = data;
  d.in_end = size;
  d.in_eof = true;
  start_decoding();
}

void ByteSource::start_decoding() {
  Decoder& d = *decoder_;
  const auto* b = reinterpret_cast<const unsigned char*>(d.in);
  if (d.in_end >= 2 && b[0] == 0x1f && b[1] == 0x8b) {
    d.kind = Kind::kGzip;
    // 15 + 32: a gzip header, with its checksum checked.
    if (inflateInit2(&d.z, 15 + 32) != Z_OK) {
      throw ReportError(name_ + ": cannot start gzip decoding");
    }
    d.z_ready = true;
  } else if (d.in_end >= 4 && b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f &&
             b[3] == 0xfd) {
    d.kind = Kind::kZstd;
    d.zstd = ZSTD_createDStream();
    if (d.zstd == nullptr || ZSTD_isError(ZSTD_initDStream(d.zstd))) {
      throw ReportError(name_ + ": cannot start zstd decoding");
    }
  }
}

ByteSource::~ByteSource() {
  if (owns_fd_) ::close(fd_);
}

std::size_t ByteSource::read_raw(char* out, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::read(fd_, out, capacity);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    throw ReportError(name_ + ": cannot read (" +
                      std::strerror(errno) + ")");
  }
}

std::size_t ByteSource::read(char* out, std::size_t capacity) {
  Decoder& d = *decoder_;
  if (d.kind == Kind::kPlain) {
    if (d.in_pos < d.in_end) {
      const std::size_t n = std::min(capacity, d.in_end - d.in_pos);
      std::memcpy(out, d.in + d.in_pos, n);
      d.in_pos += n;
      return n;
    }
    return d.in_eof ? 0 : read_raw(out, capacity);
  }
  for (;;) {
    if (d.in_pos == d.in_end && !d.in_eof) {
      d.in_pos = 0;
      d.in_end = read_raw(d.block.data(), kBlock);
      if (d.in_end == 0) d.in_eof = true;
    }
    if (d.in_pos == d.in_end && d.in_eof) {
      if (!d.stream_done) {
        throw ReportError(name_ + ": compressed stream ends early");
      }
      return 0;
    }
    std::size_t produced = 0;
    if (d.kind == Kind::kGzip) {
      d.z.next_in =
          reinterpret_cast<Bytef*>(const_cast<char*>(d.in) + d.in_pos);
      d.z.avail_in = static_cast<uInt>(d.in_end - d.in_pos);
      d.z.next_out = reinterpret_cast<Bytef*>(out);
      d.z.avail_out = static_cast<uInt>(capacity);
      const int rc = inflate(&d.z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        throw ReportError(name_ + ": corrupt gzip data");
      }
      d.in_pos = d.in_end - d.z.avail_in;
      produced = capacity - d.z.avail_out;
      d.stream_done = rc == Z_STREAM_END;
      // Concatenated gzip members (as `cat a.gz b.gz`) form one stream.
      if (rc == Z_STREAM_END) inflateReset(&d.z);
    } else {
      ZSTD_inBuffer in{d.in, d.in_end, d.in_pos};
      ZSTD_outBuffer o{out, capacity, 0};
      const std::size_t rc = ZSTD_decompressStream(d.zstd, &o, &in);
      if (ZSTD_isError(rc)) {
        throw ReportError(name_ + ": corrupt zstd data");
      }
      d.in_pos = in.pos;
      produced = o.pos;
      d.stream_done = rc == 0;
    }
    if (produced > 0) return produced;
  }
}

}  // namespace zirk_report
