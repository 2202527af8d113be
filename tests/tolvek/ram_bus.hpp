// The processor's memory for tests: 64 KiB of RAM at every address, and at
// most one page of I/O, which reads as its addresses' low bytes and keeps
// what is written to it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "emu/cpu6510.hpp"

namespace tolvek_test {

struct RamBus : tolvek::Bus {
    explicit RamBus(std::optional<std::uint8_t> io_page = std::nullopt) {
        for (std::size_t page = 0; page < 256; ++page) {
            read_page[page] = ram.data() + page * 256;
            write_page[page] = ram.data() + page * 256;
            run_mark_page[page] = mark_bytes.data() + page * 256;
        }
        if (io_page) read_page[*io_page] = write_page[*io_page] = nullptr;
        marks = mark_bytes.data();
        first_writer = writers.data();
        first_ran = first_runs.data();
    }
    std::uint8_t io_read(std::uint16_t address) override { return static_cast<std::uint8_t>(address); }
    void io_write(std::uint16_t address, std::uint8_t value) override { io_writes.emplace_back(address, value); }
    void port_written() override { ++port_writes; }

    void put(std::uint16_t address, std::initializer_list<std::uint8_t> bytes) {
        for (const std::uint8_t byte : bytes) ram[address++] = byte;
    }

    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(0x10000, 0);
    std::vector<std::uint8_t> mark_bytes = std::vector<std::uint8_t>(0x10000, 0);
    std::vector<std::uint16_t> writers = std::vector<std::uint16_t>(0x10000, 0);
    std::vector<std::uint32_t> first_runs = std::vector<std::uint32_t>(0x10000, tolvek::kNotRan);
    std::vector<std::pair<std::uint16_t, std::uint8_t>> io_writes;
    int port_writes = 0;
};

}  // namespace tolvek_test
