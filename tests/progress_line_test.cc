// The progress line: drawn and erased in place on a terminal, never written
// anywhere else, where scripts and logs would keep it.
#include "progress_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using zirk_formats::ProgressLine;

// Everything written to the terminal's other end so far.
std::string drain(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, got);
  return text;
}

TEST(ProgressLineTest, DrawsOnATerminalOnly) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  fcntl(master, F_SETFL, O_NONBLOCK);
  std::FILE* terminal = fdopen(slave, "w");
  {
    ProgressLine line(terminal);
    EXPECT_TRUE(line.enabled());
    EXPECT_FALSE(line.due(std::chrono::hours(1)));
    EXPECT_TRUE(line.due(std::chrono::seconds(0)));
    line.show("SNP %d of %d", 3, 10);
    line.show("SNP %d of %d", 4, 10);
    line.clear();
    line.clear();
  }
  ProgressLine(terminal, false).show("never");
  std::fclose(terminal);
  // The terminal turns each \r into \r, nothing else.
  EXPECT_EQ(drain(master), "\rSNP 3 of 10\033[K\rSNP 4 of 10\033[K\r\033[K");
  close(master);

  std::FILE* file = std::tmpfile();
  ProgressLine line(file);
  EXPECT_FALSE(line.enabled());
  EXPECT_FALSE(line.due(std::chrono::seconds(0)));
  line.show("SNP %d", 1);
  line.clear();
  EXPECT_EQ(std::ftell(file), 0);
  std::fclose(file);
  EXPECT_FALSE(ProgressLine(nullptr).enabled());
}

}  // namespace
