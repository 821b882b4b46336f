// zirk-simulate: writes a random input data set for the ZIRK screen.
//
// Into the output directory it writes
//   genotype.txt    one line per individual; per SNP the two alleles, each
//                   followed by the separator (the last one by the newline),
//                   drawn in Hardy-Weinberg proportions from a per-SNP minor
//                   allele frequency;
//   expression.txt  one line per gene with the gene's raw value for every
//                   individual ("%.6g", single spaces): 10^x with x normal
//                   around a per-gene mean with a per-gene spread;
//   allele.txt      one line per SNP: the reference allele, a space, the
//                   other allele;
//   planted.txt     the 0-based SNPs, genes and cells that were given a role.
// A planted SNP has a gene pair whose log values correlate +0.8, 0 and -0.8 in
// genotype classes 0, 1 and 2, so that the screen should report that pair.
// Further roles, off by default, exercise the degenerate inputs: rare SNPs
// (minor allele frequency 0.01-0.05, at most one minor homozygote), constant
// genes, zero and negative values in genes without another role, and SNPs in
// lower case (with --mixed-case in only one of the two files).
//
// The output is byte-identical for the same arguments on every machine: raw
// bits come from std::mt19937_64, whose sequence the language fixes, and the
// uniforms, normals, logarithms and powers of ten are computed here from
// IEEE-754 arithmetic and sqrt alone, so no library distribution and no libm
// rounding enters the data. Every draw sits in its own statement because the
// order in which function arguments are evaluated is unspecified.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kUsage[] =
    "usage: zirk-simulate --out DIR [--seed S] [--individuals N] [--snps P]\n"
    "         [--genes G] [--sep space|tab] [--crlf] [--plant K] [--rare K]\n"
    "         [--constant-genes K] [--zeros K] [--negatives K]\n"
    "         [--lowercase-alleles K] [--mixed-case]\n"
    "       zirk-simulate --check [same options, --out not needed]\n";

struct Options {
  std::int64_t seed = 1, individuals = 80, snps = 15, genes = 30;
  std::int64_t plant = -1;  // -1: one planted SNP when the data allow it
  std::int64_t rare = 0, constant_genes = 0, zeros = 0, negatives = 0;
  std::int64_t lowercase = 0;
  bool mixed_case = false, crlf = false, check = false;
  char sep = ' ';
  std::string out;
};

