// Finding the graphics: what the run samples of the VIC-II's display, and
// the objects the analysis makes of it and of the constants the code
// stores, on the programs of bench/graphics/programs (ACME sources whose
// labels name the objects, listed in truth.txt).
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "hints/hints.hpp"
#include "emu/run.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::ScratchDir;

namespace {

// A program assembled, with the addresses of its labels.
struct Assembled {
    Image image;
    std::map<std::string, std::uint32_t> labels;

    std::uint32_t at(const std::string& label) const {
        const auto it = labels.find(label);
        if (it == labels.end()) {
            ADD_FAILURE() << "no label " << label;
            return 0;
        }
        return it->second;
    }
};

Assembled assemble_source(const std::string& source) {
    const ScratchDir dir;
    Assembled program;
    const std::vector<std::uint8_t> prg = tolvek_test::assemble(dir, source);
    if (prg.size() < 3) {
        ADD_FAILURE() << "nothing assembled";
        return program;
    }
    program.image = tolvek_test::make_image(static_cast<std::uint32_t>(prg[0] | prg[1] << 8), {prg.begin() + 2, prg.end()});
    const tolvek_test::Result listed = tolvek_test::run_in(dir.path(), "acme -f cbm -l labels.txt -o again.prg source.a");
    EXPECT_EQ(listed.status, 0) << listed.err;
    // Lines as "\tname\t= $1234\t; ?".
    std::istringstream lines(tolvek_test::read_text(dir / "labels.txt"));
    std::string name, equals, value;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        if (words >> name >> equals >> value && equals == "=" && value.starts_with("$")) {
            program.labels[name] = static_cast<std::uint32_t>(std::stoul(value.substr(1), nullptr, 16));
        }
    }
    return program;
}

Assembled assemble_program(const std::string& name) {
    return assemble_source(tolvek_test::read_text(std::string(GRAPHICS_DIR) + "/" + name + ".a"));
}

MemoryMap analyse_program(const Assembled& program, bool run) {
    AnalysisOptions options{.entry = program.labels.at("start")};
    options.run = RunOptions{.budget = run ? kDefaultRunCycles : 0};
    return analyse(program.image, options);
}

// A graphic expected: its first byte a label (plus an offset), and what is
// known of it; nullopt where the evidence cannot tell.
struct Expected {
    Kind kind = Kind::Sprite;
    std::string label;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::optional<bool> multicolour;
    std::optional<std::uint8_t> pointer;  // sprites
    std::string set_at;                   // a label, or "" for none
    Source source = Source::Run;
};

struct ProgramCase {
    std::string name;  // of the test
    std::string program;
    bool run = true;
    std::vector<Expected> graphics;  // in address order: all that is found
};

void PrintTo(const ProgramCase& c, std::ostream* out) { *out << c.name; }

Expected sprite(const std::string& label, std::uint32_t offset, bool multicolour, std::uint8_t pointer,
                const std::string& set_at, Source source) {
    return {Kind::Sprite, label, offset, 64, multicolour, pointer, set_at, source};
}

