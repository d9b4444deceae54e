// jack_test_client [CLIENT_NAME]
// A JACK client the end-to-end tests drive through its standard input, one
// command per line, each answered by one line starting "ok" or "error":
//   send HEX HEX [HEX]     sends one MIDI message from port midi_out at the start
//                          of the next period; answers "ok FRAME" (its frame time)
//   burst HEX... [/ HEX...]...  sends every event (any bytes, "/" between events)
//                          in one period; "ok FRAME"
//   flood COUNT PER_PERIOD sends COUNT events (rounded up to whole cycles of twelve),
//                          PER_PERIOD a period: quiet notes on every channel, each
//                          released within its cycle, sustain steps, bends, pressure,
//                          modulation, volume and expression; "ok FRAME" of the last
//                          period once it is sent
//   midi-clear             forgets what port midi_in received
//   midi                   "ok XX XX ..." every byte midi_in received since
//   record-start           starts keeping the audio of port in_l (at most 60 s)
//   record-stop FILE       stops and writes it as a 16-bit mono WAV; "ok FRAME COUNT"
//   onset FRAME LEVEL      frames from FRAME to the first kept sample above LEVEL
//   last-sound FRAME LEVEL frames from FRAME to the last kept sample above LEVEL
//                          (negative: none after FRAME)
//   wait-frames FRAME N    answers once the recording holds N frames after FRAME
//   rate                   the server's sample rate
//   quit
// Ports: midi_out, midi_in (MIDI), in_l (audio). Connections are made with jack_connect.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t MaxRecordSeconds = 60;

struct TClient {
  jack_client_t* Client = nullptr;
  jack_port_t* MidiOut = nullptr;
  jack_port_t* MidiIn = nullptr;
  jack_port_t* AudioIn = nullptr;
  jack_ringbuffer_t* Outgoing = nullptr; // length byte, then the message
  jack_ringbuffer_t* Incoming = nullptr; // received MIDI bytes
  std::atomic<std::uint64_t> SentFrame{0};
  std::atomic<std::uint64_t> SentCount{0};
  std::vector<float> Recording;
  std::atomic<bool> Recording_On{false};
  std::atomic<std::size_t> Recorded{0};
  std::atomic<std::uint64_t> RecordStart{0};
  // A burst handed to the process thread whole; it hands the pointer back.
  std::atomic<std::vector<std::vector<unsigned char>>*> Burst{nullptr};
  std::atomic<std::uint64_t> FloodLeft{0};
  std::atomic<std::uint64_t> FloodSent{0};
  std::atomic<std::uint64_t> FloodPerPeriod{0};
};

// The flood's event number `index`: twelve events make one cycle on one
// channel, a quiet note (velocity 1) and its release around a sustain step
// and levels that end where they began.
constexpr std::uint64_t FloodCycle = 12;

void FloodEvent(std::uint64_t index, unsigned char (&event)[3]) {
  const auto channel = static_cast<unsigned char>((index / FloodCycle) % 16);
  const auto note = static_cast<unsigned char>(36 + (index / (FloodCycle * 16)) % 48);
  const auto value = static_cast<unsigned char>(index % 128);
  const unsigned char cycle[FloodCycle][3] = {
      {0x90, note, 1},   {0xE0, value, 64}, {0xB0, 64, 127},  {0xB0, 1, value},
      {0xB0, 11, value}, {0xD0, value, 0},  {0xB0, 7, value}, {0xB0, 64, 0},
      {0xB0, 11, 127},   {0xB0, 7, 100},    {0xE0, 0, 64},    {0x80, note, 64}};
  const unsigned char* chosen = cycle[index % FloodCycle];
  event[0] = static_cast<unsigned char>(chosen[0] | channel);
  event[1] = chosen[1];
  event[2] = chosen[2];
}

std::size_t FloodEventSize(const unsigned char (&event)[3]) {
  return (event[0] & 0xF0) == 0xD0 ? 2 : 3;
}

void SendBurstAndFlood(TClient& c, void* out, jack_nframes_t start) {
  if (auto* burst = c.Burst.load()) {
    for (const auto& event : *burst)
      jack_midi_event_write(out, 0, event.data(), event.size());
    c.SentFrame = start;
    c.Burst = nullptr;
  }
  for (std::uint64_t n = 0; n < c.FloodPerPeriod && c.FloodLeft > 0; ++n) {
    unsigned char event[3];
    FloodEvent(c.FloodSent, event);
    if (jack_midi_event_write(out, 0, event, FloodEventSize(event)) != 0)
      break; // the period's buffer is full: the rest goes next period
    ++c.FloodSent;
    if (--c.FloodLeft == 0)
      c.SentFrame = start;
  }
}

