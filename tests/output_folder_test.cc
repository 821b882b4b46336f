// Publishing under a temporary name: a folder or file appears at its final
// path whole or not at all, replaces an old one only on success, and nothing
// temporary stays behind either way.
#include "output_folder.h"

#include <gtest/gtest.h>
#include <fcntl.h>
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

// A device or a named pipe is written in place: renaming over it would put a
// plain file where /dev/null or a reader's pipe was.
TEST_F(OutputFolderTest, DevicesAndPipesAreWrittenInPlace) {
  {
    OutputFile null_device("/dev/null");
    std::fputs("gone\n", null_device.stream());
    null_device.commit();
  }
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  const fs::path pipe = dir_ / "rows";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::FILE* reader = nullptr;
  // Opening a pipe's write end waits for a reader; open the read end
  // without waiting first.
  const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  reader = fdopen(fd, "r");
  {
    OutputFile file(pipe.string());
    std::fputs("row\n", file.stream());
    file.commit();
  }
  char line[16] = {};
  ASSERT_NE(std::fgets(line, sizeof line, reader), nullptr);
  EXPECT_STREQ(line, "row\n");
  std::fclose(reader);
  ASSERT_EQ(lstat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(listing(), "rows ");
}

}  // namespace
