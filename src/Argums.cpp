#include "Argums.h"

#include <cctype>
#include <cstring>

#include "Alloc.h"
#include "CmdLine.h"
#include "Diag.h"
#include "Fatal.h"
#include "Range.h"

Bom bom;

namespace {

constexpr int kArgCap = 1024;    // the token buffer
constexpr int kGenLimit = 127;   // longest token in general mode
constexpr int kNameLimit = 1000; // longest file name; a longer one is refused, never cut
constexpr int kEchoSlack = 31;   // the echo stays this far below the capacity

// The general delimiter set, in its stored order.
constexpr char del[20] = {' ', '\t', ';', ',', '(', ')', '=', '#', '!',  '$',
                          '`', '+',  '-', '&', '|', '[', ']', '%', '\n', '\x7F'};
constexpr const char* kTooLong = "file name too long";

// One row of the option table.
struct OptRow {
    int16_t num;  // option number; 0 marks the empty row
    char key[16]; // keyword, NUL-padded
};
constexpr int kOptBinary = 1;
constexpr int kOptBase = 2;
constexpr int kOptVerify = 3;
constexpr int kOptHex = 4;
constexpr int kOptCrp3 = 5;
constexpr OptRow opts[8] = {
    {0, ""},          {kOptBinary, "BINARY"}, {kOptBinary, "BIN"}, {kOptBase, "BASEADDRESS"},
    {kOptBase, "BA"}, {kOptVerify, "VERIFY"}, {kOptHex, "HEX"},    {kOptCrp3, "CRP3"},
};
constexpr uint32_t kBaseMax = 0xFF000000u;

const char* scan_base; // scan position in the command line
char arg[kArgCap];     // token buffer
int32_t arglen;        // characters in the last token
char delim;            // delimiter that ended the last token
int32_t invl;          // length of the echo
uint8_t w95;           // file-name mode when non-zero
uint8_t umode = 1;     // upper-case mode when non-zero
uint8_t wasopt[8];     // marks of the options already processed

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
    if (invl <= bom.pathLen + 1) NoInput();
    Why(kCmd, "a word is missing after '%s'", bom.echo + bom.pathLen + 1);
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
        Why(kCmd, "')' is missing after '%s'", bom.echo + bom.pathLen + 1);
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
    scan_base = bom.cmd + bom.pathLen + 2; // behind the closing quote
    while (*scan_base == ' ') ++scan_base;
    ChkDelim(*scan_base);
    if (delim == ';') delim = '\n';
    arglen = bom.pathLen;
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

} // namespace

void Options() {
    std::memset(wasopt, 0, sizeof wasopt);
    invl = 0;
    w95 = 0;
    umode = 1;
    delim = 0;
    arglen = 0;
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
}
