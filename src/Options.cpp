#include "Options.h"

#include <cctype>
#include <cstring>

#include "Alloc.h"
#include "CommandLine.h"
#include "Diag.h"
#include "Fatal.h"
#include "Scanner.h"

namespace {

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

// Reads the joined command line's options into the request, token by token.
class OptionParser : CommandScanner {
  public:
    explicit OptionParser(Request& request) : CommandScanner(request) {}
    void Parse();

  private:
    void ExpectOpenParen() const;
    void ExpectCloseParen() const;
    void ScanImageName(char* p);
    uint32_t TokenNumber() const;
    uint32_t ParenthesisedNumber(uint32_t lo, uint32_t hi);
    Option OptionOfToken() const;
    void Apply(Option option);
    [[noreturn]] void OutOfRange() const;

    bool seen_[static_cast<int>(Option::Count)] = {};
};

void OptionParser::OutOfRange() const {
    Why(kCmd, "%s is out of range: a base address is 0 to 0xFF000000", token_);
    Fatal(Failure::NumRange, token_);
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
        RefuseCommandLine("redefinition");
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
    if (delimiter_ == '\n') NoInputFile();
    request_.inputName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.binaryName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    request_.hexName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    ScanFileName(token_);
    if (tokenLength_ == 0) NoInputFile();
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
