#include "packer.hpp"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace tolvek_test {

namespace {

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

// What a format's matches can say.
struct MatchLimits {
    std::size_t min_length;
    std::size_t max_length;
    std::size_t max_distance;
};

// Every earlier position with the same three bytes, newest first.
class Chains {
public:
    Chains(const std::vector<std::uint8_t>& data, MatchLimits limits)
        : data_(data), limits_(limits), head_(kHashSize, kNone), previous_(data.size(), kNone) {}

    void insert(std::size_t at) {
        if (at + 3 > data_.size()) return;
        const std::size_t h = hash3(data_, at);
        previous_[at] = head_[h];
        head_[h] = at;
    }

    Match longest(std::size_t at) const {
        Match best;
        if (at + std::max<std::size_t>(limits_.min_length, 3) > data_.size()) return best;
        const std::size_t limit = std::min(limits_.max_length, data_.size() - at);
        int steps = kChainSteps;
        for (std::size_t from = head_[hash3(data_, at)]; from != kNone && steps-- > 0; from = previous_[from]) {
            if (at - from > limits_.max_distance) break;
            std::size_t length = 0;
            // Overlap is fine: the unpackers copy a byte at a time, forward.
            while (length < limit && data_[from + length] == data_[at + length]) ++length;
            if (length > best.length) best = {length, at - from};
            if (length == limit) break;
        }
        if (best.length < limits_.min_length) best = {};
        return best;
    }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};
    const std::vector<std::uint8_t>& data_;
    MatchLimits limits_;
    std::vector<std::size_t> head_;
    std::vector<std::size_t> previous_;
};

std::string hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "$%0*x", digits, value);
    return text;
}

// Reads a stream a byte at a time, as the unpackers do.
class StreamReader {
public:
    explicit StreamReader(const std::vector<std::uint8_t>& stream) : stream_(stream) {}
    std::uint8_t next() {
        if (at_ >= stream_.size()) throw std::invalid_argument("the stream ends too early");
        return stream_[at_++];
    }
    std::size_t read() const { return at_; }
    void expect_end() const {
        if (at_ != stream_.size()) throw std::invalid_argument("bytes after the end of the stream");
    }

private:
    const std::vector<std::uint8_t>& stream_;
    std::size_t at_ = 0;
};

// The output as a format's reader makes it, with how many stream bytes the
// unpacker had read when it stored each byte.
class Output {
public:
    void put(std::uint8_t byte, std::size_t read) {
        bytes.push_back(byte);
        read_before.push_back(read);
    }
    void repeat(std::size_t length, std::size_t distance, std::size_t read) {
        if (distance == 0 || distance > bytes.size()) throw std::invalid_argument("a match reaches before the output");
        for (std::size_t i = 0; i < length; ++i) put(bytes[bytes.size() - distance], read);
    }
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> read_before;
};

// Plain ---------------------------------------------------------------

std::vector<std::uint8_t> pack_plain(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> literals;
    const auto flush = [&] {
        if (literals.empty()) return;
        stream.push_back(static_cast<std::uint8_t>(literals.size()));
        stream.insert(stream.end(), literals.begin(), literals.end());
        literals.clear();
    };
    Chains chains(data, {kMinMatch, kMaxMatch, 0xffff});
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

Output read_plain(const std::vector<std::uint8_t>& stream) {
    Output out;
    StreamReader in(stream);
    for (;;) {
        const std::uint8_t token = in.next();
        if (token == 0) break;
        if (token < 0x80) {
            for (unsigned i = 0; i < token; ++i) {
                const std::uint8_t literal = in.next();
                out.put(literal, in.read());
            }
            continue;
        }
        const unsigned length = (token & 0x7fu) + kMinMatch;
        const unsigned low = in.next();
        const std::size_t distance = low | static_cast<std::size_t>(in.next()) << 8;
        out.repeat(length, distance, in.read());
    }
    in.expect_end();
    return out;
}

// The BASIC line that calls the stub, for every packer.
const char* const kBasicLine = R"(
	* = $0801
	!word basic_end, 10
	!byte $9e
	!text "2061"
	!byte 0
basic_end
	!word 0
stub
	!if stub != 2061 { !error "the BASIC line must call the stub" }
)";

