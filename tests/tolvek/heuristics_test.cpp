// Code beyond the plain trace: address tables, the rts trick, pointer
// pairs and gaps; and data that must stay data.
#include <gtest/gtest.h>

#include <random>

#include "analysis/analyse.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::listed_at;

namespace {

struct Program {
    Image image;
    explicit Program(std::uint32_t load) { image.load = load; }
    // Appends bytes and returns the address of the first one.
    std::uint32_t add(std::initializer_list<std::uint8_t> bytes) {
        const std::uint32_t at = image.end();
        image.bytes.insert(image.bytes.end(), bytes);
        return at;
    }
    void set_word(std::uint32_t address, std::uint32_t value) {
        image.bytes[address - image.load] = static_cast<std::uint8_t>(value);
        image.bytes[address - image.load + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    MemoryMap analyse(std::uint32_t entry) const { return tolvek::analyse(image, {.entry = entry}); }
};

MemoryMap trace_program(const Image& image, std::int64_t entry) {
    return analyse(image, {.entry = entry, .guesses = false});
}

// The label the listing gives an address: "L" and four hex digits.
std::string label(std::uint32_t address) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = "L";
    for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(address >> shift) & 0xf];
    return name;
}

// Nothing in [from, to) is taken for an instruction.
bool is_data(const MemoryMap& map, const Image&, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t a = from; a < to; ++a) {
        if (is_instruction(map.kind(a))) return false;
    }
    return true;
}

TEST(MoreCode, JumpTableTargets) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0xbd, 0x00, 0x00,   // lda table,x
                                       0x85, 0xfb,         // sta $fb
                                       0xbd, 0x00, 0x00,   // lda table+1,x
                                       0x85, 0xfc,         // sta $fc
                                       0x6c, 0xfb, 0x00}); // jmp ($00fb)
    const std::uint32_t table = p.add({0, 0, 0, 0, 0, 0});
    p.add({0x00, 0xff});  // padding that is no code
    const std::uint32_t r1 = p.add({0xee, 0x20, 0xd0, 0x60});  // inc $d020 / rts
    const std::uint32_t r2 = p.add({0xce, 0x20, 0xd0, 0x60});  // dec $d020 / rts
    const std::uint32_t r3 = p.add({0xa9, 0x00, 0x8d, 0x20, 0xd0, 0x60});
    p.set_word(start + 1, table);
    p.set_word(start + 6, table + 1);
    p.set_word(table, r1);
    p.set_word(table + 2, r2);
    p.set_word(table + 4, r3);
    // Code that reads a table into the pointer it jumps through leads to
    // sure entries: the trace follows them without guessing.
    const MemoryMap analysis = trace_program(p.image, start);
    EXPECT_TRUE(analysis.is_opcode(r1));
    EXPECT_TRUE(analysis.is_opcode(r2));
    EXPECT_TRUE(analysis.is_opcode(r3 + 2));
    EXPECT_TRUE(is_data(analysis, p.image, table, table + 8));
    EXPECT_EQ(listed_at(analysis, r1), label(r1) + ": inc EXTCOL");
    EXPECT_EQ(listed_at(analysis, start), "entry: lda D" + label(table).substr(1) + ",x");
    // The map keeps the table that the code reads as pointers, word by
    // word, with the addresses its words stand for.
    const std::uint32_t targets[] = {r1, r2, r3};
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(analysis.kind(table + 2 * i), Kind::Word) << i;
        EXPECT_EQ(analysis.kind(table + 2 * i + 1), Kind::Continued) << i;
        EXPECT_EQ(analysis.target(table + 2 * i), targets[i]) << i;
    }
    EXPECT_EQ(listed_at(analysis, table), "D" + label(table).substr(1) + ": !word " + label(r1) + "," + label(r2) + "," + label(r3));
    EXPECT_EQ(analysis.target(start), std::nullopt);
    EXPECT_EQ(analysis.kind(table + 6), Kind::Unknown) << "padding is still unknown, not data";
}

// Code that a table the code jumps through leads to may start with an
// undocumented opcode of the CPU, as code from any entry may; for a CPU
// without them the table ends before it.
TEST(MoreCode, JumpTableTargetsWithUndocumentedOpcodes) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0xbd, 0x00, 0x00,   // lda table,x
                                       0x85, 0xfb,         // sta $fb
                                       0xbd, 0x00, 0x00,   // lda table+1,x
                                       0x85, 0xfc,         // sta $fc
                                       0x6c, 0xfb, 0x00}); // jmp ($00fb)
    const std::uint32_t table = p.add({0, 0, 0, 0, 0, 0});
    p.add({0x00, 0xff});
    const std::uint32_t r1 = p.add({0xee, 0x20, 0xd0, 0x60});  // inc $d020 / rts
    const std::uint32_t r2 = p.add({0xa7, 0xfb, 0x60});        // lax $fb / rts
    const std::uint32_t r3 = p.add({0xcb, 0x01, 0x60});        // sbx #1 / rts
    p.set_word(start + 1, table);
    p.set_word(start + 6, table + 1);
    p.set_word(table, r1);
    p.set_word(table + 2, r2);
    p.set_word(table + 4, r3);
    for (const bool undocumented : {true, false}) {
        const MemoryMap analysis = analyse(p.image, {.entry = start, .guesses = false, .undocumented = undocumented});
        EXPECT_TRUE(analysis.is_opcode(r1)) << undocumented;
        EXPECT_EQ(analysis.is_opcode(r2), undocumented);
        EXPECT_EQ(analysis.is_opcode(r3), undocumented);
        EXPECT_EQ(analysis.kind(table + 4), undocumented ? Kind::Word : Kind::Unknown);
    }
}

TEST(MoreCode, RtsTrickTable) {
    Program p(0x2000);
    const std::uint32_t start = p.add({0xbd, 0x00, 0x00,  // lda table+1,x
                                       0x48,              // pha
                                       0xbd, 0x00, 0x00,  // lda table,x
                                       0x48,              // pha
                                       0x60});            // rts
    const std::uint32_t table = p.add({0, 0, 0, 0});
    p.add({0x02});  // jam: keeps the routines from being one gap with the table
    const std::uint32_t r1 = p.add({0xe8, 0x60});        // inx / rts
    const std::uint32_t r2 = p.add({0xc8, 0xc8, 0x60});  // iny / iny / rts
    p.set_word(start + 1, table + 1);
    p.set_word(start + 5, table);
    p.set_word(table, r1 - 1);
    p.set_word(table + 2, r2 - 1);
    const MemoryMap analysis = p.analyse(start);
    EXPECT_TRUE(analysis.is_opcode(r1));
    EXPECT_TRUE(analysis.is_opcode(r2));
    EXPECT_FALSE(analysis.is_opcode(r1 - 1));
}

