// Short tables for rooms that an end-to-end run hides: the HEX record codec, the code read
// protection word, the name comparison and the images' comparer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Crp.h"
#include "HexCodec.h"
#include "SrecCodec.h"
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

TEST(TextCodecs, DecodeOrSayWhatIsWrong) {
    using Decode = bool (*)(const uint8_t*, TextLine&, char*, size_t);
    constexpr Decode hex = HexDecode;
    constexpr Decode srec = SrecDecode;
    constexpr const char* kCut = "the file ends inside this record: it is cut short";
    const struct {
        Decode decode;
        const char* line;
        const char* because; // empty: the line decodes; kCut: the file ends inside the line
    } cases[] = {
        {hex, ":04001000008000105C", ""},
        {hex, ":04001000008000105c", ""},
        {hex, "04001000008000105C", "it does not start with ':'"},
        {hex, ":0400100000800010XC", "character 18 (0x58) is no hex digit"},
        {hex, ":00000001FX", "character 11 (0x58) is no hex digit"}, // as if F, it would sum to 0
        {hex, ":0400100000800010", "its count says 4 data bytes, the line holds 3"},
        {hex, ":04001000008000105", "17 hex digits; a record has an even number from 10 to 520"},
        {hex, ":04001000008000105D", "checksum 5D, expected 5C"},
        {hex, ":040010000080001", kCut},
        {hex, ":", kCut},
        {srec, "S1070104F4010000FE", ""},
        {srec, "s1070104f4010000fe", ""},
        {srec, "S9030043B9", ""},
        {srec, "S00E0000626C696E6B792E737265638D", ""},
        {srec, "X1070104F4010000FE", "it does not start with 'S'"},
        {srec, "SX070104F4010000FE", "no record type digit follows the 'S'"},
        {srec, "S4070104F4010000FE", "record type S4 is none of S0 to S3 and S5 to S9"},
        {srec, "S1070104F40100G0FE", "character 15 (0x47) is no hex digit"},
        {srec, "S1070104F4010000FF", "checksum FF, expected FE"},
        {srec, "S1080104F4010000FE", "its count says 8 bytes follow it, the line holds 7"},
        {srec, "S304000000FB", "an S3 record holds 4 bytes, fewer than its address and checksum"},
        {srec, "S1070104F40100", kCut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        char line[80];
        const int size =
            std::snprintf(line, sizeof line, "%s%s", c.line, c.because == kCut ? "" : "\n");
        const auto* text = reinterpret_cast<const uint8_t*>(line);
        TextLine l;
        ASSERT_TRUE(SplitTextLine(text, static_cast<uint32_t>(size), 0, l));
        char because[160] = "";
        EXPECT_EQ(c.decode(text, l, because, sizeof because), c.because[0] == '\0');
        EXPECT_STREQ(because, c.because);
    }
}

TEST(TextLine, SplitsLines) {
    const std::string text = "a\r\n\nbc\n \t\r\n b";
    const auto* t = reinterpret_cast<const uint8_t*>(text.data());
    const auto size = static_cast<uint32_t>(text.size());
    TextLine l;
    EXPECT_TRUE(SplitTextLine(t, size, 0, l));
    EXPECT_EQ(l.end, 1u);
    EXPECT_EQ(l.next, 3u);
    EXPECT_FALSE(SplitTextLine(t, size, 3, l)) << "an empty line";
    EXPECT_TRUE(SplitTextLine(t, size, 4, l));
    EXPECT_EQ(l.end, 6u);
    EXPECT_EQ(l.next, 7u);
    EXPECT_FALSE(SplitTextLine(t, size, 7, l)) << "a line of blanks";
    EXPECT_EQ(l.next, 11u);
    EXPECT_TRUE(SplitTextLine(t, size, 11, l)) << "a line that starts with a blank";
    EXPECT_EQ(l.end, 13u);
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