// Both fast unpackers' last part: reading a stream byte, writing an output
// byte, and the check that the unpacker fits its place.
const char* const kGetAndPut = R"(
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

// Every unpacker's first step: the stream moved up, from its end (SRC)
// down to DST; it then starts where DST ended.
const char* const kMoveStreamUp = R"(
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
)";

// The fast unpackers' stubs: the unpacker copied to its place and run.
const char* const kCopyTheUnpacker = R"(
	ldx #unpacker_end - unpacker_start
-	lda unpacker_start - 1,x
	sta UNPACKER - 1,x
	dex
	bne -
	jmp UNPACKER
)";

// Where the fast unpackers read from and write to after the move.
const char* const kStartTheOutput = R"(
	lda DST			; the stream now starts where the move ended
	sta SRC
	lda DST + 1
	sta SRC + 1
	lda #<LOAD
	sta DST
	lda #>LOAD
	sta DST + 1
)";

// The fast unpackers' first step: the stream moved up to end at TOP.
const char* const kMoveStreamToTop = R"(
	; the stream to the top of memory, from its end down, as it moves up
	lda #<stream_end
	sta SRC
	lda #>stream_end
	sta SRC + 1
	lda #<TOP
	sta DST
	lda #>TOP
	sta DST + 1
{move the stream up}
)";

// `unpacker` with the parts it shares with the others put in where it
// names them.
std::string with_shared_parts(std::string unpacker) {
    for (const auto& [place, part] : {std::pair{"{copy the unpacker}\n", kCopyTheUnpacker},
                                      std::pair{"{move the stream to TOP}\n", kMoveStreamToTop},
                                      std::pair{"{move the stream up}\n", kMoveStreamUp},
                                      std::pair{"{start the output}\n", kStartTheOutput},
                                      std::pair{"{get and put}\n", kGetAndPut}}) {
        const std::string placeholder = place;
        if (const std::size_t at = unpacker.find(placeholder); at != std::string::npos) {
            unpacker.replace(at, placeholder.size(), std::string(part).substr(1));
        }
    }
    return unpacker;
}

// Plain's unpacker; LOAD, ENTRY and the stream's labels come from the packer.
const char* const kPlainUnpacker = R"(
SRC = $fb			; the next stream byte
DST = $fd			; the next output byte
REF = $f9			; the next byte a match copies
TOP = $d000

{copy the unpacker}

unpacker_start
!pseudopc UNPACKER {
	php
	sei
	lda $01
	sta restore_port + 1
	lda #$34		; RAM everywhere: the stream and the output may lie under ROM
	sta $01
	ldy #0
{move the stream to TOP}
{start the output}
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

{get and put}
)";

// TablesBelow ---------------------------------------------------------

constexpr unsigned kEndCode = 15;

std::vector<std::uint8_t> pack_tables_below(const std::vector<std::uint8_t>& data) {
    const std::array<std::uint8_t, 16> lengths = tables_below_lengths();
    std::vector<std::uint8_t> stream;
    std::size_t flags_at = 0;
    unsigned items = 8;  // in the current group
    const auto item = [&](bool match) {
        if (items == 8) {
            flags_at = stream.size();
            stream.push_back(0);
            items = 0;
        }
        if (match) stream[flags_at] = static_cast<std::uint8_t>(stream[flags_at] | 0x80u >> items);
        ++items;
    };
    Chains chains(data, {lengths[0], lengths[kEndCode - 1], kTablesBelowMaxDistance});
    std::size_t at = 0;
    while (at < data.size()) {
        const Match match = chains.longest(at);
        if (match.length == 0) {
            item(false);
            stream.push_back(data[at]);
            chains.insert(at++);
            continue;
        }
        unsigned code = kEndCode - 1;  // the longest length the match covers
        while (lengths[code] > match.length) --code;
        item(true);
        const std::size_t back = match.distance - 1;
        stream.push_back(static_cast<std::uint8_t>(code << 4 | back >> 8));
        stream.push_back(static_cast<std::uint8_t>(back & 0xff));
        for (std::size_t end = at + lengths[code]; at < end;) chains.insert(at++);
    }
    item(true);
    stream.push_back(kEndCode << 4);
    return stream;
}