[[noreturn]] void usage(const std::string& why) {
  std::cerr << "zirk-simulate: " << why << "\n" << kUsage;
  std::exit(2);
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : bits_(seed) {}
  std::uint64_t index(std::uint64_t m) { return bits_() % m; }  // m > 0
  double uniform() { return static_cast<double>(bits_() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  double normal() {  // Marsaglia's polar method
    for (;;) {
      const double u = 2.0 * uniform() - 1.0;
      const double v = 2.0 * uniform() - 1.0;
      const double s = u * u + v * v;
      if (s > 0.0 && s < 1.0) return u * std::sqrt(-2.0 * log(s) / s);
    }
  }
  // k distinct values of 0 .. m-1 (k <= m) in random order; Floyd's sampling
  // needs O(k) memory whatever m is.
  std::vector<std::uint64_t> distinct(std::uint64_t k, std::uint64_t m) {
    std::vector<std::uint64_t> picked;
    std::set<std::uint64_t> seen;
    for (std::uint64_t j = m - k; j < m; ++j) {
      const std::uint64_t t = index(j + 1);
      picked.push_back(seen.insert(t).second ? t : j);
      seen.insert(j);
    }
    for (std::uint64_t j = k; j > 1; --j)
      std::swap(picked[j - 1], picked[index(j)]);
    return picked;
  }
  // Natural logarithm of x > 0 from 2*atanh((m-1)/(m+1)), m in [0.7, 1.4].
  static double log(double x) {
    int e = 0;
    double m = std::frexp(x, &e);
    if (m < 0.7071067811865476) {
      m *= 2.0;
      --e;
    }
    const double t = (m - 1.0) / (m + 1.0), t2 = t * t;
    double sum = 0.0, power = t;
    for (int k = 0; k < 20; ++k, power *= t2) sum += power / (2 * k + 1);
    return 2.0 * sum + e * 0.6931471805599453;
  }
  // 10^x as 2^k * exp(f * ln 2) with k = floor(x * log2 10), f in [0, 1).
  static double exp10(double x) {
    const double y = x * 3.321928094887362, k = std::floor(y);
    const double r = (y - k) * 0.6931471805599453;
    double sum = 1.0, term = 1.0;
    for (int i = 1; i < 25; ++i) sum += term *= r / i;
    return std::ldexp(sum, static_cast<int>(k));
  }

 private:
  std::mt19937_64 bits_;
};

struct Snp {
  char major = 'A', minor = 'C';
  bool ref_is_major = true, rare = false;
  bool lower_geno = false, lower_allele = false;
  double maf = 0.0;
  std::int64_t plant = -1;  // index of the SNP's planted gene pair
  std::uint64_t minor_homozygotes = 0;
};

char cased(char allele, bool lower) {
  return lower ? static_cast<char>(allele - 'A' + 'a') : allele;
}

std::string value_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// Writes the data set to the four streams, consuming the generator in a fixed
// order. `o` has passed the checks of parse().
void generate(const Options& o, std::ostream& geno, std::ostream& expr,
              std::ostream& allele, std::ostream& planted) {
  Random rng(o.seed);
  const std::uint64_t n = o.individuals, ps = o.snps, ng = o.genes;
  const std::uint64_t np = o.plant, nrare = o.rare, nconst = o.constant_genes;
  const std::string eol = o.crlf ? "\r\n" : "\n";

  // Roles: planted SNPs lead the permutation and rare ones follow; lower-case
  // ones come from its end, so they avoid the planted SNPs while they can.
  // Planted genes lead the gene permutation, constant genes end it.
  const auto snp_order = rng.distinct(ps, ps);
  const auto gene_order = rng.distinct(ng, ng);
  std::vector<Snp> snps(ps);
  std::vector<std::vector<std::uint64_t>> pairs(np);
  for (std::uint64_t k = 0; k < np; ++k) {
    snps[snp_order[k]].plant = k;
    pairs[k] = {gene_order[2 * k], gene_order[2 * k + 1]};
    if (pairs[k][0] > pairs[k][1]) std::swap(pairs[k][0], pairs[k][1]);
  }
  for (std::uint64_t k = np; k < np + nrare; ++k)
    snps[snp_order[k]].rare = true;
  for (std::uint64_t k = 0; k < static_cast<std::uint64_t>(o.lowercase); ++k) {
    Snp& p = snps[snp_order[ps - 1 - k]];
    p.lower_geno = !o.mixed_case || k % 2 == 0;
    p.lower_allele = !o.mixed_case || k % 2 == 1;
  }
  for (Snp& p : snps) {
    const std::uint64_t major = rng.index(4);
    const std::uint64_t minor = (major + 1 + rng.index(3)) % 4;
    p.major = "ACGT"[major];
    p.minor = "ACGT"[minor];
    p.maf = p.plant >= 0 ? rng.uniform(0.4, 0.5)
            : p.rare     ? rng.uniform(0.01, 0.05)
                         : rng.uniform(0.05, 0.5);
    p.ref_is_major = rng.uniform() < 0.5;
    const char ref = p.ref_is_major ? p.major : p.minor;
    const char other = p.ref_is_major ? p.minor : p.major;
    allele << cased(ref, p.lower_allele) << ' ' << cased(other, p.lower_allele)
           << eol;
  }

  // Genotypes, individual by individual; the classes at the planted SNPs are
  // kept for the planted expression values.
  std::vector<std::vector<int>> planted_class(np, std::vector<int>(n));
  for (std::uint64_t i = 0; i < n; ++i) {
    for (std::uint64_t s = 0; s < ps; ++s) {
      Snp& p = snps[s];
      const bool minor1 = rng.uniform() < p.maf;
      bool minor2 = rng.uniform() < p.maf;
      // A rare SNP keeps its minor homozygote class empty or a singleton.
      if (minor1 && minor2 && p.rare && p.minor_homozygotes > 0) minor2 = false;
      if (minor1 && minor2) ++p.minor_homozygotes;
      const int minors = minor1 + minor2;
      if (p.plant >= 0) {
        planted_class[p.plant][i] = p.ref_is_major ? minors : 2 - minors;
      }
      geno << cased(minor1 ? p.minor : p.major, p.lower_geno) << o.sep
           << cased(minor2 ? p.minor : p.major, p.lower_geno);
      if (s + 1 < ps) geno << o.sep;
    }
    geno << eol;
  }

  // Per-gene log10 mean and spread; planted pairs draw correlated normals.
  std::vector<double> mean(ng), spread(ng);
  for (std::uint64_t g = 0; g < ng; ++g) {
    mean[g] = rng.uniform(0.5, 3.5);
    spread[g] = rng.uniform(0.1, 0.6);
  }
  std::vector<std::vector<double>> z(ng);
  constexpr double kRho[3] = {0.8, 0.0, -0.8};
  for (std::uint64_t k = 0; k < np; ++k) {
    auto& z1 = z[pairs[k][0]];
    auto& z2 = z[pairs[k][1]];
    for (std::uint64_t i = 0; i < n; ++i) {
      const double rho = kRho[planted_class[k][i]];
      const double a = rng.normal();
      const double b = rng.normal();
      z1.push_back(a);
      z2.push_back(rho * a + std::sqrt(1.0 - rho * rho) * b);
    }
  }

  // Zeros and negatives go to distinct cells of the genes without a role.
  std::vector<std::uint64_t> free_genes(gene_order.begin() + 2 * np,
                                        gene_order.end() - nconst);
  std::sort(free_genes.begin(), free_genes.end());
  const auto cells = rng.distinct(o.zeros + o.negatives, free_genes.size() * n);
  std::set<std::pair<std::uint64_t, std::uint64_t>> zero_cells, negative_cells;
  for (std::uint64_t c = 0; c < cells.size(); ++c) {
    const auto cell = std::make_pair(free_genes[cells[c] / n], cells[c] % n);
    (c < static_cast<std::uint64_t>(o.zeros) ? zero_cells : negative_cells)
        .insert(cell);
  }

  std::vector<bool> constant(ng);
  for (std::uint64_t k = 0; k < nconst; ++k)
    constant[gene_order[ng - 1 - k]] = 1;
  // With no individuals the scan reads the expression file one character at
  // a time, so a carriage return would count as a gene of its own.
  const std::string expr_eol = n > 0 ? eol : "\n";
  for (std::uint64_t g = 0; g < ng; ++g) {
    for (std::uint64_t i = 0; i < n; ++i) {
      double x = mean[g];
      if (!z[g].empty()) {
        x += spread[g] * z[g][i];
      } else if (!constant[g]) {
        x += spread[g] * rng.normal();
      }
      double v = Random::exp10(x);
      if (zero_cells.count({g, i})) v = 0.0;
      if (negative_cells.count({g, i})) v = -v;
      expr << (i > 0 ? " " : "") << value_text(v);
    }
    expr << expr_eol;
  }

  for (std::uint64_t s = 0; s < ps; ++s) {
    const Snp& p = snps[s];
    if (p.plant >= 0) {
      planted << "planted snp " << s << " genes " << pairs[p.plant][0] << ' '
              << pairs[p.plant][1] << "\n";
    }
    if (p.rare) planted << "rare snp " << s << "\n";
    if (p.lower_geno || p.lower_allele) {
      planted << "lowercase snp " << s << (p.lower_geno ? " genotype" : "")
              << (p.lower_allele ? " allele" : "") << "\n";
    }
  }
  for (std::uint64_t g = 0; g < ng; ++g) {
    if (constant[g]) planted << "constant gene " << g << "\n";
  }
  for (const auto& [g, i] : zero_cells) {
    planted << "zero gene " << g << " individual " << i << "\n";
  }
  for (const auto& [g, i] : negative_cells) {
    planted << "negative gene " << g << " individual " << i << "\n";
  }
}

Options parse(int argc, char** argv) {
  Options o;
  constexpr std::int64_t kMax = 2147483647;
  // The screen reads genotype lines of at most 4,000,001 characters.
  const struct {
    const char* name;
    std::int64_t Options::*field;
    std::int64_t max;
  } counts[] = {{"--seed", &Options::seed, INT64_MAX},
                {"--individuals", &Options::individuals, kMax},
                {"--snps", &Options::snps, 1000000},
                {"--genes", &Options::genes, kMax},
                {"--plant", &Options::plant, kMax},
                {"--rare", &Options::rare, kMax},
                {"--constant-genes", &Options::constant_genes, kMax},
                {"--zeros", &Options::zeros, kMax},
                {"--negatives", &Options::negatives, kMax},
                {"--lowercase-alleles", &Options::lowercase, kMax}};
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (arg == "--mixed-case" || arg == "--crlf" || arg == "--check") {
      (arg == "--check"  ? o.check
       : arg == "--crlf" ? o.crlf
                         : o.mixed_case) = true;
      continue;
    }
    if (a + 1 >= argc) usage("missing value after " + arg);
    const std::string v = argv[++a];
    if (arg == "--out") {
      o.out = v;
      continue;
    }
    if (arg == "--sep") {
      if (v != "space" && v != "tab") usage("--sep takes space or tab");
      o.sep = v == "tab" ? '\t' : ' ';
      continue;
    }
    const auto c = std::find_if(std::begin(counts), std::end(counts),
                                [&](const auto& c) { return arg == c.name; });
    if (c == std::end(counts)) usage("unknown option '" + arg + "'");
    std::int64_t value = -1;
    const auto [end, ec] =
        std::from_chars(v.data(), v.data() + v.size(), value);
    if (ec != std::errc() || end != v.data() + v.size() || value < 0 ||
        value > c->max) {
      usage("bad value for " + arg + ": '" + v + "'");
    }
    o.*(c->field) = value;
  }
  if (o.out.empty() && !o.check) usage("--out DIR is required");
  if (o.plant < 0) o.plant = o.snps >= 1 && o.genes >= 2 ? 1 : 0;
  if (o.plant + o.rare > o.snps) usage("--plant plus --rare exceeds --snps");
  if (o.lowercase > o.snps) usage("--lowercase-alleles exceeds --snps");
  const std::int64_t free_genes = o.genes - 2 * o.plant - o.constant_genes;
  if (free_genes < 0)
    usage("2 * --plant plus --constant-genes exceeds --genes");
  if (o.zeros + o.negatives > free_genes * o.individuals) {
    usage("--zeros plus --negatives exceeds the cells of unplanted genes");
  }
  return o;
}

// Generates the data set twice in memory and returns the first fault found
// (the two copies differ, or a file breaks the layout the screen reads), or
// an empty string.
std::string self_check(const Options& o) {
  std::ostringstream run[2][4];
  for (auto& f : run) generate(o, f[0], f[1], f[2], f[3]);
  std::vector<std::string> lines[3];
  for (int f = 0; f < 4; ++f) {
    if (run[0][f].str() != run[1][f].str()) return "two runs differ";
    std::istringstream in(run[0][f].str());
    for (std::string line; f < 3 && std::getline(in, line);) {
      lines[f].push_back(line);
    }
  }
  const auto& [geno, expr, alle] = lines;
  if (geno.size() != std::size_t(o.individuals) ||
      expr.size() != std::size_t(o.genes) ||
      alle.size() != std::size_t(o.snps)) {
    return "wrong line count";
  }
  const auto base = [](char c) { return c ? std::strchr("ACGT", c & ~32) : 0; };
  // Only --mixed-case lets the genotype case differ from the allele file's.
  const auto same = [&](char x, char y) {
    return o.mixed_case ? base(x) == base(y) : x == y;
  };
  const std::string cr = o.crlf ? "\r" : "";
  const std::size_t width = o.snps > 0 ? 4 * o.snps - 1 : 0;
  for (std::size_t s = 0; s < alle.size(); ++s) {
    const std::string& a = alle[s];
    if (a != a.substr(0, 3) + cr || !base(a[0]) || !base(a[2]) ||
        base(a[0]) == base(a[2]) || a[1] != ' ') {
      return "bad allele line " + std::to_string(s);
    }
    for (const std::string& g : geno) {
      if (g.size() != width + cr.size() || g.substr(width) != cr) {
        return "genotype lines of unequal length";
      }
      for (const char c : {g[4 * s], g[4 * s + 2]}) {
        if (!same(c, a[0]) && !same(c, a[2])) {
          return "genotype of SNP " + std::to_string(s) + " not in allele file";
        }
      }
      if (g[4 * s + 1] != o.sep ||
          (s + 1 < alle.size() && g[4 * s + 3] != o.sep))
        return "bad separator";
    }
  }
  const std::string first = geno.empty() ? "" : geno[0] + "\n";
  for (std::size_t p = 0; p + 1 < first.size(); ++p) {
    if (first[p] == first[p + 1]) return "equal neighbours in first line";
  }
  // Values are joined by single spaces; lines without values end in "\n".
  const std::string expr_cr = o.individuals > 0 ? cr : "";
  for (const std::string& line : expr) {
    std::istringstream in(line);
    std::string joined;
    std::int64_t values = 0;
    for (std::string token; in >> token; ++values) {
      char* end = nullptr;
      std::strtod(token.c_str(), &end);
      if (*end != '\0') return "bad expression value '" + token + "'";
      joined += (values > 0 ? " " : "") + token;
    }
    if (values != o.individuals || joined + expr_cr != line ||
        line.size() > 31 * std::size_t(values)) {
      return "bad expression line";
    }
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  if (o.check) {
    const std::string fault = self_check(o);
    std::cout << (fault.empty() ? "check passed" : "check failed: " + fault)
              << "\n";
    return fault.empty() ? 0 : 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  std::ofstream f[4];
  const char* names[4] = {"genotype.txt", "expression.txt", "allele.txt",
                          "planted.txt"};
  for (int k = 0; k < 4; ++k) {
    f[k].open(std::filesystem::path(o.out) / names[k], std::ios::binary);
  }
  if (f[0] && f[1] && f[2] && f[3]) generate(o, f[0], f[1], f[2], f[3]);
  for (auto& file : f) file.close();
  if (!f[0] || !f[1] || !f[2] || !f[3]) {
    std::cerr << "zirk-simulate: cannot write the files into " << o.out << "\n";
    return 1;
  }
  return 0;
}
