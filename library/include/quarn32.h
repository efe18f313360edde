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
 *   - see "Threads" below for what may run at the same time.
 *
 * Threads: any number of threads may compile and match at the same time,
 * each with its own records: CompileRGrep/RGrep, CompileAGrep/AGrep (with
 * AGrepInit/AGrepEmpty), CompileSGrep/SGrep and the substitution calls on
 * a record keep all their scratch in that record or in the call itself.
 * A record is used by one thread at a time.  The error word is atomic.
 * The rest is process-wide without locks and stays single-threaded: change
 * it only while no other call runs, and use it from one thread at a time:
 *   - the options word (QuarnOptions, QuarnMessages) and the message sink,
 *     which every match and report reads;
 *   - the word table (InitWordCharTable, AddWordChar, RemoveWordChar),
 *     which RGrep reads;
 *   - the chain (PushQuarnInfo, Quarn) and the step limit (QuarnSetStepLimit);
 *   - the library-held records of the S* calls (SCompileRGrep, SRGrep,
 *     SAGrepInit, ...);
 *   - the open search file (SFileSetFlags, SFileOpen, SFile*, SFileClose).
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
    unsigned char program[QUARN_PROGRAM_SIZE];      /* byte program, ends with END */
    int32_t branchCount;                            /* 1..10 alternatives */
    unsigned char *branchStart[QUARN_MAX_BRANCHES]; /* first element of each */
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
    QuarnBitList charMask[256];              /* per-byte increment */
    int32_t fieldWidth;                      /* bits per pattern position, -1 before compile */
    int32_t totalBits;                       /* fieldWidth * pattern length, -1 before compile */
    int32_t searchMode;                      /* 2 exact, 1 mismatch counting, 0 match counting, -1 none */
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
 *     and reports nothing;
 *   - the program area after its END byte and the unused branchStart slots
 *     hold the compiler's own data (a summary that lets RGrep skip text
 *     positions); callers must not rely on their contents. */
int32_t QUARN_API CompileRGrep(const char *pattern, int32_t caseFlag, QuarnPattern *p);

/* Searches `text` for the leftmost match of `p`.  Returns 1 and records the
 * match in matchStart[0]/matchEnd[0] (and tags 1..9), 0 for no match, -1
 * when p->errorCode is not 0.  A NULL text or NULL record returns -1 and
 * writes nothing.  A back reference to a tag that was not both started and
 * ended during the current call matches as the empty string. */
int32_t QUARN_API RGrep(const char *text, QuarnPattern *p);

/* Extension: limits the work of one RGrep call.  The backtracking matcher
 * counts its steps (an alternative tried at a text position, a character
 * of a repeated run, the rest of a repeater tried after a run); a call that
 * takes more than `steps` of them
 * gives up and returns -1, leaving matchStart[0]/matchEnd[0] NULL and
 * nothing else changed.  0, the initial value, means no limit (negative
 * values count as 0).  Returns the limit set before.  Patterns whose
 * repeaters are followed by no tag and no back reference never need it:
 * their work is at most program length x (text length + 1) steps; a limit
 * matters for back references, and for tags after a repeater.  Literal
 * patterns and fixed-length alternatives are searched without trials and
 * never reach it.  Process-wide, like the options word. */
int32_t QUARN_API QuarnSetStepLimit(int32_t steps);

/* Word characters for \< and \>: InitWordCharTable restores the default set
 * (0-9, A-Z, _, a-z); AddWordChar/RemoveWordChar set/clear every byte of
 * the string.  A NULL string changes nothing. */
void QUARN_API InitWordCharTable(void);
void QUARN_API AddWordChar(const char *chars);
void QUARN_API RemoveWordChar(const char *chars);

/* ------------------------------------------------------------------ */
/* Pattern chains                                                      */
/* ------------------------------------------------------------------ */

/* Builds the library's one chain: pattern, operator record, pattern, ...
 * NULL empties the chain (the elements are not touched).  An element gets
 * next = NULL and is linked behind the chain cursor, which is the tail while
 * building and the element the last Quarn evaluation reached afterwards (so
 * pushing after an evaluation that stopped early cuts the chain there).
 * Elements must be sizeof(QuarnPattern) and stay allocated while linked.
 * Returns 0. */
int32_t QUARN_API PushQuarnInfo(QuarnPattern *p);

