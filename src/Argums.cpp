#include "Argums.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "Alloc.h"
#include "Diag.h"
#include "Plat.h"
#include "Vortle.h"
#include "Xelf.h"

Bom bom;
Bom* pBom = &bom;

namespace {

constexpr int kArgCap = 1024;    // the token buffer
constexpr int kGenLimit = 127;   // longest token in general mode
constexpr int kNameLimit = 1000; // longest file name; a longer one is refused, never cut
constexpr int kEchoSlack = 31;   // the echo stays this far below the capacity

// The general delimiter set, in its stored order.
constexpr char del[20] = {' ', '\t', ';', ',', '(', ')', '=', '#', '!',  '$',
                          '`', '+',  '-', '&', '|', '[', ']', '%', '\n', '\x7F'};
// The file-name delimiter set, in its stored order.
constexpr char del95[14] = {' ',  ';',  ',',    '(', ')', '[', ']',
                            '\n', '\r', '\x7F', '"', '{', '}', '\x1A'};

constexpr const char* szPST = "\"%s\" "; // program-path prefix of the command line
constexpr const char* kTooLong = "file name too long";

// One row of the option table.
struct OptRow {
    int16_t num;  // option number; 0 marks the empty row
    uint8_t slot; // 0 in every row
    uint8_t flag; // 1 in every keyword row
    char key[16]; // keyword, NUL-padded
};
constexpr int kOptBinary = 1;
constexpr int kOptBase = 2;
constexpr int kOptVerify = 3;
constexpr int kOptHex = 4;
constexpr int kOptCrp3 = 5;
constexpr OptRow opts[8] = {
    {0, 0, 0, ""},
    {kOptBinary, 0, 1, "BINARY"},
    {kOptBinary, 0, 1, "BIN"},
    {kOptBase, 0, 1, "BASEADDRESS"},
    {kOptBase, 0, 1, "BA"},
    {kOptVerify, 0, 1, "VERIFY"},
    {kOptHex, 0, 1, "HEX"},
    {kOptCrp3, 0, 1, "CRP3"},
};
constexpr char kVerify[] = "VERIFY";
constexpr uint32_t kBaseMax = 0xFF000000u;

const char* scan_base; // scan position in the command line
char arg[kArgCap];     // token buffer
int32_t arglen;        // characters in the last token
char delim;            // delimiter that ended the last token
int32_t invl;          // length of the echo
uint8_t w95;           // file-name mode when non-zero
uint8_t umode = 1;     // upper-case mode when non-zero
uint8_t wasopt[8];     // marks of the options already processed
const OptRow* pCtl;    // row of the last keyword
int32_t pathLen;       // length of the program path in the command line
int32_t pathEnd;       // position just after the closing quote of the program path

constexpr const char* kCmd = "command line";
constexpr const char* kKeywords = "BINARY (BIN), HEX, BASEADDRESS (BA), CRP3, VERIFY";

[[noreturn]] void CmdError(const char* text) {
    Why(kCmd, "%s", text);
    Fatal(NFACT::CmdLine, text);
}

[[noreturn]] void NoInput() {
    Why(kCmd, "no input file; vortle --help shows how to use the tool");
    CmdError("argument expected");
}

[[noreturn]] void OutOfRange() {
    Why(kCmd, "%s is out of range: a base address is 0 to 0xFF000000", arg);
    Fatal(NFACT::NumRange, arg);
}

[[noreturn]] void TooLong(const char* name) {
    Why(kCmd, "a file name of more than 1000 characters ('%.40s...')", name);
    CmdError(kTooLong);
}

int fnddel(char c) {
    const char* set = w95 ? del95 : del;
    size_t n = w95 ? sizeof del95 : sizeof del;
    return std::memchr(set, c, n) != nullptr ? 1 : 0;
}

// Skips blanks and tabs; returns the next character without consuming it.
char getacr() {
    while (*scan_base == ' ' || *scan_base == '\t') ++scan_base;
    return *scan_base;
}

// Classifies the character after a token's trailing blanks or its closing quote.
void ChkDelim(char c) {
    if (!fnddel(c)) {
        delim = ' ';
    } else if (c == '\n') {
        delim = '\n';
    } else if (c == '\'' || c == '"') {
        delim = ' ';
    } else {
        delim = c;
        ++scan_base;
    }
}

// Scans the next token into p (room for the longest token plus its terminator).
char ngetarg(char* p) {
    arglen = 0;
    char quote = 0;
    getacr();
    for (;;) {
        // A keyword or number is cut at its limit; a file name one character past it is
        // refused below.
        if (w95 ? arglen > kNameLimit : arglen >= kGenLimit) {
            delim = ' ';
            break;
        }
        char c = *scan_base++;
        if (c == '\0') {
            --scan_base;
            delim = '\n';
            break;
        }
        if (c == '\r') c = '\n';
        if (quote != 0) {
            if (c == '\n') {
                --scan_base;
                delim = '\n';
                break;
            }
            if (c == quote) {
                if (*scan_base == quote) { // a doubled quote stands for itself
                    ++scan_base;
                    p[arglen++] = c;
                    continue;
                }
                while (*scan_base == ' ') ++scan_base;
                ChkDelim(*scan_base);
                break;
            }
            p[arglen++] = c;
            continue;
        }
        if (c == '\'' || c == '"') {
            if (arglen == 0) {
                quote = c;
                continue;
            }
            --scan_base; // the quote begins the next token
            delim = ' ';
            break;
        }
        if (fnddel(c)) {
            if (c == ' ') {
                ChkDelim(getacr());
            } else {
                delim = c;
            }
            break;
        }
        if (umode) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        p[arglen++] = c;
    }
    p[arglen] = '\0';
    if (w95 && arglen > kNameLimit) TooLong(p);
    if (delim == ';') delim = '\n'; // a semicolon ends the command line
    return delim;
}

void invtl(int32_t n) {
    if (n >= bom.cap - kEchoSlack) {
        Why(kCmd, "longer than %d characters", bom.cap - kEchoSlack);
        CmdError("max. command line size exceeded");
    }
}

void nullarg() {
    if (arglen != 0) return;
    if (invl <= pathLen + 1) NoInput();
    Why(kCmd, "a word is missing after '%s'", bom.echo + pathLen + 1);
    CmdError("argument expected");
}

void chklbr() {
    if (delim != '(') {
        Why(kCmd, "'%s' needs its number in parentheses, for example BA(0x2000)", arg);
        CmdError("( expected");
    }
}

void chkrbr() {
    if (delim != ')') {
        Why(kCmd, "')' is missing after '%s'", bom.echo + pathLen + 1);
        CmdError(") expected");
    }
}

// Appends the token in p and its delimiter to the echo.
void EchoCheck(const char* p, int must) {
    if (arglen == 0 && delim == '\n') return;
    if (must) nullarg();
    invtl(invl + arglen);
    std::memcpy(bom.echo + invl, p, static_cast<size_t>(arglen));
    invl += arglen;
    bom.echo[invl++] = delim == '\n' ? '\0' : delim;
    if (delim == ')') bom.echo[invl++] = ' ';
    bom.echo[invl] = '\0';
    invtl(invl);
}

char echoarg(char* p, int must) {
    ngetarg(p);
    EchoCheck(p, must);
    return delim;
}

// A token in file-name mode, not upper-cased.
void FileNameArg(char* p) {
    w95 = 1;
    umode = 0;
    echoarg(p, 1);
    umode = 1;
    w95 = 0;
}

// The program path opens the command line. It is taken whole, as the platform gives it, so
// that neither its length nor any quote in it changes how the arguments are read; what follows
// its closing quote is classified as after any quoted file name.
void ProgArg() {
    w95 = 1;
    scan_base = bom.cmd + pathEnd;
    while (*scan_base == ' ') ++scan_base;
    ChkDelim(*scan_base);
    if (delim == ';') delim = '\n';
    arglen = pathLen;
    EchoCheck(bom.cmd + 1, 1);
    w95 = 0;
}

// Reads a file name in balanced parentheses or in double quotes.
void BalFile(char* p) {
    arglen = 0;
    if (getacr() == '"') {
        ++w95;
        echoarg(p, 1);
        --w95;
        return;
    }
    int depth = 1;
    char end = '\n';
    int32_t named = 0; // characters up to the last one that is not a blank
    for (;;) {
        char c = *scan_base;
        if (c == '\0' || c == '\n') break;
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (depth == 0) {
            end = ')';
            break;
        }
        // Trailing blanks are no part of the name: only what comes before them counts.
        if (c != ' ') {
            if (arglen >= kNameLimit) TooLong(p);
            while (named < arglen) p[named++] = ' ';
            p[named++] = c;
        }
        ++arglen;
        ++scan_base;
    }
    if (*scan_base == ')') ++scan_base;
    delim = end;
    arglen = named;
    p[arglen] = '\0';
    EchoCheck(p, 1);
}

void fnarg(char* p) {
    chklbr();
    umode = 0;
    BalFile(p);
    umode = 1;
    chkrbr();
}

void optname(char* p) {
    if (delim == '(') fnarg(p);
}

// The number in arg: hexadecimal after "0x", else decimal. Every character must be a digit of
// the base before the value is formed; a value beyond 32 bits is out of range.
uint32_t dcnumi() {
    const bool hex =
        arglen > 2 && arg[0] == '0' && std::toupper(static_cast<unsigned char>(arg[1])) == 'X';
    const int32_t first = hex ? 2 : 0;
    for (int32_t i = first; i < arglen; ++i) {
        const unsigned char c = static_cast<unsigned char>(arg[i]);
        if (hex ? !std::isxdigit(c) : !(c >= '0' && c <= '9')) {
            Why(kCmd, "'%s' is no number: write it in decimal, or in hexadecimal after 0x", arg);
            Fatal(NFACT::InvalidNum, arg);
        }
    }
    uint64_t value = 0;
    for (int32_t i = first; i < arglen; ++i) {
        const unsigned char c = static_cast<unsigned char>(arg[i]);
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            digit = c - 'a' + 10;
        }
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0xFFFFFFFFu) OutOfRange();
    }
    return static_cast<uint32_t>(value);
}

