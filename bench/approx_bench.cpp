// Approximate search, Soundex and file search against their peers:
//   - AGrep against TRE (substitutions only) and a plain Hamming loop; the
//     "block" column is QuarnAGrepBlock over the same names lying side by
//     side with their NULs, in blocks of 65,536 names, "quarn" one AGrep
//     call per name;
//   - SGrep against a straightforward per-word Soundex coder;
//   - SFileRGrep (count only) against `grep -c`.
// Medians of several runs, nanoseconds per line (file search: MB/s).
//
// usage: approx_bench NAMES_FILE [TEXT_FILE] [RUNS]
#include <tre/tre.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_lines.h"
#include "quarn32.h"

namespace {

using quarn_bench::Lines;
using quarn_bench::Load;

struct Figure {
    double ns;
    long hits;
};

Figure Measure(const Lines &data, const std::function<long(const char *)> &match, int runs, size_t sample = ~size_t{0})
{
    const size_t n = std::min(sample, data.lines.size());
    std::vector<double> times;
    long hits = 0;
    for (int r = 0; r < runs; ++r) {
        hits = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < n; ++i)
            hits += match(data.lines[i]) > 0;
        const auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(n));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], hits};
}

// The names' storage is one run of NUL-terminated names: blocks of 65,536
// names are matched where they lie.
using BlockCall = int32_t(QUARN_API *)(const char *, int32_t, int32_t *, int32_t, int32_t *, QuarnPattern *);

Figure MeasureBlocks(const Lines &data, BlockCall call, QuarnPattern *p, int runs)
{
    const auto [ns, hits] = quarn_bench::TimeBlocks(
        data, [&](const char *b, int32_t n, int32_t *h, int32_t c, int32_t *stop) { return call(b, n, h, c, stop, p); },
        runs);
    return {ns, hits};
}

// Number of alignments of `pat` in `line` with at most k differing bytes.
long HammingCount(const char *line, const std::string &pat, int k, bool fold)
{
    const size_t m = pat.size();
    const size_t n = std::strlen(line);
    long count = 0;
    for (size_t i = 0; i + m <= n; ++i) {
        int diff = 0;
        for (size_t j = 0; j < m && diff <= k; ++j) {
            unsigned char a = static_cast<unsigned char>(line[i + j]), b = static_cast<unsigned char>(pat[j]);
            if (fold) {
                a = static_cast<unsigned char>(std::toupper(a));
                b = static_cast<unsigned char>(std::toupper(b));
            }
            diff += a != b;
        }
        count += diff <= k;
    }
    return count;
}

// Classic Soundex of one word: first letter and up to three digits.
std::string SoundexWord(const char *w, size_t n)
{
    static const char *const codes = "01230120022455012623010202"; // A..Z
    std::string out;
    char last = 0;
    for (size_t i = 0; i < n; ++i) {
        const int c = std::toupper(static_cast<unsigned char>(w[i]));
        const char d = codes[c - 'A'];
        if (out.empty()) {
            out += static_cast<char>(c);
            last = d;
            continue;
        }
        if (d != '0' && d != last && out.size() < 4)
            out += d;
        if (c != 'H' && c != 'W')
            last = d;
    }
    return out;
}

bool SoundexLine(const char *line, const std::string &code)
{
    for (const char *s = line; *s != '\0';) {
        while (*s != '\0' && !std::isalpha(static_cast<unsigned char>(*s)))
            ++s;
        const char *w = s;
        while (*s != '\0' && std::isalpha(static_cast<unsigned char>(*s)))
            ++s;
        if (s > w && SoundexWord(w, static_cast<size_t>(s - w)) == code)
            return true;
    }
    return false;
}

void Print(const char *label, const std::vector<std::pair<const char *, Figure>> &figs)
{
    std::printf("%-28s", label);
    for (const auto &f : figs)
        std::printf(" | %-8s %8.1f ns %6.2fx", f.first, f.second.ns, figs.front().second.ns / f.second.ns);
    std::printf("\n%28s", "hits:");
    for (const auto &f : figs)
        std::printf(" %s=%ld", f.first, f.second.hits);
    std::printf("\n");
    std::fflush(stdout);
}