const std::vector<ProgramCase> kProgramCases = {
    {"SpritesAndCharsetRun", "sprites_charset", true,
     {sprite("sprite_ship", 0, false, 0x80, "set_pointer_ship", Source::Run),
      sprite("sprite_blob", 0, true, 0x81, "set_pointer_blob", Source::Run),
      // The image ends after 64 glyphs.
      {Kind::Charset, "charset_font", 0, 512, false, {}, "set_charset_font", Source::Run}}},
    {"SpritesAndCharsetConstants", "sprites_charset", false,
     {sprite("sprite_ship", 0, false, 0x80, "set_pointer_ship", Source::VicSetup),
      sprite("sprite_blob", 0, true, 0x81, "set_pointer_blob", Source::VicSetup),
      {Kind::Charset, "charset_font", 0, 512, false, {}, "set_charset_font", Source::VicSetup}}},
    {"BitmapsRun", "bitmaps", true,
     {{Kind::Bitmap, "bitmap_hires", 0, 8000, false, {}, "set_bitmap_hires", Source::Run},
      {Kind::Screen, "screen_mc", 0, 1000, true, {}, "set_bitmap_multi", Source::Run},
      {Kind::Bitmap, "bitmap_multi", 0, 8000, true, {}, "set_bitmap_multi", Source::Run}}},
    {"BitmapsConstants", "bitmaps", false,
     {{Kind::Bitmap, "bitmap_hires", 0, 8000, false, {}, "set_bitmap_hires", Source::VicSetup},
      {Kind::Screen, "screen_mc", 0, 1000, true, {}, "set_bitmap_multi", Source::VicSetup},
      {Kind::Bitmap, "bitmap_multi", 0, 8000, true, {}, "set_bitmap_multi", Source::VicSetup}}},
    // The glyphs' 2 KiB lie in the image (zeros after the eight drawn).
    {"AnimatedRun", "animated", true,
     {{Kind::Charset, "charset_multi", 0, 0x800, true, {}, "set_charset_multi", Source::Run},
      sprite("sprite_walk", 0, false, 0x40, "set_pointer_walk", Source::Run),
      sprite("sprite_walk", 64, false, 0x41, "set_pointer_walk", Source::Run),
      sprite("sprite_walk", 128, false, 0x42, "set_pointer_walk", Source::Run),
      sprite("sprite_walk", 192, false, 0x43, "set_pointer_walk", Source::Run)}},
    // The pointer is computed: without the run only the glyphs are known.
    {"AnimatedConstants", "animated", false,
     {{Kind::Charset, "charset_multi", 0, 0x800, true, {}, "set_charset_multi", Source::VicSetup}}},
    // The sprite's block follows 32 glyphs, which give way to it.
    {"ConstantsRun", "constants", true,
     {{Kind::Charset, "charset_glyphs", 0, 256, false, {}, "set_charset_glyphs", Source::VicSetup},
      sprite("sprite_gem", 0, true, 0x24, "set_pointer_gem", Source::VicSetup)}},
    // Shown from copies the program made: the image's bytes they came from.
    {"CopiedRun", "copied", true,
     {sprite("sprite_copied", 0, false, 0x0d, "set_pointer_copied", Source::Run),
      {Kind::Charset, "charset_copied", 0, 512, false, {}, "set_charset_copied", Source::Run}}},
    // One frame of eight shown: the others lie beside it, from the glyphs'
    // 2 KiB to the code, but for the blank one.
    {"SpriteFramesRun", "sprite_frames", true,
     {{Kind::Charset, "charset_glyphs", 0, 0x800, false, {}, "set_charset_glyphs", Source::Run},
      sprite("sprite_frames", 0, false, 0xa0, "", Source::BesideSprites),
      sprite("sprite_frames", 64, false, 0xa1, "", Source::BesideSprites),
      sprite("sprite_frames", 128, false, 0xa2, "set_pointer_frame", Source::Run),
      sprite("sprite_frames", 192, false, 0xa3, "", Source::BesideSprites),
      sprite("sprite_frames", 320, false, 0xa5, "", Source::BesideSprites),
      sprite("sprite_frames", 384, false, 0xa6, "", Source::BesideSprites),
      sprite("sprite_frames", 448, false, 0xa7, "", Source::BesideSprites)}},
    // The frame comes from a table: without the run no sprite is known.
    {"SpriteFramesConstants", "sprite_frames", false,
     {{Kind::Charset, "charset_glyphs", 0, 0x800, false, {}, "set_charset_glyphs", Source::VicSetup}}},
    // Glyphs that a table of addresses would have made code: the display
    // (or the store that selects it, in code the trace reached) wins.
    {"GlyphsLikeCodeRun", "glyphs_like_code", true,
     {{Kind::Charset, "charset_glyphs", 0, 280, false, {}, "set_charset_glyphs", Source::Run}}},
    {"GlyphsLikeCodeConstants", "glyphs_like_code", false,
     {{Kind::Charset, "charset_glyphs", 0, 280, false, {}, "set_charset_glyphs", Source::VicSetup}}},
    {"ConstantsWithoutRun", "constants", false,
     {{Kind::Charset, "charset_glyphs", 0, 256, false, {}, "set_charset_glyphs", Source::VicSetup},
      sprite("sprite_gem", 0, true, 0x24, "set_pointer_gem", Source::VicSetup)}},
};