int Process(jack_nframes_t frames, void* data) {
  auto& c = *static_cast<TClient*>(data);
  const jack_nframes_t start = jack_last_frame_time(c.Client);
  void* out = jack_port_get_buffer(c.MidiOut, frames);
  jack_midi_clear_buffer(out);
  SendBurstAndFlood(c, out, start);
  char length = 0;
  while (jack_ringbuffer_read_space(c.Outgoing) >= 1 &&
         jack_ringbuffer_peek(c.Outgoing, &length, 1) == 1 &&
         jack_ringbuffer_read_space(c.Outgoing) >= 1 + static_cast<std::size_t>(length)) {
    char record[4];
    jack_ringbuffer_read(c.Outgoing, record, 1 + static_cast<std::size_t>(length));
    jack_midi_event_write(out, 0, reinterpret_cast<jack_midi_data_t*>(record + 1),
                          static_cast<std::size_t>(length));
    c.SentFrame = start;
    ++c.SentCount;
  }
  void* in = jack_port_get_buffer(c.MidiIn, frames);
  const jack_nframes_t count = jack_midi_get_event_count(in);
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, in, i) == 0) {
      jack_ringbuffer_write(c.Incoming, reinterpret_cast<const char*>(event.buffer), event.size);
    }
  }
  if (c.Recording_On) {
    const auto* audio = static_cast<const float*>(jack_port_get_buffer(c.AudioIn, frames));
    std::size_t done = c.Recorded;
    if (done == 0) {
      c.RecordStart = start;
    }
    for (jack_nframes_t i = 0; i < frames && done < c.Recording.size(); ++i) {
      c.Recording[done++] = audio[i];
    }
    c.Recorded = done;
  }
  return 0;
}

bool WriteWav(const std::string& name, const std::vector<float>& samples, std::size_t count,
              std::uint32_t rate) {
  std::ofstream file(name, std::ios::binary);
  const auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      file.put(static_cast<char>(v >> (8 * i)));
  };
  const auto put16 = [&](std::uint16_t v) {
    file.put(static_cast<char>(v));
    file.put(static_cast<char>(v >> 8));
  };
  const auto bytes = static_cast<std::uint32_t>(count * 2);
  file.write("RIFF", 4);
  put32(36 + bytes);
  file.write("WAVEfmt ", 8);
  put32(16);
  put16(1);
  put16(1);
  put32(rate);
  put32(rate * 2);
  put16(2);
  put16(16);
  file.write("data", 4);
  put32(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    const float v = std::fmax(-1.0f, std::fmin(1.0f, samples[i]));
    put16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0f))));
  }
  return static_cast<bool>(file);
}