TEST(MoreCode, SplitLowHighTables) {
    // At $c000, so that the tables' bytes do not read as text.
    Program p(0xc000);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00,   // jsr rts_trick
                                       0xb9, 0x00, 0x00,   // lda low2,y
                                       0x85, 0xfb,         // sta $fb
                                       0xb9, 0x00, 0x00,   // lda high2,y
                                       0x85, 0xfc,         // sta $fc
                                       0x6c, 0xfb, 0x00}); // jmp ($00fb)
    const std::uint32_t rts_trick = p.add({0xbd, 0x00, 0x00,   // lda high,x
                                           0x48,               // pha
                                           0xbd, 0x00, 0x00,   // lda low,x
                                           0x48,               // pha
                                           0x60});             // rts
    const std::uint32_t low = p.add({0, 0, 0});
    const std::uint32_t high = p.add({0, 0, 0});
    const std::uint32_t low2 = p.add({0, 0});
    const std::uint32_t high2 = p.add({0, 0, 0x02});  // jam after the table
    const std::uint32_t r1 = p.add({0xe8, 0x60, 0x02});
    const std::uint32_t r2 = p.add({0xca, 0x60, 0x02});
    const std::uint32_t r3 = p.add({0xc8, 0x60, 0x02});
    const std::uint32_t r4 = p.add({0x88, 0x60, 0x02});
    const std::uint32_t r5 = p.add({0x98, 0x60});
    const std::uint32_t targets[] = {r1 - 1, r2 - 1, r3 - 1};
    for (int i = 0; i < 3; ++i) {
        p.image.bytes[low - p.image.load + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(targets[i]);
        p.image.bytes[high - p.image.load + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(targets[i] >> 8);
    }
    p.set_word(start + 1, rts_trick);
    p.set_word(start + 4, low2);
    p.set_word(start + 9, high2);
    p.set_word(rts_trick + 1, high);
    p.set_word(rts_trick + 5, low);
    for (std::uint32_t i = 0; i < 2; ++i) {
        const std::uint32_t r = i == 0 ? r4 : r5;
        p.image.bytes[low2 + i - p.image.load] = static_cast<std::uint8_t>(r);
        p.image.bytes[high2 + i - p.image.load] = static_cast<std::uint8_t>(r >> 8);
    }
    // Both are sure entries, found without guessing.
    const MemoryMap analysis = trace_program(p.image, start);
    for (std::uint32_t r : {r1, r2, r3, r4, r5}) {
        EXPECT_TRUE(analysis.is_opcode(r)) << r;
        EXPECT_EQ(listed_at(analysis, r).substr(0, 6), label(r) + ":") << r;
    }
    EXPECT_TRUE(is_data(analysis, p.image, low, r1));
    // Both split tables are kept as halves of the addresses they stand for:
    // minus one where an rts jumps through them.
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(analysis.kind(low + i), Kind::LowMinus1) << i;
        EXPECT_EQ(analysis.kind(high + i), Kind::HighMinus1) << i;
        EXPECT_EQ(analysis.target(high + i), targets[i] + 1) << i;
    }
    EXPECT_EQ(listed_at(analysis, low), "D" + label(low).substr(1) + ": !byte <(" + label(r1) + "-1),<(" + label(r2) +
                                          "-1),<(" + label(r3) + "-1)");
    for (std::uint32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(analysis.kind(low2 + i), Kind::Low) << i;
        EXPECT_EQ(analysis.kind(high2 + i), Kind::High) << i;
        EXPECT_EQ(analysis.target(low2 + i), i == 0 ? r4 : r5) << i;
    }
    EXPECT_EQ(analysis.kind(high2 + 2), Kind::Unknown) << "the jam after the tables is no entry";
}

// A split rts table left through another routine's rts: the address
// pushed, then a jmp to a routine that returns without touching the stack
// (BASIC dispatches its statements so through CHRGET, copied to zero page,
// or a routine of the program's own). A jsr there, or a routine that pulls
// first, does not return to the pushed address.
TEST(MoreCode, SplitRtsTableLeftThroughAnotherReturn) {
    enum class Via { ZeroPage, OwnRoutine, RoutinePulls, Call };
    for (const Via via : {Via::ZeroPage, Via::OwnRoutine, Via::RoutinePulls, Via::Call}) {
        Program p(0xc000);
        const std::uint32_t start = p.add({0xbd, 0x00, 0x00,   // lda high,x
                                           0x48,               // pha
                                           0xbd, 0x00, 0x00,   // lda low,x
                                           0x48,               // pha
                                           0x4c, 0x73, 0x00}); // jmp $0073 (or jsr, or jmp own)
        // Like CHRGET: inc ptr / bne + / inc ptr+1 / + lda (ptr),y /
        // cmp #$20 / beq (back) / rts; with a pla in front where it pulls.
        const std::uint32_t own = p.add({0xe6, 0xf7, 0xd0, 0x02, 0xe6, 0xf8, 0xb1, 0xf7, 0xc9, 0x20, 0xf0, 0xf4, 0x60});
        const std::uint32_t pulls = p.add({0x68, 0x68, 0x60});  // pla / pla / rts
        const std::uint32_t low = p.add({0, 0});
        const std::uint32_t high = p.add({0, 0, 0x02});  // jam after the tables
        const std::uint32_t r1 = p.add({0xe8, 0x60, 0x02});  // inx / rts / jam
        const std::uint32_t r2 = p.add({0xca, 0x60});        // dex / rts
        p.set_word(start + 1, high);
        p.set_word(start + 5, low);
        if (via == Via::Call) p.image.bytes[start + 8 - p.image.load] = 0x20;  // jsr $0073
        if (via == Via::OwnRoutine) p.set_word(start + 9, own);
        if (via == Via::RoutinePulls) p.set_word(start + 9, pulls);
        for (std::uint32_t i = 0; i < 2; ++i) {
            const std::uint32_t r = (i == 0 ? r1 : r2) - 1;
            p.image.bytes[low + i - p.image.load] = static_cast<std::uint8_t>(r);
            p.image.bytes[high + i - p.image.load] = static_cast<std::uint8_t>(r >> 8);
        }
        const MemoryMap analysis = trace_program(p.image, start);
        const bool taken = via == Via::ZeroPage || via == Via::OwnRoutine;
        const int v = static_cast<int>(via);
        EXPECT_EQ(analysis.is_opcode(r1), taken) << v;
        EXPECT_EQ(analysis.is_opcode(r2), taken) << v;
        EXPECT_EQ(analysis.kind(low + 1), taken ? Kind::LowMinus1 : Kind::Unknown) << v;
        if (taken) {
            EXPECT_EQ(analysis.target(high + 1), r2) << v;
        }
    }
}

// Code that only a guess finds reads its tables the same ways; those
// tables are the guesses' to find.
TEST(MoreCode, TablesReadByGuessedCode) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    const std::uint32_t reader = p.add({0xbd, 0x00, 0x00,          // lda high,x
                                        0x48,                      // pha
                                        0xbd, 0x00, 0x00,          // lda low,x
                                        0x48,                      // pha
                                        0x60});                    // rts
    const std::uint32_t last = p.add({0x60});
    const std::uint32_t low = p.add({0, 0});
    const std::uint32_t high = p.add({0, 0, 0x02});
    const std::uint32_t r1 = p.add({0xe8, 0x60, 0x02});
    const std::uint32_t r2 = p.add({0xca, 0x60});
    p.set_word(start + 1, last);
    p.set_word(reader + 1, high);
    p.set_word(reader + 5, low);
    for (std::uint32_t i = 0; i < 2; ++i) {
        const std::uint32_t r = (i == 0 ? r1 : r2) - 1;
        p.image.bytes[low + i - p.image.load] = static_cast<std::uint8_t>(r);
        p.image.bytes[high + i - p.image.load] = static_cast<std::uint8_t>(r >> 8);
    }
    EXPECT_FALSE(trace_program(p.image, start).is_opcode(r1));
    const MemoryMap analysis = p.analyse(start);
    EXPECT_EQ(listed_at(analysis, reader), label(reader) + ": lda D" + label(high).substr(1) + ",x");
    EXPECT_EQ(listed_at(analysis, r1), label(r1) + ": inx");
    EXPECT_EQ(listed_at(analysis, r2), label(r2) + ": dex");
    EXPECT_EQ(analysis.kind(low + 1), Kind::LowMinus1);
    EXPECT_EQ(analysis.target(high + 1), r2);
}