Output read_tables_below(const std::vector<std::uint8_t>& stream) {
    const std::array<std::uint8_t, 16> lengths = tables_below_lengths();
    Output out;
    StreamReader in(stream);
    for (;;) {
        const std::uint8_t flags = in.next();
        for (unsigned item = 0; item < 8; ++item) {
            if (!(flags << item & 0x80)) {
                const std::uint8_t literal = in.next();
                out.put(literal, in.read());
                continue;
            }
            const std::uint8_t first = in.next();
            const std::uint8_t length = lengths[first >> 4];
            if (length == 0) {
                in.expect_end();
                return out;
            }
            const std::size_t back = static_cast<std::size_t>(first & 0x0f) << 8 | in.next();
            out.repeat(length, back + 1, in.read());
        }
    }
}

// Its variables and tables, from AREA = LOAD - 29 up to LOAD - 1, after
// the stub of kPlainUnpacker's kind.
const char* const kTablesBelowUnpacker = R"(
SRC = $fb			; the next stream byte
DST = $fd			; the next output byte
REF = $f9			; the next byte a match copies
TOP = $d000
AREA = LOAD - 29		; right below the output, kept when it is done:
PORT = AREA			; $01 as found
STEP = AREA + 1			; the step between lengths, as they are made
FLAGS = AREA + 2		; which items of the group are matches
ITEM = AREA + 3			; the item of the group, counted down from 7
MASKS = AREA + 4		; 8: 1, 2, 4 .. $80, the flag of each item
LENGTHS = AREA + 12		; 16: the length of each match code, 0 for the end
COUNT = AREA + 28		; the bytes of the match left to copy
	!if COUNT != LOAD - 1 { !error "the tables must end right below the output" }

	php
	sei
	lda $01
	pha
	lda #$34		; RAM everywhere: the stream and the output may lie under ROM
	sta $01
	ldy #0
{move the stream to TOP}
{copy the unpacker}

unpacker_start
!pseudopc UNPACKER {
	; the tables after the move: they may lie where the stream was loaded
	pla
	sta PORT
	ldx #0			; the flag masks
	lda #1
-	sta MASKS,x
	inx
	asl
	bne -
	ldx #0			; the lengths: 3 to 10 a step apart, then steps of 2, 4, 8, 16
	lda #1
	sta STEP
	lda #3
lengths	sta LENGTHS,x
	clc
	adc STEP
	cpx #7
	bcc +
	pha
	txa
	lsr
	pla
	bcc +
	asl STEP		; after each odd code from 7 on
+	inx
	cpx #15
	bne lengths
	sty LENGTHS + 15
{start the output}
group	jsr get
	sta FLAGS
	lda #7
	sta ITEM
item	ldx ITEM
	lda FLAGS
	and MASKS,x
	beq literal
	jsr get			; a match: the code and the top of distance - 1
	sta REF + 1
	lsr
	lsr
	lsr
	lsr
	tax
	lda LENGTHS,x
	beq done
	sta COUNT
	lda REF + 1
	and #$0f
	sta REF + 1
	jsr get			; REF = DST - (distance - 1) - 1 = DST + ~(distance - 1)
	eor #$ff
	clc
	adc DST
	sta REF
	lda REF + 1
	eor #$ff
	adc DST + 1
	sta REF + 1
copy	lda (REF),y		; a byte at a time: a short distance repeats
	jsr put
	inc REF
	bne +
	inc REF + 1
+	dec COUNT
	bne copy
	beq next
literal	jsr get
	jsr put
next	dec ITEM
	bpl item
	bmi group
done	lda PORT
	sta $01
	plp
	jmp ENTRY

{get and put}
)";

