#include "fuzz_support.h"

#include <unistd.h>

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

std::string write_scratch(const char* name, const std::string& text) {
  return write_scratch(name, reinterpret_cast<const std::uint8_t*>(text.data()),
                       text.size());
}