class GraphicsPrograms : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(GraphicsPrograms, FindsTheObjectsTheProgramShows) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    const ProgramCase& c = GetParam();
    const Assembled program = assemble_program(c.program);
    const MemoryMap map = analyse_program(program, c.run);
    ASSERT_EQ(map.graphics.size(), c.graphics.size());
    for (std::size_t i = 0; i < c.graphics.size(); ++i) {
        const Expected& want = c.graphics[i];
        const Graphic& got = map.graphics[i];
        const std::uint32_t address = program.at(want.label) + want.offset;
        SCOPED_TRACE(want.label + "+" + std::to_string(want.offset));
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.address, address);
        EXPECT_EQ(got.size, want.size);
        if (want.multicolour) {
            EXPECT_EQ(got.multicolour, *want.multicolour);
        }
        if (want.pointer) {
            EXPECT_EQ(got.pointer, *want.pointer);
        }
        if (want.set_at.empty()) {
            EXPECT_FALSE(got.set_at.has_value());
        } else {
            EXPECT_EQ(got.set_at, std::optional<std::uint16_t>(program.at(want.set_at)));
        }
        EXPECT_EQ(got.source, want.source);
        // Its bytes, and only those, have its kind.
        for (std::uint32_t a = got.address; a < got.address + got.size; ++a) {
            ASSERT_EQ(map.kind(a), want.kind) << std::hex << a;
            ASSERT_EQ(map.source(a), want.source) << std::hex << a;
        }
        if (map.image().contains(got.address - 1)) {
            EXPECT_NE(map.graphic_at(got.address - 1), &got);
        }
        EXPECT_EQ(map.graphic_at(got.address + got.size - 1), &got);
    }
    // Graphics bytes belong to an object each.
    for (std::uint32_t a = map.image().load; a < map.image().end(); ++a) {
        if (is_graphics(map.kind(a))) {
            ASSERT_NE(map.graphic_at(a), nullptr) << std::hex << a;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, GraphicsPrograms, ::testing::ValuesIn(kProgramCases),
                         [](const auto& param) { return param.param.name; });

// The run's bitmaps carry the screen and colour RAM shown: the hires one
// the screen the program filled, the multicolour one its screen as loaded
// and the colours copied from the image; sprites carry their colours.
TEST(Graphics, ObjectsCarryTheColoursShown) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    const Assembled bitmaps = assemble_program("bitmaps");
    const MemoryMap map = analyse_program(bitmaps, true);
    const Graphic* hires = map.graphic_at(bitmaps.at("bitmap_hires"));
    const Graphic* multi = map.graphic_at(bitmaps.at("bitmap_multi"));
    ASSERT_NE(hires, nullptr);
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(hires->screen, std::vector<std::uint8_t>(1000, 0x10));
    const Image& image = bitmaps.image;
    const auto bytes = [&](const std::string& label) {
        const std::size_t from = image.offset(bitmaps.at(label));
        return std::vector<std::uint8_t>(image.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                         image.bytes.begin() + static_cast<std::ptrdiff_t>(from) + 1000);
    };
    EXPECT_EQ(multi->screen, bytes("screen_mc"));
    EXPECT_EQ(multi->colour_ram, bytes("colours_mc"));  // colours 8-15: four bits as loaded
    EXPECT_EQ(multi->background, 0);

    const Assembled sprites = assemble_program("sprites_charset");
    for (const bool run : {true, false}) {
        const MemoryMap shown = analyse_program(sprites, run);
        const Graphic* blob = shown.graphic_at(sprites.at("sprite_blob"));
        ASSERT_NE(blob, nullptr);
        EXPECT_EQ(blob->colours, (std::array<std::uint8_t, 3>{5, 2, 7})) << run;
        const Graphic* ship = shown.graphic_at(sprites.at("sprite_ship"));
        ASSERT_NE(ship, nullptr);
        EXPECT_EQ(ship->colours[0], 1) << run;
    }
}

// Hints come first: a range the user calls bytes is not taken, and the
// objects stay apart.
TEST(Graphics, BytesClaimedBeforeAreNotTaken) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    Assembled program = assemble_program("sprites_charset");
    const std::uint32_t ship = program.at("sprite_ship");
    // Code in the middle of the glyphs: the longest stretch of whole glyphs
    // around it is kept.
    const std::uint32_t glyphs = program.at("charset_font");
    const std::uint32_t code_at = glyphs + 40 * 8 + 3;
    Image& image = program.image;
    image.bytes[image.offset(code_at)] = 0x60;  // rts, reached by the hint below
    Hints hints;
    RangeHint bytes;
    bytes.kind = HintRange::Bytes;
    bytes.first = ship;
    bytes.last = ship + 63;
    hints.ranges.push_back(bytes);
    hints.entries.emplace_back(code_at, 1);
    AnalysisOptions options{.entry = program.at("start"), .hints = &hints};
    options.run = RunOptions{.budget = kDefaultRunCycles};
    const MemoryMap map = analyse(image, options);
    EXPECT_EQ(map.graphic_at(ship), nullptr);
    EXPECT_EQ(map.kind(ship), Kind::Bytes);
    ASSERT_NE(map.graphic_at(program.at("sprite_blob")), nullptr);
    const Graphic* first = map.graphic_at(glyphs);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->size, 40u * 8);  // glyphs 0-39; glyph 40 holds the code
    EXPECT_EQ(map.graphic_at(glyphs + 41 * 8), nullptr);  // one stretch: the longer
    EXPECT_EQ(map.kind(code_at), Kind::Opcode);
}

