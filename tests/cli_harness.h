// A black-box harness for the command-line programs: runs a built binary in
// a fresh scratch directory with given arguments, standard input and input
// files, and captures its exit status, standard output, standard error and
// any file it wrote.
#ifndef ZIRK_TESTS_CLI_HARNESS_H_
#define ZIRK_TESTS_CLI_HARNESS_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct CliResult {
  int status = -1;  // exit status, or -1 when the program did not exit
  std::string out;
  std::string err;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path,
                       const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
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
    write_file(dir_ / name, text);
  }
  std::string read(const std::string& name) const {
    return read_file(dir_ / name);
  }

  // Runs `binary` with argv[0] = `program` and the given arguments in the
  // scratch directory, feeding `input` on standard input.
  CliResult run(const std::string& binary, const std::vector<std::string>& args,
                const std::string& input = "",
                const std::string& program = "zirk") const {
    write(".stdin", input);
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      const int in = open(".stdin", O_RDONLY);
      const int out = open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0 || err < 0) _exit(127);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    CliResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read(".stdout");
    result.err = read(".stderr");
    return result;
  }

 private:
  std::filesystem::path dir_;
};

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
