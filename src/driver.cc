#include "driver.h"

#include <unistd.h>

#include <boost/math/distributions/chi_squared.hpp>
#include <cstdint>
#include <fstream>
#include <iostream>

#include "error_line.h"
#include "input.h"
#include "pairdata.h"
#include "result_file.h"
#include "scores.h"
#include "screen.h"

namespace {

void print_usage(const char* program) {
  std::cerr << "Usage: " << program
            << " [-h] -g filenameG -e filenameE -a filenameA -o filenameO"
            << std::endl;
}

// The error text for the first option of -g, -e, -a, -o that is missing or
// empty, or nullptr when all four are given.
const char* missing_option_message(const RunSettings& settings) {
  if (settings.genotypeFile.empty()) return "Specify \"-g filenameG\"";
  if (settings.expressionFile.empty()) return "Specify \"-e filenameE\"";
  if (settings.alleleFile.empty()) return "Specify \"-a filenameA\"";
  if (settings.outputFile.empty()) return "Specify \"-o filenameO\"";
  return nullptr;
}

}  // namespace

int start_up(int argc, char** argv, RunSettings& settings) {
  const char* program = argc > 0 ? argv[0] : "zirk";
  // The leading '+' keeps glibc from permuting: parsing stops at the first
  // operand, so an option written after it is an operand too.
  int option;
  while ((option = getopt(argc, argv, "+hg:e:a:o:")) != -1) {
    switch (option) {
      case 'g':
        settings.genotypeFile = optarg;
        break;
      case 'e':
        settings.expressionFile = optarg;
        break;
      case 'a':
        settings.alleleFile = optarg;
        break;
      case 'o':
        settings.outputFile = optarg;
        break;
      case 'h':
        std::cerr << "HELP" << std::endl;
        print_usage(program);
        return 0;
      default:
        print_usage(program);
        return 1;
    }
  }
  if (optind != argc) {
    zirk_formats::print_error_line("Wrong number of arguments.");
    print_usage(program);
    return 1;
  }
  std::cout << "# of arguments: " << argc - optind << std::endl;

  if (const char* message = missing_option_message(settings)) {
    zirk_formats::print_error_line(message);
    print_usage(program);
    return 1;
  }
  for (const std::string* name :
       {&settings.genotypeFile, &settings.expressionFile,
        &settings.alleleFile}) {
    std::ifstream probe(*name);
    if (probe.fail()) {
      zirk_formats::print_error_line("File \"" + *name + "\" not found.");
      return 1;
    }
  }

  read_threshold(std::cin, settings);

  std::cout << "check the files..." << std::endl;
  std::cout << "genotype  : " << settings.genotypeFile << std::endl;
  std::cout << "expression: " << settings.expressionFile << std::endl;
  std::cout << "allele    : " << settings.alleleFile << std::endl;
  std::cout << "output    : " << settings.outputFile << std::endl;
  std::cout << "check the size of the input data..." << std::endl;

  get_parmeters(settings.genotypeFile.c_str(), settings.expressionFile.c_str());
  std::cout << "#SNPs : " << ps << std::endl;
  std::cout << "#genes: " << ngene << std::endl;
  std::cout << "n     : " << n << std::endl;
  return -1;
}

void read_threshold(std::istream& in, RunSettings& settings) {
  std::cout << "threshold of MC test's pvalue?: " << std::flush;
  if (!(in >> settings.threshold)) {
    error("Aborted due to input error.");
  }
}

void load_inputs(const RunSettings& settings, GenotypeMatrix& gmat,
                 RealMatrix& emat, RealMatrix& mommat) {
  std::cout << "read genotypes... " << std::flush;
  gmat.resize(n, 2 * static_cast<std::size_t>(ps), false);
  read_genotype(gmat, settings.genotypeFile.c_str());
  // The samples show individual 0's alleles at the first two SNPs and gene 0
  // in the first three individuals, as far as the matrices hold them.
  for (std::size_t j = 0; n > 0 && j < 4 && j < gmat.size2(); ++j) {
    std::cout << gmat(0, j);
  }
  std::cout << "..." << std::endl;

  std::cout << "read expressions... " << std::flush;
  emat.resize(n, ngene, false);
  read_expression(emat, settings.expressionFile.c_str());
  for (std::size_t i = 0; ngene > 0 && i < 3 && i < emat.size1(); ++i) {
    if (i > 0) std::cout << ' ';
    std::cout << emat(i, 0);
  }
  std::cout << "..." << std::endl;

  mommat = boost::numeric::ublas::zero_matrix<double>(ngene, 2);
  get_mommat(emat, mommat);
}

