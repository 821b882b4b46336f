// The allele file read once against getallele(), which reads it afresh for
// every SNP: same allele or same error for every SNP of many files.
#include "allele_table.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "cli_harness.h"
#include "input.h"

namespace {

// What a lookup ends in: the allele, or the message and exit status of
// error(). Runs `lookup` in a child process, since error() exits.
std::string outcome(const std::function<char()>& lookup) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    const char allele = lookup();
    std::fprintf(stderr, "allele %c", allele);
    std::fflush(stderr);
    _exit(0);
  }
  close(pipeFds[1]);
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return text + " status " + std::to_string(WEXITSTATUS(status));
}

std::string reference_outcome(const std::string& file, unsigned s) {
  return outcome([&] {
    char allele = ' ';
    getallele(s, allele, file.c_str());
    return allele;
  });
}

std::string table_outcome(const std::string& file, std::size_t snps,
                          std::size_t s) {
  return outcome([&] { return AlleleTable(file.c_str(), snps).lookup(s); });
}

TEST(AlleleTableTest, AgreesWithGetalleleOnEveryKindOfLine) {
  CliScratch scratch;
  const std::string file = scratch.path("allele.txt").string();
  const std::vector<std::string> files = {
      "G\nA T\nc\n",
      "G\nA T\nc",           // last line without newline
      "G\n\nT\n",            // empty line
      "G\n T\n5\nN\n",       // blank, digit, N
      "A\nGATTACA\nC\nT\n",  // too long: shifts the later lines
      "A\nC\n",              // fewer lines than SNPs
      "",                    // empty file
      "A\r\nC\r\n",          // carriage returns count as characters
      std::string("A\n\0\nC", 5),
  };
  for (const std::string& text : files) {
    scratch.write("allele.txt", text);
    for (unsigned s = 0; s < 6; ++s) {
      SCOPED_TRACE(::testing::PrintToString(text) + " SNP " +
                   std::to_string(s));
      EXPECT_EQ(table_outcome(file, 6, s), reference_outcome(file, s));
    }
  }
}

TEST(AlleleTableTest, MissingFileIsReportedWhenTheTableIsBuilt) {
  EXPECT_EQ(table_outcome("/nonexistent/allele.txt", 3, 0),
            "Error: Cannot open the allele file.\n status 1");
}

}  // namespace
