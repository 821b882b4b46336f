#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common.h"

std::int32_t n = 0;
std::int32_t ngene = 0;
std::int32_t ps = 0;

// error() prints "Error: " before the cause itself: a cause that is empty
// or carries the prefix again is a fault worth a crash report.
void error(const char* cause) {
  if (cause == nullptr || *cause == '\0' ||
      std::strncmp(cause, "Error: ", 7) == 0) {
    std::fprintf(stderr, "error() called with a malformed cause: %s\n",
                 cause == nullptr ? "(null)" : cause);
    std::abort();
  }
  throw ReaderExit{cause};
}

ssize_t MemoryFile::read(void* cookie, char* out, std::size_t count) {
  State& m = *static_cast<State*>(cookie);
  const std::size_t got = std::min(count, m.size - m.position);
  std::memcpy(out, m.data + m.position, got);
  m.position += got;
  return static_cast<ssize_t>(got);
}

int MemoryFile::seek(void* cookie, off64_t* offset, int whence) {
  State& m = *static_cast<State*>(cookie);
  const off64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<off64_t>(m.position)
                                            : static_cast<off64_t>(m.size);
  const off64_t target = base + *offset;
  if (target < 0 || target > static_cast<off64_t>(m.size)) return -1;
  m.position = static_cast<std::size_t>(target);
  *offset = target;
  return 0;
}

MemoryFile::MemoryFile(const std::uint8_t* data, std::size_t size,
                       bool seekable)
    : state_(new State{data, size, 0, {}}) {
  cookie_io_functions_t io{};
  io.read = read;
  io.seek = seekable ? seek : nullptr;
  file_.reset(fopencookie(state_.get(), "r", io));
  if (!file_ || std::setvbuf(file_.get(), state_->buffer, _IOFBF,
                             sizeof state_->buffer) != 0) {
    std::perror("fopencookie");
    std::abort();
  }
}
