// Finding the graphics the VIC-II shows from the image: sprites, character
// sets, bitmaps and screens, from what the runs saw it show and from the
// constants the code stores into its registers and the sprite pointers.
#pragma once

#include "analysis/memory_map.hpp"

namespace tolvek {

// Types the image bytes of the graphics found with their graphics kinds
// and adds the objects to map.graphics (address order, none overlapping).
// Takes only bytes nothing claimed yet: not code, not the BASIC program,
// not tables of addresses, not the hints' ranges (nor their graphics);
// but code only guessed gives way to glyphs or a bitmap shown by the run
// or selected by code that was reached.
// From the runs' samples (Source::Run): the sprites enabled (the block the
// pointer at screen + $3F8 names), the character set in text mode (not the
// character ROM the VIC sees at $1000-$1FFF of banks 0 and 2), the bitmap
// in bitmap mode with the screen and colour RAM shown, and the screen;
// never what the program had stored over by then (the image does not hold
// what was shown). Without a run, and for stores the runs did not reach
// (Source::VicSetup): the constants the code stores into $DD00, $D011,
// $D015, $D016, $D018, $D01C and the sprite pointers. Then the 64-byte
// blocks on either side of a sprite shown, up to what is no sprite
// (Source::BesideSprites).
void find_graphics(MemoryMap& map);

}  // namespace tolvek