void ApproxCases(const Lines &data, int runs)
{
    struct Case {
        const char *pattern;
        int errors;
    };
    const Case cases[] = {{"readme", 1}, {"readme", 2}, {"installation_manual2", 3}};
    QuarnMessages(0);
    for (const Case &c : cases) {
        for (int icase = 1; icase >= 0; --icase) {
            auto p = std::make_unique<QuarnPattern>();
            AGrepInit(p.get());
            if (CompileAGrep(c.pattern, c.errors, icase ? 0 : 1, p.get()) != 0) {
                std::printf("compile failed\n");
                continue;
            }
            std::vector<std::pair<const char *, Figure>> figs;
            QuarnPattern *rec = p.get();
            figs.push_back({"block", MeasureBlocks(data, QuarnAGrepBlock, rec, runs)});
            figs.push_back({"quarn",
                            Measure(
                                data, [rec](const char *s) { return AGrep(s, rec); }, runs)});

            regex_t tre;
            tre_regcomp(&tre, c.pattern, REG_EXTENDED | REG_NOSUB | (icase ? REG_ICASE : 0));
            regaparams_t params;
            tre_regaparams_default(&params);
            params.cost_ins = params.cost_del = c.errors + 1; // substitutions only
            params.cost_subst = 1;
            params.max_cost = c.errors;
            params.max_ins = params.max_del = 0;
            params.max_subst = c.errors;
            params.max_err = c.errors;
            regamatch_t am;
            std::memset(&am, 0, sizeof am);
            // TRE takes microseconds a name: one run, but over every name, so
            // that its hit count stands beside ours.
            figs.push_back(
                {"tre",
                 Measure(
                     data, [&](const char *s) { return tre_regaexec(&tre, s, &am, params, 0) == 0 ? 1L : 0L; }, 1)});
            tre_regfree(&tre);

            const std::string pat = c.pattern;
            figs.push_back({"hamming",
                            Measure(
                                data, [&](const char *s) { return HammingCount(s, pat, c.errors, icase); }, runs)});
            char label[64];
            std::snprintf(label, sizeof label, "agrep %s k=%d %s", c.pattern, c.errors, icase ? "icase" : "case");
            Print(label, figs);
            AGrepEmpty(p.get());
        }
    }
    QuarnMessages(1);
}

void SoundexCases(const Lines &data, int runs)
{
    QuarnMessages(0);
    for (const char *word : {"Robert", "install", "john smith"}) {
        auto p = std::make_unique<QuarnPattern>();
        CompileSGrep(word, 0, p.get());
        QuarnPattern *rec = p.get();
        std::vector<std::pair<const char *, Figure>> figs;
        figs.push_back({"block", MeasureBlocks(data, QuarnSGrepBlock, rec, runs)});
        figs.push_back({"quarn",
                        Measure(
                            data, [rec](const char *s) { return SGrep(s, rec); }, runs)});
        const std::string code = SoundexWord(word, std::strcspn(word, " "));
        figs.push_back({"coder",
                        Measure(
                            data, [&](const char *s) { return SoundexLine(s, code) ? 1L : 0L; }, runs)});
        char label[64];
        std::snprintf(label, sizeof label, "sgrep %s", word);
        Print(label, figs);
    }
    QuarnMessages(1);
}

double Seconds(const std::function<void()> &fn, int runs)
{
    std::vector<double> t;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void FileCases(const char *path, int runs)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const double mb = static_cast<double>(in.tellg()) / 1e6;
    QuarnMessages(0);
    for (const char *pattern : {"readme", "foo|bar|toto", "[0-9]+x"}) {
        long ours = 0;
        const double t1 = Seconds(
            [&] {
                SFileSetFlags(0, 0, 0, 1, 0, 1);
                SCompileRGrep(pattern, 1);
                if (SFileOpen(path)) {
                    while (SFileRGrep() != nullptr) {}
                    ours = SFileClose();
                }
            },
            runs);
        std::string grepPattern = pattern;
        if (grepPattern == "[0-9]+x")
            grepPattern = "[0-9][0-9]*x";
        const std::string cmd = "grep -c -E '" + grepPattern + "' '" + path + "' | cat > /tmp/quarn-bench-grep.out";
        const double t2 = Seconds(
            [&] {
                if (std::system(cmd.c_str()) != 0) {}
            },
            runs);
        long theirs = -1;
        if (FILE *f = std::fopen("/tmp/quarn-bench-grep.out", "r")) {
            if (std::fscanf(f, "%ld", &theirs) != 1)
                theirs = -1;
            std::fclose(f);
        }
        std::printf(
            "%-28s | quarn %8.0f MB/s | grep -c %8.0f MB/s | ours/grep throughput %.2f | lines quarn=%ld grep=%ld\n",
            (std::string("SFileRGrep ") + pattern).c_str(), mb / t1, mb / t2, t2 / t1, ours, theirs);
        std::fflush(stdout);
    }
    QuarnMessages(1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NAMES_FILE [TEXT_FILE] [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const Lines names = Load(argv[1]);
    std::printf("\n== approximate and Soundex over %zu names; ns/line (median of %d); ratio = block / peer\n",
                names.lines.size(), runs);
    ApproxCases(names, runs);
    SoundexCases(names, runs);
    if (argc > 2 && argv[2][0] != '\0') {
        std::printf("\n== file search over %s (median of %d)\n", argv[2], runs);
        FileCases(argv[2], runs);
    }
    return 0;
}
