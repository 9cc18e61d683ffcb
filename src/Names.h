// Which file a name designates: two names of one file, and the exact spelling a folder stores.
// The kernel resolves every folder; nothing here walks a path in user space.
#pragma once

// True when both names designate one file, whether it exists yet or not: the same existing
// file (through links too), or the same last component in the same folder (ignoring case
// where the folder's volume ignores it).
bool SameTarget(const char* a, const char* b);

// True when the folder of name stores an entry spelt exactly like its last component, case
// included (on a volume that ignores case, "APP.BIN" finds "app.bin", which is another name).
bool StoredExactly(const char* name);
