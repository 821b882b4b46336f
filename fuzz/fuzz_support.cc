#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

namespace {

std::filesystem::path& scratch_dir() {
  static std::filesystem::path dir;
  if (dir.empty()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zirk-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir = pattern;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratch_dir(), ignored);
    });
  }
  return dir;
}

}  // namespace

std::string scratch_path(const char* name) {
  return (scratch_dir() / name).string();
}

std::string write_scratch(const char* name, const std::uint8_t* data,
                          std::size_t size) {
  const std::string path = scratch_path(name);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr ||
      (size > 0 && std::fwrite(data, 1, size, file) != size) ||
      std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
  return path;
}