// SlowBits ------------------------------------------------------------

constexpr unsigned kProbabilityShift = 4;

// The adaptive probability of a zero, out of 256, moved towards `bit`.
void adapt(std::uint8_t& zero, unsigned bit) {
    if (bit == 0) {
        zero = static_cast<std::uint8_t>(zero + ((256u - zero) >> kProbabilityShift));
    } else {
        zero = static_cast<std::uint8_t>(zero - (zero >> kProbabilityShift));
    }
}

class BitEncoder {
public:
    void encode(unsigned bit, std::uint8_t& zero) {
        const std::uint32_t bound = (range_ >> 8) * zero;
        if (bit == 0) {
            range_ = bound;
        } else {
            low_ += bound;
            range_ -= bound;
            if (low_ > 0xffff) {  // carry into the bits sent already
                low_ &= 0xffff;
                std::size_t at = bits_.size();
                while (at > 0 && bits_[at - 1] != 0) bits_[--at] = 0;
                if (at == 0) throw std::logic_error("the coder's carry ran off the top");
                bits_[at - 1] = 1;
            }
        }
        adapt(zero, bit);
        while (range_ < 0x8000) {
            range_ <<= 1;
            shift_out();
        }
    }
    // The bits, with the sixteen that pin the value down, in bytes.
    std::vector<std::uint8_t> finish() {
        for (int i = 0; i < 16; ++i) shift_out();
        std::vector<std::uint8_t> bytes((bits_.size() + 7) / 8, 0);
        for (std::size_t i = 0; i < bits_.size(); ++i)
            bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | bits_[i] << (7 - i % 8));
        return bytes;
    }

private:
    void shift_out() {
        bits_.push_back(static_cast<std::uint8_t>(low_ >> 15 & 1));
        low_ = low_ << 1 & 0xffff;
    }
    std::uint32_t low_ = 0;
    std::uint32_t range_ = 0xffff;
    std::vector<std::uint8_t> bits_;
};

class BitDecoder {
public:
    BitDecoder(const std::vector<std::uint8_t>& stream, std::size_t from) : stream_(stream), at_(from * 8) {
        for (int i = 0; i < 16; ++i) value_ = value_ << 1 | next_bit();
    }
    unsigned decode(std::uint8_t& zero) {
        const std::uint32_t bound = (range_ >> 8) * zero;
        unsigned bit = 0;
        if (value_ < bound) {
            range_ = bound;
        } else {
            value_ -= bound;
            range_ -= bound;
            bit = 1;
        }
        adapt(zero, bit);
        while (range_ < 0x8000) {
            range_ <<= 1;
            value_ = value_ << 1 | next_bit();
        }
        return bit;
    }
    std::size_t bytes_read() const { return (at_ + 7) / 8; }

private:
    std::uint32_t next_bit() {
        if (at_ >= stream_.size() * 8) throw std::invalid_argument("the stream ends too early");
        const std::uint32_t bit = stream_[at_ / 8] >> (7 - at_ % 8) & 1;
        ++at_;
        return bit;
    }
    const std::vector<std::uint8_t>& stream_;
    std::size_t at_;
    std::uint32_t value_ = 0;
    std::uint32_t range_ = 0xffff;
};

std::vector<std::uint8_t> pack_slow_bits(const std::vector<std::uint8_t>& data) {
    if (data.size() > 0xffff) throw std::invalid_argument("too long for a 16-bit length");
    std::array<std::uint8_t, 256> zero;
    zero.fill(0x80);
    BitEncoder coder;
    for (const std::uint8_t byte : data) {
        unsigned node = 1;
        for (int bit = 7; bit >= 0; --bit) {
            const unsigned value = byte >> bit & 1;
            coder.encode(value, zero[node]);
            node = node << 1 | value;
        }
    }
    std::vector<std::uint8_t> stream{static_cast<std::uint8_t>(data.size() & 0xff),
                                     static_cast<std::uint8_t>(data.size() >> 8)};
    const std::vector<std::uint8_t> bits = coder.finish();
    stream.insert(stream.end(), bits.begin(), bits.end());
    return stream;
}

