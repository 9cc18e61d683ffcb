// The one plain diagnostic line on standard error of a run that fails: "vortle: ", the file
// concerned, ": " and the cause, with a hint where one helps. The innermost place that knows
// the cause says it; the first cause said in a run is the one printed.
#pragma once

#include <cstdio>

// Records the cause, unless one is recorded already. fmt is a fixed format.
[[gnu::format(printf, 2, 3)]] void Why(const char* file, const char* fmt, ...);
// Prints the recorded cause, or the fallback when none was said, and forgets it.
void WhyPrint(const char* file, const char* fallback);
// Forgets any cause (a new run).
void WhyReset();
// Where the line goes; standard error by default.
void WhySink(std::FILE* out);
// Prints to standard output (through the run's held text in a quiet run). fmt is a fixed
// format.
[[gnu::format(printf, 1, 2)]] void Say(const char* fmt, ...);
// A quiet run holds its standard output back: it is printed when the run fails, dropped when
// it succeeds.
void QuietOutput(bool quiet);
// Flushes standard output; the reason of its first failure in the run is kept.
void FlushOutput();
// Ends a run that exits with code: one that succeeds but could not write its standard output
// (a closed pipe, a full disk) says so on standard error, its only line; a quiet run prints
// what it held only when it fails. Returns code.
int ReportOutput(int code);
// The system's words for the last failed call (strerror, FormatMessage).
const char* SystemError();
