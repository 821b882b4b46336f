// Publishing outputs under a temporary name: a folder or a file is built
// beside its final place under a hidden temporary name and renamed there only
// when everything is written, so that a failed run leaves nothing
// half-written and a replaced output is replaced only after success.
#ifndef ZIRK_FORMATS_OUTPUT_FOLDER_H_
#define ZIRK_FORMATS_OUTPUT_FOLDER_H_

#include <cstdio>
#include <string>

namespace zirk_formats {

class OutputFolder {
 public:
  // Creates the temporary folder beside `final_path`. Throws Failure when
  // `final_path` exists and `replace` is false, or when the folder cannot be
  // created.
  OutputFolder(const std::string& final_path, bool replace);
  // Removes the temporary folder unless commit() succeeded.
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // The temporary folder, for writers that take a folder.
  const std::string& path() const { return temp_path_; }
  // Path of file `name` inside the temporary folder.
  std::string file(const std::string& name) const;

  // Opens file `name` for writing; throws Failure when it cannot.
  std::FILE* open(const std::string& name) const;
  // Closes `fp` (opened by open(name)); throws Failure on a write error.
  void close(std::FILE* fp, const std::string& name) const;
  // Writes `text` as the whole of file `name`.
  void write(const std::string& name, const std::string& text) const;

  // Moves the folder to its final path, replacing what was there. Throws
  // Failure when it cannot, leaving what was there in place.
  void commit();

 private:
  std::string final_path_;
  std::string temp_path_;
  bool committed_ = false;
};

class OutputFile {
 public:
  // Creates the temporary file beside `final_path`; throws Failure when it
  // cannot. A `final_path` that exists and is neither a regular file nor a
  // folder (a device such as /dev/null, a named pipe) is written in place.
  explicit OutputFile(const std::string& final_path);
  // Removes the temporary file unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The temporary file, open for writing.
  std::FILE* stream() const { return stream_; }

  // Closes the file and moves it to its final path, replacing what was
  // there. Throws Failure on a write error or when the rename fails.
  void commit();

 private:
  std::string final_path_;
  std::string temp_path_;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
  bool in_place_ = false;
};

}  // namespace zirk_formats

#endif  // ZIRK_FORMATS_OUTPUT_FOLDER_H_