// The same with the rts trick's interleaved words (lda t+1,x / pha /
// lda t,x / pha / rts): every entry is tried, not the first alone.
TEST(MoreCode, InterleavedTableReadByGuessedCode) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    const std::uint32_t reader = p.add({0xbd, 0x00, 0x00,          // lda table+1,x
                                        0x48,                      // pha
                                        0xbd, 0x00, 0x00,          // lda table,x
                                        0x48,                      // pha
                                        0x60});                    // rts
    const std::uint32_t last = p.add({0x60});
    const std::uint32_t table = p.add({0, 0, 0, 0, 0, 0, 0x02});
    const std::uint32_t r1 = p.add({0xe8, 0x60, 0x02});        // inx / rts
    const std::uint32_t r2 = p.add({0xca, 0xca, 0x60, 0x02});  // dex / dex / rts
    const std::uint32_t r3 = p.add({0xc8, 0x60});              // iny / rts
    p.set_word(start + 1, last);
    p.set_word(reader + 1, table + 1);
    p.set_word(reader + 5, table);
    p.set_word(table, r1 - 1);
    p.set_word(table + 2, r2 - 1);
    p.set_word(table + 4, r3 - 1);
    EXPECT_FALSE(trace_program(p.image, start).is_opcode(reader));
    const MemoryMap analysis = p.analyse(start);
    ASSERT_TRUE(analysis.is_opcode(reader));
    for (const std::uint32_t r : {r1, r2, r3}) EXPECT_TRUE(analysis.is_opcode(r)) << std::hex << r;
    EXPECT_EQ(analysis.kind(table + 4), Kind::WordMinus1);
    EXPECT_EQ(analysis.target(table + 4), r3);
}

// Tables of plain addresses read into a jump: into the pointer of a
// jmp (p) that the code reaches next (also through a jsr to the jmp, with
// a test between load and store), into the operand of a jmp that the code
// patches (split tables; a row of stubs through an indexed store), and a
// single address into the operand of a jsr. All are sure entries. A table
// read into a pointer that the code only reads data through is not.
TEST(MoreCode, JumpTablesReadIntoAJump) {
    Program p(0xc000);
    const std::uint32_t start = p.add({
        0xa2, 0x00,          // ldx #0
        0xbd, 0x00, 0x00,    // lda words+1,x       (+2)
        0xf0, 0x0d,          // beq +13
        0x85, 0xfc,          // sta $fc
        0xbd, 0x00, 0x00,    // lda words,x         (+9)
        0x85, 0xfb,          // sta $fb
        0x20, 0x00, 0x00,    // jsr via_pointer     (+14)
        0xbd, 0x00, 0x00,    // lda split_lo,x      (+17)
        0x8d, 0x00, 0x00,    // sta patched+1       (+20)
        0xbd, 0x00, 0x00,    // lda split_hi,x      (+23)
        0x8d, 0x00, 0x00,    // sta patched+2       (+26)
        0xad, 0x00, 0x00,    // lda vector          (+29)
        0x8d, 0x00, 0x00,    // sta call+1          (+32)
        0xad, 0x00, 0x00,    // lda vector+1        (+35)
        0x8d, 0x00, 0x00,    // sta call+2          (+38)
        0xa0, 0x00,          // ldy #0
        0xb9, 0x00, 0x00,    // lda driver,y        (+43)
        0x9d, 0x00, 0x00,    // sta stubs+1,x       (+46)
        0xb9, 0x00, 0x00,    // lda driver+1,y      (+49)
        0x9d, 0x00, 0x00,    // sta stubs+2,x       (+52)
        0xbd, 0x00, 0x00,    // lda data,x          (+55)
        0x85, 0xfd,          // sta $fd
        0xbd, 0x00, 0x00,    // lda data+1,x        (+60)
        0x85, 0xfe,          // sta $fe
        0xb1, 0xfd,          // lda ($fd),y
        0x20, 0x00, 0x00,    // jsr call            (+67)
        0x4c, 0x00, 0x00});  // jmp patched         (+70)
    const std::uint32_t via_pointer = p.add({0x6c, 0xfb, 0x00});  // jmp ($00fb)
    const std::uint32_t patched = p.add({0x4c, 0x00, 0x00});      // jmp $0000
    const std::uint32_t call = p.add({0x20, 0x00, 0x00,           // jsr $0000
                                      0x20, 0x00, 0x00, 0x60});   // jsr stubs / rts
    const std::uint32_t stubs = p.add({0x4c, 0x00, 0x00, 0x4c, 0x00, 0x00});
    p.add({0x6c, 0xfd, 0x00});  // jmp ($00fd), not where the data pointer goes
    const std::uint32_t words = p.add({0, 0, 0, 0, 0, 0});  // two entries and a zero word
    const std::uint32_t split_lo = p.add({0, 0});
    const std::uint32_t split_hi = p.add({0, 0});
    const std::uint32_t vector = p.add({0, 0, 0, 0, 0x02});  // the word after it leads to code too
    const std::uint32_t driver = p.add({0, 0, 0, 0});
    const std::uint32_t data = p.add({0, 0, 0, 0});
    p.add({0x02});
    std::vector<std::uint32_t> routines;
    for (int i = 0; i < 7; ++i) routines.push_back(p.add({0xe8, 0x60, 0x02}));  // inx / rts / jam
    const std::uint32_t text = p.add({0xa9, 0x00, 0x60, 0x02, 0xa9, 0x01, 0x60, 0x02});  // data that decodes
    const std::pair<std::uint32_t, std::uint32_t> operands[] = {
        {2, words + 1}, {9, words}, {14, via_pointer}, {17, split_lo}, {20, patched + 1}, {23, split_hi},
        {26, patched + 2}, {29, vector}, {32, call + 1}, {35, vector + 1}, {38, call + 2}, {43, driver},
        {46, stubs + 1}, {49, driver + 1}, {52, stubs + 2}, {55, data}, {60, data + 1}, {67, call},
        {70, patched}};
    for (const auto& [offset, value] : operands) p.set_word(start + offset + 1, value);
    p.set_word(call + 4, stubs);
    p.set_word(words, routines[0]);
    p.set_word(words + 2, routines[1]);
    for (std::uint32_t i = 0; i < 2; ++i) {
        p.image.bytes[split_lo + i - p.image.load] = static_cast<std::uint8_t>(routines[2 + i]);
        p.image.bytes[split_hi + i - p.image.load] = static_cast<std::uint8_t>(routines[2 + i] >> 8);
    }
    p.set_word(vector, routines[4]);
    p.set_word(vector + 2, routines[0]);
    p.set_word(driver, routines[5]);
    p.set_word(driver + 2, routines[6]);
    p.set_word(data, text);
    p.set_word(data + 2, text + 4);
    const MemoryMap analysis = trace_program(p.image, start);
    for (std::uint32_t r : routines) {
        EXPECT_TRUE(analysis.is_opcode(r)) << std::hex << r;
        EXPECT_EQ(listed_at(analysis, r), label(r) + ": inx") << std::hex << r;
    }
    EXPECT_EQ(analysis.kind(words), Kind::Word);
    EXPECT_EQ(analysis.target(words + 2), routines[1]);
    EXPECT_EQ(analysis.kind(words + 4), Kind::Unknown) << "the zero word ends the list";
    EXPECT_EQ(analysis.kind(split_lo + 1), Kind::Low);
    EXPECT_EQ(analysis.target(split_hi + 1), routines[3]);
    EXPECT_EQ(analysis.target(vector), routines[4]);
    EXPECT_EQ(analysis.kind(vector + 2), Kind::Unknown) << "a single address is a table of one";
    EXPECT_EQ(analysis.target(driver + 2), routines[6]);
    EXPECT_TRUE(is_data(analysis, p.image, data, data + 4));
    EXPECT_TRUE(is_data(analysis, p.image, text, text + 8));
}

