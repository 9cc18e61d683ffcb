// Tool driver: entry, banner, the run's report, and the one place where a stopped run releases
// what it holds, deletes its stale images and reports.
#pragma once

#include <functional>

#include "Request.h"

// The whole life of the tool; returns the process exit code.
int VortleMain(int argc, char** argv);
// The part after the command line: the stale images, the signature pass and its report, as
// the request says. Returns the process exit code.
int VortleRun(Request& request);
// Runs body on the request; a run that stops (a fatal report, an input cut short, memory
// exhausted) is reported here, its stale images deleted, and its exit code returned.
int VortleGuard(Request& request, const std::function<int()>& body);
