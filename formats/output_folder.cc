#include "output_folder.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "error_line.h"

namespace zirk_formats {

namespace fs = std::filesystem;

namespace {

std::string sibling_template(const std::string& final_path, const char* tag) {
  fs::path p(final_path);
  while (!p.empty() && !p.has_filename()) p = p.parent_path();
  const fs::path parent = p.parent_path();
  const std::string name = "." + p.filename().string() + tag + "XXXXXX";
  return (parent.empty() ? fs::path(name) : parent / name).string();
}

// mkdtemp and mkstemp make their results private; outputs get the usual
// mode.
void give_usual_mode(const char* path, mode_t mode) {
  const mode_t mask = umask(0);
  umask(mask);
  chmod(path, mode & ~mask);
}

std::string make_temp_dir(const std::string& final_path, const char* tag) {
  std::string name = sibling_template(final_path, tag);
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    throw Failure(final_path + ": cannot create a folder beside it: " +
                  std::strerror(errno));
  }
  give_usual_mode(buffer.data(), 0777);
  return buffer.data();
}

}  // namespace

OutputFolder::OutputFolder(const std::string& final_path, bool replace)
    : final_path_(final_path) {
  std::error_code ec;
  if (!replace && fs::exists(fs::symlink_status(final_path, ec))) {
    throw Failure(final_path +
                      ": already exists (use --force to replace it)");
  }
  temp_path_ = make_temp_dir(final_path, ".tmp-");
}

OutputFolder::~OutputFolder() {
  if (!committed_) {
    std::error_code ec;
    fs::remove_all(temp_path_, ec);
  }
}

std::string OutputFolder::file(const std::string& name) const {
  return temp_path_ + "/" + name;
}

std::FILE* OutputFolder::open(const std::string& name) const {
  std::FILE* fp = std::fopen(file(name).c_str(), "w");
  if (!fp) {
    throw Failure(final_path_ + "/" + name +
                      ": cannot write: " + std::strerror(errno));
  }
  return fp;
}

void OutputFolder::close(std::FILE* fp, const std::string& name) const {
  const bool failed = std::ferror(fp) != 0;
  if (std::fclose(fp) != 0 || failed) {
    throw Failure(final_path_ + "/" + name +
                      ": write error: " + std::strerror(errno));
  }
}

void OutputFolder::write(const std::string& name,
                         const std::string& text) const {
  std::FILE* fp = open(name);
  std::fwrite(text.data(), 1, text.size(), fp);
  close(fp, name);
}

void OutputFolder::commit() {
  std::error_code ec;
  std::string old;
  if (fs::exists(fs::symlink_status(final_path_, ec))) {
    old = make_temp_dir(final_path_, ".old-");
    fs::remove(old, ec);
    if (std::rename(final_path_.c_str(), old.c_str()) != 0) {
      throw Failure(final_path_ +
                        ": cannot replace: " + std::strerror(errno));
    }
  }
  if (std::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    const int error = errno;
    if (!old.empty()) std::rename(old.c_str(), final_path_.c_str());
    throw Failure(final_path_ + ": cannot create: " + std::strerror(error));
  }
  committed_ = true;
  if (!old.empty()) fs::remove_all(old, ec);
}

OutputFile::OutputFile(const std::string& final_path)
    : final_path_(final_path) {
  // A device or a pipe (/dev/null, a named pipe a reader waits on) is
  // written in place: renaming a temporary file over it would replace the
  // device with a plain file.
  struct stat st;
  if (::stat(final_path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
      !S_ISDIR(st.st_mode)) {
    stream_ = std::fopen(final_path.c_str(), "w");
    if (stream_ == nullptr) {
      throw Failure(final_path + ": cannot write: " + std::strerror(errno));
    }
    in_place_ = true;
    return;
  }
  std::string name = sibling_template(final_path, ".tmp-");
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  if (fd < 0) {
    throw Failure(final_path + ": cannot create a file beside it: " +
                  std::strerror(errno));
  }
  temp_path_ = buffer.data();
  give_usual_mode(temp_path_.c_str(), 0666);
  stream_ = fdopen(fd, "w");
  if (stream_ == nullptr) {
    ::close(fd);
    std::remove(temp_path_.c_str());
    throw Failure(final_path + ": cannot write: " + std::strerror(errno));
  }
}

OutputFile::~OutputFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !in_place_) std::remove(temp_path_.c_str());
}

void OutputFile::commit() {
  const bool failed = std::ferror(stream_) != 0;
  const bool close_failed = std::fclose(stream_) != 0;
  stream_ = nullptr;
  if (failed || close_failed) {
    throw Failure(final_path_ + ": write error: " + std::strerror(errno));
  }
  if (!in_place_ &&
      std::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    throw Failure(final_path_ + ": cannot create: " + std::strerror(errno));
  }
  committed_ = true;
}

}  // namespace zirk_formats