/* Evaluates the chain for `text`: A op1 B op2 C is A op1 (B op2 C), left
 * operand first, the rest only where the operator needs it (OP_FALSE,
 * OP_NOT, OP_BITNOT never; OP_AND/OP_NAND only after a non-zero result;
 * OP_OR/OP_NOR only after 0).  Patterns (kind 1 approximate, kind 2 regular
 * expression) give their matcher's result; the operator code is the
 * operator record's errorCode (kind 0).  Sets the error word to 0 on entry.
 * A malformed chain (wrong kind where a pattern or operator is expected, an
 * operator record at the end, an operator code above 13) gives -1 at that
 * level and error word 1, with no message; a nested -1 is combined like any
 * value.  Arithmetic wraps modulo 2^32.
 * Choices of this implementation:
 *   - an empty chain returns -1 with error word 1;
 *   - an evaluation that reaches more than 1,000,000 patterns (only possible
 *     through next fields written by the caller into a cycle) is malformed
 *     at that point; evaluation is iterative, so long chains cannot exhaust
 *     the stack. */
int32_t QUARN_API Quarn(const char *text);

/* ------------------------------------------------------------------ */
/* Soundex                                                             */
/* ------------------------------------------------------------------ */

/* Reduces `pattern` to its code text (one code per word: the upper-case
 * first letter and up to three digits 1..6, separated by single spaces; only
 * A-Z/a-z are letters) in p->body.soundex.code.  `flag` is ignored.
 * Returns 0, or 6 for a NULL or empty pattern ("No regular expression
 * provided", caption "SGrep"), stored in p->errorCode.
 * Choices of this implementation:
 *   - a pattern longer than 511 bytes is refused with 4 ("pattern too long",
 *     caption "SGrep") and an empty code text; nothing is written past the
 *     record's fields;
 *   - a NULL record returns 6 and writes and reports nothing. */
int32_t QUARN_API CompileSGrep(const char *pattern, int32_t flag, QuarnPattern *p);

/* Looks for the first start position of `line` whose words, coded as they
 * are read, reproduce the code text (the last code word as a prefix).
 * Returns 1 and records matchStart[0]/matchEnd[0]; 0 for no match; -1 when
 * p->errorCode is not 0 ("previous error in CompileSGrep"; the code becomes
 * -1 and stays until a good compile) or `line` is NULL ("no string to
 * search", code -1).  An empty code text returns 0 with "no pattern".
 * Reports use the caption "Soundex Error".
 * Choice of this implementation: the match tables are cleared also when the
 * code text is empty, so no earlier match survives a search that found
 * nothing.  A NULL record returns -1 and reports nothing. */
int32_t QUARN_API SGrep(const char *line, QuarnPattern *p);

/* ------------------------------------------------------------------ */
/* Approximate search                                                  */
/* ------------------------------------------------------------------ */

/* Prepares a new record: errorCode 1 (not compiled), search mode, field
 * width and total bits -1, option 1, match tables cleared, each character
 * mask holding a one-bit block, the other six vectors empty.  Releases
 * nothing: call AGrepEmpty before re-preparing a record that holds storage.
 * Returns 1 (also for NULL). */
int32_t QUARN_API AGrepInit(QuarnPattern *p);

/* Compiles `pattern` for approximate matching: at most
 * `errors` positions of the aligned stretch may differ.  caseFlag non-zero
 * = case sensitive; otherwise letters agree in both forms of the ANSI
 * (Windows-1252) case mapping: ASCII letters, the Latin-1 letters
 * 0xC0-0xDE/0xE0-0xFE (not 0xD7/0xF7), and 0x8A/0x9A, 0x8C/0x9C,
 * 0x8E/0x9E, 0x9F/0xFF.  0 errors is a plain substring search.
 * Returns 0, 2 not enough memory, 4 pattern too long (512 bytes or more, or
 * more than 511 bits of counters), 6 no pattern (NULL or empty); stored in
 * p->errorCode and reported with the caption "Approximative Find Error".
 * The record must have been prepared by AGrepInit.
 * Choices of this implementation:
 *   - `errors` below 0 is taken as 0 and above the pattern length as the
 *     length (every byte of a line then ends a match);
 *   - a failed allocation of a bit vector fails with 2 "not enough memory";
 *     what was obtained stays owned by the record until AGrepEmpty;
 *   - a NULL record returns 6 and writes and reports nothing. */
int32_t QUARN_API CompileAGrep(const char *pattern, int32_t errors, int32_t caseFlag, QuarnPattern *p);

/* Counts the line positions at which an alignment of the pattern ends with
 * few enough differences (every ending position counts, overlapping
 * occurrences too) and records the first ten matches in matchStart/matchEnd
 * (the aligned stretch: start, one past the end).  Returns the count, or -1
 * when p->errorCode is not 0 or memory for the upper-cased line runs out
 * (code 2, "not enough memory").
 * Choices of this implementation:
 *   - a match whose alignment begins before the line (possible when more
 *     than half of the positions may differ) is recorded from the line's
 *     first byte;
 *   - a record that was never compiled (also a zero-filled one), an emptied
 *     record (AGrepEmpty) and one whose vectors do not fit its field width
 *     and total bits return -1, as does a NULL line or record. */
