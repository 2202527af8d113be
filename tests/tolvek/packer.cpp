#include "packer.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tolvek_test {

namespace {

constexpr std::size_t kMaxDistance = 0xffff;
constexpr std::size_t kHashSize = 1 << 14;
constexpr int kChainSteps = 512;  // candidates tried per position

std::size_t hash3(const std::vector<std::uint8_t>& data, std::size_t at) {
    const unsigned key = static_cast<unsigned>(data[at]) << 16 | static_cast<unsigned>(data[at + 1]) << 8 | data[at + 2];
    return (key * 2654435761u >> 8) & (kHashSize - 1);
}

struct Match {
    std::size_t length = 0;
    std::size_t distance = 0;
};

// Every earlier position with the same three bytes, newest first.
class Chains {
public:
    explicit Chains(const std::vector<std::uint8_t>& data)
        : data_(data), head_(kHashSize, kNone), previous_(data.size(), kNone) {}

    void insert(std::size_t at) {
        if (at + 3 > data_.size()) return;
        const std::size_t h = hash3(data_, at);
        previous_[at] = head_[h];
        head_[h] = at;
    }

    Match longest(std::size_t at) const {
        Match best;
        if (at + kMinMatch > data_.size()) return best;
        const std::size_t limit = std::min<std::size_t>(kMaxMatch, data_.size() - at);
        int steps = kChainSteps;
        for (std::size_t from = head_[hash3(data_, at)]; from != kNone && steps-- > 0; from = previous_[from]) {
            if (at - from > kMaxDistance) break;
            std::size_t length = 0;
            // Overlap is fine: the unpacker copies a byte at a time, forward.
            while (length < limit && data_[from + length] == data_[at + length]) ++length;
            if (length > best.length) best = {length, at - from};
            if (length == limit) break;
        }
        if (best.length < kMinMatch) best = {};
        return best;
    }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};
    const std::vector<std::uint8_t>& data_;
    std::vector<std::size_t> head_;
    std::vector<std::size_t> previous_;
};

std::string hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "$%0*x", digits, value);
    return text;
}

// The unpacker; LOAD, ENTRY and the stream's labels come from the packer.
const char* const kUnpacker = R"(
SRC = $fb			; the next stream byte
DST = $fd			; the next output byte
REF = $f9			; the next byte a match copies
TOP = $d000

	* = $0801
	!word basic_end, 10
	!byte $9e
	!text "2061"
	!byte 0
basic_end
	!word 0
stub
	!if stub != 2061 { !error "the BASIC line must call the stub" }
	ldx #unpacker_end - unpacker_start
-	lda unpacker_start - 1,x
	sta UNPACKER - 1,x
	dex
	bne -
	jmp UNPACKER

unpacker_start
!pseudopc UNPACKER {
	php
	sei
	lda $01
	sta restore_port + 1
	lda #$34		; RAM everywhere: the stream and the output may lie under ROM
	sta $01
	ldy #0
	; the stream to the top of memory, from its end down, as it moves up
	lda #<stream_end
	sta SRC
	lda #>stream_end
	sta SRC + 1
	lda #<TOP
	sta DST
	lda #>TOP
	sta DST + 1
move	lda SRC
	bne +
	dec SRC + 1
+	dec SRC
	lda DST
	bne +
	dec DST + 1
+	dec DST
	lda (SRC),y
	sta (DST),y
	lda SRC
	cmp #<stream_start
	bne move
	lda SRC + 1
	cmp #>stream_start
	bne move
	lda DST			; the stream now starts where the move ended
	sta SRC
	lda DST + 1
	sta SRC + 1
	lda #<LOAD
	sta DST
	lda #>LOAD
	sta DST + 1
token	jsr get
	tax
	beq done
	bmi match
literal	jsr get			; X literal bytes
	jsr put
	dex
	bne literal
	beq token
match	and #$7f
	clc
	adc #MIN_MATCH
	tax
	jsr get			; REF = DST - distance; get leaves the carry alone
	sta REF
	lda DST
	sec
	sbc REF
	sta REF
	jsr get
	sta REF + 1
	lda DST + 1
	sbc REF + 1
	sta REF + 1
copy	lda (REF),y		; X bytes, one at a time: a short distance repeats
	jsr put
	inc REF
	bne +
	inc REF + 1
+	dex
	bne copy
	beq token
done
restore_port
	lda #$37		; the value $01 had, stored here at the start
	sta $01
	plp
	jmp ENTRY

get	lda (SRC),y
	inc SRC
	bne +
	inc SRC + 1
+	rts

put	sta (DST),y
	inc DST
	bne +
	inc DST + 1
+	rts
}
unpacker_end
	!if unpacker_end - unpacker_start > $400 - UNPACKER { !error "the unpacker is too long for its place" }
)";

}  // namespace

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> literals;
    const auto flush = [&] {
        if (literals.empty()) return;
        stream.push_back(static_cast<std::uint8_t>(literals.size()));
        stream.insert(stream.end(), literals.begin(), literals.end());
        literals.clear();
    };
    Chains chains(data);
    std::size_t at = 0;
    while (at < data.size()) {
        const Match match = chains.longest(at);
        if (match.length == 0) {
            literals.push_back(data[at]);
            if (literals.size() == kMaxLiterals) flush();
            chains.insert(at++);
            continue;
        }
        flush();
        stream.push_back(static_cast<std::uint8_t>(0x80 | (match.length - kMinMatch)));
        stream.push_back(static_cast<std::uint8_t>(match.distance & 0xff));
        stream.push_back(static_cast<std::uint8_t>(match.distance >> 8));
        for (std::size_t end = at + match.length; at < end;) chains.insert(at++);
    }
    flush();
    stream.push_back(0);
    return stream;
}

