// Publishing under a temporary name: a folder or file appears at its final
// path whole or not at all, replaces an old one only on success, and nothing
// temporary stays behind either way.
#include "output_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "error_line.h"

namespace {

namespace fs = std::filesystem;
using zirk_formats::Failure;
using zirk_formats::OutputFile;
using zirk_formats::OutputFolder;

std::string read(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class OutputFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zirk-out-XXXXXX");
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir_); }
  // The names in the scratch folder, hidden temporaries included.
  std::string listing() const {
    std::string names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      names += e.path().filename().string() + " ";
    }
    return names;
  }
  fs::path dir_;
};

TEST_F(OutputFolderTest, FolderAppearsWholeOnlyAtCommit) {
  const std::string out = (dir_ / "out").string();
  {
    OutputFolder abandoned(out, false);
    abandoned.write("a.txt", "never\n");
  }
  EXPECT_EQ(listing(), "");

  {
    OutputFolder folder(out, false);
    folder.write("a.txt", "first\n");
    EXPECT_FALSE(fs::exists(out));
    folder.commit();
  }
  EXPECT_EQ(read(dir_ / "out" / "a.txt"), "first\n");
  EXPECT_THROW(OutputFolder(out, false), Failure);

  OutputFolder replacing(out, true);
  replacing.write("b.txt", "second\n");
  EXPECT_EQ(read(dir_ / "out" / "a.txt"), "first\n");
  replacing.commit();
  EXPECT_FALSE(fs::exists(dir_ / "out" / "a.txt"));
  EXPECT_EQ(read(dir_ / "out" / "b.txt"), "second\n");
  EXPECT_EQ(listing(), "out ");
}

TEST_F(OutputFolderTest, FileAppearsWholeWithTheUsualModeOnlyAtCommit) {
  const fs::path out = dir_ / "summary.txt";
  {
    OutputFile abandoned(out.string());
    std::fputs("never\n", abandoned.stream());
  }
  EXPECT_EQ(listing(), "");

  std::ofstream(out) << "old\n";
  const mode_t mask = umask(027);
  {
    OutputFile file(out.string());
    std::fputs("new\n", file.stream());
    EXPECT_EQ(read(out), "old\n");
    file.commit();
  }
  umask(mask);
  EXPECT_EQ(read(out), "new\n");
  EXPECT_EQ(fs::status(out).permissions(),
            fs::perms::owner_read | fs::perms::owner_write |
                fs::perms::group_read);
  EXPECT_EQ(listing(), "summary.txt ");

  // A folder in the way: the rename fails, and the temporary goes.
  fs::create_directory(dir_ / "taken");
  fs::create_directory(dir_ / "taken" / "inside");
  {
    OutputFile blocked((dir_ / "taken").string());
    EXPECT_THROW(blocked.commit(), Failure);
  }
  EXPECT_EQ(listing().size(), std::string("summary.txt taken ").size());
  EXPECT_THROW(OutputFile((dir_ / "missing" / "x").string()), Failure);
}

}  // namespace