TEST(MoreCode, PointerBuiltFromImmediates) {
    Program p(0x1000);
    const std::uint32_t start = p.add({0xa9, 0x00,        // lda #<handler
                                       0xa2, 0x00,        // ldx #>handler
                                       0x8d, 0x14, 0x03,  // sta $0314
                                       0x8e, 0x15, 0x03,  // stx $0315
                                       0x60});
    p.add({0x01, 0x02, 0x03, 0xff});  // data before the handler
    const std::uint32_t handler = p.add({0xee, 0x20, 0xd0, 0x4c, 0x31, 0xea});  // inc $d020 / jmp $ea31
    p.image.bytes[1] = static_cast<std::uint8_t>(handler);
    p.image.bytes[3] = static_cast<std::uint8_t>(handler >> 8);
    const MemoryMap analysis = p.analyse(start);
    EXPECT_TRUE(analysis.is_opcode(handler));
    EXPECT_TRUE(analysis.is_opcode(handler + 3));
    EXPECT_TRUE(is_data(analysis, p.image, handler - 4, handler));
}

// Values stored to the chips are settings, not halves of an address, even
// where two of them look like one that lies in the program: a SID
// frequency, a sprite's position, a setting moved through X or Y first, and
// one that also goes to a routine in A and X. A pointer next to them stays
// an address.
TEST(MoreCode, ImmediatesStoredToTheChipsStayNumbers) {
    Program p(0x1000);
    const std::uint32_t start = p.add({0xa9, 0x08, 0x8d, 0x18, 0xd4,   // lda #$08 / sta $d418
                                       0xa9, 0x00, 0x8d, 0x00, 0xd4,   // lda #<text / sta $d400
                                       0xa9, 0x00, 0x8d, 0x01, 0xd4,   // lda #>text / sta $d401
                                       0xa9, 0x00, 0xaa, 0x8e, 0x05, 0xd4,   // lda #<text / tax / stx $d405
                                       0xa9, 0x00, 0xa8, 0x8c, 0x06, 0xd4,   // lda #>text / tay / sty $d406
                                       0xa9, 0x00, 0xa2, 0x00,         // lda #<text / ldx #>text
                                       0x8d, 0x00, 0xd0, 0x8e, 0x01, 0xd0,   // sta $d000 / stx $d001
                                       0x20, 0x00, 0x00,               // jsr routine
                                       0xa9, 0x00, 0x85, 0xfb,         // lda #<text / sta $fb
                                       0xa9, 0x00, 0x85, 0xfc,         // lda #>text / sta $fc
                                       0x60});
    const std::uint32_t routine = p.add({0x60});
    const std::uint32_t text = p.add({0x08, 0x05, 0x0c, 0x0c, 0x0f, 0x00});
    for (const std::uint32_t low : {start + 6, start + 16, start + 28, start + 41}) {
        p.image.bytes[low - p.image.load] = static_cast<std::uint8_t>(text);
    }
    for (const std::uint32_t high : {start + 11, start + 22, start + 30, start + 45}) {
        p.image.bytes[high - p.image.load] = static_cast<std::uint8_t>(text >> 8);
    }
    p.set_word(start + 38, routine);
    const MemoryMap analysis = p.analyse(start);
    const std::string low = "#$" + label(text).substr(3);  // the low half as a number
    const std::pair<std::uint32_t, std::string> rows[] = {
        {start, "entry: lda #$08"},
        {start + 5, "lda " + low},
        {start + 10, "lda #$10"},
        {start + 15, "lda " + low},
        {start + 21, "lda #$10"},
        {start + 27, "lda " + low},
        {start + 29, "ldx #$10"},
        {start + 40, "lda #<D" + label(text).substr(1)},
        {start + 44, "lda #>D" + label(text).substr(1)},
    };
    for (const auto& [address, row] : rows) EXPECT_EQ(listed_at(analysis, address), row) << std::hex << address;
}

// A constant added to a variable (`score += c`, two halves each with adc)
// is a number; the same sum stored into a zero-page pointer is an address:
// also with the carry added to 0 for the high half, and where the high
// half alone is added and the low half is the index (cc65's array access:
// adc #>array / sta ptr+1 / ldy #<array / lda (ptr),y).
TEST(MoreCode, SumsAreAddressesOnlyInAPointer) {
    Program p(0x1000);
    const std::uint32_t start = p.add({0xa9, 0x00, 0x18, 0x6d, 0x00, 0x00,   // lda #<c / clc / adc var
                                       0x8d, 0x00, 0x00,                     // sta var
                                       0xa9, 0x00, 0x6d, 0x00, 0x00,         // lda #>c / adc var+1
                                       0x8d, 0x00, 0x00,                     // sta var+1
                                       0xa9, 0x00, 0x18, 0x6d, 0x00, 0x00,   // lda #<c / clc / adc var
                                       0x85, 0xfb,                           // sta $fb
                                       0xa9, 0x00, 0x6d, 0x00, 0x00,         // lda #>c / adc var+1
                                       0x85, 0xfc,                           // sta $fc
                                       0x8a, 0x0a, 0x18, 0x69, 0x00,         // txa / asl / clc / adc #<data
                                       0x85, 0xfb,                           // sta $fb
                                       0xa9, 0x00, 0x69, 0x00, 0x85, 0xfc,   // lda #0 / adc #>data / sta $fc
                                       0xad, 0x00, 0x00, 0x18, 0x69, 0x00,   // lda var / clc / adc #>data
                                       0x85, 0xfc, 0xa0, 0x00, 0xb1, 0xfb,   // sta $fc / ldy #<data / lda ($fb),y
                                       0x60});
    const std::uint32_t var = p.add({0x00, 0x00});
    const std::uint32_t data = p.add({0x01, 0x02, 0x03, 0x04});
    for (const std::uint32_t word : {start + 4, start + 7, start + 21, start + 46}) p.set_word(word, var);
    for (const std::uint32_t word : {start + 12, start + 15, start + 28}) p.set_word(word, var + 1);
    for (const std::uint32_t low : {start + 1, start + 18, start + 36, start + 54}) {
        p.image.bytes[low - p.image.load] = static_cast<std::uint8_t>(data);
    }
    for (const std::uint32_t high : {start + 10, start + 26, start + 42, start + 50}) {
        p.image.bytes[high - p.image.load] = static_cast<std::uint8_t>(data >> 8);
    }
    const MemoryMap analysis = p.analyse(start);
    const std::string name = "D" + label(data).substr(1);
    EXPECT_EQ(listed_at(analysis, start), "entry: lda #$" + label(data).substr(3));
    EXPECT_EQ(listed_at(analysis, start + 9), "lda #$" + label(data).substr(1, 2));
    EXPECT_EQ(listed_at(analysis, start + 17), "lda #<" + name);
    EXPECT_EQ(listed_at(analysis, start + 25), "lda #>" + name);
    EXPECT_EQ(listed_at(analysis, start + 35), "adc #<" + name);
    EXPECT_EQ(listed_at(analysis, start + 41), "adc #>" + name);
    EXPECT_EQ(listed_at(analysis, start + 49), "adc #>" + name);
    EXPECT_EQ(listed_at(analysis, start + 53), "ldy #<" + name);
}

TEST(MoreCode, GapOfWellFormedRoutines) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00,   // jsr last
                                       0x60});             // rts
    const std::uint32_t gap = p.add({0xa9, 0x01, 0x8d, 0x21, 0xd0, 0x60,   // lda #1 / sta $d021 / rts
                                     0xa2, 0x05, 0xca, 0xd0, 0xfd, 0x60});  // ldx #5 / dex / bne / rts
    const std::uint32_t last = p.add({0xea, 0x60});
    p.set_word(start + 1, last);
    const MemoryMap analysis = p.analyse(start);
    EXPECT_TRUE(analysis.is_opcode(gap));
    EXPECT_TRUE(analysis.is_opcode(gap + 6));
    EXPECT_TRUE(analysis.is_opcode(gap + 11));
}