std::vector<std::uint8_t> unpack(const std::vector<std::uint8_t>& stream) {
    std::vector<std::uint8_t> out;
    std::size_t at = 0;
    const auto next = [&]() -> std::uint8_t {
        if (at >= stream.size()) throw std::invalid_argument("the stream ends without its end token");
        return stream[at++];
    };
    for (;;) {
        const std::uint8_t token = next();
        if (token == 0) break;
        if (token < 0x80) {
            for (unsigned i = 0; i < token; ++i) out.push_back(next());
            continue;
        }
        const unsigned length = (token & 0x7fu) + kMinMatch;
        const unsigned low = next();
        const std::size_t distance = low | static_cast<std::size_t>(next()) << 8;
        if (distance == 0 || distance > out.size()) throw std::invalid_argument("a match reaches before the output");
        for (unsigned i = 0; i < length; ++i) {
            const std::uint8_t repeated = out[out.size() - distance];
            out.push_back(repeated);
        }
    }
    if (at != stream.size()) throw std::invalid_argument("bytes after the end token");
    return out;
}

std::string packed_program_source(const tolvek::Image& original, std::uint16_t entry) {
    if (original.bytes.empty()) throw std::invalid_argument("nothing to pack");
    if (original.load < 0x0400 || original.end() > kStreamTop)
        throw std::invalid_argument("the original must lie within $0400-$CFFF");
    const std::vector<std::uint8_t> stream = pack(original.bytes);
    const std::uint32_t stream_start = kStreamTop - static_cast<std::uint32_t>(stream.size());

    // Each output byte must land below the stream bytes not read yet.
    std::size_t read = 0;
    std::uint32_t written = 0;
    const auto write = [&] {
        if (original.load + written >= stream_start + read)
            throw std::invalid_argument("unpacking would overwrite the stream before reading it");
        ++written;
    };
    for (;;) {
        const std::uint8_t token = stream[read++];
        if (token == 0) break;
        if (token < 0x80) {
            for (unsigned i = 0; i < token; ++i) {
                ++read;
                write();
            }
        } else {
            read += 2;
            for (unsigned i = 0; i < (token & 0x7fu) + kMinMatch; ++i) write();
        }
    }

    std::string source = "; " + std::to_string(original.bytes.size()) + " bytes at " + hex(original.load, 4) +
                         ", entry " + hex(entry, 4) + ", packed into " + std::to_string(stream.size()) + "\n";
    source += "LOAD = " + hex(original.load, 4) + "\nENTRY = " + hex(entry, 4) + "\nUNPACKER = " +
              hex(kUnpackerAddress, 4) + "\nMIN_MATCH = " + std::to_string(kMinMatch) + "\n";
    source += kUnpacker;
    source += "stream_start\n";
    for (std::size_t i = 0; i < stream.size(); i += 16) {
        source += "\t!byte ";
        for (std::size_t j = i; j < std::min(stream.size(), i + 16); ++j)
            source += (j > i ? "," : "") + hex(stream[j], 2);
        source += "\n";
    }
    source += "stream_end\n";
    // The move goes from the end down, so it may only move the stream up.
    source += "\t!if stream_start > TOP - (stream_end - stream_start) { !error \"no room to move the stream up\" }\n";
    return source;
}

}  // namespace tolvek_test
