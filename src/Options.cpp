#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "Alloc.h"
#include "CommandLine.h"
#include "Diag.h"
#include "Fatal.h"
#include "Scanner.h"

namespace {

// The options and their keywords; the empty row ends the options.
enum class Option : int { None, Binary, BaseAddress, Verify, Hex, Crp3, Srec, Fill, Quiet, Count };
struct Keyword {
    Option option;
    char text[16];
};
constexpr Keyword kKeywordTable[11] = {
    {Option::None, ""},          {Option::Binary, "BINARY"},
    {Option::Binary, "BIN"},     {Option::BaseAddress, "BASEADDRESS"},
    {Option::BaseAddress, "BA"}, {Option::Verify, "VERIFY"},
    {Option::Hex, "HEX"},        {Option::Crp3, "CRP3"},
    {Option::Srec, "SREC"},      {Option::Fill, "FILL"},
    {Option::Quiet, "QUIET"},
};
constexpr uint32_t kBaseMax = 0xFF000000u;
constexpr uint32_t kFillMax = 0xFF;

constexpr const char* kCmd = "command line";
constexpr const char* kKeywords =
    "BINARY (BIN), HEX, SREC, BASEADDRESS (BA), FILL, CRP3, VERIFY, QUIET";

// Reads the joined command line's options into the request, token by token.
class OptionParser : CommandScanner {
  public:
    explicit OptionParser(Request& request) : CommandScanner(request) {}
    void Parse();

  private:
    void ExpectOpenParen() const;
    void ExpectCloseParen() const;
    void ScanImageName(char* p);
    uint32_t TokenNumber(const char* range) const;
    uint32_t ParenthesisedNumber(uint32_t lo, uint32_t hi, const char* range);
    Option OptionOfToken() const;
    [[noreturn]] void UnknownWord() const;
    void Apply(Option option);
    [[noreturn]] void OutOfRange(const char* range) const;

    bool seen_[static_cast<int>(Option::Count)] = {};
};

void OptionParser::OutOfRange(const char* range) const {
    Why(kCmd, "%s is out of range: %s", token_, range);
    Fatal(Failure::NumRange, token_);
}

// The edit distance of two words (insertions, deletions, substitutions), up to 15 letters.
size_t Distance(const char* a, const char* b) {
    constexpr size_t kMax = 16;
    const size_t m = std::strlen(a) < kMax ? std::strlen(a) : kMax - 1;
    const size_t n = std::strlen(b) < kMax ? std::strlen(b) : kMax - 1;
    size_t row[kMax];
    for (size_t j = 0; j <= n; ++j) row[j] = j;
    for (size_t i = 1; i <= m; ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= n; ++j) {
            const size_t above = row[j];
            const size_t swap = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min(std::min(above + 1, row[j - 1] + 1), swap);
            diagonal = above;
        }
    }
    return row[n];
}

void OptionParser::ExpectOpenParen() const {
    if (delimiter_ != '(') {
        Why(kCmd, "'%s' needs its number in parentheses, for example BA(0x2000)", token_);
        RefuseCommandLine("( expected");
    }
}

void OptionParser::ExpectCloseParen() const {
    if (delimiter_ != ')') {
        Why(kCmd, "')' is missing after '%s'", request_.echo + request_.programPathLength + 1);
        RefuseCommandLine(") expected");
    }
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
uint32_t OptionParser::TokenNumber(const char* range) const {
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
        if (value > 0xFFFFFFFFu) OutOfRange(range);
    }
    return static_cast<uint32_t>(value);
}

uint32_t OptionParser::ParenthesisedNumber(uint32_t lo, uint32_t hi, const char* range) {
    ExpectOpenParen();
    ScanEchoed(token_, true);
    const uint32_t value = TokenNumber(range);
    if (value < lo || value > hi) OutOfRange(range);
    ExpectCloseParen();
    return value;
}

Option OptionParser::OptionOfToken() const {
    for (const Keyword& k : kKeywordTable) {
        if (std::strcmp(token_, k.text) == 0) return k.option;
    }
    UnknownWord();
}

// A word that is no keyword: an option of another tool, a second file name, a mistyped keyword
// (the nearest one is suggested) or anything else.
void OptionParser::UnknownWord() const {
    char word[48];
    WrittenWord(word, sizeof word);
    if (word[0] == '-') {
        Why(kCmd, "'%s' is no option; vortle takes keywords: %s", word, kKeywords);
        Fatal(Failure::InvalidArg, word);
    }
    if (std::strpbrk(word, "./\\") != nullptr) {
        Why(kCmd, "'%s' is a second file name; vortle takes one input file a run", word);
        Fatal(Failure::InvalidArg, token_);
    }
    const char* nearest = nullptr;
    size_t best = 3; // a suggestion differs in at most two letters
    for (const Keyword& k : kKeywordTable) {
        const size_t d = k.text[0] != '\0' ? Distance(token_, k.text) : best;
        if (d < best && d < std::strlen(k.text)) {
            best = d;
            nearest = k.text;
        }
    }
    if (nearest != nullptr) {
        Why(kCmd, "'%s' is no keyword; did you mean %s? The keywords are %s", token_, nearest,
            kKeywords);
    } else {
        Why(kCmd, "'%s' is no keyword; the keywords are %s", token_, kKeywords);
    }
    Fatal(Failure::InvalidArg, token_);
}

void OptionParser::Apply(Option option) {
    bool& seen = seen_[static_cast<int>(option)];
    if (seen) {
        Why(kCmd, "'%s' is given twice (BIN is BINARY, BA is BASEADDRESS)", token_);
        RefuseCommandLine("redefinition");
    }
    seen = true;
    switch (option) {
    case Option::Binary:
        request_.writeBinary = true;
        if (delimiter_ == '(') ScanImageName(request_.binaryName);
        break;
    case Option::BaseAddress:
        request_.range = SignatureRange::VectorTableAt(
            ParenthesisedNumber(0, kBaseMax, "a base address is 0 to 0xFF000000"));
        break;
    case Option::Fill:
        request_.gapFill = true;
        request_.fillByte =
            static_cast<uint8_t>(ParenthesisedNumber(0, kFillMax, "a fill byte is 0 to 0xFF"));
        break;
    case Option::Srec:
        request_.writeSrec = true;
        if (delimiter_ == '(') ScanImageName(request_.srecName);
        break;
    case Option::Quiet:
        request_.quiet = true;
        QuietOutput(true);
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
    if (delimiter_ == '\n') NoInputFile();
    request_.inputName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.binaryName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.hexName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.srecName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    ScanFileName(token_);
    if (tokenLength_ == 0) NoInputFile();
    const size_t size = static_cast<size_t>(tokenLength_) + 1;
    std::memcpy(request_.inputName, token_, size);
    std::memcpy(request_.binaryName, token_, size);
    ReplaceExtension(request_.binaryName, "BIN");
    std::memcpy(request_.hexName, token_, size);
    ReplaceExtension(request_.hexName, "HEX");
    std::memcpy(request_.srecName, token_, size);
    ReplaceExtension(request_.srecName, "SREC");
    // The options, until the line ends or the empty keyword row is met.
    while (delimiter_ != '\0' && delimiter_ != '\n') {
        ScanToken(token_);
        if (tokenLength_ == 0 && delimiter_ == '-') UnknownWord();
        Echo(token_, true);
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