TEST(MoreCode, GapWithBitSkipTrick) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    const std::uint32_t gap = p.add({0xa0, 0x0f,                    // ldy #$0f
                                     0x2c, 0xa0, 0x07,              // bit $07a0, hiding ldy #$07
                                     0x8c, 0x20, 0xd0, 0x60,        // sty $d020 / rts
                                     0x4c, 0x00, 0x00});            // jmp to the hidden ldy
    const std::uint32_t last = p.add({0x60});
    p.set_word(start + 1, last);
    p.set_word(gap + 10, gap + 3);
    const MemoryMap analysis = p.analyse(start);
    // Written as sources write it: the byte that skips, then the
    // instruction the jump leads to.
    EXPECT_EQ(listed_at(analysis, gap + 2), "!byte $2c");
    EXPECT_EQ(listed_at(analysis, gap + 3), label(gap + 3) + ": ldy #$07");
    EXPECT_TRUE(analysis.is_opcode(gap + 9));
}

// The same trick when a call into the hidden instruction is known before
// the guess reaches the bit: the bit's opcode byte is the byte that skips
// (as the source has it), and the routine around it is code all the same.
TEST(MoreCode, BitSkipTrickWhoseHiddenInstructionIsKnownFirst) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00,   // jsr hidden
                                       0x20, 0x00, 0x00,   // jsr last
                                       0x60});
    const std::uint32_t gap = p.add({0xa0, 0x0f,              // ldy #$0f
                                     0x2c, 0xa0, 0x07,        // bit $07a0, hiding ldy #$07
                                     0x8c, 0x20, 0xd0, 0x60,  // sty $d020 / rts
                                     0xa2, 0x05, 0xca, 0xd0, 0xfd, 0x60});  // ldx #5 / dex / bne / rts
    const std::uint32_t last = p.add({0x60});
    p.set_word(start + 1, gap + 3);
    p.set_word(start + 4, last);
    const MemoryMap analysis = p.analyse(start);
    EXPECT_EQ(listed_at(analysis, gap), label(gap) + ": ldy #$0f");
    EXPECT_EQ(listed_at(analysis, gap + 2), "!byte $2c");
    EXPECT_EQ(listed_at(analysis, gap + 3), label(gap + 3) + ": ldy #$07");
    EXPECT_EQ(listed_at(analysis, gap + 9), label(gap + 9) + ": ldx #$05");
}

// Padding before a routine (`.res 12,$aa`, as ROMs fill unused bytes)
// decodes as a row of one-byte instructions running into it: data.
TEST(MoreCode, PaddingBeforeAGuessedRoutineStaysData) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    const std::uint32_t padding = p.add({0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa});
    p.add({0xa9, 0x01, 0x8d, 0x21, 0xd0, 0xa2, 0x05, 0xca, 0xd0, 0xfd, 0x60});  // lda #1 / sta $d021 / ldx #5 / dex / bne / rts
    const std::uint32_t last = p.add({0x60});
    p.set_word(start + 1, last);
    const MemoryMap analysis = p.analyse(start);
    EXPECT_TRUE(is_data(analysis, p.image, padding, padding + 12));
}

// Routines that talk to the expansion port ($DE00-$DFFF: cartridge banks,
// a RAM expansion's registers) or use the RAM under the I/O area are code
// like any other; an absolute operand below $100 still speaks for data.
TEST(MoreCode, ExpansionPortAndRamUnderIo) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    const std::uint32_t reu = p.add({0xa9, 0x90,                   // lda #$90
                                     0x8d, 0x01, 0xdf,             // sta $df01
                                     0x8d, 0x00, 0xde,             // sta $de00
                                     0x60});
    const std::uint32_t under_io = p.add({0xa0, 0x00,              // ldy #0
                                          0xb9, 0x00, 0x04,        // lda $0400,y
                                          0x99, 0x00, 0xd1,        // sta $d100,y
                                          0xc8, 0xd0, 0xf7,        // iny / bne
                                          0x60});
    const std::uint32_t last = p.add({0x60});
    p.set_word(start + 1, last);
    const MemoryMap analysis = p.analyse(start);
    const std::pair<std::uint32_t, std::string> rows[] = {{reu, label(reu) + ": lda #$90"},
                                                          {reu + 5, "sta $de00"},
                                                          {under_io + 5, "sta $d100,y"},
                                                          {under_io + 11, "rts"}};
    for (const auto& [a, row] : rows) {
        EXPECT_TRUE(analysis.is_opcode(a)) << std::hex << a;
        EXPECT_EQ(listed_at(analysis, a), row) << std::hex << a;
    }

    Program q(0x0900);
    const std::uint32_t start2 = q.add({0x20, 0x00, 0x00, 0x60});
    const std::uint32_t gap = q.add({0xad, 0xfb, 0x00,            // lda $00fb, absolute
                                     0x8d, 0x01, 0xdf, 0x60});
    const std::uint32_t last2 = q.add({0x60});
    q.set_word(start2 + 1, last2);
    EXPECT_TRUE(is_data(q.analyse(start2), q.image, gap, last2));
}

// An absolute operand on zero page is a choice assemblers make when told
// to (sta $0003 written on purpose), or the only form there is (lda
// $0004,y; jsr into code copied to zero page): one such store among
// enough clean routines leaves them code, while a gap of few instructions
// with one, or of data that decodes into many, stays data.
TEST(MoreCode, AbsoluteOperandsOnZeroPageWeighedAgainstTheRest) {
    // The gap's bytes between a routine that calls `last` and `last`.
    const auto with_gap = [](const std::vector<std::uint8_t>& bytes, std::uint32_t* gap, std::uint32_t* last) {
        Program p(0x0900);
        const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
        *gap = p.image.end();
        p.image.bytes.insert(p.image.bytes.end(), bytes.begin(), bytes.end());
        *last = p.add({0x60});
        p.set_word(start + 1, *last);
        return p;
    };
    std::uint32_t gap = 0;
    std::uint32_t last = 0;
    const Program routines = with_gap({0xa9, 0x00,          // lda #0
                                       0x8d, 0x03, 0x00,    // sta $0003, absolute on purpose
                                       0xa2, 0x27,          // ldx #39
                                       0xbd, 0x00, 0x04,    // lda $0400,x
                                       0x9d, 0x00, 0xd8,    // sta $d800,x
                                       0xca,                // dex
                                       0x10, 0xf7,          // bpl to the lda
                                       0x60,
                                       0xa0, 0x07,          // ldy #7
                                       0xb9, 0x04, 0x00,    // lda $0004,y: no zero page form
                                       0x99, 0x00, 0x05,    // sta $0500,y
                                       0x88,                // dey
                                       0x10, 0xf7,          // bpl to the lda
                                       0x20, 0x73, 0x00,    // jsr $0073, code copied to zero page
                                       0xad, 0x20, 0xd0,    // lda $d020
                                       0x8d, 0x21, 0xd0,    // sta $d021
                                       0x60},
                                      &gap, &last);
    const MemoryMap analysis = routines.analyse(0x0900);
    for (const std::uint32_t offset : {0u, 2u, 16u, 17u, 19u, 28u, 37u}) {
        EXPECT_TRUE(analysis.is_opcode(gap + offset)) << offset;
    }
    EXPECT_EQ(listed_at(analysis, gap + 19), label(gap + 19) + ": lda+2 $0004,y");
    EXPECT_EQ(listed_at(analysis, gap + 28), "jsr+2 $0073");

    const Program short_one = with_gap({0xa9, 0x00,         // lda #0
                                        0x8d, 0x03, 0x00,   // sta $0003
                                        0x8d, 0x20, 0xd0,   // sta $d020
                                        0x60},
                                       &gap, &last);
    EXPECT_TRUE(is_data(short_one.analyse(0x0900), short_one.image, gap, last));

    // Data that decodes as one long routine: stores and loads, a third of
    // them absolute on zero page, between clean immediates.
    std::mt19937 random(6510);
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});
    const std::uint32_t data = p.image.end();
    for (int i = 0; i < 60; ++i) {
        const auto low = static_cast<std::uint8_t>(random());
        switch (i % 3) {
        case 0: p.add({0x8d, low, 0x00}); break;  // sta $00xx
        case 1: p.add({0xa9, low}); break;        // lda #
        default: p.add({0x69, low}); break;       // adc #
        }
    }
    p.add({0x60});
    const std::uint32_t end = p.add({0x60});
    p.set_word(start + 1, end);
    EXPECT_TRUE(is_data(p.analyse(start), p.image, data, end));
}

