// tolvek_test_pack KIND ENTRY in.prg: the ACME source of in.prg packed by
// one of the tests' packers (packer.hpp), on stdout. KIND names the packer;
// ENTRY is where the original starts, decimal or $hex. Packing a packed
// program again gives two stages (its entry is 2061).
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "packer.hpp"

namespace {

int usage() {
    std::string kinds;
    for (const tolvek_test::Packer packer : tolvek_test::kPackers)
        kinds += std::string(kinds.empty() ? "" : ", ") + tolvek_test::packer_name(packer);
    std::cerr << "usage: tolvek_test_pack KIND ENTRY in.prg\n"
                 "  writes the ACME source of in.prg packed to stdout\n"
                 "  KIND: "
              << kinds << "\n  ENTRY: where the original starts, decimal or $hex\n";
    return 1;
}

std::optional<unsigned> parse_address(const std::string& text) {
    const bool hex = !text.empty() && text[0] == '$';
    const std::string digits = hex ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * (hex ? 16u : 10u) + digit;
    }
    if (value > 0xffff) return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return usage();
    const std::optional<tolvek_test::Packer> packer = tolvek_test::packer_named(argv[1]);
    if (!packer) {
        std::cerr << "tolvek_test_pack: no packer named " << argv[1] << "\n";
        return usage();
    }
    const std::optional<unsigned> entry = parse_address(argv[2]);
    if (!entry) {
        std::cerr << "tolvek_test_pack: not an address: " << argv[2] << "\n";
        return 1;
    }
    std::ifstream file(argv[3], std::ios::binary);
    if (!file) {
        std::cerr << "tolvek_test_pack: cannot read " << argv[3] << "\n";
        return 1;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (bytes.size() < 3 || bytes.size() - 2 > 0x10000) {
        std::cerr << "tolvek_test_pack: " << argv[3] << " is no program file\n";
        return 1;
    }
    tolvek::Image original;
    original.load = static_cast<std::uint8_t>(bytes[0]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[1])) << 8;
    for (std::size_t i = 2; i < bytes.size(); ++i) original.bytes.push_back(static_cast<std::uint8_t>(bytes[i]));
    if (original.end() > 0x10000) {
        std::cerr << "tolvek_test_pack: " << argv[3] << " runs past $FFFF\n";
        return 1;
    }
    if (!original.contains(*entry)) {
        std::cerr << "tolvek_test_pack: the entry lies outside the program\n";
        return 1;
    }
    try {
        std::cout << tolvek_test::packed_program_source(original, static_cast<std::uint16_t>(*entry), *packer);
    } catch (const std::exception& error) {
        std::cerr << "tolvek_test_pack: " << error.what() << "\n";
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
