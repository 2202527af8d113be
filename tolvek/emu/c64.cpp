#include "emu/c64.hpp"

#include <algorithm>
#include <limits>
#include <tuple>

#include "cpu/behaviour.hpp"

namespace tolvek {
namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

void put_word(std::array<std::uint8_t, 0x10000>& ram, std::uint16_t address, std::uint16_t value) {
    ram[address] = static_cast<std::uint8_t>(value & 0xff);
    ram[address + 1u] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

void Cia::catch_up(std::uint64_t now) {
    if (!running || due > now) return;
    icr_data |= 0x01;
    if ((regs[0xe] & 0x08) != 0) {  // one-shot: stops at the underflow
        running = false;
        return;
    }
    const std::uint64_t period = latch + 1u;
    due += ((now - due) / period + 1) * period;
}

std::uint8_t Cia::read(int reg, std::uint64_t now) {
    switch (reg) {
    case 0x0:
    case 0x1:  // the ports: outputs as written, inputs high (no key, no joystick)
        return static_cast<std::uint8_t>(regs[static_cast<std::size_t>(reg)] | ~regs[static_cast<std::size_t>(reg) + 2]);
    case 0x4:
    case 0x5: {
        catch_up(now);
        const std::uint64_t counter = running ? std::min<std::uint64_t>(due - now - 1, latch) : latch;
        return static_cast<std::uint8_t>(reg == 0x4 ? counter & 0xff : (counter >> 8) & 0xff);
    }
    case 0xd: {  // reading acknowledges
        catch_up(now);
        const std::uint8_t value = static_cast<std::uint8_t>(icr_data | (asserting() ? 0x80 : 0));
        icr_data = 0;
        return value;
    }
    case 0xe: return static_cast<std::uint8_t>((regs[0xe] & 0xee) | (running ? 0x01 : 0));
    default: return regs[static_cast<std::size_t>(reg)];
    }
}

void Cia::write(int reg, std::uint8_t value, std::uint64_t now) {
    catch_up(now);
    regs[static_cast<std::size_t>(reg)] = value;
    switch (reg) {
    case 0x4: latch = static_cast<std::uint16_t>((latch & 0xff00) | value); break;
    case 0x5: latch = static_cast<std::uint16_t>((latch & 0x00ff) | (value << 8)); break;
    case 0xd:  // bit 7 says whether the other bits set or clear mask bits
        if ((value & 0x80) != 0) {
            icr_mask = static_cast<std::uint8_t>(icr_mask | (value & 0x1f));
        } else {
            icr_mask = static_cast<std::uint8_t>(icr_mask & ~value);
        }
        break;
    case 0xe:
        if ((value & 0x01) == 0) {
            running = false;
        } else if (!running || (value & 0x10) != 0) {
            start(now);
        }
        break;
    default: break;
    }
}

bool Vic::catch_up(std::uint64_t now) {
    if (raster_due > now) return false;
    latch |= 0x01;
    raster_due = next_raster_match(now);
    return true;
}

std::uint64_t Vic::next_raster_match(std::uint64_t after) const {
    const std::uint64_t line = static_cast<std::uint64_t>((regs[0x11] & 0x80) << 1) | regs[0x12];
    if (line >= pal::kLines) return kNever;
    std::uint64_t at = after - after % pal::kFrameCycles + line * pal::kLineCycles;
    if (at <= after) at += pal::kFrameCycles;
    return at;
}

std::uint8_t Vic::read(int reg, std::uint64_t now) const {
    const auto line = static_cast<unsigned>((now / pal::kLineCycles) % pal::kLines);
    switch (reg) {
    case 0x11: return static_cast<std::uint8_t>((regs[0x11] & 0x7f) | ((line & 0x100) != 0 ? 0x80 : 0));
    case 0x12: return static_cast<std::uint8_t>(line & 0xff);
    case 0x19: return static_cast<std::uint8_t>(latch | 0x70 | (asserting() ? 0x80 : 0));
    case 0x1a: return static_cast<std::uint8_t>(regs[0x1a] | 0xf0);
    case 0x1e:
    case 0x1f: return 0;  // no sprite collisions
    default:
        if (reg >= 0x2f) return 0xff;  // no registers there
        if (reg >= 0x20) return static_cast<std::uint8_t>(regs[static_cast<std::size_t>(reg)] | 0xf0);  // colours: 4 bits
        return regs[static_cast<std::size_t>(reg)];
    }
}

void Vic::write(int reg, std::uint8_t value, std::uint64_t now) {
    if (reg == 0x19) {
        latch = static_cast<std::uint8_t>(latch & ~value & 0x0f);  // 1s acknowledge
    } else {
        regs[static_cast<std::size_t>(reg)] = value;
    }
    if (reg == 0x11 || reg == 0x12) raster_due = next_raster_match(now);
}

const std::array<std::uint16_t, 16> kKernalVectors = {
    0xea31, 0xfe66, 0xfe47,                  // IRQ, BRK, NMI
    0xf34a, 0xf291, 0xf20e, 0xf250, 0xf333,  // OPEN, CLOSE, CHKIN, CHKOUT, CLRCHN
    0xf157, 0xf1ca, 0xf6ed, 0xf13e, 0xf32f,  // CHRIN, CHROUT, STOP, GETIN, CLALL
    0xfe66, 0xf4a5, 0xf5ed,                  // user command, LOAD, SAVE
};

C64::C64() {
    marks = ram_marks.data();
    first_writer = writers.data();
    for (std::size_t a = 0; a < ram_origins.size(); ++a) ram_origins[a] = static_cast<std::uint16_t>(a);
    origins = ram_origins.data();
    copied_pointers = &pointers_copied;
    data_pointers = &pointers_used;
    first_ran = first_runs.data();
    last_writes = last_write_notes.data();
    build_roms(basic_, kernal_, chars_);

    ram[0x00] = 0x2f;
    ram[0x01] = 0x37;
    put_word(ram, 0x03, 0xb1aa);  // float to integer, integer to float
    put_word(ram, 0x05, 0xb391);
    put_word(ram, 0x2b, 0x0801);  // start of BASIC
    put_word(ram, 0x33, 0xa000);  // bottom of strings, top of BASIC's memory
    put_word(ram, 0x37, 0xa000);
    ram[0x9a] = 3;     // output to the screen
    ram[0xba] = 8;     // the device last loaded from
    ram[0xc5] = 0x40;  // no key down
    ram[0xcb] = 0x40;
    put_word(ram, 0xd1, 0x0400);  // the cursor's line on the screen, and in colour RAM
    ram[0xd5] = 39;
    put_word(ram, 0xf3, 0xd800);
    put_word(ram, 0x0281, 0x0800);  // MEMBOT, MEMTOP
    put_word(ram, 0x0283, 0xa000);
    ram[0x0286] = 0x0e;  // text colour
    ram[0x0288] = 0x04;  // the screen's page
    ram[0x0289] = 10;    // keyboard buffer size
    put_word(ram, 0x028f, 0xeb48);
    // BASIC's vectors: error, main loop, tokenise, list, execute, evaluate
    const std::uint16_t basic_vectors[] = {0xe38b, 0xa483, 0xa57c, 0xa71a, 0xa7e4, 0xae86};
    for (std::size_t i = 0; i < std::size(basic_vectors); ++i) {
        put_word(ram, static_cast<std::uint16_t>(0x0300 + 2 * i), basic_vectors[i]);
    }
    ram[0x0310] = 0x4c;  // USR: jmp to "illegal quantity"
    put_word(ram, 0x0311, 0xb248);
    for (std::size_t i = 0; i < kKernalVectors.size(); ++i) {
        put_word(ram, static_cast<std::uint16_t>(0x0314 + 2 * i), kKernalVectors[i]);
    }
    std::fill(ram.begin() + 0x0400, ram.begin() + 0x07e8, std::uint8_t{0x20});
    colours_.fill(0x0e);

    vic_.regs[0x11] = 0x1b;
    vic_.regs[0x16] = 0xc8;
    vic_.regs[0x18] = 0x15;
    vic_.regs[0x20] = 0x0e;
    vic_.regs[0x21] = 0x06;
    vic_.raster_due = vic_.next_raster_match(0);
    // CIA 1's timer A interrupts about 60 times a second for the KERNAL.
    cia1_.regs[0x0] = 0x7f;
    cia1_.regs[0x2] = 0xff;
    cia1_.regs[0xe] = 0x01;
    cia1_.latch = 0x4025;
    cia1_.icr_mask = 0x01;
    cia1_.start(0);
    cia2_.regs[0x0] = 0x97;  // the VIC sees the first 16 KiB
    cia2_.regs[0x2] = 0x3f;

    cpu.s = 0xf8;
    cpu.p = flag::U;
    bank();
}

void C64::load(const Image& image, std::uint16_t entry) {
    std::copy(image.bytes.begin(), image.bytes.end(), ram.begin() + image.load);
    image_rom_ = rom_parts(image);
    const auto rom_of = [&](std::uint16_t start) { return image.bytes.begin() + static_cast<std::ptrdiff_t>(image.offset(start)); };
    if (image_rom_.basic) std::copy_n(rom_of(0xa000), basic_.size(), basic_.begin());
    if (image_rom_.kernal) std::copy_n(rom_of(0xe000), kernal_.size(), kernal_.begin());
    bank();
    // LOAD leaves the end in these, and BASIC's variables start there.
    const auto end = static_cast<std::uint16_t>(std::min<std::uint32_t>(image.end(), 0xffff));
    for (const std::uint16_t pointer : std::array<std::uint16_t, 4>{0x2d, 0x2f, 0x31, 0xae}) put_word(ram, pointer, end);
    cpu.pc = entry;
    // Straight into RAM: BASIC pushed it, not the program.
    const auto back = static_cast<std::uint16_t>(kBackFromSys - 1);  // rts adds one
    ram[0x100u + cpu.s--] = static_cast<std::uint8_t>(back >> 8);
    ram[0x100u + cpu.s--] = static_cast<std::uint8_t>(back & 0xff);
}

C64::Area C64::area(std::uint16_t address) const {
    // Inputs of the port read as 1: pulled up.
    const int port = (ram[1] | ~ram[0]) & 0x07;
    const bool loram = (port & 1) != 0, hiram = (port & 2) != 0, charen = (port & 4) != 0;
    switch (address >> 12) {
    case 0xa:
    case 0xb: return loram && hiram ? Area::Basic : Area::Ram;
    case 0xd:
        if (!loram && !hiram) return Area::Ram;
        return charen ? Area::Io : Area::Chars;
    case 0xe:
    case 0xf: return hiram ? Area::Kernal : Area::Ram;
    default: return Area::Ram;
    }
}

void C64::bank() {
    for (std::size_t page = 0; page < 256; ++page) {
        const auto address = static_cast<std::uint16_t>(page << 8);
        std::uint8_t* ram_page = ram.data() + address;
        write_page[page] = ram_page;
        read_page[page] = ram_page;
        run_mark_page[page] = ram_marks.data() + address;
        const Area seen = area(address);
        if (seen == Area::Ram) continue;
        // The image's own ROM runs the image's code: its marks are the image's.
        if (!image_rom(seen)) run_mark_page[page] = rom_marks_.data() + address;
        switch (seen) {
        case Area::Basic: read_page[page] = basic_.data() + (address - 0xa000); break;
        case Area::Kernal: read_page[page] = kernal_.data() + (address - 0xe000); break;
        case Area::Chars: read_page[page] = chars_.data() + (address - 0xd000); break;
        default:  // I/O: io_read and io_write
            read_page[page] = nullptr;
            write_page[page] = nullptr;
            break;
        }
    }
}

void C64::port_written() { bank(); }

std::uint8_t C64::io_read(std::uint16_t address) {
    const std::uint64_t now = cpu.cycles;
    if (address < 0xd400) return vic_.read(address & 0x3f, now);
    if (address < 0xd800) {
        if ((address & 0x1f) != 0x1b) return 0;
        // Oscillator 3 as a noise source: a 23-bit shift register.
        for (int step = 0; step < 8; ++step) {
            const std::uint32_t bit = ((noise_ >> 22) ^ (noise_ >> 17)) & 1u;
            noise_ = ((noise_ << 1) | bit) & 0x7fffff;
        }
        return static_cast<std::uint8_t>(noise_ & 0xff);
    }
    if (address < 0xdc00) return static_cast<std::uint8_t>(colours_[address - 0xd800u] | 0xf0);
    if (address < 0xdd00) return read_cia1(address & 0x0f);
    if (address < 0xde00) {
        const std::uint8_t value = cia2_.read(address & 0x0f, now);
        nmi_asserted_ = nmi_asserted_ && cia2_.asserting();
        return value;
    }
    return 0xff;  // nothing on the expansion port
}

void C64::io_write(std::uint16_t address, std::uint8_t value) {
    const std::uint64_t now = cpu.cycles;
    if (address < 0xd400) {
        vic_writers_[address & 0x3f] = cpu.instruction_at();
        vic_.write(address & 0x3f, value, now);
        update_irq_line();
    } else if (address < 0xd800) {
        // SID: nothing to hear.
    } else if (address < 0xdc00) {
        colours_[address - 0xd800u] = static_cast<std::uint8_t>(value & 0x0f);
    } else if (address < 0xdd00) {
        cia1_.write(address & 0x0f, value, now);
        update_irq_line();
    } else if (address < 0xde00) {
        if ((address & 0x0f) == 0x0 || (address & 0x0f) == 0x2) dd00_writer_ = cpu.instruction_at();
        cia2_.write(address & 0x0f, value, now);
    }
}

void C64::update_irq_line() {
    cpu.irq_line = !silent_ && (vic_.asserting() || cia1_.asserting());
}

bool C64::catch_up() {
    const std::uint64_t now = cpu.cycles;
    const bool raster = vic_.catch_up(now);
    if (vic_samples != nullptr && (raster || now >= next_frame_)) [[unlikely]] {
        next_frame_ = now - now % pal::kFrameCycles + pal::kFrameCycles;
        sample_vic();
    }
    cia1_.catch_up(now);
    cia2_.catch_up(now);
    update_irq_line();
    // The NMI is taken on the edge: once, until the program acknowledges it.
    const bool line = cia2_.asserting();
    const bool edge = line && !nmi_asserted_;
    nmi_asserted_ = line;
    return edge && !silent_;
}

std::uint64_t C64::next_event() const {
    std::uint64_t next = vic_.raster_due;
    for (const Cia* cia : {&cia1_, &cia2_}) {
        if (cia->running) next = std::min(next, cia->due);
    }
    return next;
}

void C64::silence() {
    silent_ = true;
    update_irq_line();
}

// Out of line, so that io_read saves no registers for it: the other chips
// (the raster line most of all) are read far more often.
[[gnu::noinline]] std::uint8_t C64::read_cia1(int reg) {
    const std::uint8_t value = cia1_.read(reg, cpu.cycles);
    update_irq_line();
    return reg < 2 ? sense(reg, value) : value;
}

std::uint8_t C64::sense(int port, std::uint8_t value) {
    (port == 0 ? input_reads.port_a : input_reads.port_b) = cpu.cycles;
    if (port == 1) {
        const auto selected = static_cast<std::uint8_t>(~cia1_.regs[0] & cia1_.regs[2]);
        for (std::size_t column = 0; column < 8; ++column) {
            if ((selected & (1u << column)) != 0) input_reads.columns[column] = cpu.cycles;
        }
    }
    // The lines each port drives low: outputs written as 0, and the
    // joystick on it. A key down joins its column and row line.
    const auto driven_low = [&](int p) {
        const auto index = static_cast<std::size_t>(p);
        return static_cast<std::uint8_t>(~(cia1_.regs[index] | ~cia1_.regs[index + 2]) | held.joysticks[1 - index]);
    };
    std::uint8_t low = held.joysticks[port == 0 ? 1 : 0];
    const std::uint8_t other = driven_low(1 - port);
    for (std::size_t column = 0; column < 8; ++column) {
        const std::uint8_t rows = held.keys[column];
        if (port == 1 && (other & (1u << column)) != 0) low |= rows;
        if (port == 0 && (rows & other) != 0) low |= static_cast<std::uint8_t>(1u << column);
    }
    return static_cast<std::uint8_t>(value & ~low);
}

void C64::note_key_call(bool key_in_a) {
    // The stand-in was called by jsr: its return address is on the stack,
    // and above it that of the routine that called, when one did.
    const auto stacked = [&](int at) {
        const auto low = ram[0x100u + ((cpu.s + at) & 0xff)];
        const auto high = ram[0x100u + ((cpu.s + at + 1) & 0xff)];
        return static_cast<std::uint16_t>((low | high << 8) + 1);
    };
    const std::uint16_t back = stacked(1);
    std::uint16_t outer = cpu.s > 0xfb ? 0 : stacked(3);
    const auto call = static_cast<std::uint16_t>(outer - 3);
    const bool called = area(call) == Area::Ram && behaviour(ram[call]).control == Control::Call;
    if (!called && outer != kBackFromSys) outer = 0;
    for (InputReads::Call& seen : input_reads.calls) {
        if (seen.back == back) {
            seen = {back, outer, cpu.cycles, key_in_a};
            return;
        }
    }
    if (input_reads.calls.size() == InputReads::kMostCalls) input_reads.calls.erase(input_reads.calls.begin());
    input_reads.calls.push_back({back, outer, cpu.cycles, key_in_a});
}

std::unique_ptr<C64::Snapshot> C64::snapshot() const {
    auto moment = std::make_unique_for_overwrite<Snapshot>();
    moment->ram = ram;
    moment->colours = colours_;
    moment->vic = vic_;
    moment->cia1 = cia1_;
    moment->cia2 = cia2_;
    moment->nmi_asserted = nmi_asserted_;
    moment->silent = silent_;
    moment->noise = noise_;
    moment->pc = cpu.pc;
    moment->a = cpu.a;
    moment->x = cpu.x;
    moment->y = cpu.y;
    moment->s = cpu.s;
    moment->p = cpu.p;
    moment->cycles = cpu.cycles;
    moment->last_news = cpu.last_news;
    moment->last_main_store = cpu.last_main_store;
    moment->interrupt_depth = cpu.interrupt_depth();
    return moment;
}

void C64::restore(const Snapshot& moment) {
    ram = moment.ram;
    colours_ = moment.colours;
    vic_ = moment.vic;
    cia1_ = moment.cia1;
    cia2_ = moment.cia2;
    nmi_asserted_ = moment.nmi_asserted;
    silent_ = moment.silent;
    noise_ = moment.noise;
    cpu.pc = moment.pc;
    cpu.a = moment.a;
    cpu.x = moment.x;
    cpu.y = moment.y;
    cpu.s = moment.s;
    cpu.p = moment.p;
    cpu.cycles = moment.cycles;
    cpu.last_news = moment.last_news;
    cpu.last_main_store = moment.last_main_store;
    cpu.set_interrupt_depth(moment.interrupt_depth);
    held = {};
    next_frame_ = 0;  // the next look samples
    bank();
    update_irq_line();
}

bool VicSample::same_display(const VicSample& other) const {
    return bank == other.bank && ((d011 ^ other.d011) & 0x70) == 0 && ((d016 ^ other.d016) & 0x10) == 0 &&
           d018 == other.d018 && d015 == other.d015 && d01c == other.d01c && [&] {
               // The pointers of the sprites shown.
               for (std::size_t n = 0; n < 8; ++n) {
                   if (((d015 >> n) & 1) != 0 && pointers[n] != other.pointers[n]) return false;
               }
               return true;
           }();
}

// Whether the program stored into any of the `size` bytes of RAM from `start`.
bool C64::written_in(std::uint32_t start, std::uint32_t size) const {
    const std::uint32_t end = std::min<std::uint32_t>(start + size, 0x10000);
    for (std::uint32_t a = start; a < end; ++a) {
        if ((ram_marks[a] & mark::Written) != 0) return true;
    }
    return false;
}

// Where the `size` bytes from `start` were copied from: the origin of the
// first, and how many in a row from there came from the bytes after it.
std::pair<std::uint16_t, std::uint16_t> C64::copied_in_order(std::uint32_t start, std::uint32_t size) const {
    if (origins == nullptr || start >= 0x10000) return {0, 0};
    const std::uint16_t first = origins[start];
    if (first == kNoOrigin || first == start || (ram_marks[start] & mark::Written) == 0) return {0, 0};
    const std::uint32_t end = std::min<std::uint32_t>(start + size, 0x10000);
    std::uint32_t a = start;
    while (a < end && origins[a] == first + (a - start) && first + (a - start) < 0x10000) ++a;
    return {first, static_cast<std::uint16_t>(a - start)};
}

void C64::sample_vic(std::uint32_t times) {
    if (vic_samples == nullptr) return;
    VicSample now;
    now.first_cycle = now.last_cycle = cpu.cycles;
    now.times = times;
    // Lines set as inputs are pulled up: bank 0.
    const auto port = static_cast<std::uint8_t>(cia2_.regs[0x0] | ~cia2_.regs[0x2]);
    now.bank = static_cast<std::uint8_t>(3 - (port & 3));
    now.d011 = static_cast<std::uint8_t>(vic_.regs[0x11] & 0x7f);  // bit 7 is the raster compare's
    now.d016 = vic_.regs[0x16];
    now.d018 = vic_.regs[0x18];
    now.d015 = vic_.regs[0x15];
    now.d01c = vic_.regs[0x1c];
    for (std::size_t i = 0; i < now.colours.size(); ++i) now.colours[i] = static_cast<std::uint8_t>(vic_.regs[0x20 + i] & 0x0f);
    const std::uint32_t pointers = now.screen_base() + 0x3f8;
    for (std::size_t n = 0; n < 8; ++n) {
        now.pointers[n] = ram[pointers + n];
        now.pointer_writers[n] = last_writes != nullptr ? last_writes[pointers + n].writer : writers[pointers + n];
    }
    now.d018_writer = vic_writers_[0x18];
    now.dd00_writer = dd00_writer_;

    std::vector<VicSample>& samples = *vic_samples;
    auto seen = std::find_if(samples.begin(), samples.end(), [&](const VicSample& s) { return s.same_display(now); });
    std::size_t index = 0;
    if (seen == samples.end()) {
        if (samples.size() >= kMostVicSamples) return;
        samples.push_back(std::move(now));
        sample_news_.push_back(~std::uint64_t{0});
        index = samples.size() - 1;
    } else {
        index = static_cast<std::size_t>(seen - samples.begin());
        now.first_cycle = seen->first_cycle;
        now.times += seen->times;
        now.written = seen->written;
        now.copied_from = seen->copied_from;
        now.copied_bytes = seen->copied_bytes;
        now.screen.swap(seen->screen);
        now.colour_ram.swap(seen->colour_ram);
        *seen = std::move(now);
    }
    VicSample& sample = samples[index];
    if (sample.bitmap_mode()) {
        const std::uint32_t screen = sample.screen_base();
        sample.screen.assign(ram.begin() + screen, ram.begin() + std::min<std::uint32_t>(screen + 1000, 0x10000));
        sample.colour_ram.assign(colours_.begin(), colours_.begin() + 1000);
    }
    // What was stored changes only with news (a first store into a byte).
    if (sample_news_.size() <= index) sample_news_.resize(index + 1, ~std::uint64_t{0});
    if (sample_news_[index] == cpu.last_news) return;
    sample_news_[index] = cpu.last_news;
    std::uint16_t written = 0;
    for (std::uint32_t n = 0; n < 8; ++n) {
        const std::uint32_t block = sample.vic_base() + sample.pointers[n] * 64u;
        if (((sample.d015 >> n) & 1) != 0 && written_in(block, 64)) written = static_cast<std::uint16_t>(written | 1u << n);
    }
    if (!sample.bitmap_mode() && !vic_sees_rom(sample.charset_base()) &&
        written_in(sample.charset_base(), 0x800)) {
        written |= VicSample::kShownCharset;
    }
    if (sample.bitmap_mode() && written_in(sample.bitmap_base(), 8000)) written |= VicSample::kShownBitmap;
    if (written_in(sample.screen_base(), 1000)) written |= VicSample::kShownScreen;
    sample.written = written;
    // Shown from a copy: where the copy came from.
    const auto note_copy = [&](std::size_t area, std::uint32_t start, std::uint32_t size) {
        std::tie(sample.copied_from[area], sample.copied_bytes[area]) = copied_in_order(start, size);
    };
    for (std::uint32_t n = 0; n < 8; ++n) {
        if (((written >> n) & 1) != 0) note_copy(n, sample.vic_base() + sample.pointers[n] * 64u, 64);
    }
    if ((written & VicSample::kShownCharset) != 0) note_copy(VicSample::kCopiedCharset, sample.charset_base(), 0x800);
    if ((written & VicSample::kShownBitmap) != 0) note_copy(VicSample::kCopiedBitmap, sample.bitmap_base(), 8000);
    if ((written & VicSample::kShownScreen) != 0) note_copy(VicSample::kCopiedScreen, sample.screen_base(), 1000);
}

}  // namespace tolvek
