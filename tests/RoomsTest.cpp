// Short tables for rooms that an end-to-end run hides: the HEX record codec, the code read
// protection word, the name comparison and the images' comparer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Crp.h"
#include "HexCodec.h"
#include "ImageOut.h"
#include "Names.h"
#include "PathNames.h"
#include "Support.h"

namespace {

using vt::Bytes;

TEST(HexCodec, EncodesOneRecord) {
    const uint8_t data[] = {0x00, 0x80, 0x00, 0x10};
    char out[kRecordMax];
    const uint32_t n = HexEncode(out, kRecData, 0x0010, data, sizeof data);
    EXPECT_EQ(std::string(out, n), ":04001000008000105C\r\n");
    EXPECT_EQ(std::string(out, HexEncode(out, kRecEnd, 0, nullptr, 0)), ":00000001FF\r\n");
}

TEST(HexCodec, DecodesOrSaysWhatIsWrong) {
    const struct {
        const char* line;
        const char* because; // empty: the line decodes
    } cases[] = {
        {":04001000008000105C", ""},
        {":04001000008000105c", ""},
        {"04001000008000105C", "it does not start with ':'"},
        {":0400100000800010XC", "character 18 (0x58) is no hex digit"},
        {":00000001FX", "character 11 (0x58) is no hex digit"}, // as if F, it would sum to 0
        {":0400100000800010", "its count says 4 data bytes, the line holds 3"},
        {":04001000008000105", "17 hex digits; a record has an even number from 10 to 520"},
        {":04001000008000105D", "checksum 5D, expected 5C"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto* text = reinterpret_cast<const uint8_t*>(c.line);
        HexLine l;
        ASSERT_TRUE(HexSplitLine(text, static_cast<uint32_t>(std::strlen(c.line)), 0, l));
        char because[160] = "";
        EXPECT_EQ(HexDecode(text, l, because, sizeof because), c.because[0] == '\0');
        EXPECT_STREQ(because, c.because);
    }
}

TEST(HexCodec, SplitsLines) {
    const std::string text = "a\r\n\nbc";
    const auto* t = reinterpret_cast<const uint8_t*>(text.data());
    HexLine l;
    EXPECT_TRUE(HexSplitLine(t, 6, 0, l));
    EXPECT_EQ(l.end, 1u);
    EXPECT_EQ(l.next, 3u);
    EXPECT_FALSE(HexSplitLine(t, 6, 3, l)) << "an empty line";
    EXPECT_TRUE(HexSplitLine(t, 6, 4, l));
    EXPECT_EQ(l.end, 6u);
    EXPECT_EQ(l.next, 6u);
}

// Firmware of one piece of bytes in memory at address 0.
class Memory : public Firmware {
  public:
    explicit Memory(Bytes b) : bytes_(std::move(b)) {}
    bool Next(size_t& at, Piece& p) const override {
        if (at++ != 0) return false;
        p = Piece{0, static_cast<uint32_t>(bytes_.size()), 0, 0, 0};
        return true;
    }
    bool Has(const Piece& p, uint32_t addr, uint32_t len) const override {
        return InsidePiece(p, addr, static_cast<uint64_t>(addr) + len);
    }
    void Read(const Piece&, uint32_t addr, uint8_t* dst, uint32_t len) const override {
        std::memcpy(dst, bytes_.data() + addr, len);
    }
    void Store(const Piece&, uint32_t, const uint8_t*, uint32_t) override {}
    void Emit(const Piece&, ImageSink&) override {}

  private:
    Bytes bytes_;
};

TEST(Crp, FindsTheSpecialValues) {
    const struct {
        uint32_t word;
        const char* level; // null: no special value
    } cases[] = {{0x12345678u, "CRP1"},   {0x87654321u, "CRP2"},  {0x43218765u, "CRP3"},
                 {0x4E697370u, "NO_ISP"}, {0xFFFFFFFFu, nullptr}, {0x12345679u, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        Bytes b(0x300, 0xFF);
        vt::Put32(b, kCrpCortex, c.word);
        const uint32_t at[] = {kCrpCortex, kCrpCortex, kCrpArm};
        const CrpFindings f = CrpFindings::Find(Memory(b), at, 3);
        uint32_t locked = 0;
        EXPECT_EQ(f.Locked(locked), c.level != nullptr && std::strcmp(c.level, "CRP3") == 0);
        if (c.level != nullptr) {
            EXPECT_STREQ(CrpFindings::LevelOf(c.word), c.level);
        } else {
            EXPECT_EQ(CrpFindings::LevelOf(c.word), nullptr);
        }
    }
    // A word only partly inside the firmware is no word.
    Bytes shortOne(kCrpCortex + 2, 0);
    const uint32_t at[] = {kCrpCortex};
    uint32_t locked = 0;
    EXPECT_FALSE(CrpFindings::Find(Memory(shortOne), at, 1).Locked(locked));
}

TEST(Names, LastComponent) {
    const struct {
        const char* name;
        Slashes slashes;
        const char* leaf;
    } cases[] = {
        {"app.elf", Slashes::Both, "app.elf"},    {"out/app.elf", Slashes::Both, "app.elf"},
        {"/x", Slashes::OfThisSystem, "x"},       {"a/b/", Slashes::OfThisSystem, ""},
        {"a\\b.c", Slashes::Both, "b.c"},         {"a\\b/c\\d", Slashes::Both, "d"},
#ifdef _WIN32
        {"a\\b.c", Slashes::OfThisSystem, "b.c"},
#else
        {"a\\b.c", Slashes::OfThisSystem, "a\\b.c"},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(LastComponent(c.name, c.slashes), c.leaf) << c.name;
    }
}

TEST(Names, SameTarget) {
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf", {1});
    vt::fs::create_directory(dir / "sub");
    const std::string d = dir.path.string();
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {d + "/app.elf", d + "/app.elf", true},
        {d + "/app.elf", d + "/sub/../app.elf", true},
        {d + "/app.elf", d + "/./app.elf", true},
        {d + "/new.bin", d + "/sub/../new.bin", true}, // not there yet: same folder and name
        {d + "/app.elf", d + "/app.bin", false},
        {d + "/app.elf", d + "/sub/app.elf", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " | " + c.b);
        EXPECT_EQ(SameTarget(c.a.c_str(), c.b.c_str()), c.same);
    }
}

TEST(ImageOut, ComparerFindsWhatDiffers) {
    vt::TempDir dir;
    vt::WriteFile(dir / "img", {1, 2, 0, 0, 5});
    const struct {
        const char* what;
        Bytes put; // the zeros of a gap are put as null bytes when 0
        bool gap;
        Verdict found;
    } cases[] = {
        {"the same bytes", {1, 2, 0, 0, 5}, false, Verdict::Right},
        {"a gap of zeros", {}, true, Verdict::Right},
        {"one byte differs", {1, 2, 0, 0, 6}, false, Verdict::ImageDiffers},
        {"the file is longer", {1, 2, 0, 0}, false, Verdict::ImageDiffers},
        {"the file is shorter", {1, 2, 0, 0, 5, 6}, false, Verdict::ImageDiffers},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto out = CheckImage((dir / "img").string().c_str());
        if (c.gap) {
            const uint8_t head[] = {1, 2};
            out->Put(head, 2, -1);
            out->Put(nullptr, 2, -1);
            out->Put(head + 1, 0, -1);
            const uint8_t tail[] = {5};
            out->Put(tail, 1, -1);
        } else {
            out->Put(c.put.data(), c.put.size(), -1);
        }
        out->Close();
        EXPECT_EQ(out->Found(), c.found);
    }
    EXPECT_EQ(CheckImage((dir / "missing").string().c_str())->Found(), Verdict::ImageMissing);
}

} // namespace
