#pragma once
// Structural checks of a SoundFont 2 or 3 file before the synthesizer's own reader
// sees it: that reader trusts sizes and indices (and has overrun its buffers
// on damaged files), so only a file whose every chunk, record count, index and
// sample range is consistent is handed on.
#include <cstdint>
#include <functional>
#include <span>

namespace melo {

// What the checks found in a file: Sound, or the first check it failed.
// A file passes when it is a SoundFont of version 2 or 3 with sound structure:
// - a RIFF form "sfbk" inside the bytes holding exactly the lists INFO, sdta
//   and pdta in this order, every chunk inside its parent (Chunks);
// - INFO with one "ifil" of 4 bytes, its text chunks at most 256 bytes (the
//   comment 65536) (Info), naming major version 2 or 3 (Version);
// - sdta empty or one "smpl" chunk, optionally followed by one "sm24"; in
//   version 2 the samples are whole 16-bit frames (SampleData);
// - pdta with exactly phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr in
//   this order, each a whole number of its records and holding at least its
//   closing record (phdr at least one preset more) (Records);
// - bag indices of presets and instruments, and generator and modulator
//   indices of bags, never decreasing and never beyond their lists (Indices);
// - every preset generator naming an instrument, and every instrument
//   generator naming a sample, names one that exists (References);
// - every sample of a known type, a linked sample that exists, and its data
//   inside the sample data: start, end and loop points in frames, or for a
//   compressed (Ogg Vorbis) sample of version 3 the byte range of its stream,
//   start before end (Samples);
// - every compressed sample's stream decodes, as streamSound says (Streams;
//   without streamSound, not asked).
enum class TSoundFontCheck {
  Sound,
  NotSoundFont,
  Chunks,
  Info,
  Version,
  SampleData,
  Records,
  Indices,
  References,
  Samples,
  Streams,
};

// Says whether a compressed sample's stream (its bytes in the sample data)
// decodes to a sound the synthesizer can hold.
using TStreamCheck = std::function<bool(std::span<const std::uint8_t> stream)>;

TSoundFontCheck CheckSoundFont(std::span<const std::uint8_t> bytes,
                               const TStreamCheck& streamSound = {});

} // namespace melo
