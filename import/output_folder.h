// The output folder, built under a temporary name beside its final place and
// renamed there only when everything is written, so that a failed run
// leaves no partial folder and --force replaces an old folder only after
// success.
#ifndef ZIRK_IMPORT_OUTPUT_FOLDER_H_
#define ZIRK_IMPORT_OUTPUT_FOLDER_H_

#include <cstdio>
#include <string>

namespace zirk_import {

class OutputFolder {
 public:
  // Creates the temporary folder beside `final_path`. Throws ImportError
  // when `final_path` exists and `replace` is false, or when the folder
  // cannot be created.
  OutputFolder(const std::string& final_path, bool replace);
  // Removes the temporary folder unless commit() succeeded.
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Path of file `name` inside the temporary folder.
  std::string file(const std::string& name) const;

  // Opens file `name` for writing; throws ImportError when it cannot.
  std::FILE* open(const std::string& name) const;
  // Closes `fp` (opened by open(name)); throws ImportError on a write error.
  void close(std::FILE* fp, const std::string& name) const;
  // Writes `text` as the whole of file `name`.
  void write(const std::string& name, const std::string& text) const;

  // Moves the folder to its final path, replacing what was there.
  void commit();

 private:
  std::string final_path_;
  std::string temp_path_;
  bool committed_ = false;
};

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_OUTPUT_FOLDER_H_
