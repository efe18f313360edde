/*
 * quarn32.h - public C interface of the QUARN32 line-matching library.
 *
 * QUARN32 matches single NUL-terminated lines of 8-bit text against
 * caller-owned compiled patterns of three kinds: a small grep-style
 * regular-expression dialect, approximate patterns (a bounded number of
 * wrong characters) and Soundex codes.  It also substitutes matched text
 * through templates, evaluates boolean chains of patterns, keeps one
 * library-held pattern per kind and searches files line by line.
 *
 * Conventions shared by every export:
 *   - arguments and results are 32 bits wide (QuarnVersion: 16 bits);
 *   - a compiled pattern, where one is passed, is the last argument;
 *   - compile and build calls return an error code (0 = success) and store
 *     it in the record's errorCode; match calls return 1, 0 or a count, and
 *     -1 for a record that holds an error;
 *   - failures are also reported through the message reporter while bit 3
 *     of the options word is set (see QuarnSetMessageSink);
 *   - the library keeps process-wide state without locks: call it from one
 *     thread at a time.
 *
 * Error codes (the same numbers in errorCode, compile results and, for 1,
 * the library-wide error word):
 *    0  success
 *   -1  "previous error in CompileSGrep" / "no string to search" (Soundex)
 *    1  "bad state in automaton"
 *    2  "not enough memory"
 *    3  "not enough space in destination string"
 *    4  "pattern too long"
 *    5  "no previous search"
 *    6  "No regular expression provided" / "no pattern" / "no pattern provided"
 *   25  "Missing ]"
 *   26  "Empty closure in beginning of pattern"
 *   27  "Illegal closure after special character"
 *   28  "Too many \(\) pairs"
 *   29  "Null pattern inside \(\)"
 *   30  "Unmatched \)"
 *   31  "Null pattern inside \<\>"
 *   32  "Cyclical reference in tag \number"
 *   33  "Undetermined reference"
 *   34  "Unmatched \("
 *   35  "Too many branches '|'"
 */
#ifndef QUARN32_H
#define QUARN32_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QUARN_API __stdcall
#else
#define QUARN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility; its exports are the
 * declarations below. */
#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility push(default)
#endif

/* ------------------------------------------------------------------ */
/* Constants                                                           */
/* ------------------------------------------------------------------ */

/* Operator codes of a chain's operator record (stored in its errorCode). */
#define OP_FALSE 0
#define OP_NOT 1
#define OP_AND 2
#define OP_OR 3
#define OP_NAND 4
#define OP_NOR 5
#define OP_ADD 6
#define OP_SUB 7
#define OP_BITNOT 8
#define OP_BITAND 9
#define OP_BITOR 10
#define OP_BITXOR 11
#define OP_BITNAND 12
#define OP_BITNOR 13

/* Values of QuarnPattern.kind for chain elements (written by the caller). */
#define QUARN_KIND_OPERATOR 0
#define QUARN_KIND_APPROX 1
#define QUARN_KIND_REGEX 2

/* Bits of the library-wide options word (initial value QUARN_OPT_MESSAGES). */
#define QUARN_OPT_LF 1       /* a line feed starts a new line inside a text */
#define QUARN_OPT_CR 2       /* a carriage return does the same */
#define QUARN_OPT_MESSAGES 8 /* report failures through the message reporter */

/* Sizes of the record's fixed fields. */
#define QUARN_PATTERN_TEXT_SIZE 512 /* longest pattern: 511 bytes + NUL */
#define QUARN_PROGRAM_SIZE 1056     /* byte program of a regular expression */
#define QUARN_MAX_TAGS 10           /* entry 0 = whole match, 1..9 = tags */
#define QUARN_MAX_BRANCHES 10

/* ------------------------------------------------------------------ */
/* The compiled pattern                                                */
/* ------------------------------------------------------------------ */

/* A bit vector of the approximate kind: its words live in a block outside
 * the record, owned by the record between AGrepInit/CompileAGrep and
 * AGrepEmpty.  Bit i is bit (i % 32) of words[i / 32]. */
typedef struct QuarnBitList {
    int32_t wordCount;    /* (bitCount + 31) / 32 */
    int32_t bitCount;     /* length asked for at allocation */
    int32_t holdsStorage; /* 1 while `storage` is owned by this vector */
    void *storage;        /* the zero-filled block */
    uint32_t *words;      /* the words of that block */
} QuarnBitList;

typedef struct QuarnRegexBody {
    unsigned char program[QUARN_PROGRAM_SIZE];         /* byte program, ends with END */
    int32_t branchCount;                               /* 1..10 alternatives */
    unsigned char *branchStart[QUARN_MAX_BRANCHES];    /* first element of each */
} QuarnRegexBody;

typedef struct QuarnSoundexBody {
    char code[QUARN_PATTERN_TEXT_SIZE]; /* code text, e.g. "J5 S53" */
} QuarnSoundexBody;