// Runs of $60 and $40 in data (tile maps, level data) decode as chains of
// rts and rti routines. They say nothing for code: they stay data, both
// between routines and where a table no code reads points at them. An rts
// that code reaches through a table it reads (the rts trick) is code.
TEST(MoreCode, ReturnsAloneAreNoEvidence) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    const std::uint32_t tiles = p.add({0x60, 0x60, 0x40, 0x60, 0x60, 0x40, 0x40, 0x60});
    const std::uint32_t last = p.add({0xa9, 0x01, 0x60});
    p.set_word(start + 1, last);
    EXPECT_TRUE(is_data(p.analyse(start), p.image, tiles, last));

    Program q(0xc000);
    const std::uint32_t start2 = q.add({0xa9, 0x00, 0x60});  // lda #0 / rts
    q.add({0x02});                                           // jam: no gap after the code
    const std::uint32_t table = q.add({0, 0, 0, 0});
    const std::uint32_t map = q.add({0x02, 0x60, 0x02, 0x40, 0x02});
    q.set_word(table, map + 1);
    q.set_word(table + 2, map + 3);
    const MemoryMap analysis = q.analyse(start2);
    EXPECT_TRUE(is_data(analysis, q.image, table, q.image.end()));
}

// A guessed routine that calls a stub whose target the program sets at run
// time (jmp $0000, or a jmp whose operand known code writes, also through
// an indexed store into a row of stubs) is clean: the target is unknown,
// not wrong. Without the store, a jmp to $0300 leads nowhere a routine can
// go, and the guess is refused.
TEST(MoreCode, CallsThroughPatchedStubs) {
    enum class Store { None, Plain, Row };
    std::uint32_t start = 0;
    const auto build = [&start](std::uint16_t placeholder, Store store, std::uint32_t* gap, std::uint32_t* stub) {
        Program p(0x0900);
        start = p.add({0xa2, 0x00,                             // ldx #0
                       0xea, 0xea, 0xea,                       // sta ... (below)
                       0x20, 0x00, 0x00,                       // jsr last
                       0x60});
        *gap = p.add({0x20, 0x00, 0x00,                        // jsr to the stub
                      0xa9, 0x0d, 0x60});                      // lda #13 / rts
        const std::uint32_t stubs = p.add({0x4c, 0x00, 0x00,   // jmp: first stub of a row
                                           0x4c, 0x00, 0x00,   // second stub
                                           0x60});             // rts: the gap ends cleanly
        const std::uint32_t last = p.add({0x60});
        *stub = store == Store::Row ? stubs + 3 : stubs;
        p.set_word(start + 6, last);
        p.set_word(*gap + 1, *stub);
        p.set_word(*stub + 1, placeholder);  // the other stub is jmp $0000
        if (store != Store::None) {
            p.image.bytes[start + 2 - p.image.load] = store == Store::Row ? 0x9d : 0x8d;  // sta abs,x / sta abs
            p.set_word(start + 3, stubs + (store == Store::Row ? 1 : 2));
        }
        return p;
    };
    std::uint32_t gap = 0;
    std::uint32_t stub = 0;
    for (const auto& [placeholder, store] : {std::pair{std::uint16_t{0}, Store::None},
                                             std::pair{std::uint16_t{0x0300}, Store::Plain},
                                             std::pair{std::uint16_t{0x0300}, Store::Row}}) {
        SCOPED_TRACE(std::to_string(placeholder) + " " + std::to_string(static_cast<int>(store)));
        const Program p = build(placeholder, store, &gap, &stub);
        const MemoryMap analysis = p.analyse(start);
        EXPECT_TRUE(analysis.is_opcode(gap + 3));
        EXPECT_TRUE(analysis.is_opcode(stub));
        EXPECT_EQ(listed_at(analysis, gap), label(gap) + ": jsr " + label(stub));
    }
    const Program p = build(0x0300, Store::None, &gap, &stub);
    const MemoryMap unpatched = p.analyse(start);
    EXPECT_FALSE(unpatched.is_opcode(gap + 3));
    EXPECT_FALSE(unpatched.is_opcode(stub));
}

TEST(MoreCode, TextAndBrokenGapsStayData) {
    Program p(0x0900);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});  // jsr last / rts
    // "hhhhhhhh" in PETSCII decodes as eight pha falling into an rts, but
    // it is text.
    const std::uint32_t text = p.add({0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48, 0x48});
    const std::uint32_t first = p.add({0x60});                           // jsr'd: rts
    const std::uint32_t broken = p.add({0xa9, 0x01, 0x8d, 0x21, 0xd0,   // lda #1 / sta $d021
                                        0x02});                          // then jam
    const std::uint32_t last = p.add({0x60});
    p.set_word(start + 1, first);
    p.add({0x20, 0x00, 0x00, 0x60});  // trailing code reached from nowhere keeps the gap inside
    const MemoryMap analysis = p.analyse(start);
    EXPECT_TRUE(is_data(analysis, p.image, text, first));
    EXPECT_TRUE(is_data(analysis, p.image, broken, last));
}

TEST(MoreCode, RandomDataBetweenCodeStaysData) {
    std::mt19937 random(1982);
    Program p(0x4000);
    const std::uint32_t start = p.add({0x20, 0x00, 0x00, 0x60});
    const std::uint32_t data = p.image.end();
    for (int i = 0; i < 4096; ++i) p.add({static_cast<std::uint8_t>(random())});
    const std::uint32_t last = p.add({0xa9, 0x00, 0x60});
    p.set_word(start + 1, last);
    const MemoryMap analysis = p.analyse(start);
    int claimed = 0;
    for (std::uint32_t a = data; a < last; ++a) claimed += is_instruction(analysis.kind(a)) ? 1 : 0;
    // A table of two words that happen to point at decodable bytes can
    // still be taken; much more would mean the checks do not hold.
    EXPECT_LT(claimed, 4096 / 50) << claimed << " random bytes taken for code";
}

}  // namespace

