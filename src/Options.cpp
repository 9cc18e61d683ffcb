#include "Options.h"

#include <cctype>
#include <cstring>

#include "Alloc.h"
#include "CommandLine.h"
#include "Diag.h"
#include "Fatal.h"

namespace {

constexpr int kTokenCap = 1024;  // the token buffer
constexpr int kWordLimit = 127;  // longest keyword or number; a longer one is cut there
constexpr int kNameLimit = 1000; // longest file name; a longer one is refused, never cut
constexpr int kEchoSlack = 31;   // the echo stays this far below the capacity

// The characters that end a keyword or a number, in their stored order.
constexpr char kWordDelimiters[20] = {' ', '\t', ';', ',', '(', ')', '=', '#', '!',  '$',
                                      '`', '+',  '-', '&', '|', '[', ']', '%', '\n', '\x7F'};

// The options and their keywords; the empty row ends the options.
enum class Option : int { None, Binary, BaseAddress, Verify, Hex, Crp3, Count };
struct Keyword {
    Option option;
    char text[16];
};
constexpr Keyword kKeywordTable[8] = {
    {Option::None, ""},          {Option::Binary, "BINARY"},
    {Option::Binary, "BIN"},     {Option::BaseAddress, "BASEADDRESS"},
    {Option::BaseAddress, "BA"}, {Option::Verify, "VERIFY"},
    {Option::Hex, "HEX"},        {Option::Crp3, "CRP3"},
};
constexpr uint32_t kBaseMax = 0xFF000000u;

constexpr const char* kCmd = "command line";
constexpr const char* kKeywords = "BINARY (BIN), HEX, BASEADDRESS (BA), CRP3, VERIFY";
constexpr const char* kTooLong = "file name too long";

[[noreturn]] void Refuse(const char* text) {
    Why(kCmd, "%s", text);
    Fatal(Failure::CmdLine, text);
}

[[noreturn]] void NoInput() {
    Why(kCmd, "no input file; vortle --help shows how to use the tool");
    Refuse("argument expected");
}

// Reads the joined command line token by token into the request, echoing what it has read.
class OptionParser {
  public:
    explicit OptionParser(Request& request) : request_(request) {}
    void Parse();

  private:
    bool EndsToken(char c) const;
    char SkipBlanks();
    void ClassifyAfter(char c);
    char ScanToken(char* p);
    void CheckEchoRoom(int32_t n) const;
    void RequireToken() const;
    void ExpectOpenParen() const;
    void ExpectCloseParen() const;
    void Echo(const char* p, bool must);
    char ScanEchoed(char* p, bool must);
    void ScanFileName(char* p);
    void TakeProgramPath();
    void ScanParenthesisedName(char* p);
    void ScanImageName(char* p);
    uint32_t TokenNumber() const;
    uint32_t ParenthesisedNumber(uint32_t lo, uint32_t hi);
    Option OptionOfToken() const;
    void Apply(Option option);
    [[noreturn]] void OutOfRange() const;
    [[noreturn]] void TooLong(const char* name) const;