// Each program rebuilds from its source, and the graphics written as hints
// give the same source again: the sprites found beside those shown too.
TEST(Graphics, ProgramsRebuildAndTheirHintsGiveTheSameSource) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    for (const char* name : {"sprites_charset", "bitmaps", "animated", "constants", "copied", "sprite_frames",
                             "glyphs_like_code"}) {
        SCOPED_TRACE(name);
        const Assembled program = assemble_program(name);
        const ScratchDir dir;
        const std::string source =
            tolvek_test::round_trip(dir, program.image.load, program.labels.at("start"), program.image.bytes);
        if (std::string(name) == "sprite_frames") {
            EXPECT_NE(source.find("; sprite $a7 at $29c0, hires, beside the sprites shown\n"), std::string::npos);
        }
    }
}

// The sampler: what the run sees the VIC show, as ACME source from $1000.
struct Ran {
    Assembled program;
    RunResult run;
};

Ran run_source(const std::string& source) {
    Ran ran{assemble_source(source), {}};
    ran.run = run_program(ran.program.image, static_cast<std::uint16_t>(ran.program.image.load), RunOptions{});
    return ran;
}

const VicSample* shown_with(const RunResult& run, std::uint8_t d018) {
    for (const VicSample& sample : run.vic_samples) {
        if (sample.d018 == d018 && sample.times >= 2) return &sample;
    }
    return nullptr;
}

TEST(VicSamples, ARasterHandlerThatSetsD018MidFrameIsSeen) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    // Two handlers: at line 50 the glyphs at $2000, at line 150 at $2800.
    const auto [program, run] = run_source(R"(
        * = $1000
        sei
        lda #$7f
        sta $dc0d
        lda $dc0d
        lda #<top
        sta $0314
        lda #>top
        sta $0315
        lda #50
        sta $d012
        lda #$1b
        sta $d011
        lda #1
        sta $d01a
        cli
wait    jmp wait
top     asl $d019
        lda #$18
set_top sta $d018
        lda #150
        sta $d012
        lda #<bottom
        sta $0314
        jmp $ea81
bottom  asl $d019
        lda #$1a
set_bottom sta $d018
        lda #50
        sta $d012
        lda #<top
        sta $0314
        jmp $ea81
)");
    const VicSample* top = shown_with(run, 0x18);
    const VicSample* bottom = shown_with(run, 0x1a);
    ASSERT_NE(top, nullptr);
    ASSERT_NE(bottom, nullptr);
    EXPECT_EQ(top->d018_writer, program.at("set_top"));
    EXPECT_EQ(bottom->d018_writer, program.at("set_bottom"));
    EXPECT_EQ(top->charset_base(), 0x2000u);
    EXPECT_EQ(bottom->charset_base(), 0x2800u);
    EXPECT_GT(top->last_cycle, top->first_cycle);
    EXPECT_GT(bottom->last_cycle, bottom->first_cycle);
    // Each display once.
    for (std::size_t i = 0; i < run.vic_samples.size(); ++i) {
        for (std::size_t j = i + 1; j < run.vic_samples.size(); ++j) {
            EXPECT_FALSE(run.vic_samples[i].same_display(run.vic_samples[j])) << i << " " << j;
        }
    }
}

// One row per thing the sampler reads from the machine.
struct SamplerCase {
    std::string name;
    std::string source;  // from $1000; ends in a loop
    // Checks the display the program leaves.
    void (*check)(const VicSample& last, const Assembled& program);
};

void PrintTo(const SamplerCase& c, std::ostream* out) { *out << c.name; }

