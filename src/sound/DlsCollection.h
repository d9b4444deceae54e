#pragma once
// A DLS Level 1 / Level 2 collection read from bytes in memory. The reader
// checks every size, offset, count and index against the bytes it claims and
// refuses the whole file on the first failed check, so whatever it accepts can
// be played without further checks.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace melo {

// Drum-kit flag of a patch and of a DLS bank number.
constexpr std::uint32_t DlsDrumFlag = 0x80000000u;

// Connection sources, controls, destinations and transforms of the
// articulation chunks (art1, art2).
enum TDlsConnSource : std::uint16_t {
  CONN_SRC_NONE = 0x0000,
  CONN_SRC_LFO = 0x0001,
  CONN_SRC_KEYONVELOCITY = 0x0002,
  CONN_SRC_KEYNUMBER = 0x0003,
  CONN_SRC_EG1 = 0x0004,
  CONN_SRC_EG2 = 0x0005,
  CONN_SRC_PITCHWHEEL = 0x0006,
  CONN_SRC_POLYPRESSURE = 0x0007,
  CONN_SRC_CHANNELPRESSURE = 0x0008,
  CONN_SRC_VIBRATO = 0x0009,
  CONN_SRC_CC1 = 0x0081,
  CONN_SRC_CC7 = 0x0087,
  CONN_SRC_CC10 = 0x008a,
  CONN_SRC_CC11 = 0x008b,
  CONN_SRC_CC91 = 0x00db,
  CONN_SRC_CC93 = 0x00dd,
  CONN_SRC_RPN0 = 0x0100,
  CONN_SRC_RPN1 = 0x0101,
  CONN_SRC_RPN2 = 0x0102,
};

enum TDlsConnDestination : std::uint16_t {
  CONN_DST_NONE = 0x0000,
  CONN_DST_ATTENUATION = 0x0001, // a gain: negative values make it quieter
  CONN_DST_PITCH = 0x0003,
  CONN_DST_PAN = 0x0004,
  CONN_DST_KEYNUMBER = 0x0005,
  CONN_DST_CHORUS = 0x0080,
  CONN_DST_REVERB = 0x0081,
  CONN_DST_LFO_FREQUENCY = 0x0104,
  CONN_DST_LFO_STARTDELAY = 0x0105,
  CONN_DST_VIB_FREQUENCY = 0x0114,
  CONN_DST_VIB_STARTDELAY = 0x0115,
  CONN_DST_EG1_ATTACKTIME = 0x0206,
  CONN_DST_EG1_DECAYTIME = 0x0207,
  CONN_DST_EG1_RELEASETIME = 0x0209,
  CONN_DST_EG1_SUSTAINLEVEL = 0x020a,
  CONN_DST_EG1_DELAYTIME = 0x020b,
  CONN_DST_EG1_HOLDTIME = 0x020c,
  CONN_DST_EG1_SHUTDOWNTIME = 0x020d,
  CONN_DST_EG2_ATTACKTIME = 0x030a,
  CONN_DST_EG2_DECAYTIME = 0x030b,
  CONN_DST_EG2_RELEASETIME = 0x030d,
  CONN_DST_EG2_SUSTAINLEVEL = 0x030e,
  CONN_DST_EG2_DELAYTIME = 0x030f,
  CONN_DST_EG2_HOLDTIME = 0x0310,
  CONN_DST_FILTER_CUTOFF = 0x0500,
  CONN_DST_FILTER_Q = 0x0501,
};

enum TDlsConnTransform : std::uint16_t {
  CONN_TRN_NONE = 0,
  CONN_TRN_CONCAVE = 1,
  CONN_TRN_CONVEX = 2,
  CONN_TRN_SWITCH = 3,
};

// Wave-link channel bits and the multichannel option.
constexpr std::uint32_t WAVELINK_CHANNEL_LEFT = 1;
constexpr std::uint32_t WAVELINK_CHANNEL_RIGHT = 2;
constexpr std::uint16_t F_WAVELINK_PHASE_MASTER = 1;
constexpr std::uint16_t F_WAVELINK_MULTICHANNEL = 2;

constexpr std::uint32_t WLOOP_TYPE_FORWARD = 0;
constexpr std::uint32_t WLOOP_TYPE_RELEASE = 1;