uint32_t InnArg(uint32_t lo, uint32_t hi) {
    chklbr();
    echoarg(arg, 1);
    const uint32_t value = dcnumi();
    if (value < lo || value > hi) OutOfRange();
    chkrbr();
    return value;
}

int farg() {
    for (const OptRow& row : opts) {
        if (std::strcmp(arg, row.key) == 0) {
            pCtl = &row;
            return row.num;
        }
    }
    Why(kCmd, "'%s' is no keyword; the keywords are %s", arg, kKeywords);
    Fatal(NFACT::InvalidArg, arg);
}

int oneopt(int n) {
    if (wasopt[n]) {
        Why(kCmd, "'%s' is given twice (BIN is BINARY, BA is BASEADDRESS)", arg);
        CmdError("redefinition");
    }
    wasopt[n] = 1;
    if (n == kOptBinary) {
        bom.flags |= kBomBinary;
        optname(bom.binName);
    } else if (n == kOptBase) {
        SetSigna(InnArg(0, kBaseMax));
    } else if (n == kOptHex) {
        bom.flags |= kBomHex;
        optname(bom.hexName);
    } else if (n == kOptCrp3) {
        bom.flags |= kBomCrp3;
    } else if (n == kOptVerify) {
        bom.flags |= kBomVerify | kBomKeep;
    }
    return 0;
}

