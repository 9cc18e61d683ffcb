// Images written all or nothing. A regular image is written to a temporary file in the folder
// that holds it; the images of a run take their names together, only when all are complete,
// and a failure or a signal before that leaves none of them. A character device takes its
// image directly.
#pragma once

#include <cstdio>

constexpr int kTempSlots = 3; // the images of one run

// Opens the image name for writing in the slot; null when it cannot be created (a FIFO, a
// socket, a folder, a link to nothing, a folder that is not there).
std::FILE* TempOpen(int slot, const char* name);
// Ends the run's images. With commit, each is flushed and checked and then every temporary
// file takes its name; if any step fails, none of them stays and the slot that failed goes to
// failed. Without commit, the temporary files are deleted. 0 on success.
int TempFinish(bool commit, int& failed);
// Deletes a stale image: only a regular file (never a link or anything else), never the input.
void TempRemoveStale(const char* name, const char* input);