const VicSample& last_display(const RunResult& run) {
    static const VicSample none;
    if (run.vic_samples.empty()) {
        ADD_FAILURE() << "no samples";
        return none;
    }
    // The one shown last.
    const VicSample* last = &run.vic_samples.front();
    for (const VicSample& sample : run.vic_samples) {
        if (sample.last_cycle > last->last_cycle) last = &sample;
    }
    return *last;
}

const std::vector<SamplerCase> kSamplerCases = {
    {"BankFromPortA", R"(
        * = $1000
        lda #$3f
        sta $dd02
        lda #%00000001          ; bank 2
bank    sta $dd00
wait    jmp wait
)",
     [](const VicSample& s, const Assembled& program) {
         EXPECT_EQ(s.bank, 2);
         EXPECT_EQ(s.dd00_writer, program.at("bank"));
         EXPECT_EQ(s.screen_base(), 0x8400u);
     }},
    {"InputsReadAsBank0", R"(
        * = $1000
        lda #%00000001
        sta $dd00
        lda #$00                ; all lines inputs: pulled up
        sta $dd02
wait    jmp wait
)",
     [](const VicSample& s, const Assembled&) { EXPECT_EQ(s.bank, 0); }},
    {"SpritePointersOfTheScreenInTheBank", R"(
        * = $1000
        lda #%00000010          ; bank 1
        sta $dd00
        lda #$24                ; screen $4800
        sta $d018
        lda #$85
pointer sta $4800 + $3f9
        lda #%00000010
        sta $d015
        sta $d01c
        lda #7
        sta $d028
wait    jmp wait
)",
     [](const VicSample& s, const Assembled& program) {
         EXPECT_EQ(s.bank, 1);
         EXPECT_EQ(s.pointers[1], 0x85);
         EXPECT_EQ(s.pointer_writers[1], program.at("pointer"));
         EXPECT_EQ(s.pointer_writers[0], 0);  // never stored
         EXPECT_EQ(s.d015, 2);
         EXPECT_EQ(s.d01c, 2);
         EXPECT_EQ(s.colours[8], 7);
         EXPECT_EQ(s.written & 0x02, 0);  // the block at $4000 + $85 * 64 was not stored into
     }},
    {"WhatWasStoredOverIsMarked", R"(
        * = $1000
        ldx #63
copy    lda #$ff
        sta $0340,x             ; sprite block 13, drawn by the program
        dex
        bpl copy
        lda #13
        sta $07f8
        lda #1
        sta $d015
        lda #$3b                ; bitmap at $2000, not stored into
        sta $d011
        lda #$18
        sta $d018
wait    jmp wait
)",
     [](const VicSample& s, const Assembled&) {
         EXPECT_EQ(s.written & 0x01, 0x01);
         EXPECT_EQ(s.written & VicSample::kShownBitmap, 0);
         EXPECT_TRUE(s.bitmap_mode());
         EXPECT_EQ(s.screen.size(), 1000u);
         EXPECT_EQ(s.colour_ram.size(), 1000u);
         EXPECT_EQ(s.screen[0], 0x20);       // the KERNAL's blank screen
         EXPECT_EQ(s.colour_ram[0], 0x0e);   // light blue
     }},
    {"TextModeKeepsNoCopies", R"(
        * = $1000
        lda #$1c
charset sta $d018
wait    jmp wait
)",
     [](const VicSample& s, const Assembled& program) {
         EXPECT_FALSE(s.bitmap_mode());
         EXPECT_TRUE(s.screen.empty());
         EXPECT_EQ(s.charset_base(), 0x3000u);
         EXPECT_EQ(s.d018_writer, program.at("charset"));
     }},
};

class VicSampler : public ::testing::TestWithParam<SamplerCase> {};

TEST_P(VicSampler, SamplesWhatTheVicShows) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    const Ran ran = run_source(GetParam().source);
    GetParam().check(last_display(ran.run), ran.program);
}

INSTANTIATE_TEST_SUITE_P(Machine, VicSampler, ::testing::ValuesIn(kSamplerCases),
                         [](const auto& param) { return param.param.name; });

// A display that changes every frame is kept once each, up to the cap.
TEST(VicSamples, KeepsAtMostTheCap) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    const RunResult run = run_source(R"(
        * = $1000
        lda #1
        sta $d015
        ldy #0
frame   lda $d012
        bne frame
        inc $07f8               ; another block each frame
        sta $3000,y             ; and something new to the run
        iny
line    lda $d012
        beq line
        jmp frame
)").run;
    EXPECT_EQ(run.vic_samples.size(), kMostVicSamples);
}

}  // namespace
