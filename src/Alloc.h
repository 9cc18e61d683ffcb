// Pool allocator: three chained arenas of zeroed memory, released only as a whole.
#pragma once

#include <cstdint>

// The pools: the command line and the file names; the ELF tables; a third released with them.
constexpr int kPoolCommandLine = 0;
constexpr int kPoolElfTables = 1;
constexpr int kPools = 3;
// A standard block is one allocation of this size: the block header followed by the payload.
constexpr int kStdBlock = 4112;
// At most this many payload bytes of a standard block are handed out.
constexpr int kStdPayload = 4094;

// Returns len zeroed bytes from the pool; ends the run with the memory report on exhaustion.
void* GetMem(int len, int pool);
// Releases pools 0, 1 and 2 in that order.
void FreeAll();
// Releases one pool; indexes outside 0..2 are ignored.
void FreePool(int pool);

// Read-only view of a pool's chain, for diagnostics and tests: fills up to max entries with
// each block's payload address and used count, first block first; returns the chain length.
int PoolChain(int pool, const void** payloads, uint32_t* used, int max);
// The payload address of the pool's last block, or null when the chain is empty.
const void* PoolLast(int pool);