int32_t QUARN_API AGrep(const char *line, QuarnPattern *p);

/* Releases every block the record holds (the 256 character masks, then the
 * six state vectors whatever the search mode) and marks it not compiled
 * (errorCode 1, search mode -1).  Returns 1, also for NULL. */
int32_t QUARN_API AGrepEmpty(QuarnPattern *p);

/* ------------------------------------------------------------------ */
/* Blocks of names (extension)                                         */
/* ------------------------------------------------------------------ */

/* Match every name of a block in one call.  `block` holds `length` bytes:
 * names, each followed by a NUL byte, side by side ("a\0bc\0\0d\0" holds
 * "a", "bc", "" and "d").  Each name is judged exactly as RGrep, AGrep or
 * SGrep would judge it with `p`; a name is a hit when that call answers 1
 * or more (for AGrep: any number of matches).  The offset of each hit's
 * first byte within the block is stored in `hits`, in block order, at most
 * `capacity` of them.
 *
 * Returns the number of offsets stored (0 .. capacity), or -1, storing
 * nothing, when the record holds an error (p->errorCode not 0), `p` is
 * NULL, `length` or `capacity` is negative, or `block` (with length > 0) or
 * `hits` (with capacity > 0) is NULL.
 *
 * `stop` (may be NULL) receives the offset where reading ended:
 *   - `length` when every name was read;
 *   - when `capacity` offsets were stored before the end: the offset of the
 *     first unread name (call again from there for the rest);
 *   - when the per-name call answered -1 (RGrep: the step limit of
 *     QuarnSetStepLimit ran out; AGrep: no memory): the offset of that
 *     name, which is not a hit.  The two cases differ in the result: a
 *     failure leaves fewer than `capacity` offsets.
 * Bytes after the last NUL are no name and are never read past `length`;
 * they count as read.  An empty name is tested like any other ("^$"
 * matches it).  A capacity of 0 reads nothing: the result is 0 and `stop`
 * 0 unless the block holds no whole name.
 * Where the compiled pattern tells which bytes a matching name must hold,
 * the block is looked at in one pass and only the names that hold them are
 * handed to the per-name call; the answer is the same.  The record's match
 * tables afterwards hold the outcome of the last name read (it is always
 * tested); SGrep's "no pattern" report (empty code text) comes once per
 * name, so a caller checks for an empty code first.
 * The same record rules as the per-name calls: one thread at a time. */
int32_t QUARN_API QuarnRGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p);
int32_t QUARN_API QuarnAGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p);
int32_t QUARN_API QuarnSGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p);

/* ------------------------------------------------------------------ */
/* Substitution                                                        */
/* ------------------------------------------------------------------ */

/* Expands template `tmpl` into `dest` with the match the last search
 * recorded in `p`: & or \0 = the whole match, \1..\9 = tag n (regular
 * expression: bracketed group; Soundex: nothing; approximate: the (n+1)-th
 * match), \& = '&', \b \f \n \r \t = 8 12 10 13 9, any other \c = c.  Only
 * the regular-expression kind knows \xHH: two bytes, the first giving the
 * high value (0 when not hex), the second the low one; a second byte that
 * is not hex is dropped and the byte is the high value alone.
 * `capacity` is the most characters `dest` may receive; it must hold
 * capacity + 1 bytes.  Returns 0, 6 empty template ("no pattern provided";
 * approximate kind: "no pattern"), 5 no previous search (matchStart[0] not
 * set), 3 not enough space in destination string, 1 bad state in automaton
 * (a tag's text holds a 0 byte before its end); stored in p->errorCode and
 * reported with the kind's caption.
 * Choices of this implementation:
 *   - a template that ends right after a backslash stops there; one that ends
 *     inside \x stops at its NUL (\x alone writes nothing, \xH writes H);
 *   - after a failure with 3 or 1 `dest` holds the bytes written so far,
 *     terminated;
 *   - a NULL `dest` or a negative capacity is refused with 3, a NULL record
 *     with 5; nothing is written or reported. */
int32_t QUARN_API RGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);
int32_t QUARN_API SGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);
int32_t QUARN_API AGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);

