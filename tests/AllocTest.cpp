#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "Alloc.h"
#include "Diag.h"
#include "Request.h"
#include "Support.h"
#include "Vortle.h"

namespace {

struct Chain {
    int n = 0;
    const void* payload[8] = {};
    uint32_t used[8] = {};
};

Chain ChainOf(int pool) {
    Chain c;
    c.n = PoolChain(pool, c.payload, c.used, 8);
    return c;
}

class Pools : public ::testing::Test {
  protected:
    void SetUp() override { FreeAll(); }
    void TearDown() override { FreeAll(); }
};

TEST_F(Pools, StandardBlockBoundaries) {
    struct Case {
        std::vector<int> lens;
        int blocks;
        std::vector<uint32_t> used;
    };
    const Case cases[] = {
        {{4094}, 1, {4094}},       {{4094, 4094}, 2, {4094, 4094}},   {{4093, 1}, 1, {4094}},
        {{4093, 2}, 2, {4093, 2}}, {{2000, 2000, 95}, 2, {4000, 95}}, {{0, 0}, 1, {0}},
    };
    for (const Case& c : cases) {
        FreeAll();
        for (int len : c.lens) GetMem(len, 2);
        const Chain chain = ChainOf(2);
        ASSERT_EQ(chain.n, c.blocks) << c.lens.size();
        for (int i = 0; i < chain.n; ++i) EXPECT_EQ(chain.used[i], c.used[static_cast<size_t>(i)]);
    }
}

TEST_F(Pools, RequestsArePackedWithoutAlignment) {
    const char* a = static_cast<char*>(GetMem(3, 0));
    const char* b = static_cast<char*>(GetMem(5, 0));
    const char* c = static_cast<char*>(GetMem(4086, 0));
    EXPECT_EQ(b, a + 3);
    EXPECT_EQ(c, b + 5);
    const char* d = static_cast<char*>(GetMem(1, 0)); // 4094 used: a new block
    EXPECT_EQ(ChainOf(0).n, 2);
    EXPECT_EQ(d, PoolLast(0));
}

TEST_F(Pools, LargeRequestIntoEmptyPoolStaysFirst) {
    void* big = GetMem(4095, 1);
    Chain c = ChainOf(1);
    ASSERT_EQ(c.n, 1);
    EXPECT_EQ(c.payload[0], big);
    EXPECT_EQ(c.used[0], 4095u);
    EXPECT_EQ(PoolLast(1), big);
    void* small = GetMem(1, 1); // the large block is full: a standard block follows it
    c = ChainOf(1);
    ASSERT_EQ(c.n, 2);
    EXPECT_EQ(c.payload[0], big);
    EXPECT_EQ(c.payload[1], small);
    EXPECT_EQ(PoolLast(1), small);
}

TEST_F(Pools, LargeRequestIntoChainGoesInFront) {
    char* first = static_cast<char*>(GetMem(10, 0));
    void* big = GetMem(100000, 0);
    Chain c = ChainOf(0);
    ASSERT_EQ(c.n, 2);
    EXPECT_EQ(c.payload[0], big);
    EXPECT_EQ(c.payload[1], first);
    EXPECT_EQ(PoolLast(0), first);
    // Small requests go on in the last block.
    EXPECT_EQ(static_cast<char*>(GetMem(7, 0)), first + 10);
    void* big2 = GetMem(5000, 0);
    c = ChainOf(0);
    ASSERT_EQ(c.n, 3);
    EXPECT_EQ(c.payload[0], big2);
    EXPECT_EQ(c.payload[1], big);
    EXPECT_EQ(c.used[2], 17u);
}

TEST_F(Pools, MemoryIsZeroed) {
    for (int len : {1, 100, 4094, 4095, 70000}) {
        const unsigned char* p = static_cast<unsigned char*>(GetMem(len, 1));
        for (int i = 0; i < len; ++i) ASSERT_EQ(p[i], 0) << len << " at " << i;
    }
    // A string copied into a request one byte longer than its text is terminated.
    char* s = static_cast<char*>(GetMem(6, 1));
    std::memcpy(s, "hello", 5);
    EXPECT_STREQ(s, "hello");
}

TEST_F(Pools, PoolsAreIndependentAndReleasedWhole) {
    GetMem(10, 0);
    GetMem(5000, 1);
    GetMem(20, 2);
    FreePool(1);
    EXPECT_EQ(ChainOf(0).n, 1);
    EXPECT_EQ(ChainOf(1).n, 0);
    EXPECT_EQ(PoolLast(1), nullptr);
    EXPECT_EQ(ChainOf(2).n, 1);
    FreePool(-1);
    FreePool(3);
    EXPECT_EQ(ChainOf(0).n, 1);
    FreeAll();
    for (int pool = 0; pool < kPools; ++pool) EXPECT_EQ(ChainOf(pool).n, 0);
    // A released pool serves again from a fresh block.
    GetMem(4094, 1);
    EXPECT_EQ(ChainOf(1).n, 1);
}

TEST(PoolsDeathTest, ExhaustionPrintsTheMemoryReport) {
    const vt::fs::path dir = vt::DeathDir("report");
    const std::string out = (dir / "out.txt").string();
    vt::fs::remove(out);
    EXPECT_EXIT(
        {
            std::freopen(out.c_str(), "w", stdout);
            Request r;
            std::exit(VortleGuard(r, [] {
                GetMem(-1, 0);
                return 0;
            }));
        },
        ::testing::ExitedWithCode(3), "");
    const vt::Bytes b = vt::ReadFile(out);
    EXPECT_EQ(vt::Lf(std::string(b.begin(), b.end())),
              vt::Report("allocating memory", "out of memory"));
    vt::fs::remove_all(dir);
}

// The image named in the command-line pool is still deleted after the pools are released (once the
// command line is accepted).
TEST(PoolsDeathTest, ExhaustionDeletesTheImage) {
    const vt::fs::path dir = vt::DeathDir("image");
    const std::string image = (dir / "app.BIN").string();
    const std::string input = (dir / "app.elf").string();
    vt::WriteFile(image, {1, 2, 3});
    vt::WriteFile(input, {4, 5, 6});
    EXPECT_EXIT(
        {
            std::freopen(vt::kNullDevice, "w", stdout);
            Request r;
            r.inputName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
            r.binaryName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
            std::strcpy(r.inputName, input.c_str());
            std::strcpy(r.binaryName, image.c_str());
            r.staleImagesDue = true; // past the command line
            std::exit(VortleGuard(r, [] {
                GetMem(-1, 0);
                return 0;
            }));
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_FALSE(vt::fs::exists(image));
    EXPECT_TRUE(vt::fs::exists(input));
    vt::fs::remove_all(dir);
}

// Exhaustion releases every pool before the memory report, and the report names the input
// from a copy that outlives them.
TEST_F(Pools, ExhaustionReleasesThePools) {
    std::string in = "in-pool.elf";
    Request r;
    r.inputName = static_cast<char*>(GetMem(kNameCap, kPoolCommandLine));
    std::strcpy(r.inputName, in.c_str());
    GetMem(100, 1);
    GetMem(100, 2);
    std::FILE* said = std::tmpfile();
    WhySink(said);
    EXPECT_EQ(VortleGuard(r,
                          [] {
                              GetMem(-1, 0);
                              return 0;
                          }),
              3);
    for (int pool = 0; pool < kPools; ++pool) EXPECT_EQ(PoolLast(pool), nullptr);
    WhySink(nullptr);
    std::rewind(said);
    char line[256] = {};
    EXPECT_NE(std::fgets(line, sizeof line, said), nullptr);
    std::fclose(said);
    EXPECT_STREQ(line, "vortle: in-pool.elf: out of memory\n");
}

} // namespace