struct TDlsConnection {
  std::uint16_t Source = CONN_SRC_NONE;
  std::uint16_t Control = CONN_SRC_NONE;
  std::uint16_t Destination = CONN_DST_NONE;
  std::uint16_t Transform = CONN_TRN_NONE;
  std::int32_t Scale = 0; // 16.16 fixed point in the destination's unit
};

// A wsmp chunk: tuning, gain and at most one loop (start and length in frames).
struct TDlsSampleInfo {
  std::uint16_t UnityNote = 60;
  std::int16_t FineTune = 0;    // cents
  std::int32_t Attenuation = 0; // gain, 1/65536 cB; negative is quieter
  std::uint32_t Options = 0;
  bool Looped = false;
  std::uint32_t LoopType = WLOOP_TYPE_FORWARD;
  std::uint32_t LoopStart = 0;
  std::uint32_t LoopLength = 0;
};

// One wave of the pool, converted to 16-bit frames, one vector per channel.
struct TDlsWave {
  std::uint32_t SampleRate = 0;
  std::uint16_t BitsPerSample = 16; // as stored in the file (8 or 16)
  std::vector<std::vector<std::int16_t>> Channels;
  // A 16-bit mono wave read in place: its frames stay in the bytes the
  // collection was read from, and Channels is empty.
  std::span<const std::int16_t> Borrowed;
  bool HasSampleInfo = false;
  TDlsSampleInfo SampleInfo;
  std::string Name;
  std::size_t FrameCount() const {
    return !Borrowed.empty() ? Borrowed.size() : Channels.empty() ? 0 : Channels.front().size();
  }
  std::size_t ChannelCount() const { return !Borrowed.empty() ? 1 : Channels.size(); }
  // Frame i of a channel, borrowed or not.
  std::int16_t Frame(std::size_t channel, std::size_t i) const {
    return !Borrowed.empty() ? Borrowed[i] : Channels[channel][i];
  }
};

struct TDlsRegion {
  std::uint16_t KeyLow = 0, KeyHigh = 127;
  std::uint16_t VelocityLow = 0, VelocityHigh = 127;
  std::uint16_t Options = 0;
  std::uint16_t KeyGroup = 0; // exclusive class; 0 for none
  std::uint16_t Layer = 0;
  bool HasSampleInfo = false; // the region's wsmp overrides the wave's
  TDlsSampleInfo SampleInfo;
  std::uint16_t LinkOptions = 0;
  std::uint16_t PhaseGroup = 0;
  std::uint32_t Channel = WAVELINK_CHANNEL_LEFT;
  std::uint32_t WaveIndex = 0; // index into TDlsCollection::Waves (checked)
  std::vector<TDlsConnection> Connections;
  bool Level2 = false; // rgn2 or art2: transforms use the Level 2 bit fields
};

struct TDlsInstrument {
  std::uint32_t Bank = 0; // bits 0..6 LSB, 8..14 MSB, bit 31 drums
  std::uint32_t Program = 0;
  std::string Name; // bytes of INFO/INAM up to its first zero
  std::vector<TDlsRegion> Regions;
  std::vector<TDlsConnection> Connections; // instrument-wide articulation
  bool Level2 = false;
  // MSB << 16 | LSB << 8 | program, bit 31 for drum kits.
  std::uint32_t Patch() const;
};

class TDlsCollection {
public:
  std::vector<TDlsInstrument> Instruments;
  std::vector<TDlsWave> Waves; // in pool-table (cue) order

  // Replaces the content with the collection in data. On any failed check it
  // returns false and leaves the previous content as it was. With
  // borrowWaves, 16-bit mono waves are not copied (TDlsWave::Borrowed): data
  // must then outlive the collection and whatever is built from it.
  bool LoadFromMemory(const std::uint8_t* data, std::size_t size, bool borrowWaves = false);
};

// The instruments' banks, programs and names alone, in collection order, as
// LoadFromMemory would give them (no regions, no articulation), read without
// touching the wave pool: what a list of voices needs. False when the
// collection or an instrument's header does not read.
bool ListDlsInstruments(const std::uint8_t* data, std::size_t size,
                        std::vector<TDlsInstrument>& out);

// The RIFF form of data ("DLS ", "sfbk", ...) or an empty string when data
// does not start with a RIFF header.
std::string RiffForm(const std::uint8_t* data, std::size_t size);

// Patch of a DLS bank number and program.
std::uint32_t DlsPatch(std::uint32_t bank, std::uint32_t program);

} // namespace melo
