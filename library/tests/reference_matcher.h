// A deliberately plain model of the regular-expression dialect, used only by
// the tests as an independent oracle for CompileRGrep/RGrep.
//
// It shares nothing with the library: it parses the pattern text itself into
// a list of elements per alternative (no byte program, no scan summary, no
// memo, no vector scans) and matches by walking those elements with the
// dialect's trial order, so that the positions at which tags were last passed
// come out exactly as the library must record them.  Speed is no goal: it is
// meant for short patterns and short texts.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace refmatch {

// Which bytes are word characters for \< and \>.
using WordSet = std::array<bool, 256>;

// The default word set: 0-9, A-Z, the underscore and a-z.
WordSet DefaultWordSet();

// What one search found, as offsets into the text.
struct Outcome {
    int result = 0;  // 1 match, 0 no match
    long start = -1; // whole match, -1 when none
    long end = -1;
    // Tags 1..9 (index 0 unused): where the matcher last passed \( n and
    // \) n during this search, and whether it passed them at all.
    std::array<long, 10> tagStart{};
    std::array<long, 10> tagEnd{};
    std::array<bool, 10> tagStartSet{};
    std::array<bool, 10> tagEndSet{};
    // Elements tried; a search is abandoned past the budget given to Search.
    long steps = 0;
    bool abandoned = false;
};

class Regex {
public:
    // Parses `pattern` with the case flag (0: ASCII letters fold, other:
    // exact).  Returns the compile code the library must give: 0, 6 or one of
    // 25..35.  `ProgramSize` estimates the byte program's length so that
    // callers can keep clear of the library's size limit.
    int Compile(const std::string &pattern, int caseFlag);
    size_t ProgramSize() const { return programSize_; }
    bool HasBackReference() const { return hasBackReference_; }
    int TagCount() const { return tagCount_; }

    // Searches a NUL-terminated text (the std::string holds no NUL) with the
    // given options word (bit 0: line feed, bit 1: carriage return move the
    // line start) and word set.  `budget` bounds the elements tried.
    Outcome Search(const std::string &text, int options, const WordSet &words, long budget = 2000000) const;

private:
    enum class Kind : uint8_t {
        Char,
        Any,
        Class,
        NotClass,
        LineStart,
        LineEnd,
        TagStart,
        TagEnd,
        WordStart,
        WordEnd,
        BackRef
    };
    enum class Repeat : uint8_t { None, Star, Optional };
    struct Element {
        Kind kind = Kind::Char;
        Repeat repeat = Repeat::None;
        unsigned char c = 0; // Char: the byte; tags and references: the number
        bool fold = false;   // Char: ignore ASCII letter case
        std::bitset<256> set;
    };
    using Alternative = std::vector<Element>;

    struct Walk;
    long Run(Walk &w, size_t alt, size_t k, long p) const;
    static bool Single(const Element &e, unsigned char ch);

    std::vector<Alternative> alternatives_;
    size_t programSize_ = 0;
    bool hasBackReference_ = false;
    int tagCount_ = 0;
};

} // namespace refmatch
