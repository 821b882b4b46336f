// A black-box harness for the command-line programs: runs a built binary in
// a fresh scratch directory with given arguments, standard input and input
// files, and captures its exit status, standard output, standard error and
// any file it wrote.
#ifndef ZIRK_TESTS_CLI_HARNESS_H_
#define ZIRK_TESTS_CLI_HARNESS_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

struct CliResult {
  int status = -1;  // exit status, or -1 when the program did not exit
  std::string out;
  std::string err;
  bool timed_out = false;
};

struct RunOptions {
  std::string input = "0.05\n";  // standard input
  std::string program = "zirk";  // argv[0]
  // Called once the prompt is on standard output, before any input is sent.
  std::function<void()> at_prompt = nullptr;
  // RLIMIT_FSIZE of the program in bytes (a file that would grow past it
  // fails to write, as on a full disk), or -1 for none.
  long file_size_limit = -1;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One scratch directory per case, removed when the case ends. Relative file
// names given to the program resolve inside it.
class CliScratch {
 public:
  CliScratch() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zirk-cli-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~CliScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  CliScratch(const CliScratch&) = delete;
  CliScratch& operator=(const CliScratch&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path path(const std::string& name) const {
    return dir_ / name;
  }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary | std::ios::trunc) << text;
  }
  std::string read(const std::string& name) const {
    return read_file(dir_ / name);
  }

  // Runs `binary` in the scratch directory with pipes on all three standard
  // streams, so that a test can act while the program waits at the prompt.
  // A program that has not finished within a minute is killed and reported
  // as timed out.
  CliResult run(const std::string& binary, const std::vector<std::string>& args,
                const RunOptions& options = {}) const;

 private:
  std::filesystem::path dir_;
};

inline CliResult CliScratch::run(const std::string& binary,
                                 const std::vector<std::string>& args,
                                 const RunOptions& options) const {
  signal(SIGPIPE, SIG_IGN);  // the program may end before reading its input
  std::vector<std::string> words{options.program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
      pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return {};
  }
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(127);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (options.file_size_limit >= 0) {
      // Ignored, the signal lets the write fail with EFBIG instead.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);

  CliResult result;
  bool prompted = !options.at_prompt;
  std::size_t sent = 0;
  // Standard output, standard error and the program's input; -1 once closed.
  pollfd fds[3] = {
      {out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (!prompted && result.out.find("threshold of MC test's pvalue?: ") !=
                         std::string::npos) {
      options.at_prompt();
      prompted = true;
    }
    if (prompted && fds[2].fd >= 0 && sent == options.input.size()) {
      close(fds[2].fd);
      fds[2].fd = -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(child, SIGKILL);
      break;
    }
    fds[2].events = prompted ? POLLOUT : 0;
    if (poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) {
      break;
    }
    char buffer[65536];
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t got = ::read(fds[k].fd, buffer, sizeof buffer);
      if (got > 0) {
        (k == 0 ? result.out : result.err).append(buffer, got);
      } else if (got == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
      }
    }
    if (prompted && fds[2].fd >= 0 && fds[2].revents != 0) {
      const ssize_t put =
          ::write(fds[2].fd, options.input.data() + sent,
                  std::min<std::size_t>(options.input.size() - sent, 65536));
      // A failed write means the program closed its input.
      sent =
          put > 0 ? sent + static_cast<std::size_t>(put) : options.input.size();
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return result;
}

// The options of a run on g.txt, e.txt and a.txt into o.txt.
inline const std::vector<std::string> kRunArgs = {"-g", "g.txt", "-e", "e.txt",
                                                  "-a", "a.txt", "-o", "o.txt"};

inline const std::string kColumnHeader =
    "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t "
    "p-value(IT)\n";

// The two programs that every black-box case runs against: the production
// engine and the straightforward reference, which must not differ by a byte.
inline auto both_programs() {
  return ::testing::Values(ZIRK_BINARY, ZIRK_REFERENCE_BINARY);
}

// Names the instances of a case after the program they run.
inline std::string program_name(
    const ::testing::TestParamInfo<const char*>& info) {
  return info.index == 0 ? "Engine" : "Reference";
}

#endif  // ZIRK_TESTS_CLI_HARNESS_H_
