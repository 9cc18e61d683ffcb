#include "Alloc.h"

#include <cstdlib>

#include "Fatal.h"

namespace {

// Block header; the payload follows it directly.
struct Block {
    Block* next;
    uint32_t used;
};

// Pool descriptor: first and last block of the chain.
struct Pool {
    Block* first;
    Block* last;
};

Pool pools[kPools];

char* Payload(Block* blk) {
    return reinterpret_cast<char*>(blk) + sizeof(Block);
}

[[noreturn]] void OutOfMem() {
    Fatal(Failure::OutOfMemory, "out of memory");
}

void* ZeroedBlock(size_t size) {
    void* p = std::calloc(1, size);
    if (p == nullptr) OutOfMem();
    return p;
}

Block* AppendBlock(Pool* e) {
    Block* blk = static_cast<Block*>(ZeroedBlock(kStdBlock));
    if (e->last == nullptr) {
        e->first = blk;
    } else {
        e->last->next = blk;
    }
    e->last = blk;
    return blk;
}

void FreeChain(Block* blk) {
    while (blk != nullptr) {
        Block* next = blk->next;
        std::free(blk);
        blk = next;
    }
}

} // namespace

static_assert(sizeof(Block) + kStdPayload <= kStdBlock, "the payload must fit a standard block");

void* GetMem(int len, int pool) {
    if (pool < 0 || pool >= kPools || len < 0) OutOfMem();
    Pool* e = &pools[pool];
    if (len > kStdPayload) {
        Block* blk = static_cast<Block*>(ZeroedBlock(sizeof(Block) + static_cast<size_t>(len)));
        if (e->first == nullptr) {
            e->last = blk;
        } else {
            blk->next = e->first;
        }
        e->first = blk;
        blk->used = static_cast<uint32_t>(len);
        return Payload(blk);
    }
    if (e->first == nullptr) AppendBlock(e);
    uint32_t u = e->last->used;
    if (u + static_cast<uint32_t>(len) > static_cast<uint32_t>(kStdPayload)) {
        AppendBlock(e);
        u = 0;
    }
    e->last->used += static_cast<uint32_t>(len);
    return Payload(e->last) + u;
}

void FreePool(int pool) {
    if (pool < 0 || pool >= kPools) return;
    FreeChain(pools[pool].first);
    pools[pool].first = nullptr;
    pools[pool].last = nullptr;
}

void FreeAll() {
    for (int pool = 0; pool < kPools; ++pool) FreePool(pool);
}

int PoolChain(int pool, const void** payloads, uint32_t* used, int max) {
    if (pool < 0 || pool >= kPools) return 0;
    int n = 0;
    for (Block* blk = pools[pool].first; blk != nullptr; blk = blk->next, ++n) {
        if (n < max) {
            payloads[n] = Payload(blk);
            used[n] = blk->used;
        }
    }
    return n;
}

const void* PoolLast(int pool) {
    if (pool < 0 || pool >= kPools || pools[pool].last == nullptr) return nullptr;
    return Payload(pools[pool].last);
}
