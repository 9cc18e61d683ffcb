// In-process harness for the fuzz targets and their replay: every run starts from
// program-start state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sends standard output into memory (without a system call) and makes an
// empty working folder on a memory file system where there is one. Returns that folder.
const std::string& HarnessInit();
// Makes the working folder the current one for one run, and back: relative names that a run
// deletes then stay inside it.
void HarnessEnter();
void HarnessLeave();
// The pools as at program start, and no output yet.
void HarnessReset();
// What the runs since the last reset wrote to standard output.
const std::string& HarnessOutput();
// Fails loudly: an invariant of the tool does not hold.
[[noreturn]] void HarnessFail(const char* what);

#define HARNESS_CHECK(cond)                                                                        \
    do {                                                                                           \
        if (!(cond)) HarnessFail(#cond);                                                           \
    } while (0)

// Real files: the corpus, and the command-line target's working folder.
std::vector<uint8_t> HarnessRead(const std::string& path);
void HarnessWrite(const std::string& path, const uint8_t* data, size_t size);
bool HarnessExists(const std::string& path);

// The engine target's files. The fuzz target keeps them in memory, behind a platform layer of
// its own (no system call per run); the replay against real files keeps them in the working
// folder, behind the system's platform layer.
void HarnessPutInput(const std::string& path, const uint8_t* data, size_t size);
const std::vector<uint8_t>& HarnessGetInput(size_t size); // one byte more shows growth
bool HarnessGetFile(const std::string& path, std::vector<uint8_t>& bytes); // false: no file
void HarnessPutFile(const std::string& path, const uint8_t* data, size_t size);
void HarnessRemoveFile(const std::string& path);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
