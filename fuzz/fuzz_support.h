// Shared plumbing of the fuzz targets: a fuzz-only fatal-error exit that
// returns control to the target, and scratch files that carry the fuzz input
// to the readers, which only read files by name.
//
// The fuzz build links this file's definitions of `error`, `n`, `ngene` and
// `ps` in place of src/common.cc, so a reader that rejects its input ends in
// a ReaderExit exception instead of ending the fuzzing process. The program
// and the test builds are not affected.
#ifndef ZIRK_FUZZ_FUZZ_SUPPORT_H_
#define ZIRK_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Thrown by the fuzz build's error() with the message it was given. Catching
// it is the clean outcome of a rejected input.
struct ReaderExit {
  std::string message;
};

// Runs `body` and returns the message of the error() that ended it, or an
// empty string when it returned normally.
template <class Body>
std::string run_to_exit(Body&& body) {
  try {
    body();
  } catch (const ReaderExit& exit) {
    return exit.message;
  }
  return std::string();
}

// Path of a file named `name` in this process's scratch directory (created
// on first use, removed at process exit).
std::string scratch_path(const char* name);

// Writes `size` bytes at `data` to scratch_path(name), replacing the file,
// and returns the path. Aborts when the file cannot be written.
std::string write_scratch(const char* name, const std::uint8_t* data,
                          std::size_t size);
std::string write_scratch(const char* name, const std::string& text);

#endif  // ZIRK_FUZZ_FUZZ_SUPPORT_H_
