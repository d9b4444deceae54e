#pragma once
// The small volume unit: one mixer line's volume read or written straight through the ALSA mixer
// (the "default" device, which is the sound server's own mixer where its ALSA plugin is set up).
// Used when the sound server cannot be reached as a mixer. Opens and closes the mixer on every
// call.
#include <cstdint>
#include <functional>
#include <string>

namespace melo {

// Lines: 0 the master output, 1 the synthesizer, 2 the wave output, 3 the compact disc.
inline constexpr std::uint8_t MasterLine = 0;

// The ALSA mixer device the calls open; tests point it elsewhere.
extern std::string MixerDeviceName;

// How the unit's four messages reach the user; the window shows them in message boxes.
using TMixerMessageHandler = std::function<void(const std::string& message)>;
void SetMixerMessageHandler(TMixerMessageHandler handler);

// True when the mixer has the line with a playback volume to set.
bool MixerLineHasVolume(std::uint8_t line);
// The line's volume on 0..65535 (its louder channel); 0 without a mixer or such a line.
std::uint16_t GetMixerVolume(std::uint8_t line);
// Writes value (0..65535) to every channel of the line.
void SetMixerVolume(std::uint8_t line, std::uint16_t value);

} // namespace melo
