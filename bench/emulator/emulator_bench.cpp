// Speed of the 6510 emulator: a workload (a .prg, started at its load
// address) on 64 KiB of plain RAM, run through Cpu6510::run for a number
// of cycles, a few times over from the same start. The instructions those
// cycles hold are counted afterwards by running the same cycles again one
// instruction at a time, so that the timed runs carry no counting.
//   emulator_bench workload.prg [cycles] [repeats]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "emu/cpu6510.hpp"

namespace {

class RamBus : public tolvek::Bus {
public:
    explicit RamBus(const std::vector<std::uint8_t>& prg) : ram_(0x10000), marks_(0x10000), writers_(0x10000) {
        for (std::size_t page = 0; page < 256; ++page) {
            read_page[page] = &ram_[page * 256];
            write_page[page] = &ram_[page * 256];
            run_mark_page[page] = &marks_[page * 256];
        }
        marks = marks_.data();
        first_writer = writers_.data();
        load = static_cast<std::uint16_t>(prg[0] | prg[1] << 8);
        std::copy(prg.begin() + 2, prg.end(), ram_.begin() + load);
    }
    std::uint8_t io_read(std::uint16_t) override { return 0xff; }
    void io_write(std::uint16_t, std::uint8_t) override {}
    void port_written() override {}

    std::uint16_t load = 0;

private:
    std::vector<std::uint8_t> ram_;
    std::vector<std::uint8_t> marks_;
    std::vector<std::uint16_t> writers_;
};

struct Machine {
    explicit Machine(const std::vector<std::uint8_t>& prg) : bus(prg), cpu(bus) { cpu.pc = bus.load; }
    RamBus bus;
    tolvek::Cpu6510 cpu;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: emulator_bench workload.prg [cycles] [repeats]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> prg{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t load = prg.size() < 2 ? 0 : static_cast<std::size_t>(prg[0] | prg[1] << 8);
    if (prg.size() < 3 || load + prg.size() - 2 > 0x10000) {
        std::fprintf(stderr, "emulator_bench: %s is not a program that fits in memory\n", argv[1]);
        return 2;
    }
    const std::uint64_t cycles = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 300'000'000;
    const int repeats = std::max(1, argc > 3 ? std::atoi(argv[3]) : 3);

    std::vector<double> seconds;
    for (int run = 0; run < repeats; ++run) {
        auto machine = std::make_unique<Machine>(prg);
        const auto start = std::chrono::steady_clock::now();
        const tolvek::Cpu6510::Stop stop = machine->cpu.run(cycles, false);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (stop != tolvek::Cpu6510::Stop::Budget) {
            std::fprintf(stderr, "emulator_bench: the workload halted at $%04x\n", machine->cpu.pc);
            return 1;
        }
        seconds.push_back(took.count());
    }

    // The same cycles again, counted.
    auto machine = std::make_unique<Machine>(prg);
    std::uint64_t instructions = 0;
    while (machine->cpu.cycles < cycles) {
        machine->cpu.run(machine->cpu.cycles + 1, false);
        ++instructions;
    }

    const double c64_hz = 985248.0;  // a PAL C64's clock
    std::printf("workload %s: %llu cycles, %llu instructions (%.2f cycles each)\n", argv[1],
                static_cast<unsigned long long>(cycles), static_cast<unsigned long long>(instructions),
                static_cast<double>(cycles) / static_cast<double>(instructions));
    for (std::size_t run = 0; run < seconds.size(); ++run) {
        std::printf("run %zu: %.3f s, %.1f million instructions/s, %.1f million cycles/s\n", run + 1, seconds[run],
                    static_cast<double>(instructions) / seconds[run] / 1e6,
                    static_cast<double>(cycles) / seconds[run] / 1e6);
    }
    const double best = *std::min_element(seconds.begin(), seconds.end());
    std::printf("best: %.1f million instructions/s, %.1f million cycles/s (%.0f times a PAL C64)\n",
                static_cast<double>(instructions) / best / 1e6, static_cast<double>(cycles) / best / 1e6,
                static_cast<double>(cycles) / best / c64_hz);
    return 0;
}