std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string text;
  char part[4];
  for (const unsigned char b : bytes) {
    std::snprintf(part, sizeof part, " %02X", b);
    text += part;
  }
  return text;
}

} // namespace

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "melo_test";
  TClient c;
  c.Client = jack_client_open(name, JackNoStartServer, nullptr);
  if (c.Client == nullptr) {
    std::fprintf(stderr, "jack_test_client: no JACK server\n");
    return 1;
  }
  c.MidiOut = jack_port_register(c.Client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  c.MidiIn = jack_port_register(c.Client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  c.AudioIn = jack_port_register(c.Client, "in_l", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  c.Outgoing = jack_ringbuffer_create(1 << 12);
  c.Incoming = jack_ringbuffer_create(1 << 16);
  const jack_nframes_t rate = jack_get_sample_rate(c.Client);
  c.Recording.assign(MaxRecordSeconds * rate, 0.0f);
  jack_set_process_callback(c.Client, Process, &c);
  if (c.MidiOut == nullptr || c.MidiIn == nullptr || c.AudioIn == nullptr ||
      jack_activate(c.Client) != 0) {
    std::fprintf(stderr, "jack_test_client: cannot set up the ports\n");
    return 1;
  }
  std::vector<unsigned char> received;
  std::string line;
  std::cout << "ok " << jack_get_client_name(c.Client) << std::endl;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "send") {
      std::vector<unsigned char> message;
      unsigned value = 0;
      while (message.size() < 3 && words >> std::hex >> value)
        message.push_back(static_cast<unsigned char>(value));
      if (message.empty()) {
        std::cout << "error no bytes" << std::endl;
        continue;
      }
      const std::uint64_t before = c.SentCount;
      const char length = static_cast<char>(message.size());
      jack_ringbuffer_write(c.Outgoing, &length, 1);
      jack_ringbuffer_write(c.Outgoing, reinterpret_cast<const char*>(message.data()),
                            message.size());
      for (int i = 0; i < 2000 && c.SentCount == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::cout << "ok " << c.SentFrame << std::endl;
    } else if (command == "burst") {
      std::vector<std::vector<unsigned char>> burst(1);
      std::string word;
      while (words >> word) {
        if (word == "/") {
          burst.emplace_back();
        } else {
          burst.back().push_back(static_cast<unsigned char>(std::stoul(word, nullptr, 16)));
        }
      }
      // The process thread owns the burst until it hands it back: no time
      // limit here (the test's own gives up on a server that stopped).
      c.Burst = &burst;
      while (c.Burst != nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::cout << "ok " << c.SentFrame << std::endl;
    } else if (command == "flood") {
      std::uint64_t count = 0;
      std::uint64_t perPeriod = 0;
      words >> count >> perPeriod;
      count = (count + FloodCycle - 1) / FloodCycle * FloodCycle; // every note released
      c.FloodPerPeriod = perPeriod;
      c.FloodSent = 0;
      c.FloodLeft = count;
      while (c.FloodLeft > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::cout << "ok " << c.SentFrame << std::endl;
    } else if (command == "midi-clear" || command == "midi") {
      std::vector<char> chunk(jack_ringbuffer_read_space(c.Incoming));
      jack_ringbuffer_read(c.Incoming, chunk.data(), chunk.size());
      received.insert(received.end(), chunk.begin(), chunk.end());
      if (command == "midi-clear")
        received.clear();
      std::cout << "ok" << Hex(received) << std::endl;
    } else if (command == "record-start") {
      c.Recorded = 0;
      c.Recording_On = true;
      std::cout << "ok" << std::endl;
    } else if (command == "record-stop") {
      std::string file;
      words >> file;
      c.Recording_On = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const std::size_t count = c.Recorded;
      if (!WriteWav(file, c.Recording, count, rate)) {
        std::cout << "error cannot write " << file << std::endl;
        continue;
      }
      std::cout << "ok " << c.RecordStart << " " << count << std::endl;
    } else if (command == "onset") {
      std::uint64_t frame = 0;
      double level = 0.0;
      words >> frame >> level;
      const std::uint64_t start = c.RecordStart;
      const std::size_t count = c.Recorded;
      bool found = false;
      for (std::size_t i = 0; i < count && !found; ++i) {
        // Frame times are 32-bit and wrap: compare by difference.
        const auto delta = static_cast<std::int32_t>(static_cast<std::uint32_t>(start + i - frame));
        if (delta >= 0 && std::fabs(c.Recording[i]) > level) {
          std::cout << "ok " << delta << std::endl;
          found = true;
        }
      }
      if (!found)
        std::cout << "error no sample above " << level << std::endl;
    } else if (command == "last-sound") {
      std::uint64_t frame = 0;
      double level = 0.0;
      words >> frame >> level;
      const std::uint64_t start = c.RecordStart;
      std::int64_t last = -1;
      for (std::size_t i = 0; i < c.Recorded; ++i) {
        const auto delta = static_cast<std::int32_t>(static_cast<std::uint32_t>(start + i - frame));
        if (delta >= 0 && std::fabs(c.Recording[i]) > level)
          last = delta;
      }
      std::cout << "ok " << last << std::endl;
    } else if (command == "wait-frames") {
      std::uint64_t frame = 0;
      std::int32_t count = 0;
      words >> frame >> count;
      const auto covered = [&] {
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(c.RecordStart + c.Recorded - frame));
      };
      for (int i = 0; i < 10000 && covered() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::cout << (covered() < count ? "error the recording did not reach it" : "ok") << std::endl;
    } else if (command == "rate") {
      std::cout << "ok " << rate << std::endl;
    } else if (command == "quit") {
      break;
    } else {
      std::cout << "error unknown command " << command << std::endl;
    }
  }
  jack_client_close(c.Client);
  jack_ringbuffer_free(c.Outgoing);
  jack_ringbuffer_free(c.Incoming);
  return 0;
}