typedef struct QuarnApproxBody {
    QuarnBitList valueMask;     /* bits 0 .. totalBits-1 set */
    QuarnBitList overflowMask;  /* top bit of every field */
    QuarnBitList threshold;     /* limit in the top field */
    QuarnBitList counterState;  /* per-alignment counters while matching */
    QuarnBitList overflowState; /* sticky overflow bits while matching */
    QuarnBitList scratch;
    QuarnBitList charMask[256]; /* per-byte increment */
    int32_t fieldWidth;         /* bits per pattern position, -1 before compile */
    int32_t totalBits;          /* fieldWidth * pattern length, -1 before compile */
    int32_t searchMode;         /* 2 exact, 1 mismatch counting, 0 match counting, -1 none */
    char exactText[QUARN_PATTERN_TEXT_SIZE]; /* exact mode: pattern, upper-cased
                                                unless case sensitive */
} QuarnApproxBody;

/* One compiled pattern, allocated and owned by the caller.  A record used
 * only with CompileRGrep/RGrep needs offsetof(QuarnPattern, body) +
 * sizeof(QuarnRegexBody) bytes (at most 1964); a chain element needs
 * sizeof(QuarnPattern). */
typedef struct QuarnPattern {
    int32_t errorCode;                         /* 0 after a good compile; operator code
                                                  in a chain's operator record */
    char patternText[QUARN_PATTERN_TEXT_SIZE]; /* the pattern as given */
    const char *matchStart[QUARN_MAX_TAGS];    /* [0] match, [1..9] tags */
    const char *matchEnd[QUARN_MAX_TAGS];      /* one past the end of each */
    int32_t option;                            /* case flag (non-zero = exact case) */
    union {
        QuarnRegexBody regex;
        QuarnSoundexBody soundex;
        QuarnApproxBody approx;
    } body;
    struct QuarnPattern *next; /* chain link, written by PushQuarnInfo */
    int32_t kind;              /* chain role, written by the caller */
} QuarnPattern;

/* ------------------------------------------------------------------ */
/* Library services                                                    */
/* ------------------------------------------------------------------ */

/* Returns the library-wide error word; changes nothing. */
int32_t QUARN_API QuarnGetError(void);
/* Stores `code` only if the error word is 0 and returns 0; otherwise leaves
 * the word alone and returns the code already there. */
int32_t QUARN_API QuarnSetError(int32_t code);
/* Stores `code` unconditionally; returns the previous error word. */
int32_t QUARN_API QuarnResetError(int32_t code);
/* Switch 1 sets bit 3 (messages on), any other value clears it; other bits
 * are kept.  Returns the new options word. */
int32_t QUARN_API QuarnMessages(int32_t on);
/* Replaces the whole options word; returns the value given. */
int32_t QUARN_API QuarnOptions(int32_t options);
/* 24625 (0x6031): file version 6.0.3.1. */
uint16_t QUARN_API QuarnVersion(void);
/* 0: a release build. */
int32_t QUARN_API QuarnIsDebug(void);

/* Receives every failure report (while options bit 3 is set) instead of
 * the default reporter: a modal warning box on Windows, one line
 * "caption: text" on standard error elsewhere.  NULL restores the default.
 * Returns the sink installed before (NULL when the default was in use). */
typedef void (*QuarnMessageSink)(const char *text, const char *caption);
QuarnMessageSink QUARN_API QuarnSetMessageSink(QuarnMessageSink sink);

/* ------------------------------------------------------------------ */
/* Regular expressions                                                 */
/* ------------------------------------------------------------------ */

/* Compiles `pattern` into `p`.  caseFlag 0 ignores ASCII letter case, any
 * other value matches exactly.  Returns 0 or an error code (25..35, 6),
 * also stored in p->errorCode, and reports it with the caption
 * "Regular Expression Error".
 * Choices of this implementation:
 *   - a pattern longer than 511 bytes, or one whose program would not fit in
 *     the 1056-byte program area, is refused with code 4 ("pattern too
 *     long"); nothing is written past the record;
 *   - a `\` as the last pattern character compiles as the character `\`;
 *   - a NULL or empty pattern gives 6; a NULL record returns 6 and writes
 *     and reports nothing. */
int32_t QUARN_API CompileRGrep(const char *pattern, int32_t caseFlag, QuarnPattern *p);

/* Searches `text` for the leftmost match of `p`.  Returns 1 and records the
 * match in matchStart[0]/matchEnd[0] (and tags 1..9), 0 for no match, -1
 * when p->errorCode is not 0.  A NULL text or NULL record returns -1 and
 * writes nothing.  A back reference to a tag that was not both started and
 * ended during the current call matches as the empty string. */
int32_t QUARN_API RGrep(const char *text, QuarnPattern *p);

/* Word characters for \< and \>: InitWordCharTable restores the default set
 * (0-9, A-Z, _, a-z); AddWordChar/RemoveWordChar set/clear every byte of
 * the string.  A NULL string changes nothing. */
void QUARN_API InitWordCharTable(void);
void QUARN_API AddWordChar(const char *chars);
void QUARN_API RemoveWordChar(const char *chars);

#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* QUARN32_H */