    Request& request_;
    const char* at_ = nullptr;   // scan position in the command line
    char token_[kTokenCap] = {}; // the last token
    int32_t tokenLength_ = 0;
    char delimiter_ = 0; // the character that ended the last token
    int32_t echoLength_ = 0;
    bool nameMode_ = false; // a file name: its own delimiters and length limit
    bool upperCase_ = true; // keywords and numbers are read upper-cased
    bool seen_[static_cast<int>(Option::Count)] = {};
};

void OptionParser::OutOfRange() const {
    Why(kCmd, "%s is out of range: a base address is 0 to 0xFF000000", token_);
    Fatal(Failure::NumRange, token_);
}

void OptionParser::TooLong(const char* name) const {
    Why(kCmd, "a file name of more than 1000 characters ('%.40s...')", name);
    Refuse(kTooLong);
}

bool OptionParser::EndsToken(char c) const {
    if (nameMode_) return std::memchr(kNameDelimiters, c, sizeof kNameDelimiters) != nullptr;
    return std::memchr(kWordDelimiters, c, sizeof kWordDelimiters) != nullptr;
}

// Skips blanks and tabs; returns the next character without consuming it.
char OptionParser::SkipBlanks() {
    while (*at_ == ' ' || *at_ == '\t') ++at_;
    return *at_;
}

// Classifies the character after a token's trailing blanks or its closing quote.
void OptionParser::ClassifyAfter(char c) {
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
char OptionParser::ScanToken(char* p) {
    tokenLength_ = 0;
    char quote = 0;
    SkipBlanks();
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

void OptionParser::CheckEchoRoom(int32_t n) const {
    if (n >= request_.capacity - kEchoSlack) {
        Why(kCmd, "longer than %d characters", request_.capacity - kEchoSlack);
        Refuse("max. command line size exceeded");
    }
}

// An option's word is missing: nothing but the program path read means no input at all.
void OptionParser::RequireToken() const {
    if (tokenLength_ != 0) return;
    if (echoLength_ <= request_.programPathLength + 1) NoInput();
    Why(kCmd, "a word is missing after '%s'", request_.echo + request_.programPathLength + 1);
    Refuse("argument expected");
}

void OptionParser::ExpectOpenParen() const {
    if (delimiter_ != '(') {
        Why(kCmd, "'%s' needs its number in parentheses, for example BA(0x2000)", token_);
        Refuse("( expected");
    }
}

void OptionParser::ExpectCloseParen() const {
    if (delimiter_ != ')') {
        Why(kCmd, "')' is missing after '%s'", request_.echo + request_.programPathLength + 1);
        Refuse(") expected");
    }
}

// Appends the token in p and its delimiter to the echo.
void OptionParser::Echo(const char* p, bool must) {
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

char OptionParser::ScanEchoed(char* p, bool must) {
    ScanToken(p);
    Echo(p, must);
    return delimiter_;
}

// A token in file-name mode, not upper-cased.
void OptionParser::ScanFileName(char* p) {
    nameMode_ = true;
    upperCase_ = false;
    ScanEchoed(p, true);
    upperCase_ = true;
    nameMode_ = false;
}

// The program path opens the command line. It is taken whole, as the platform gives it, so
// that neither its length nor any quote in it changes how the arguments are read; what follows
// its closing quote is classified as after any quoted file name.
void OptionParser::TakeProgramPath() {
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
void OptionParser::ScanParenthesisedName(char* p) {
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

// An image name in parentheses after its keyword.
void OptionParser::ScanImageName(char* p) {
    ExpectOpenParen();
    upperCase_ = false;
    ScanParenthesisedName(p);
    upperCase_ = true;
    ExpectCloseParen();
}

// The number in the token: hexadecimal after "0x", else decimal. Every character must be a
// digit of the base before the value is formed; a value beyond 32 bits is out of range.
uint32_t OptionParser::TokenNumber() const {
    const bool hex = tokenLength_ > 2 && token_[0] == '0' &&
                     std::toupper(static_cast<unsigned char>(token_[1])) == 'X';
    const int32_t first = hex ? 2 : 0;
    for (int32_t i = first; i < tokenLength_; ++i) {
        const unsigned char c = static_cast<unsigned char>(token_[i]);
        if (hex ? !std::isxdigit(c) : !(c >= '0' && c <= '9')) {
            Why(kCmd, "'%s' is no number: write it in decimal, or in hexadecimal after 0x", token_);
            Fatal(Failure::InvalidNum, token_);
        }
    }
    uint64_t value = 0;
    for (int32_t i = first; i < tokenLength_; ++i) {
        const unsigned char c = static_cast<unsigned char>(token_[i]);
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

uint32_t OptionParser::ParenthesisedNumber(uint32_t lo, uint32_t hi) {
    ExpectOpenParen();
    ScanEchoed(token_, true);
    const uint32_t value = TokenNumber();
    if (value < lo || value > hi) OutOfRange();
    ExpectCloseParen();
    return value;
}

Option OptionParser::OptionOfToken() const {
    for (const Keyword& k : kKeywordTable) {
        if (std::strcmp(token_, k.text) == 0) return k.option;
    }
    Why(kCmd, "'%s' is no keyword; the keywords are %s", token_, kKeywords);
    Fatal(Failure::InvalidArg, token_);
}

void OptionParser::Apply(Option option) {
    bool& seen = seen_[static_cast<int>(option)];
    if (seen) {
        Why(kCmd, "'%s' is given twice (BIN is BINARY, BA is BASEADDRESS)", token_);
        Refuse("redefinition");
    }
    seen = true;
    switch (option) {
    case Option::Binary:
        request_.writeBinary = true;
        if (delimiter_ == '(') ScanImageName(request_.binaryName);
        break;
    case Option::BaseAddress:
        request_.range = SignatureRange::VectorTableAt(ParenthesisedNumber(0, kBaseMax));
        break;
    case Option::Hex:
        request_.writeHex = true;
        if (delimiter_ == '(') ScanImageName(request_.hexName);
        break;
    case Option::Crp3:
        request_.acceptCrp3 = true;
        break;
    case Option::Verify:
        request_.checkOnly = true;
        request_.keepImages = true;
        break;
    case Option::None:
    case Option::Count:
        break;
    }
}

void OptionParser::Parse() {
    TakeProgramPath();
    if (delimiter_ == '\n') NoInput();
    request_.inputName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.binaryName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.hexName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    ScanFileName(token_);
    if (tokenLength_ == 0) NoInput();
    const size_t size = static_cast<size_t>(tokenLength_) + 1;
    std::memcpy(request_.inputName, token_, size);
    std::memcpy(request_.binaryName, token_, size);
    ReplaceExtension(request_.binaryName, "BIN");
    std::memcpy(request_.hexName, token_, size);
    ReplaceExtension(request_.hexName, "HEX");
    // The options, until the line ends or the empty keyword row is met.
    while (delimiter_ != '\0' && delimiter_ != '\n') {
        ScanEchoed(token_, true);
        if (tokenLength_ == 0 && delimiter_ == '\n') break;
        const Option option = OptionOfToken();
        if (option == Option::None) break;
        Apply(option);
    }
}

} // namespace

void ParseCommandLine(int argc, char** argv, Request& request) {
    JoinCommandLine(argc, argv, request);
    OptionParser(request).Parse();
}
