#include "cpu/opcodes.hpp"

#include "cpu/behaviour.hpp"

namespace tolvek {

namespace {

// How the trace follows an instruction, from what it does: a halt is no
// end of a path here (the CPU's set of opcodes decides about it).
constexpr Flow flow_rule(std::uint8_t byte) {
    switch (behaviour(byte).control) {
    case Control::Branch: return Flow::Branch;
    case Control::Call: return Flow::Call;
    case Control::Jump: return Flow::Jump;
    case Control::JumpIndirect:
    case Control::Return:
    case Control::ReturnFromInterrupt:
    case Control::Break: return Flow::Stop;
    case Control::Next:
    case Control::Halt: return Flow::Next;
    }
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
