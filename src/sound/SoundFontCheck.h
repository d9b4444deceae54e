#pragma once
// Structural checks of a SoundFont 2 file before the synthesizer's own reader
// sees it: that reader trusts sizes and indices (and has overrun its buffers
// on damaged files), so only a file whose every chunk, record count, index and
// sample range is consistent is handed on.
#include <cstdint>
#include <span>

namespace melo {

// True when bytes form a SoundFont of version 2 with sound structure:
// - a RIFF form "sfbk" inside the bytes holding exactly the lists INFO, sdta
//   and pdta in this order, every chunk inside its parent;
// - INFO with one "ifil" of 4 bytes naming major version 2 (compressed
//   version-3 fonts are refused), its text chunks at most 256 bytes (the
//   comment 65536);
// - sdta empty or one "smpl" chunk of whole 16-bit samples, optionally
//   followed by one "sm24";
// - pdta with exactly phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr in
//   this order, each a whole number of its records and holding at least its
//   closing record (phdr at least one preset more);
// - bag indices of presets and instruments, and generator and modulator
//   indices of bags, never decreasing and never beyond their lists;
// - every preset generator naming an instrument, and every instrument
//   generator naming a sample, names one that exists;
// - every sample's start, end and loop points inside the sample data, start
//   not after end, a known sample type, and a linked sample that exists.
bool SoundFontStructureSound(std::span<const std::uint8_t> bytes);

} // namespace melo
