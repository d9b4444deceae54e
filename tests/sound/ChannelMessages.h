#pragma once
// Channel messages by name for the engine's tests and benchmarks, sent as the
// program sends everything: short messages through a TMidiMessageSink. A
// channel beyond 15 is refused without sending (0x90 + 16 would be a
// key-pressure message on channel 0).
#include "music/MidiInterfaces.h"
#include "sound/KoDirectMusic.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace melo::test {

inline bool IsChannel(std::uint8_t channel) {
  return channel < MidiChannelCount;
}

inline bool ControlChange(TMidiMessageSink& sink, std::uint8_t channel, std::uint8_t controller,
                          std::uint8_t value) {
  return IsChannel(channel) &&
         sink.SendMidiMessage(ChannelStatus(ControlChangeStatus, channel), controller, value);
}

inline bool NoteOn(TMidiMessageSink& sink, std::uint8_t channel, std::uint8_t note,
                   std::uint8_t velocity) {
  return IsChannel(channel) &&
         sink.SendMidiMessage(ChannelStatus(NoteOnStatus, channel), note, velocity);
}

inline bool NoteOff(TMidiMessageSink& sink, std::uint8_t channel, std::uint8_t note) {
  return IsChannel(channel) &&
         sink.SendMidiMessage(ChannelStatus(NoteOffStatus, channel), note, 64);
}

// Bank select MSB and LSB, then the program; the program change's result
// answers for the whole patch.
inline bool SetPatch(TMidiMessageSink& sink, std::uint8_t channel, std::uint32_t patch) {
  if (!IsChannel(channel)) {
    return false;
  }
  const TPatchBytes bytes = UnpackPatch(patch);
  static_cast<void>(ControlChange(sink, channel, 0, bytes.MSB));
  static_cast<void>(ControlChange(sink, channel, 32, bytes.LSB));
  return sink.SendMidiMessage(ChannelStatus(ProgramChangeStatus, channel), bytes.Program, 0);
}

inline bool SetSustain(TMidiMessageSink& sink, std::uint8_t channel, bool down) {
  return ControlChange(sink, channel, 64, down ? 127 : 0);
}

inline bool AllNotesOff(TMidiMessageSink& sink, std::uint8_t channel) {
  return ControlChange(sink, channel, 123, 0);
}

inline bool AllSoundOff(TMidiMessageSink& sink, std::uint8_t channel) {
  return ControlChange(sink, channel, 120, 0);
}

// Stands between a test and an engine: forwards every message and remembers,
// per channel, the last note played (whatever the send's result) and the
// patch the last bank selects and program change make up. Safe to share
// between threads.
class TChannelMemory final : public TMidiMessageSink {
public:
  explicit TChannelMemory(TMidiMessageSink& target) : FTarget(target) {}

  bool SendMidiMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) override {
    std::lock_guard guard(FLock);
    Remember(status, data1, data2);
    return FTarget.SendMidiMessage(status, data1, data2);
  }

  // Keeps other threads' messages out until the returned lock goes, so that
  // several messages arrive together.
  std::unique_lock<std::recursive_mutex> Hold() { return std::unique_lock(FLock); }

  std::uint32_t Patches(int channel) const {
    std::lock_guard guard(FLock);
    return PackPatch(FPatches.at(static_cast<std::size_t>(channel)));
  }

  std::uint8_t LastNotes(int channel) const {
    std::lock_guard guard(FLock);
    return FLastNotes.at(static_cast<std::size_t>(channel));
  }

private:
  void Remember(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    const auto channel = static_cast<std::size_t>(status & 0x0F);
    switch (status & 0xF0) {
    case NoteOnStatus:
      FLastNotes[channel] = data1;
      break;
    case ControlChangeStatus:
      RememberBank(FPendingBanks[channel], data1, data2);
      break;
    case ProgramChangeStatus:
      FPatches[channel] = {FPendingBanks[channel].MSB, FPendingBanks[channel].LSB, data1};
      break;
    default:
      break;
    }
  }

  static void RememberBank(TPatchBytes& bank, std::uint8_t controller, std::uint8_t value) {
    if (controller == 0) {
      bank.MSB = value;
    } else if (controller == 32) {
      bank.LSB = value;
    }
  }

  TMidiMessageSink& FTarget;
  mutable std::recursive_mutex FLock;
  std::array<TPatchBytes, MidiChannelCount> FPendingBanks{};
  std::array<TPatchBytes, MidiChannelCount> FPatches{};
  std::array<std::uint8_t, MidiChannelCount> FLastNotes{};
};

} // namespace melo::test