namespace {

// A table of addresses minus one for the rts trick ends where the next
// word, read the same way, would lead to an undocumented opcode: that is
// the next table (BASIC's function addresses after its statements').
TEST(MoreCode, RtsTableEndsBeforeAWordThatLeadsOneByteOff) {
    Program p(0xc000);
    p.add({0xa2, 0x02,                     // ldx #2
           0xbd, 0x21, 0xc0, 0x48,         // lda tab+1,x / pha
           0xbd, 0x20, 0xc0, 0x48,         // lda tab,x / pha
           0x60});                         // rts
    while (p.image.end() < 0xc020) p.add({0x00});
    p.add({0x2f, 0xc0, 0x37, 0xc0,         // tab: h1-1, h2-1
           0x50, 0xc0});                   // another table: h3 itself
    while (p.image.end() < 0xc030) p.add({0x00});
    p.add({0xee, 0x20, 0xd0, 0x60});       // h1: inc $d020 / rts
    while (p.image.end() < 0xc038) p.add({0x00});
    p.add({0xee, 0x21, 0xd0, 0x60});       // h2: inc $d021 / rts
    while (p.image.end() < 0xc050) p.add({0x00});
    p.add({0xa9, 0x02, 0x8d, 0x20, 0xd0, 0x60});  // h3: lda #2 / sta $d020 / rts
    const MemoryMap map = trace_program(p.image, 0xc000);
    EXPECT_EQ(map.kind(0xc020), Kind::WordMinus1);
    EXPECT_EQ(map.kind(0xc022), Kind::WordMinus1);
    EXPECT_NE(map.kind(0xc024), Kind::WordMinus1);
    EXPECT_FALSE(map.is_opcode(0xc051));
}

// It ends too where code names what follows (lda counters,x), however
// much those words look like more of it.
TEST(MoreCode, RtsTableEndsWhereCodeNamesAnotherTable) {
    Program p(0xc000);
    p.add({0xa2, 0x00,                     // ldx #0
           0xbd, 0x11, 0xc0, 0x48,         // lda tab+1,x / pha
           0xbd, 0x10, 0xc0, 0x48,         // lda tab,x / pha
           0xbd, 0x14, 0xc0, 0x85, 0xfb,   // lda counters,x / sta $fb
           0x60});                         // rts
    p.add({0x1f, 0xc0, 0x27, 0xc0,         // tab: h1-1, h2-1
           0x1f, 0xc0, 0x27, 0xc0});       // counters, of the same values
    while (p.image.end() < 0xc020) p.add({0x00});
    p.add({0xee, 0x20, 0xd0, 0x60});       // h1: inc $d020 / rts
    while (p.image.end() < 0xc028) p.add({0x00});
    p.add({0xee, 0x21, 0xd0, 0x60});       // h2: inc $d021 / rts
    const MemoryMap map = trace_program(p.image, 0xc000);
    EXPECT_EQ(map.kind(0xc010), Kind::WordMinus1);
    EXPECT_EQ(map.kind(0xc012), Kind::WordMinus1);
    EXPECT_EQ(map.kind(0xc014), Kind::Unknown);
    EXPECT_EQ(map.kind(0xc016), Kind::Unknown);
}

}  // namespace

namespace {

// A row of jmps that code enters through a computed address (a game's
// table of drawing routines): each jmp an instruction, each target code,
// although read from the second byte the row makes words that point into
// the image as well.
TEST(MoreCode, RowOfJumpsIsATableOfEntryPoints) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0x60});     // the entry: rts
    const std::uint32_t row = p.add({0x4c, 0x00, 0x00, 0x4c, 0x00, 0x00, 0x4c, 0x00, 0x00});
    const std::uint32_t first = p.add({0xa9, 0x01, 0x8d, 0x20, 0xd0, 0x60});  // lda #1 / sta $d020 / rts
    const std::uint32_t second = p.add({0xa9, 0x02, 0x8d, 0x21, 0xd0, 0x60});
    const std::uint32_t third = p.add({0xee, 0x20, 0xd0, 0x60});
    p.set_word(row + 1, first);
    p.set_word(row + 4, second);
    p.set_word(row + 7, third);
    const MemoryMap analysis = p.analyse(start);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(analysis.is_opcode(row + 3 * i)) << i;
        EXPECT_EQ(analysis.kind(row + 3 * i + 1), Kind::Operand) << i;
    }
    EXPECT_EQ(listed_at(analysis, first), label(first) + ": lda #$01");
    EXPECT_EQ(listed_at(analysis, third), label(third) + ": inc EXTCOL");
}

}  // namespace

namespace {

// Words that lead to code but that no code reads as addresses are numbers:
// notes equal to the address of a routine the program calls (the run went
// there, by a jsr), and words that lead to a routine found by guessing.
// The routine is still found; the words stay bytes. Read by code, the
// same words are a table.
TEST(MoreCode, WordsShapedLikeATableNeedCodeThatReadsThem) {
    for (const bool read : {false, true}) {
        SCOPED_TRACE(read ? "read by code" : "read by nothing");
        Program p(0xc000);
        const std::uint32_t start = p.add({0x20, 0x00, 0x00,   // jsr r1
                                           0x20, 0x00, 0x00,   // jsr r2
                                           0xad, 0x00, 0x00,   // lda notes (or a plain variable)
                                           0x60});             // rts
        const std::uint32_t notes = p.add({0, 0, 0, 0, 0, 0, 0, 0});
        p.add({0, 0});  // a rest: no address
        const std::uint32_t guessed = p.add({0, 0, 0, 0});
        p.add({0x02});
        const std::uint32_t r1 = p.add({0xee, 0x20, 0xd0, 0x60});  // inc $d020 / rts
        const std::uint32_t r2 = p.add({0xce, 0x20, 0xd0, 0x60});  // dec $d020 / rts
        p.add({0x02});
        const std::uint32_t r3 = p.add({0xa9, 0x05, 0x8d, 0x21, 0xd0, 0x60});  // lda #5 / sta $d021 / rts
        const std::uint32_t r4 = p.add({0xa9, 0x06, 0x8d, 0x21, 0xd0, 0x60});
        const std::uint32_t variable = p.add({0x00});
        p.set_word(start + 1, r1);
        p.set_word(start + 4, r2);
        p.set_word(start + 7, read ? notes : variable);
        for (std::uint32_t i = 0; i < 4; ++i) p.set_word(notes + 2 * i, i % 2 == 0 ? r1 : r2);
        p.set_word(guessed, r3);
        p.set_word(guessed + 2, r4);
        const MemoryMap map = analyse(p.image, {.entry = start, .run = {}});
        EXPECT_TRUE(map.is_opcode(r3));
        EXPECT_TRUE(map.is_opcode(r4));
        for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(map.kind(notes + 2 * i), read ? Kind::Word : Kind::Unknown) << i;
        EXPECT_EQ(map.kind(guessed), Kind::Unknown);
    }
}

// A row of bytes that code reads (lda row,x) in which two words lead to
// plausible code, and a guess finds code behind one of them: that one word
// is no table.
TEST(MoreCode, OneWordInARowOfBytesIsNoTable) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0xa2, 0x00,               // ldx #0
                                       0xbd, 0x00, 0x00,         // lda row,x
                                       0x9d, 0x00, 0x04,         // sta $0400,x
                                       0x60});
    const std::uint32_t row = p.add({0x00, 0x00, 0x00, 0x00, 0x01, 0x03});
    p.add({0x02});
    const std::uint32_t routine = p.add({0xa9, 0x05, 0x8d, 0x21, 0xd0, 0x60});  // lda #5 / sta $d021 / rts
    const std::uint32_t broken = p.add({0xea, 0x02});                          // nop / jam
    p.set_word(start + 3, row);
    p.set_word(row, routine);
    p.set_word(row + 2, broken);
    const MemoryMap map = p.analyse(start);
    EXPECT_TRUE(map.is_opcode(routine));
    EXPECT_FALSE(map.is_opcode(broken));
    EXPECT_EQ(map.kind(row), Kind::Unknown);
}

}  // namespace