std::vector<std::uint8_t> read_slow_bits(const std::vector<std::uint8_t>& stream) {
    if (stream.size() < 2) throw std::invalid_argument("the stream ends too early");
    const std::size_t size = stream[0] | static_cast<std::size_t>(stream[1]) << 8;
    std::array<std::uint8_t, 256> zero;
    zero.fill(0x80);
    BitDecoder coder(stream, 2);
    std::vector<std::uint8_t> out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        unsigned node = 1;
        while (node < 0x100) node = node << 1 | coder.decode(zero[node]);
        out.push_back(static_cast<std::uint8_t>(node & 0xff));
    }
    if (coder.bytes_read() != stream.size()) throw std::invalid_argument("bytes after the end of the stream");
    return out;
}

// LOAD, ENTRY, STREAM (where the moved stream starts), PROBS and CODE (its
// page of probabilities and its code, page aligned, below the stream) and
// the stream's labels come from the packer.
const char* const kSlowBitsUnpacker = R"(
SRC = $fb			; the next stream byte
DST = $fd			; the byte the bits go into
EXIT = $0100			; the last three instructions, which run after $01 is put back

	php
	sei
	lda $01
	pha
	lda #$34		; RAM everywhere: the stream goes up to $FFFF
	sta $01
	ldy #0
	; the stream to the very top of memory, from its end down, as it moves up
	lda #<stream_end
	sta SRC
	lda #>stream_end
	sta SRC + 1
	sty DST			; $10000
	sty DST + 1
{move the stream up}
	ldx #0			; the unpacker below it, two pages
-	lda unpacker_start,x
	sta CODE,x
	lda unpacker_start + $100,x
	sta CODE + $100,x
	inx
	bne -
	pla
	jmp CODE

