#include "c64/symbols.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace tolvek {
namespace {

// Sorted by address, ranges do not overlap. Names follow the usual C64
// literature (KERNAL jump table, VIC-II, SID, CIA registers, vectors).
constexpr KnownSymbol kKnown[] = {
    {0x0000, 1, "D6510"},   {c64::kProcessorPort, 1, "R6510"},   {0x0090, 1, "STATUS"},
    {0x00a0, 3, "TIME"},    {0x00ba, 1, "FA"},      {0x00c5, 1, "LSTX"},
    {0x00c6, 1, "NDX"},     {0x00cb, 1, "SFDX"},    {0x00d3, 1, "PNTR"},
    {0x00d6, 1, "TBLX"},    {0x0277, 10, "KEYD"},   {0x0286, 1, "COLOR"},
    {0x0288, 1, "HIBASE"},  {0x028d, 1, "SHFLAG"},
    // BASIC and KERNAL RAM vectors
    {c64::kRamVectors, 2, "IERROR"},  {0x0302, 2, "IMAIN"},   {0x0304, 2, "ICRNCH"},
    {0x0306, 2, "IQPLOP"},  {0x0308, 2, "IGONE"},   {0x030a, 2, "IEVAL"},
    {0x0314, 2, "CINV"},    {0x0316, 2, "CBINV"},   {0x0318, 2, "NMINV"},
    {0x031a, 2, "IOPEN"},   {0x031c, 2, "ICLOSE"},  {0x031e, 2, "ICHKIN"},
    {0x0320, 2, "ICKOUT"},  {0x0322, 2, "ICLRCH"},  {0x0324, 2, "IBASIN"},
    {0x0326, 2, "IBSOUT"},  {0x0328, 2, "ISTOP"},   {0x032a, 2, "IGETIN"},
    {0x032c, 2, "ICLALL"},  {0x032e, 2, "USRCMD"},  {0x0330, 2, "ILOAD"},
    {0x0332, 2, "ISAVE"},
    {0x0400, 1024, "VICSCN"},
    // VIC-II
    {0xd000, 1, "SP0X"},    {0xd001, 1, "SP0Y"},    {0xd002, 1, "SP1X"},
    {0xd003, 1, "SP1Y"},    {0xd004, 1, "SP2X"},    {0xd005, 1, "SP2Y"},
    {0xd006, 1, "SP3X"},    {0xd007, 1, "SP3Y"},    {0xd008, 1, "SP4X"},
    {0xd009, 1, "SP4Y"},    {0xd00a, 1, "SP5X"},    {0xd00b, 1, "SP5Y"},
    {0xd00c, 1, "SP6X"},    {0xd00d, 1, "SP6Y"},    {0xd00e, 1, "SP7X"},
    {0xd00f, 1, "SP7Y"},    {0xd010, 1, "MSIGX"},   {0xd011, 1, "SCROLY"},
    {0xd012, 1, "RASTER"},  {0xd013, 1, "LPENX"},   {0xd014, 1, "LPENY"},
    {0xd015, 1, "SPENA"},   {0xd016, 1, "SCROLX"},  {0xd017, 1, "YXPAND"},
    {0xd018, 1, "VMCSB"},   {0xd019, 1, "VICIRQ"},  {0xd01a, 1, "IRQMSK"},
    {0xd01b, 1, "SPBGPR"},  {0xd01c, 1, "SPMC"},    {0xd01d, 1, "XXPAND"},
    {0xd01e, 1, "SPSPCL"},  {0xd01f, 1, "SPBGCL"},  {0xd020, 1, "EXTCOL"},
    {0xd021, 1, "BGCOL0"},  {0xd022, 1, "BGCOL1"},  {0xd023, 1, "BGCOL2"},
    {0xd024, 1, "BGCOL3"},  {0xd025, 1, "SPMC0"},   {0xd026, 1, "SPMC1"},
    {0xd027, 1, "SP0COL"},  {0xd028, 1, "SP1COL"},  {0xd029, 1, "SP2COL"},
    {0xd02a, 1, "SP3COL"},  {0xd02b, 1, "SP4COL"},  {0xd02c, 1, "SP5COL"},
    {0xd02d, 1, "SP6COL"},  {0xd02e, 1, "SP7COL"},
    // SID
    {0xd400, 1, "FRELO1"},  {0xd401, 1, "FREHI1"},  {0xd402, 1, "PWLO1"},
    {0xd403, 1, "PWHI1"},   {0xd404, 1, "VCREG1"},  {0xd405, 1, "ATDCY1"},
    {0xd406, 1, "SUREL1"},  {0xd407, 1, "FRELO2"},  {0xd408, 1, "FREHI2"},
    {0xd409, 1, "PWLO2"},   {0xd40a, 1, "PWHI2"},   {0xd40b, 1, "VCREG2"},
    {0xd40c, 1, "ATDCY2"},  {0xd40d, 1, "SUREL2"},  {0xd40e, 1, "FRELO3"},
    {0xd40f, 1, "FREHI3"},  {0xd410, 1, "PWLO3"},   {0xd411, 1, "PWHI3"},
    {0xd412, 1, "VCREG3"},  {0xd413, 1, "ATDCY3"},  {0xd414, 1, "SUREL3"},
    {0xd415, 1, "CUTLO"},   {0xd416, 1, "CUTHI"},   {0xd417, 1, "RESON"},
    {0xd418, 1, "SIGVOL"},  {0xd419, 1, "POTX"},    {0xd41a, 1, "POTY"},
    {0xd41b, 1, "RANDOM"},  {0xd41c, 1, "ENV3"},
    {0xd800, 1024, "COLRAM"},
    // CIA 1
    {0xdc00, 1, "CIAPRA"},  {0xdc01, 1, "CIAPRB"},  {0xdc02, 1, "CIDDRA"},
    {0xdc03, 1, "CIDDRB"},  {0xdc04, 1, "TIMALO"},  {0xdc05, 1, "TIMAHI"},
    {0xdc06, 1, "TIMBLO"},  {0xdc07, 1, "TIMBHI"},  {0xdc08, 1, "TODTEN"},
    {0xdc09, 1, "TODSEC"},  {0xdc0a, 1, "TODMIN"},  {0xdc0b, 1, "TODHRS"},
    {0xdc0c, 1, "CIASDR"},  {0xdc0d, 1, "CIAICR"},  {0xdc0e, 1, "CIACRA"},
    {0xdc0f, 1, "CIACRB"},
    // CIA 2
    {0xdd00, 1, "CI2PRA"},  {0xdd01, 1, "CI2PRB"},  {0xdd02, 1, "C2DDRA"},
    {0xdd03, 1, "C2DDRB"},  {0xdd04, 1, "TI2ALO"},  {0xdd05, 1, "TI2AHI"},
    {0xdd06, 1, "TI2BLO"},  {0xdd07, 1, "TI2BHI"},  {0xdd08, 1, "TO2TEN"},
    {0xdd09, 1, "TO2SEC"},  {0xdd0a, 1, "TO2MIN"},  {0xdd0b, 1, "TO2HRS"},
    {0xdd0c, 1, "CI2SDR"},  {0xdd0d, 1, "CI2ICR"},  {0xdd0e, 1, "CI2CRA"},
    {0xdd0f, 1, "CI2CRB"},
    // KERNAL jump table
    {0xff81, 3, "CINT"},    {0xff84, 3, "IOINIT"},  {0xff87, 3, "RAMTAS"},
    {0xff8a, 3, "RESTOR"},  {0xff8d, 3, "VECTOR"},  {0xff90, 3, "SETMSG"},
    {0xff93, 3, "SECOND"},  {0xff96, 3, "TKSA"},    {c64::kMemtop, 3, "MEMTOP"},
    {c64::kMembot, 3, "MEMBOT"},  {0xff9f, 3, "SCNKEY"},  {0xffa2, 3, "SETTMO"},
    {0xffa5, 3, "ACPTR"},   {0xffa8, 3, "CIOUT"},   {0xffab, 3, "UNTLK"},
    {0xffae, 3, "UNLSN"},   {0xffb1, 3, "LISTEN"},  {0xffb4, 3, "TALK"},
    {0xffb7, 3, "READST"},  {0xffba, 3, "SETLFS"},  {c64::kSetnam, 3, "SETNAM"},
    {0xffc0, 3, "OPEN"},    {0xffc3, 3, "CLOSE"},   {0xffc6, 3, "CHKIN"},
    {0xffc9, 3, "CHKOUT"},  {0xffcc, 3, "CLRCHN"},  {0xffcf, 3, "CHRIN"},
    {0xffd2, 3, "CHROUT"},  {c64::kLoad, 3, "LOAD"},    {c64::kSave, 3, "SAVE"},
    {0xffdb, 3, "SETTIM"},  {0xffde, 3, "RDTIM"},   {0xffe1, 3, "STOP"},
    {0xffe4, 3, "GETIN"},   {0xffe7, 3, "CLALL"},   {0xffea, 3, "UDTIM"},
    {0xffed, 3, "SCREEN"},  {0xfff0, 3, "PLOT"},    {0xfff3, 3, "IOBASE"},
    // hardware vectors
    {c64::kNmiVector, 2, "NMI_VECTOR"}, {c64::kResetVector, 2, "RESET_VECTOR"}, {c64::kIrqVector, 2, "IRQ_VECTOR"},
};

}  // namespace

std::optional<KnownSymbol> find_known(std::uint32_t address) {
    // The last symbol starting at or below the address, if it reaches it.
    const auto* it = std::upper_bound(std::begin(kKnown), std::end(kKnown), address,
                                      [](std::uint32_t a, const KnownSymbol& s) { return a < s.address; });
    if (it == std::begin(kKnown)) return std::nullopt;
    --it;
    if (address < static_cast<std::uint32_t>(it->address) + it->size) return *it;
    return std::nullopt;
}

bool is_known_name(std::string_view name) {
    // Sorted by name once: labels of every disassembly are checked here.
    static const auto names = [] {
        std::array<std::string_view, std::size(kKnown)> sorted{};
        std::transform(std::begin(kKnown), std::end(kKnown), sorted.begin(), [](const KnownSymbol& s) { return s.name; });
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }();
    return std::binary_search(names.begin(), names.end(), name);
}

std::optional<std::uint32_t> find_known_by_name(std::string_view name) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    for (const KnownSymbol& symbol : kKnown) {
        if (std::equal(symbol.name.begin(), symbol.name.end(), name.begin(), name.end(), same)) return symbol.address;
    }
    return std::nullopt;
}

}  // namespace tolvek