void allopt() {
    while (delim != '\0' && delim != '\n') {
        echoarg(arg, 1);
        if (arglen == 0 && delim == '\n') break;
        const int n = farg();
        if (n == 0) break;
        oneopt(n);
    }
}

// True when the argument is the keyword VERIFY, in any case: such a run must not delete an
// image, even when it fails before the keyword is read.
bool IsVerify(const char* a) {
    size_t i = 0;
    while (kVerify[i] != '\0' && std::toupper(static_cast<unsigned char>(a[i])) == kVerify[i]) ++i;
    return kVerify[i] == '\0' && a[i] == '\0';
}

// True when the input name, as the shell delivered it, would not scan as one file name: it
// holds a character of the file-name delimiter set or an apostrophe. A name that opens with a
// quote of its own is quoted already.
bool NeedsQuotes(const char* a) {
    if (a[0] == '"' || a[0] == '\'') return false;
    for (const char* c = a; *c != '\0'; ++c) {
        if (*c == '\'' || std::memchr(del95, *c, sizeof del95) != nullptr) return true;
    }
    return false;
}

} // namespace

int ArgPrepare(int argc, char** argv) {
    bom.cap = kCmdCap;
    bom.cmd = static_cast<char*>(GetMem(kCmdCap, 0));
    bom.echo = static_cast<char*>(GetMem(kCmdCap, 0));
    bom.flags = 0;
    std::memset(wasopt, 0, sizeof wasopt);
    invl = 0;
    w95 = 0;
    umode = 1;
    delim = 0;
    arglen = 0;

    const char* path = PlatProgramPath(argc > 0 ? argv[0] : nullptr);
    size_t need = std::strlen(path) + 3 + 2; // quotes, blank, line feed, NUL
    const bool quote = argc > 1 && NeedsQuotes(argv[1]);
    for (int i = 1; i < argc; ++i) {
        need += std::strlen(argv[i]) + 1;
        if (i > 1 && IsVerify(argv[i])) bom.flags |= kBomKeep;
    }
    if (quote)
        need += 2 + static_cast<size_t>(std::count(argv[1], argv[1] + std::strlen(argv[1]), '"'));
    if (need > static_cast<size_t>(bom.cap)) {
        Why(kCmd, "longer than %d characters", bom.cap);
        CmdError("max. command line size exceeded");
    }

    pathLen = static_cast<int32_t>(std::strlen(path));
    pathEnd = pathLen + 2;
    char* w = bom.cmd + std::snprintf(bom.cmd, static_cast<size_t>(bom.cap), szPST, path);
    for (int i = 1; i < argc; ++i) {
        if (i == 1 && quote) {
            // The input name as the shell delivered it, one token whatever it holds.
            *w++ = '"';
            for (const char* c = argv[1]; *c != '\0'; ++c) {
                if (*c == '"') *w++ = '"';
                *w++ = *c;
            }
            *w++ = '"';
            *w++ = ' ';
            continue;
        }
        const size_t len = std::strlen(argv[i]);
        std::memcpy(w, argv[i], len);
        w += len;
        *w++ = ' ';
    }
    *w++ = '\n';
    *w = '\0';
    scan_base = bom.cmd;
    return 0;
}