namespace {

// Numbers read in two halves as pointers are (lda t,x / lda t+1,x) that
// land inside instructions are no addresses: the table stays bytes.
// A run that reads through a pointer copied from a data word makes that
// word an address, which nothing else shows.
TEST(MoreCode, WordsAreAddressesWherePointersMayPointOrARunUsedThem) {
    Program p(0x1000);
    const std::uint32_t start = p.add({0xa2, 0x00,         // ldx #0
                                       0xbd, 0x00, 0x00,   // lda freq,x
                                       0x8d, 0x00, 0x00,   // sta var
                                       0xbd, 0x00, 0x00,   // lda freq+1,x
                                       0x8d, 0x00, 0x00,   // sta var+1
                                       0xad, 0x00, 0x00,   // lda ptr
                                       0x85, 0xfb,         // sta $fb
                                       0xad, 0x00, 0x00,   // lda ptr+1
                                       0x85, 0xfc,         // sta $fc
                                       0xa0, 0x00,         // ldy #0
                                       0xb1, 0xfb,         // lda ($fb),y
                                       0x8d, 0x00, 0x04,   // sta $0400
                                       0x60});
    const std::uint32_t freq = p.add({0, 0, 0, 0, 0, 0});
    const std::uint32_t ptr = p.add({0, 0});
    const std::uint32_t var = p.add({0, 0});
    const std::uint32_t text = p.add({0x08, 0x09, 0x00});
    p.set_word(start + 3, freq);
    p.set_word(start + 9, freq + 1);
    p.set_word(start + 6, var);
    p.set_word(start + 12, var + 1);
    p.set_word(start + 15, ptr);
    p.set_word(start + 20, ptr + 1);
    for (std::uint32_t i = 0; i < 3; ++i) p.set_word(freq + 2 * i, start + 4 + 6 * i);  // operands of the code
    p.set_word(ptr, text);
    for (const bool run : {false, true}) {
        SCOPED_TRACE(run ? "with a run" : "without a run");
        const MemoryMap map = analyse(p.image, {.entry = start, .run = {.budget = run ? kDefaultRunCycles : 0}});
        for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(map.kind(freq + 2 * i), Kind::Unknown) << i;
        EXPECT_EQ(map.kind(ptr), run ? Kind::Word : Kind::Unknown);
        if (run) {
            EXPECT_EQ(map.target(ptr), text);
        }
    }
}

// Immediates stored in two halves are numbers where they go to the sprite
// pointers, where they land inside an instruction and go to a variable (a
// coordinate), and where they land inside a routine and go to a call in A
// and X (a frequency); the same halves into a zero-page pointer are an
// address all the same (code that patches itself).
TEST(MoreCode, HalvesThatAreNumbersWhereverTheyPoint) {
    Program p(0x1000);
    const std::uint32_t start = p.add({0xa9, 0x00, 0x8d, 0xf8, 0x07,   // lda #<text / sta $07f8
                                       0xa9, 0x00, 0x8d, 0xf9, 0x07,   // lda #>text / sta $07f9
                                       0xa9, 0x00, 0xa2, 0x00,         // lda #<(start+1) / ldx #>(start+1)
                                       0x8d, 0x00, 0x00, 0x8e, 0x00, 0x00,  // sta var / stx var+1
                                       0xa9, 0x00, 0x85, 0xfb,         // lda #<(start+1) / sta $fb
                                       0xa9, 0x00, 0x85, 0xfc,         // lda #>(start+1) / sta $fc
                                       0xa9, 0x00, 0xa2, 0x00,         // lda #<(start+2) / ldx #>(start+2)
                                       0x20, 0x00, 0x00,               // jsr sub
                                       0x60});
    const std::uint32_t var = p.add({0, 0});
    const std::uint32_t text = p.add({0x08, 0x09, 0x00});
    const std::uint32_t sub = p.add({0x60});
    p.image.bytes[29] = static_cast<std::uint8_t>(start + 2);
    p.image.bytes[31] = static_cast<std::uint8_t>((start + 2) >> 8);
    p.set_word(start + 33, sub);
    p.image.bytes[1] = static_cast<std::uint8_t>(text);
    p.image.bytes[6] = static_cast<std::uint8_t>(text >> 8);
    p.image.bytes[11] = p.image.bytes[21] = static_cast<std::uint8_t>(start + 1);
    p.image.bytes[13] = p.image.bytes[25] = static_cast<std::uint8_t>((start + 1) >> 8);
    p.set_word(start + 15, var);
    p.set_word(start + 18, var + 1);
    const MemoryMap map = p.analyse(start);
    EXPECT_EQ(listed_at(map, start), "entry: lda #$" + label(text).substr(3));
    EXPECT_EQ(listed_at(map, start + 10), "lda #$01");
    EXPECT_EQ(listed_at(map, start + 12), "ldx #$10");
    EXPECT_EQ(listed_at(map, start + 20), "lda #<(entry+1)");
    EXPECT_EQ(listed_at(map, start + 28), "lda #$02");
    EXPECT_EQ(listed_at(map, start + 30), "ldx #$10");
}

}  // namespace

namespace {

// Halves that never make an address, each program on its own: settings of
// the processor port; two bytes stored to variables that are no pointer
// (a file name's characters, a grid's size); adc #$ff twice into a
// pointer, which subtracts one.
TEST(MoreCode, HalvesOfSettingsVariablesAndMinusOne) {
    struct Case {
        const char* what;
        std::uint32_t load;
        std::vector<std::uint8_t> code;
    };
    const Case cases[] = {
        {"the processor port", 0x1000, {0xa9, 0x10, 0x85, 0x00, 0xa9, 0x10, 0x85, 0x01, 0x60}},
        {"variables", 0x1000, {0xa9, 0x10, 0x8d, 0x20, 0x10, 0xa9, 0x10, 0x8d, 0x21, 0x10, 0x60}},
        {"minus one", 0xfe00, {0xa5, 0xfb, 0x18, 0x69, 0xff, 0x85, 0xfb, 0xa5, 0xfc, 0x69, 0xff, 0x85, 0xfc, 0x60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Program p(c.load);
        for (const std::uint8_t byte : c.code) p.add({byte});
        while (p.image.end() < std::min<std::uint32_t>(c.load + 0x200, 0x10000)) p.add({0x00});
        const MemoryMap map = p.analyse(c.load);
        EXPECT_TRUE(map.immediates().empty()) << listed_at(map, c.load);
    }
}

}  // namespace

namespace {

// Split tables of text addresses handed to BASIC's string output in A and
// Y (lda lo,x / ldy hi,x / jsr $ab1e) are tables of addresses.
TEST(MoreCode, SplitTablesHandedToARoutineInRegisters) {
    Program p(0xc000);
    const std::uint32_t start = p.add({0xa2, 0x01,               // ldx #1
                                       0xbd, 0x00, 0x00,         // lda lo,x
                                       0xbc, 0x00, 0x00,         // ldy hi,x
                                       0x20, 0x1e, 0xab,         // jsr STROUT
                                       0x60});
    const std::uint32_t lo = p.add({0x00, 0x00});
    const std::uint32_t hi = p.add({0x00, 0x00});
    const std::uint32_t one = p.add({0x48, 0x49, 0x00});
    const std::uint32_t two = p.add({0x48, 0x4f, 0x00});
    p.set_word(start + 3, lo);
    p.set_word(start + 6, hi);
    p.image.bytes[lo - p.image.load] = static_cast<std::uint8_t>(one);
    p.image.bytes[lo + 1 - p.image.load] = static_cast<std::uint8_t>(two);
    p.image.bytes[hi - p.image.load] = static_cast<std::uint8_t>(one >> 8);
    p.image.bytes[hi + 1 - p.image.load] = static_cast<std::uint8_t>(two >> 8);
    const MemoryMap map = p.analyse(start);
    EXPECT_EQ(map.kind(lo), Kind::Low);
    EXPECT_EQ(map.kind(hi + 1), Kind::High);
    EXPECT_EQ(map.target(lo + 1), two);
}

}  // namespace
