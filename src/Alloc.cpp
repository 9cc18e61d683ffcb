#include "Alloc.h"

#include <cstdlib>

#include "Fatal.h"

namespace {

// Block header; the payload follows it directly.
struct mcu {
    mcu* next;
    uint32_t used;
};

// Pool descriptor: first and last block of the chain.
struct menv {
    mcu* first;
    mcu* last;
};

menv env[kPools];

char* Payload(mcu* blk) {
    return reinterpret_cast<char*>(blk) + sizeof(mcu);
}

[[noreturn]] void OutOfMem() {
    Fatal(NFACT::OutOfMemory, "out of memory");
}

void* mcalloc(size_t size) {
    void* p = std::calloc(1, size);
    if (p == nullptr) OutOfMem();
    return p;
}

mcu* ealloc(menv* e) {
    mcu* blk = static_cast<mcu*>(mcalloc(kStdBlock));
    if (e->last == nullptr) {
        e->first = blk;
    } else {
        e->last->next = blk;
    }
    e->last = blk;
    return blk;
}

void FreeChain(mcu* blk) {
    while (blk != nullptr) {
        mcu* next = blk->next;
        std::free(blk);
        blk = next;
    }
}

} // namespace

static_assert(sizeof(mcu) + kStdPayload <= kStdBlock, "the payload must fit a standard block");

void* GetMem(int len, int pool) {
    if (pool < 0 || pool >= kPools || len < 0) OutOfMem();
    menv* e = &env[pool];
    if (len > kStdPayload) {
        mcu* blk = static_cast<mcu*>(mcalloc(sizeof(mcu) + static_cast<size_t>(len)));
        if (e->first == nullptr) {
            e->last = blk;
        } else {
            blk->next = e->first;
        }
        e->first = blk;
        blk->used = static_cast<uint32_t>(len);
        return Payload(blk);
    }
    if (e->first == nullptr) ealloc(e);
    uint32_t u = e->last->used;
    if (u + static_cast<uint32_t>(len) > static_cast<uint32_t>(kStdPayload)) {
        ealloc(e);
        u = 0;
    }
    e->last->used += static_cast<uint32_t>(len);
    return Payload(e->last) + u;
}

void FreeEnv(int pool) {
    if (pool < 0 || pool >= kPools) return;
    FreeChain(env[pool].first);
    env[pool].first = nullptr;
    env[pool].last = nullptr;
}

void FreeAll() {
    for (int pool = 0; pool < kPools; ++pool) FreeEnv(pool);
}

int PoolChain(int pool, const void** payloads, uint32_t* used, int max) {
    if (pool < 0 || pool >= kPools) return 0;
    int n = 0;
    for (mcu* blk = env[pool].first; blk != nullptr; blk = blk->next, ++n) {
        if (n < max) {
            payloads[n] = Payload(blk);
            used[n] = blk->used;
        }
    }
    return n;
}

const void* PoolLast(int pool) {
    if (pool < 0 || pool >= kPools || env[pool].last == nullptr) return nullptr;
    return Payload(env[pool].last);
}