unpacker_start
!pseudopc CODE {
	sta port + 1
	ldx #0			; every probability one half
	lda #$80
-	sta PROBS,x
	inx
	bne -
	clc			; where the output ends, from the length the stream starts with
	lda STREAM
	adc #<LOAD
	sta end_low
	lda STREAM + 1
	adc #>LOAD
	sta end_high
	jsr output_start	; the whole output cleared first, every byte once
clear	tya
	sta (DST),y
	jsr advance
	bne clear
	lda #<(STREAM + 2)
	sta SRC
	lda #>(STREAM + 2)
	sta SRC + 1
	lda #$80		; no bits left but the marker
	sta bits
	lda #$ff
	sta range
	sta range + 1
	ldx #16			; the first sixteen bits of the value
-	jsr get_bit
	rol value
	rol value + 1
	dex
	bne -
	jsr output_start
next_byte	lda #1		; the root of the bit tree
	sta node
	lda #$80
	sta mask
next_bit	ldx node
	jsr decode
	bcc +
	lda (DST),y		; a one: set into the cleared byte
	ora mask
	sta (DST),y
+	rol node
	lsr mask
	bcc next_bit
	jsr advance
	bne next_byte
	ldx #exit_end - exit_start - 1	; leave through RAM that stays RAM
-	lda exit_start,x
	sta EXIT,x
	dex
	bpl -
port	lda #$37		; the value $01 had, stored here at the start
	jmp EXIT
exit_start
!pseudopc EXIT {
	sta $01
	plp
	jmp ENTRY
}
exit_end

output_start
	lda #<LOAD
	sta DST
	lda #>LOAD
	sta DST + 1
	rts

advance	inc DST			; Z set at the end of the output
	bne +
	inc DST + 1
+	lda DST
	cmp end_low
	bne +
	lda DST + 1
	cmp end_high
+	rts

; The bit whose probability of a zero is at PROBS + X, in the carry;
; the probability moves towards it; Y stays 0.
decode	lda PROBS,x
	sta bound		; bound = range high * probability, the low byte in bound
	lda #0
	ldy #8
	lsr bound
-	bcc +
	clc
	adc range + 1
+	ror
	ror bound
	dey
	bne -
	sta bound + 1
	lda value		; value - bound
	sec
	sbc bound
	sta difference
	lda value + 1
	sbc bound + 1
	bcc zero
	sta value + 1		; a one: value and range lose the bound
	lda difference
	sta value
	lda range
	sec
	sbc bound
	sta range
	lda range + 1
	sbc bound + 1
	sta range + 1
	lda PROBS,x		; probability -= probability / 16
	lsr
	lsr
	lsr
	lsr
	eor #$ff
	sec
	adc PROBS,x
	sta PROBS,x
	sec
	bcs normalize
zero	lda bound		; a zero: the range shrinks to the bound
	sta range
	lda bound + 1
	sta range + 1
	lda #0			; probability += (256 - probability) / 16
	sec
	sbc PROBS,x
	lsr
	lsr
	lsr
	lsr
	clc
	adc PROBS,x
	sta PROBS,x
	clc
normalize
	php
-	lda range + 1		; until the range is 15 bits or more, a bit more of the value
	bmi +
	asl range
	rol range + 1
	jsr get_bit
	rol value
	rol value + 1
	jmp -
+	plp
	rts

get_bit	asl bits		; the next stream bit in the carry
	bne +
	lda (SRC),y
	inc SRC
	bne ++
	inc SRC + 1
++	sec
	rol
	sta bits
+	rts

range	!word 0
value	!word 0
bound	!word 0
difference !byte 0
bits	!byte 0
node	!byte 0
mask	!byte 0
end_low	!byte 0
end_high !byte 0
}
unpacker_end
	!if unpacker_end - unpacker_start > $200 { !error "the unpacker is too long for its copy loop" }
	!if CODE + $200 > STREAM { !error "the unpacker would run into the stream" }
)";

std::string stream_lines(const std::vector<std::uint8_t>& stream) {
    std::string source = "stream_start\n";
    for (std::size_t i = 0; i < stream.size(); i += 16) {
        source += "\t!byte ";
        for (std::size_t j = i; j < std::min(stream.size(), i + 16); ++j)
            source += (j > i ? "," : "") + hex(stream[j], 2);
        source += "\n";
    }
    return source + "stream_end\n";
}

// Each output byte must land below the stream bytes not read yet.
void check_unpacks_in_place(const Output& out, std::uint32_t load, std::uint32_t stream_start) {
    for (std::size_t i = 0; i < out.bytes.size(); ++i) {
        if (load + i >= stream_start + out.read_before[i])
            throw std::invalid_argument("unpacking would overwrite the stream before reading it");
    }
}

}  // namespace

const char* packer_name(Packer packer) {
    switch (packer) {
    case Packer::Plain: return "plain";
    case Packer::TablesBelow: return "tables-below";
    case Packer::SlowBits: return "slow-bits";
    }
    return "?";
}

std::optional<Packer> packer_named(std::string_view name) {
    for (const Packer packer : kPackers)
        if (name == packer_name(packer)) return packer;
    return std::nullopt;
}

std::array<std::uint8_t, 16> tables_below_lengths() {
    // As the unpacker makes them: 3..10, then steps doubling after every
    // second code.
    std::array<std::uint8_t, 16> lengths{};
    unsigned length = 3;
    unsigned step = 1;
    for (unsigned code = 0; code < kEndCode; ++code) {
        lengths[code] = static_cast<std::uint8_t>(length);
        length += step;
        if (code >= 7 && code % 2 == 1) step *= 2;
    }
    return lengths;
}

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& data, Packer packer) {
    switch (packer) {
    case Packer::Plain: return pack_plain(data);
    case Packer::TablesBelow: return pack_tables_below(data);
    case Packer::SlowBits: return pack_slow_bits(data);
    }
    throw std::invalid_argument("no such packer");
}