/* Writes `line` (the very buffer the last search read) into `dest` with its
 * whole match (tag 0) replaced by the expanded template; results and codes
 * as for the builders, plus 1 when matchEnd[0] is not set and 3 when the
 * prefix or the whole result exceeds `capacity` (dest then holds "" or the
 * prefix).  The line is only read, never written.
 * Choice of this implementation: a NULL line, or a line that does not
 * contain the recorded match (start and end within the line, end not before
 * start) and every recorded tag start, is refused with 1 "bad state in
 * automaton"; nothing outside the line is read or written. */
int32_t QUARN_API RGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);
int32_t QUARN_API SGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);
int32_t QUARN_API AGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);

/* ------------------------------------------------------------------ */
/* Single-pattern entry points                                         */
/* ------------------------------------------------------------------ */

/* The plain calls above on one library-held record per kind (zero-filled at
 * load time, shared by every caller and by the SFile calls): same
 * arguments without the record, same results, codes and reports.
 * Choice of this implementation: SAGrepInit (and SFileSetFlags) first
 * releases the storage the held approximate record holds, so re-preparing
 * it never leaks.  SAGrep on the held record before it was prepared and
 * compiled, or after SFileClose, returns -1. */
int32_t QUARN_API SCompileRGrep(const char *pattern, int32_t caseFlag);
int32_t QUARN_API SRGrep(const char *line);
int32_t QUARN_API SRGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity);
int32_t QUARN_API SRGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity);
int32_t QUARN_API SCompileSGrep(const char *pattern, int32_t flag);
int32_t QUARN_API SSGrep(const char *line);
int32_t QUARN_API SSGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity);
int32_t QUARN_API SSGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity);
int32_t QUARN_API SCompileAGrep(const char *pattern, int32_t errors, int32_t caseFlag);
int32_t QUARN_API SAGrep(const char *line);
int32_t QUARN_API SAGrepInit(void);
int32_t QUARN_API SAGrepEmpty(void);
int32_t QUARN_API SAGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity);
int32_t QUARN_API SAGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity);

/* ------------------------------------------------------------------ */
/* File search                                                         */
/* ------------------------------------------------------------------ */

/* Output settings for the following file searches: prefix the file name
 * and ':', the 512-byte block number of the line's last byte and ':', the
 * line number and ':'; count only (the search calls return NULL at the end
 * and SFileClose gives the count); skip value (a line is not selected when
 * its matcher result equals it); text mode (1: CR LF pairs are read as LF;
 * non-zero: read with the line reader; 0: byte by byte, a 0 byte also ends
 * a line).  Before any call: 0, 0, 0, 0, 0, 1.  Re-prepares the held
 * approximate record as SAGrepInit does.  Returns 1. */
int32_t QUARN_API SFileSetFlags(int32_t nameFlag, int32_t blockFlag, int32_t lineNumberFlag, int32_t countOnly,
                                int32_t skipValue, int32_t textMode);

/* Opens `name` for the searches and resets the line and selected counts.
 * Returns 1, or 0 when it cannot be opened (no file is open then).
 * Choices of this implementation: a file still open from an earlier
 * SFileOpen is closed first; the name is copied (its first 1023 bytes), so
 * the caller's string need not outlive the call; the file is read as bytes
 * on every platform and text mode's CR LF -> LF is done by the library, so
 * results and block numbers are the same everywhere.  NULL returns 0. */
int32_t QUARN_API SFileOpen(const char *name);

/* Return the next selected line (lines of more than 1023 bytes come as
 * pieces of 1023, each counted as a line), with the prefixes chosen by
 * SFileSetFlags and its line feed if it had one, or NULL at the end of the
 * file.  The result has at most 1023 characters whatever the name length
 * (cut at the end) and stays valid until the next
 * file-search call.  R/S/A: the held regular-expression, Soundex or
 * approximate record.  SFileText*: always the line reader; SFileBinary*:
 * always byte by byte; SFileRGrep/SGrep/AGrep choose by the text-mode
 * setting.  With no open file they return NULL. */
char *QUARN_API SFileRGrep(void);
char *QUARN_API SFileSGrep(void);
char *QUARN_API SFileAGrep(void);
char *QUARN_API SFileTextRGrep(void);
char *QUARN_API SFileTextSGrep(void);
char *QUARN_API SFileTextAGrep(void);
char *QUARN_API SFileBinaryRGrep(void);
char *QUARN_API SFileBinarySGrep(void);
char *QUARN_API SFileBinaryAGrep(void);

/* Closes the file, releases the held approximate record's storage (as
 * SAGrepEmpty) and returns the number of selected lines.  With no open file
 * it only releases that storage and returns 0. */
int32_t QUARN_API SFileClose(void);

#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* QUARN32_H */
