#pragma once
// Loading a sound set into the synthesizer. Every format goes through
// LoadSoundSet: it looks at the bytes, hands them to the matching reader and
// returns the font the synthesizer now holds together with its instruments in
// the set's own order. A new format adds one reader and one branch there.
#include "sound/SoundFontCheck.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

typedef struct _fluid_synth_t fluid_synth_t;

namespace melo {

// Larger sound sets are refused unread.
inline constexpr std::size_t MaxSoundSetBytes = std::size_t{1} << 30;

// One playable instrument as the sound set names it.
struct TSoundSetInstrument {
  std::uint32_t Patch = 0; // bank MSB << 16 | bank LSB << 8 | program, bit 31 = drum kit
  std::string Name;        // UTF-8
};

struct TLoadedSoundSet {
  int FontId = -1; // the synthesizer's id of the loaded font
  std::vector<TSoundSetInstrument> Instruments;
};

// Why a sound set did not load.
enum class TSoundSetFault {
  None,
  Missing,      // no file of that name
  Unreadable,   // the file could not be read, or is larger than any set
  NotASoundSet, // neither a DLS collection nor a SoundFont
  Version,      // a SoundFont of a version the program does not read
  Damaged, // a SoundFont that failed Check, or a DLS collection (Check Sound) that did not read
  Refused, // it passed the checks, but the synthesizer could not read it
};

struct TSoundSetResult {
  TSoundSetFault Fault = TSoundSetFault::None;
  TSoundFontCheck Check = TSoundFontCheck::Sound;
  // True when the set loaded.
  explicit operator bool() const { return Fault == TSoundSetFault::None; }
  friend bool operator==(const TSoundSetResult&, const TSoundSetResult&) = default;
};

// The reason a set did not load, in a few English words ("not found",
// "damaged: ..."), for the command line.
std::string SoundSetFaultText(const TSoundSetResult& result);

// Lets the synthesizer read SoundFonts from memory; call once per synthesizer,
// before the first LoadSoundSet. Other names still reach its file reader.
void AddMemoryLoader(fluid_synth_t* synth);

// True when the bytes are a RIFF file of the given four-character form.
bool IsRiffForm(std::span<const std::uint8_t> bytes, std::string_view form);

// Adds the sound set held in bytes to the synthesizer (the bytes are no longer
// needed afterwards). When the bytes are no sound set the program can read,
// the synthesizer is unchanged and the result says why.
TSoundSetResult LoadSoundSet(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                             TLoadedSoundSet& loaded);

// The same for bytes that stay (a mapped file, kept alive by owner): a DLS
// collection is read in place, its voices reading their waves from the bytes;
// other formats are copied as LoadSoundSet does.
TSoundSetResult LoadSoundSetInPlace(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                                    std::shared_ptr<const void> owner, TLoadedSoundSet& loaded);

// SoundFont 2/3 ("sfbk") through the synthesizer's own reader, from memory.
TSoundSetResult LoadSoundFontBytes(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                                   TLoadedSoundSet& loaded);

// The instruments of a font already in the synthesizer, in its preset order.
// Presets of bank 128 are drum kits.
std::vector<TSoundSetInstrument> ListFontInstruments(fluid_synth_t* synth, int fontId);

} // namespace melo
