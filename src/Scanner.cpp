#include "Scanner.h"

#include <cctype>
#include <cstring>

#include "CommandLine.h"
#include "Diag.h"
#include "Fatal.h"

namespace {

constexpr int kWordLimit = 127;  // longest keyword or number; a longer one is cut there
constexpr int kNameLimit = 1000; // longest file name; a longer one is refused, never cut
constexpr int kEchoSlack = 31;   // the echo stays this far below the capacity

// The characters that end a keyword or a number, in their stored order.
constexpr char kWordDelimiters[20] = {' ', '\t', ';', ',', '(', ')', '=', '#', '!',  '$',
                                      '`', '+',  '-', '&', '|', '[', ']', '%', '\n', '\x7F'};

constexpr const char* kCmd = "command line";
constexpr const char* kTooLong = "file name too long";

} // namespace

void RefuseCommandLine(const char* text) {
    Why(kCmd, "%s", text);
    Fatal(Failure::CmdLine, text);
}

void NoInputFile() {
    Why(kCmd, "no input file; vortle --help shows how to use the tool");
    RefuseCommandLine("argument expected");
}

void CommandScanner::TooLong(const char* name) const {
    Why(kCmd, "a file name of more than 1000 characters ('%.40s...')", name);
    RefuseCommandLine(kTooLong);
}

bool CommandScanner::EndsToken(char c) const {
    if (nameMode_) return std::memchr(kNameDelimiters, c, sizeof kNameDelimiters) != nullptr;
    return std::memchr(kWordDelimiters, c, sizeof kWordDelimiters) != nullptr;
}

// Skips blanks and tabs; returns the next character without consuming it.
char CommandScanner::SkipBlanks() {
    while (*at_ == ' ' || *at_ == '\t') ++at_;
    return *at_;
}

// Classifies the character after a token's trailing blanks or its closing quote.
void CommandScanner::ClassifyAfter(char c) {
    if (!EndsToken(c)) {
        delimiter_ = ' ';
    } else if (c == '\n') {
        delimiter_ = '\n';
    } else if (c == '\'' || c == '"') {
        delimiter_ = ' ';
    } else {
        delimiter_ = c;
        ++at_;
    }
}

