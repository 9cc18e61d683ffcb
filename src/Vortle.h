// Tool driver: entry, banner, the run's report, and the one place where a stopped run releases
// what it holds, deletes its stale images and reports.
#pragma once

#include <functional>

// The whole life of the tool; returns the process exit code.
int VortleMain(int argc, char** argv);
// The part after the command line: the stale images, the signature pass and its report, as
// the command-line record and the signature range say. Returns the process exit code.
int VortleRun();
// Runs body; a run that stops (a fatal report, an input cut short, memory exhausted) is
// reported here and its exit code returned.
int VortleGuard(const std::function<int()>& body);
