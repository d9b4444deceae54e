#pragma once
// DLS instruments on the synthesizer: a FluidSynth font built from a parsed
// DLS collection through FluidSynth's public font API. A note-on starts one
// voice per matching region (two for a stereo wave) whose generators carry
// the region's sample, loop, tuning, gain, exclusive class and articulation.
#include "sound/DlsCollection.h"
#include "sound/KoSoundSet.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_sfont_t fluid_sfont_t;

namespace melo {

// The font for a collection (its wave data moves into the font; borrowed
// waves are played where they lie, and the font keeps owner, which owns
// them, alive). Its bank numbers follow the synthesizer's
// "synth.midi-bank-select" reading of bank selects; drum kits answer on
// channel 9, melodic instruments elsewhere. Nullptr without a synthesizer or
// when memory runs out.
fluid_sfont_t* NewDlsSoundFont(fluid_synth_t* synth, TDlsCollection collection,
                               std::shared_ptr<const void> owner = {});

// Lets the synthesizer take DLS fonts by name from LoadDlsBytes; call once per
// synthesizer (LoadDlsBytes adds it itself when it is missing).
void AddDlsLoader(fluid_synth_t* synth);

// Reads a DLS collection from bytes and adds it to the synthesizer, listing
// its instruments in the collection's order (names from the file's GBK).
// False, with the synthesizer unchanged, when the bytes are refused. The font
// is unloaded with fluid_synth_sfunload like any other; it is freed once
// none of its voices sounds any more. With an owner of the bytes, they are
// read in place: 16-bit mono waves are played from the bytes themselves
// (nothing is copied, and only the waves played are ever read), and the font
// keeps owner alive.
bool LoadDlsBytes(fluid_synth_t* synth, std::span<const std::uint8_t> bytes,
                  TLoadedSoundSet& loaded, std::shared_ptr<const void> owner = {});

// The instruments LoadDlsBytes would list, from the instruments' headers
// alone (no wave is read); nothing when they do not read.
std::optional<std::vector<TSoundSetInstrument>> ListDlsBytes(std::span<const std::uint8_t> bytes);

// DLS fonts built and not yet freed, in this process (diagnostics, tests).
int LiveDlsFontCount();

} // namespace melo