namespace {

// The screening loop exactly as the definition of the output reads: every
// pair's matrices built afresh, every row appended with its own open and
// close of the result file.
int screen_straightforwardly(int argc, char** argv) {
  RunSettings settings;
  GenotypeMatrix gmat;
  RealMatrix emat;
  RealMatrix mommat;
  if (const int status = open_run(argc, argv, settings, gmat, emat, mommat);
      status >= 0) {
    return status;
  }
  const char* output = settings.outputFile.c_str();
  const double ldaBound = lda_bound();
  const unsigned geneCount = static_cast<unsigned>(ngene);
  // 64-bit: ps * ngene * (ngene - 1) / 2 exceeds 2^32 on real screens.
  std::uint64_t pairCount = 0;
  std::uint64_t pruningCount = 0;
  for (unsigned s = 0; s < static_cast<unsigned>(ps); ++s) {
    char allele = ' ';
    getallele(s, allele, settings.alleleFile.c_str());
    for (unsigned g1 = 0; g1 < geneCount; ++g1) {
      for (unsigned g2 = g1 + 1; g2 < geneCount; ++g2) {
        ++pairCount;
        RealMatrix xmat(n, 2);
        for (double& cell : xmat.data()) cell = 1.0;
        CountMatrix ymat(n, 2);
        getxmatymat_new(xmat, ymat, emat, gmat, s, g1, g2, allele);

        double mcstat = 0.0;
        RealVector nvec = boost::numeric::ublas::zero_vector<double>(3);
        RealMatrix summat = boost::numeric::ublas::zero_matrix<double>(3, 4);
        RealMatrix covmat = boost::numeric::ublas::zero_matrix<double>(4, 3);
        const double mcPvalue = test_mean_cov(xmat, ymat, mommat, summat,
                                              covmat, nvec, mcstat, g1, g2);
        double ldaValue = 0.0;
        double itValue;
        int flag;
        if (settings.threshold > mcPvalue) {
          ldaValue = llvalue_lda(xmat, ymat, summat, covmat, nvec);
          if (ldaBound > ldaValue) {
            double llReduced = 0.0;
            double llFull = 0.0;
            itValue = interaction_test(xmat, ymat, llReduced, llFull, mcstat);
            flag = 1;
          } else {
            ++pruningCount;
            itValue = 10.0;
            flag = 2;
          }
        } else {
          ++pruningCount;
          itValue = 10.0;
          flag = 0;
        }
        append_result_row(output, s, g1, g2, flag, mcPvalue, ldaValue, itValue);
      }
    }
  }
  std::cout << "#pairs: " << pairCount << std::endl;
  std::cout << "#prunings: " << pruningCount << std::endl;
  return 0;
}

}  // namespace

double lda_bound() {
  const boost::math::chi_squared_distribution<double> chi2(2.0);
  return -0.5 * boost::math::quantile(boost::math::complement(chi2, 1e-10));
}

int open_run(int argc, char** argv, RunSettings& settings, GenotypeMatrix& gmat,
             RealMatrix& emat, RealMatrix& mommat) {
  if (const int status = start_up(argc, argv, settings); status >= 0) {
    return status;
  }
  load_inputs(settings, gmat, emat, mommat);
  write_result_head(settings.outputFile.c_str(), settings.threshold);
  std::cout << "Running..." << std::endl;
  return -1;
}

int run_zirk(int argc, char** argv) {
  return guard_allocation([&] { return screen_straightforwardly(argc, argv); });
}
