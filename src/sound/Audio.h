#pragma once
// The desktop's master volume: the sound server (PulseAudio, or PipeWire through its PulseAudio
// interface) seen as a mixer. Mixer device 0 is the server; its destination lines are the sinks,
// the default one first, so line (0, 0) is always the default output; each sink's source lines are
// the streams playing on it. Volumes are 0..65535 per channel (65535 is the server's 100 %), mute
// is the sink's or stream's mute. Changes made by any program arrive as OnMixerChange on the UI
// thread (through the installed UI dispatcher).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace melo {

class TAudio;

// A line without such a control carries this identifier.
inline constexpr std::uint32_t NoMixerControl = 0xFFFF;

// One line of the mixer, as enumerated when the mixer was opened.
struct TMixerLine {
  enum class TKind { Mixer, Sink, Stream };
  std::int16_t Destination = -1;
  std::int16_t Index = -1; // 0 the destination itself, 1.. its sources
  std::string Name;
  std::uint32_t VolumeControlID = NoMixerControl;
  std::uint32_t MuteControlID = NoMixerControl;
  bool Mono = false;
  std::uint16_t Left = 0;
  std::uint16_t Right = 0; // not read for a mono line
  bool Muted = false;
  // What the line stands for on the server.
  TKind Kind = TKind::Mixer;
  std::uint32_t ServerIndex = 0xFFFFFFFF;
};

class TMixerSettings {
public:
  // True when the server was reached and its lines listed, with at least one sink.
  bool Opened() const { return FOpened; }
  // In enumeration order; the first record stands for the mixer (server) itself.
  const std::vector<TMixerLine>& Lines() const { return FLines; }

  // Current volume and mute of line (destination, index). False, with ErrorText set, when the
  // mixer is closed, the line is unknown or the server does not answer.
  bool GetLineVolume(std::int16_t destination, std::int16_t index, bool& muted,
                     std::uint16_t& right, std::uint16_t& left);
  // Writes both channels (only left on a mono line), then the mute state.
  bool SetLineVolume(std::int16_t destination, std::int16_t index, bool muted, std::uint16_t right,
                     std::uint16_t left);

private:
  friend class TAudio;
  explicit TMixerSettings(TAudio& owner) : FOwner(owner) {}
  TMixerLine* FindLine(std::int16_t destination, std::int16_t index);

  TAudio& FOwner;
  bool FOpened = false;
  std::vector<TMixerLine> FLines;
};

class TAudio {
public:
  using TMixerChangeEvent = std::function<void(TAudio* sender, std::uint16_t, std::uint16_t)>;

  // Connects to the sound server (server, or the user's default one when empty) and lists its
  // lines. Null when no server answers: the caller falls back to the ALSA mixer. Never starts a
  // server of its own.
  static std::unique_ptr<TAudio> Create(const std::string& server = {});
  ~TAudio();
  TAudio(const TAudio&) = delete;
  TAudio& operator=(const TAudio&) = delete;

  TMixerSettings& Mixer() { return FMixer; }
  const std::string& ErrorText() const { return FErrorText; }

  int AudioDeviceID = -1;
  int MixerDeviceID = 0;
  bool SeparateCtrls = false;
  const std::string Version = "4.1 (32bit)";

  // A mixer control changed: raised once with the server's event (its kind and the object's index,
  // both cut to 16 bits) and once more with the Destination and Index of the line it concerns, if
  // the line is listed. On the UI thread.
  TMixerChangeEvent OnMixerChange;
  // The control-change message itself, raised before OnMixerChange for every change; the window
  // re-reads the master volume on it.
  std::function<void()> OnMixerMessage;

private:
  struct TServer;
  friend class TMixerSettings;
  TAudio();
  bool Connect(const std::string& server);
  void OpenMixer();
  void ServerEvent(std::uint32_t facility, std::uint32_t index);

  std::unique_ptr<TServer> FServer;
  TMixerSettings FMixer{*this};
  std::string FErrorText;
  // Calls posted to the UI thread hold this weakly: none runs after the component is gone.
  std::shared_ptr<TAudio*> FSelf;
};

} // namespace melo
