// The command line's token scanner: keywords, numbers and file names read one token at a time
// from the joined command line, each echoed for the report of a refused command line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Request.h"

// Refuses the command line with the report of text (the echo of what was parsed shows with it).
[[noreturn]] void RefuseCommandLine(const char* text);
// Refuses a command line that names no input file.
[[noreturn]] void NoInputFile();

class CommandScanner {
  protected:
    explicit CommandScanner(Request& request) : request_(request) {}

    static constexpr int kTokenCap = 1024; // the token buffer

    // Skips blanks and tabs; returns the next character without consuming it.
    char SkipBlanks();
    // Scans the next token into p (room for the longest token plus its terminator).
    char ScanToken(char* p);
    // Appends the token in p and its delimiter to the echo; must: the token may not be empty.
    void Echo(const char* p, bool must);
    char ScanEchoed(char* p, bool must);
    // A token in file-name mode, not upper-cased.
    void ScanFileName(char* p);
    // The program path that opens the command line, taken whole.
    void TakeProgramPath();
    // A file name in balanced parentheses or in double quotes.
    void ScanParenthesisedName(char* p);
    // The last token's word as written, with any '-' right before it, up to the next blank
    // (at most cap - 1 characters).
    void WrittenWord(char* out, size_t cap) const;

    Request& request_;
    char token_[kTokenCap] = {}; // the last token
    int32_t tokenLength_ = 0;
    char delimiter_ = 0;    // the character that ended the last token
    bool upperCase_ = true; // keywords and numbers are read upper-cased

  private:
    bool EndsToken(char c) const;
    void ClassifyAfter(char c);
    void CheckEchoRoom(int32_t n) const;
    void RequireToken() const;
    [[noreturn]] void TooLong(const char* name) const;

    const char* at_ = nullptr;      // scan position in the command line
    const char* tokenAt_ = nullptr; // where the last token starts
    int32_t echoLength_ = 0;
    bool nameMode_ = false; // a file name: its own delimiters and length limit
};
