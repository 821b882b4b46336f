// Shared plumbing of the fuzz targets: a fuzz-only fatal-error exit that
// returns control to the target, and streams over the fuzz input in memory
// for the readers that take a FILE*.
//
// The fuzz build links this file's definitions of `error`, `n`, `ngene` and
// `ps` in place of src/common.cc, so a reader that rejects its input ends in
// a ReaderExit exception instead of ending the fuzzing process. The program
// and the test builds are not affected.
#ifndef ZIRK_FUZZ_FUZZ_SUPPORT_H_
#define ZIRK_FUZZ_FUZZ_SUPPORT_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "input.h"

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

// A read-only stream over the `size` bytes at `data`, which must outlive it
// (they are not copied). With `seekable` false, fseek fails as it does on a
// pipe. The stream's buffer lives beside it: a stream of its own would take
// fresh memory for every input from the sanitizer's allocator, whose
// quarantine keeps freed memory from being reused soon.
class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size, bool seekable = true);
  std::FILE* get() const { return file_.get(); }

 private:
  struct State {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
    char buffer[512];
  };
  static ssize_t read(void* cookie, char* out, std::size_t count);
  static int seek(void* cookie, off64_t* offset, int whence);

  std::unique_ptr<State> state_;  // declared first: it outlives the stream
  input_detail::File file_;
};

#endif  // ZIRK_FUZZ_FUZZ_SUPPORT_H_