// Scans the next token into p (room for the longest token plus its terminator).
char CommandScanner::ScanToken(char* p) {
    tokenLength_ = 0;
    char quote = 0;
    SkipBlanks();
    tokenAt_ = at_;
    for (;;) {
        // A keyword or number is cut at its limit; a file name one character past it is
        // refused below.
        if (nameMode_ ? tokenLength_ > kNameLimit : tokenLength_ >= kWordLimit) {
            delimiter_ = ' ';
            break;
        }
        char c = *at_++;
        if (c == '\0') {
            --at_;
            delimiter_ = '\n';
            break;
        }
        if (c == '\r') c = '\n';
        if (quote != 0) {
            if (c == '\n') {
                --at_;
                delimiter_ = '\n';
                break;
            }
            if (c == quote) {
                if (*at_ == quote) { // a doubled quote stands for itself
                    ++at_;
                    p[tokenLength_++] = c;
                    continue;
                }
                while (*at_ == ' ') ++at_;
                ClassifyAfter(*at_);
                break;
            }
            p[tokenLength_++] = c;
            continue;
        }
        if (c == '\'' || c == '"') {
            if (tokenLength_ == 0) {
                quote = c;
                continue;
            }
            --at_; // the quote begins the next token
            delimiter_ = ' ';
            break;
        }
        if (EndsToken(c)) {
            if (c == ' ') {
                ClassifyAfter(SkipBlanks());
            } else {
                delimiter_ = c;
            }
            break;
        }
        if (upperCase_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        p[tokenLength_++] = c;
    }
    p[tokenLength_] = '\0';
    if (nameMode_ && tokenLength_ > kNameLimit) TooLong(p);
    if (delimiter_ == ';') delimiter_ = '\n'; // a semicolon ends the command line
    return delimiter_;
}

void CommandScanner::CheckEchoRoom(int32_t n) const {
    if (n >= kCommandLineCap - kEchoSlack) {
        Why(kCmd, "longer than %d characters", kCommandLineCap - kEchoSlack);
        RefuseCommandLine("max. command line size exceeded");
    }
}

// An option's word is missing: nothing but the program path read means no input at all.
void CommandScanner::RequireToken() const {
    if (tokenLength_ != 0) return;
    if (echoLength_ <= request_.programPathLength + 1) NoInputFile();
    Why(kCmd, "a word is missing after '%s'", request_.echo + request_.programPathLength + 1);
    RefuseCommandLine("argument expected");
}

// Appends the token in p and its delimiter to the echo.
void CommandScanner::Echo(const char* p, bool must) {
    if (tokenLength_ == 0 && delimiter_ == '\n') return;
    if (must) RequireToken();
    CheckEchoRoom(echoLength_ + tokenLength_);
    char* echo = request_.echo;
    std::memcpy(echo + echoLength_, p, static_cast<size_t>(tokenLength_));
    echoLength_ += tokenLength_;
    echo[echoLength_++] = delimiter_ == '\n' ? '\0' : delimiter_;
    if (delimiter_ == ')') echo[echoLength_++] = ' ';
    echo[echoLength_] = '\0';
    CheckEchoRoom(echoLength_);
}

char CommandScanner::ScanEchoed(char* p, bool must) {
    ScanToken(p);
    Echo(p, must);
    return delimiter_;
}

// A token in file-name mode, not upper-cased.
void CommandScanner::ScanFileName(char* p) {
    nameMode_ = true;
    upperCase_ = false;
    ScanEchoed(p, true);
    upperCase_ = true;
    nameMode_ = false;
}

// The program path opens the command line. It is taken whole, as the platform gives it, so
// that neither its length nor any quote in it changes how the arguments are read; what follows
// its closing quote is classified as after any quoted file name.
void CommandScanner::TakeProgramPath() {
    nameMode_ = true;
    at_ = request_.commandLine + request_.programPathLength + 2; // behind the closing quote
    while (*at_ == ' ') ++at_;
    ClassifyAfter(*at_);
    if (delimiter_ == ';') delimiter_ = '\n';
    tokenLength_ = request_.programPathLength;
    Echo(request_.commandLine + 1, true);
    nameMode_ = false;
}

// Reads a file name in balanced parentheses or in double quotes.
void CommandScanner::ScanParenthesisedName(char* p) {
    tokenLength_ = 0;
    if (SkipBlanks() == '"') {
        nameMode_ = true;
        ScanEchoed(p, true);
        nameMode_ = false;
        return;
    }
    int depth = 1;
    char end = '\n';
    int32_t named = 0; // characters up to the last one that is not a blank
    for (;;) {
        const char c = *at_;
        if (c == '\0' || c == '\n') break;
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (depth == 0) {
            end = ')';
            break;
        }
        // Trailing blanks are no part of the name: only what comes before them counts.
        if (c != ' ') {
            if (tokenLength_ >= kNameLimit) TooLong(p);
            while (named < tokenLength_) p[named++] = ' ';
            p[named++] = c;
        }
        ++tokenLength_;
        ++at_;
    }
    if (*at_ == ')') ++at_;
    delimiter_ = end;
    tokenLength_ = named;
    p[tokenLength_] = '\0';
    Echo(p, true);
}

void CommandScanner::WrittenWord(char* out, size_t cap) const {
    const char* from = tokenAt_;
    while (from > request_.commandLine && from[-1] == '-') --from;
    size_t n = 0;
    while (n + 1 < cap && from[n] != '\0' && from[n] != ' ' && from[n] != '\t' && from[n] != '\n' &&
           from[n] != '\r') {
        out[n] = from[n];
        ++n;
    }
    out[n] = '\0';
}
