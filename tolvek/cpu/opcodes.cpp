#include "cpu/opcodes.hpp"

namespace tolvek {

namespace {

constexpr Flow flow_rule(std::uint8_t byte) {
    if (kOpcodes[byte].mode == Mode::Relative) return Flow::Branch;
    if (byte == 0x20) return Flow::Call;
    if (byte == 0x4c) return Flow::Jump;
    if (byte == 0x60 || byte == 0x40 || byte == 0x00 || byte == 0x6c) return Flow::Stop;
    return Flow::Next;
}

}  // namespace

constexpr std::array<std::uint8_t, 256> kLengths = [] {
    std::array<std::uint8_t, 256> lengths{};
    for (std::size_t byte = 0; byte < lengths.size(); ++byte) {
        lengths[byte] = static_cast<std::uint8_t>(length_of(kOpcodes[byte].mode));
    }
    return lengths;
}();

constexpr std::array<Flow, 256> kFlows = [] {
    std::array<Flow, 256> flows{};
    for (std::size_t byte = 0; byte < flows.size(); ++byte) flows[byte] = flow_rule(static_cast<std::uint8_t>(byte));
    return flows;
}();

}  // namespace tolvek