std::vector<std::uint8_t> unpack(const std::vector<std::uint8_t>& stream, Packer packer) {
    switch (packer) {
    case Packer::Plain: return read_plain(stream).bytes;
    case Packer::TablesBelow: return read_tables_below(stream).bytes;
    case Packer::SlowBits: return read_slow_bits(stream);
    }
    throw std::invalid_argument("no such packer");
}

std::string packed_program_source(const tolvek::Image& original, std::uint16_t entry, Packer packer) {
    if (original.bytes.empty()) throw std::invalid_argument("nothing to pack");
    if (original.load < 0x0400) throw std::invalid_argument("the original must not reach below $0400");
    if (packer != Packer::SlowBits && original.end() > kStreamTop)
        throw std::invalid_argument("the original must end below $D000");
    if (packer == Packer::TablesBelow && original.load < 0x0400 + kTablesBelowBytes)
        throw std::invalid_argument("no room for the tables below the original");
    const std::vector<std::uint8_t> stream = pack(original.bytes, packer);

    std::string source = "; " + std::to_string(original.bytes.size()) + " bytes at " + hex(original.load, 4) +
                         ", entry " + hex(entry, 4) + ", packed by " + packer_name(packer) + " into " +
                         std::to_string(stream.size()) + "\n";
    source += "LOAD = " + hex(original.load, 4) + "\nENTRY = " + hex(entry, 4) + "\n";
    if (packer == Packer::SlowBits) {
        // Its page of probabilities and its code, page aligned, between
        // $300 and kSlowBitsWorkspace below the stream.
        const std::uint32_t stream_start = kSlowBitsTop - static_cast<std::uint32_t>(stream.size());
        if (stream_start < 0x0400 + 0x300) throw std::invalid_argument("no room for the stream and the unpacker");
        const std::uint32_t probabilities = (stream_start - 0x300) & ~0xffu;
        if (original.end() > probabilities)
            throw std::invalid_argument("the original must end below the moved stream and the unpacker");
        source += "STREAM = " + hex(stream_start, 4) + "\nPROBS = " + hex(probabilities, 4) +
                  "\nCODE = " + hex(probabilities + 0x100, 4) + "\n";
        source += kBasicLine;
        source += with_shared_parts(kSlowBitsUnpacker);
        source += stream_lines(stream);
        source += "\t!if stream_end - stream_start != $10000 - STREAM { !error \"the stream is not as long as packed\" }\n";
        source += "\t!if STREAM < unpacker_start + $200 { !error \"the moved stream would overwrite the unpacker\" }\n";
        return source;
    }

    if (stream.size() > kStreamTop - original.load)
        throw std::invalid_argument("the stream is longer than the room above the original's start");
    const std::uint32_t stream_start = kStreamTop - static_cast<std::uint32_t>(stream.size());
    if (packer == Packer::TablesBelow) {
        if (stream_start < original.load) throw std::invalid_argument("the tables would overwrite the moved stream");
        check_unpacks_in_place(read_tables_below(stream), original.load, stream_start);
    } else {
        check_unpacks_in_place(read_plain(stream), original.load, stream_start);
    }
    source += "UNPACKER = " + hex(kUnpackerAddress, 4) + "\n";
    if (packer == Packer::Plain) source += "MIN_MATCH = " + std::to_string(kMinMatch) + "\n";
    source += kBasicLine;
    source += with_shared_parts(packer == Packer::Plain ? kPlainUnpacker : kTablesBelowUnpacker);
    source += stream_lines(stream);
    // The move goes from the end down, so it may only move the stream up.
    source += "\t!if stream_start > TOP - (stream_end - stream_start) { !error \"no room to move the stream up\" }\n";
    if (packer == Packer::TablesBelow)
        source += "\t!if TOP - (stream_end - stream_start) < unpacker_end { !error \"the moved stream would overwrite the stub\" }\n";
    return source;
}

}  // namespace tolvek_test