Bom* Options() {
    ProgArg();
    if (delim == '\n') NoInput();
    bom.inName = static_cast<char*>(GetMem(kNameCap, 0));
    bom.binName = static_cast<char*>(GetMem(kNameCap, 0));
    bom.hexName = static_cast<char*>(GetMem(kNameCap, 0));
    FileNameArg(arg);
    if (arglen == 0) NoInput();
    std::memcpy(bom.inName, arg, static_cast<size_t>(arglen) + 1);
    std::memcpy(bom.binName, arg, static_cast<size_t>(arglen) + 1);
    chgext(bom.binName, "BIN");
    std::memcpy(bom.hexName, arg, static_cast<size_t>(arglen) + 1);
    chgext(bom.hexName, "HEX");
    allopt();
    return pBom;
}

void chgext(char* name, const char* ext) {
    size_t extLen = 0;
    while (extLen < 3 && ext[extLen] != '\0' && ext[extLen] != ' ') ++extLen;
    const size_t len = std::strlen(name);
    char* end = name + len;
    for (size_t i = len; i-- > 1;) {
        if (name[i] == '\\' || name[i] == '/') break;
        if (name[i] == '.') {
            end = name + i;
            break;
        }
    }
    if (extLen > 0) {
        *end++ = '.';
        std::memcpy(end, ext, extLen);
        end += extLen;
    }
    *end = '\0';
}
