#include "sound/Audio.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <optional>

#include "music/KoTimer.h"
#include "sound/MasterVolume.h"

namespace melo {

namespace {

constexpr pa_usec_t ConnectTimeout = 3 * PA_USEC_PER_SEC;
// A local server answers in well under a millisecond; this only bounds a hung one.
constexpr pa_usec_t ReplyTimeout = 2 * PA_USEC_PER_SEC;
constexpr const char* DefaultSink = "@DEFAULT_SINK@";

constexpr const char* VolumeGetError = "Volume GetControlError in Mixer";
constexpr const char* MuteGetError = "Mute GetControlError in Mixer";
constexpr const char* VolumeSetError = "Volume SetControlError in Mixer";
constexpr const char* MuteSetError = "Mute SetControlError in Mixer";

bool IsLeft(pa_channel_position_t p) {
  return p == PA_CHANNEL_POSITION_FRONT_LEFT || p == PA_CHANNEL_POSITION_REAR_LEFT ||
         p == PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER || p == PA_CHANNEL_POSITION_SIDE_LEFT ||
         p == PA_CHANNEL_POSITION_TOP_FRONT_LEFT || p == PA_CHANNEL_POSITION_TOP_REAR_LEFT;
}

bool IsRight(pa_channel_position_t p) {
  return p == PA_CHANNEL_POSITION_FRONT_RIGHT || p == PA_CHANNEL_POSITION_REAR_RIGHT ||
         p == PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER || p == PA_CHANNEL_POSITION_SIDE_RIGHT ||
         p == PA_CHANNEL_POSITION_TOP_FRONT_RIGHT || p == PA_CHANNEL_POSITION_TOP_REAR_RIGHT;
}

// What the server reports of a sink or stream.
struct TServerLine {
  std::uint32_t Index = PA_INVALID_INDEX;
  std::uint32_t Sink = PA_INVALID_INDEX; // streams: the sink they play on
  std::string Id;                        // the server's name for it
  std::string Name;                      // what a person reads
  pa_cvolume Volume{};
  pa_channel_map Map{};
  bool HasVolume = true;
  bool Mute = false;
};

// Left is the loudest left-side channel, Right the loudest right-side one; a map without sides
// reads its first two channels.
TStereoVolume ReadChannels(const TServerLine& line) {
  const pa_cvolume& v = line.Volume;
  if (v.channels == 0)
    return {};
  std::optional<pa_volume_t> left, right;
  for (unsigned c = 0; c < v.channels && c < line.Map.channels; ++c) {
    const pa_channel_position_t p = line.Map.map[c];
    if (IsLeft(p)) {
      left = std::max(left.value_or(0), v.values[c]);
    } else if (IsRight(p)) {
      right = std::max(right.value_or(0), v.values[c]);
    }
  }
  if (!left || !right) {
    left = v.values[0];
    right = v.values[v.channels > 1 ? 1 : 0];
  }
  return {MixerValueOfServerVolume(*left), MixerValueOfServerVolume(*right)};
}

// The left value on left-side channels, the right one on right-side channels, the louder on the
// rest (centre, bass); a one-channel line takes the left value.
pa_cvolume WriteChannels(const TServerLine& line, std::uint16_t left, std::uint16_t right) {
  pa_cvolume v{};
  v.channels = line.Volume.channels;
  const bool sided = [&] {
    bool l = false, r = false;
    for (unsigned c = 0; c < line.Map.channels; ++c) {
      l = l || IsLeft(line.Map.map[c]);
      r = r || IsRight(line.Map.map[c]);
    }
    return l && r;
  }();
  for (unsigned c = 0; c < v.channels; ++c) {
    std::uint16_t value = std::max(left, right);
    if (v.channels == 1 || (sided ? IsLeft(line.Map.map[c]) : c == 0)) {
      value = left;
    } else if (sided ? IsRight(line.Map.map[c]) : c == 1) {
      value = right;
    }
    v.values[c] = ServerVolumeOfMixerValue(value);
  }
  return v;
}

template <class TInfo> void CopyLine(const TInfo& info, TServerLine& line) {
  line.Index = info.index;
  line.Id = info.name ? info.name : "";
  line.Name = line.Id;
  if constexpr (requires { info.description; }) {
    if (info.description)
      line.Name = info.description;
  }
  line.Volume = info.volume;
  line.Map = info.channel_map;
  line.Mute = info.mute != 0;
}

void Signal(pa_threaded_mainloop* loop) {
  pa_threaded_mainloop_signal(loop, 0);
}

} // namespace

// The connection: a threaded main loop of libpulse and a context on it. Every call below runs
// with the loop's lock held and waits a bounded time for the server's reply.
struct TAudio::TServer {
  pa_threaded_mainloop* Loop = nullptr;
  pa_context* Context = nullptr;
  bool Started = false;

  ~TServer() {
    if (Started)
      pa_threaded_mainloop_stop(Loop);
    if (Context) {
      pa_context_disconnect(Context);
      pa_context_unref(Context);
    }
    if (Loop)
      pa_threaded_mainloop_free(Loop);
  }

  struct TLock {
    explicit TLock(pa_threaded_mainloop* loop) : Loop(loop) { pa_threaded_mainloop_lock(Loop); }
    ~TLock() { pa_threaded_mainloop_unlock(Loop); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;
    pa_threaded_mainloop* Loop;
  };
  TLock Lock() const { return TLock(Loop); }

  // Waits on the loop until done() holds or the time is up.
  template <class F> bool Wait(F done, pa_usec_t timeout) {
    struct TTimeout {
      pa_threaded_mainloop* Loop;
      bool Expired = false;
    } state{Loop};
    pa_time_event* timer = pa_context_rttime_new(
        Context, pa_rtclock_now() + timeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
          auto* s = static_cast<TTimeout*>(data);
          s->Expired = true;
          Signal(s->Loop);
        },
        &state);
    while (!done() && !state.Expired)
      pa_threaded_mainloop_wait(Loop);
    if (timer)
      pa_threaded_mainloop_get_api(Loop)->time_free(timer);
    return done();
  }

  // Runs one operation to its end; its callbacks have filled what they were given when this
  // returns true. On a time-out the operation is cancelled, so no callback comes later.
  bool Run(pa_operation* op) {
    if (!op)
      return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); },
        Loop);
    if (!Wait([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, ReplyTimeout))
      pa_operation_cancel(op);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
  }

  // A set operation: done and answered with success.
  template <class F> bool RunSet(F start) {
    int success = 0;
    pa_context_success_cb_t cb = [](pa_context*, int ok, void* data) {
      *static_cast<int*>(data) = ok;
    };
    return Run(start(cb, &success)) && success != 0;
  }

  template <class TInfo>
  static void ListEntry(pa_context*, const TInfo* info, int eol, void* data) {
    auto* out = static_cast<std::pair<std::vector<TServerLine>, bool>*>(data);
    if (eol < 0) {
      out->second = false;
      return;
    }
    if (!info)
      return;
    TServerLine line;
    CopyLine(*info, line);
    if constexpr (std::is_same_v<TInfo, pa_sink_input_info>) {
      line.Sink = info->sink;
      line.HasVolume = info->has_volume != 0;
    }
    out->first.push_back(line);
  }

  std::optional<std::vector<TServerLine>> Sinks() {
    std::pair<std::vector<TServerLine>, bool> out{{}, true};
    if (!Run(pa_context_get_sink_info_list(Context, ListEntry<pa_sink_info>, &out)) || !out.second)
      return std::nullopt;
    return out.first;
  }

  std::optional<std::vector<TServerLine>> Streams() {
    std::pair<std::vector<TServerLine>, bool> out{{}, true};
    if (!Run(pa_context_get_sink_input_info_list(Context, ListEntry<pa_sink_input_info>, &out)) ||
        !out.second)
      return std::nullopt;
    return out.first;
  }

  // One sink or stream as it is now; the default sink is looked up afresh every time, so the
  // master volume follows the output the desktop chose.
  std::optional<TServerLine> Fetch(const TMixerLine& line) {
    std::pair<std::vector<TServerLine>, bool> out{{}, true};
    pa_operation* op = nullptr;
    if (line.Kind == TMixerLine::TKind::Stream) {
      op = pa_context_get_sink_input_info(Context, line.ServerIndex, ListEntry<pa_sink_input_info>,
                                          &out);
    } else if (line.Destination == 0) {
      op = pa_context_get_sink_info_by_name(Context, DefaultSink, ListEntry<pa_sink_info>, &out);
    } else {
      op = pa_context_get_sink_info_by_index(Context, line.ServerIndex, ListEntry<pa_sink_info>,
                                             &out);
    }
    if (!Run(op) || !out.second || out.first.empty())
      return std::nullopt;
    return out.first.front();
  }
};

TAudio::TAudio() : FServer(std::make_unique<TServer>()), FSelf(std::make_shared<TAudio*>(this)) {}

TAudio::~TAudio() {
  // Stops the server thread first: no event is queued after this.
  FServer.reset();
  FSelf.reset();
}

std::unique_ptr<TAudio> TAudio::Create(const std::string& server) {
  std::unique_ptr<TAudio> audio(new TAudio());
  if (!audio->Connect(server))
    return nullptr;
  audio->OpenMixer();
  return audio;
}

bool TAudio::Connect(const std::string& server) {
  TServer& s = *FServer;
  s.Loop = pa_threaded_mainloop_new();
  if (!s.Loop)
    return false;
  s.Context = pa_context_new(pa_threaded_mainloop_get_api(s.Loop), "Melotastico");
  if (!s.Context)
    return false;
  pa_context_set_state_callback(
      s.Context, [](pa_context*, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); },
      s.Loop);
  // Never starts a server: a machine without one uses the ALSA mixer instead.
  if (pa_context_connect(s.Context, server.empty() ? nullptr : server.c_str(),
                         PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return false;
  if (pa_threaded_mainloop_start(s.Loop) < 0)
    return false;
  s.Started = true;
  auto lock = s.Lock();
  const auto settled = [&s] {
    const pa_context_state_t state = pa_context_get_state(s.Context);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  };
  s.Wait(settled, ConnectTimeout);
  if (pa_context_get_state(s.Context) != PA_CONTEXT_READY)
    return false;

  // Events arrive on the server thread; they go on to the UI thread, and only while this lives.
  pa_context_set_subscribe_callback(
      s.Context,
      [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* data) {
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE)
          return;
        const TUiDispatcher dispatch = UiDispatcher();
        if (!dispatch)
          return;
        std::weak_ptr<TAudio*> self = *static_cast<std::shared_ptr<TAudio*>*>(data);
        dispatch([self, facility, index] {
          if (const auto audio = self.lock())
            (*audio)->ServerEvent(facility, index);
        });
      },
      &FSelf);
  s.RunSet([&s](pa_context_success_cb_t cb, void* data) {
    return pa_context_subscribe(s.Context,
                                static_cast<pa_subscription_mask_t>(
                                    PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                    PA_SUBSCRIPTION_MASK_SERVER),
                                cb, data);
  });
  return true;
}

void TAudio::OpenMixer() {
  TServer& s = *FServer;
  auto lock = s.Lock();
  struct TInfo {
    std::string Server;
    std::string DefaultSink;
  } info;
  const bool infoRead = s.Run(pa_context_get_server_info(
      s.Context,
      [](pa_context*, const pa_server_info* i, void* data) {
        auto* out = static_cast<TInfo*>(data);
        if (!i)
          return;
        out->Server = i->server_name ? i->server_name : "";
        out->DefaultSink = i->default_sink_name ? i->default_sink_name : "";
      },
      &info));
  auto sinks = s.Sinks();
  const auto streams = s.Streams();
  std::vector<TMixerLine>& lines = FMixer.FLines;
  lines.clear();
  TMixerLine mixer;
  mixer.Name = info.Server;
  lines.push_back(mixer);
  if (!infoRead || !sinks || !streams)
    return;
  // The default sink is destination 0.
  std::stable_partition(sinks->begin(), sinks->end(),
                        [&](const TServerLine& sink) { return sink.Id == info.DefaultSink; });
  std::uint32_t control = 0;
  const auto add = [&](const TServerLine& server, std::int16_t destination, std::int16_t index,
                       TMixerLine::TKind kind) {
    TMixerLine line;
    line.Destination = destination;
    line.Index = index;
    line.Name = server.Name;
    line.Kind = kind;
    line.ServerIndex = server.Index;
    control += 2;
    if (server.HasVolume) {
      line.VolumeControlID = control;
      const TStereoVolume volume = ReadChannels(server);
      line.Mono = server.Volume.channels == 1;
      line.Left = volume.Left;
      if (!line.Mono)
        line.Right = volume.Right;
    }
    line.MuteControlID = control + 1;
    line.Muted = server.Mute;
    lines.push_back(line);
  };
  std::int16_t destination = 0;
  for (const TServerLine& sink : *sinks) {
    add(sink, destination, 0, TMixerLine::TKind::Sink);
    std::int16_t index = 1;
    for (const TServerLine& stream : *streams) {
      if (stream.Sink == sink.Index)
        add(stream, destination, index++, TMixerLine::TKind::Stream);
    }
    ++destination;
  }
  FMixer.FOpened = destination > 0;
}

void TAudio::ServerEvent(std::uint32_t facility, std::uint32_t index) {
  if (!FMixer.Opened())
    return;
  if (OnMixerMessage)
    OnMixerMessage();
  if (!OnMixerChange)
    return;
  OnMixerChange(this, static_cast<std::uint16_t>(facility), static_cast<std::uint16_t>(index));
  const TMixerLine::TKind kind = facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT
                                     ? TMixerLine::TKind::Stream
                                     : TMixerLine::TKind::Sink;
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER)
    return;
  for (const TMixerLine& line : FMixer.Lines()) {
    if (line.Kind == kind && line.ServerIndex == index) {
      OnMixerChange(this, static_cast<std::uint16_t>(line.Destination),
                    static_cast<std::uint16_t>(line.Index));
      return;
    }
  }
}

TMixerLine* TMixerSettings::FindLine(std::int16_t destination, std::int16_t index) {
  for (TMixerLine& line : FLines) {
    if (line.Destination == destination && line.Index == index &&
        line.Kind != TMixerLine::TKind::Mixer)
      return &line;
  }
  return nullptr;
}

bool TMixerSettings::GetLineVolume(std::int16_t destination, std::int16_t index, bool& muted,
                                   std::uint16_t& right, std::uint16_t& left) {
  TMixerLine* line = FOpened ? FindLine(destination, index) : nullptr;
  if (!line)
    return false;
  TAudio::TServer& s = *FOwner.FServer;
  auto lock = s.Lock();
  const std::optional<TServerLine> now = s.Fetch(*line);
  if (!now || line->VolumeControlID == NoMixerControl) {
    FOwner.FErrorText = VolumeGetError;
    return false;
  }
  // The default sink may have changed since the lines were listed.
  line->ServerIndex = now->Index;
  const TStereoVolume volume = ReadChannels(*now);
  left = volume.Left;
  right = now->Volume.channels == 1 ? volume.Left : volume.Right;
  if (line->MuteControlID == NoMixerControl) {
    FOwner.FErrorText = MuteGetError;
    return false;
  }
  muted = now->Mute;
  return true;
}

bool TMixerSettings::SetLineVolume(std::int16_t destination, std::int16_t index, bool muted,
                                   std::uint16_t right, std::uint16_t left) {
  TMixerLine* line = FOpened ? FindLine(destination, index) : nullptr;
  if (!line)
    return false;
  TAudio::TServer& s = *FOwner.FServer;
  auto lock = s.Lock();
  // The channel layout of the line as it is now.
  const std::optional<TServerLine> now = s.Fetch(*line);
  if (!now) {
    FOwner.FErrorText = VolumeSetError;
    return false;
  }
  line->ServerIndex = now->Index;
  const bool stream = line->Kind == TMixerLine::TKind::Stream;
  if (line->VolumeControlID != NoMixerControl) {
    const pa_cvolume volume = WriteChannels(*now, left, right);
    const bool written = s.RunSet([&](pa_context_success_cb_t cb, void* data) {
      return stream ? pa_context_set_sink_input_volume(s.Context, now->Index, &volume, cb, data)
                    : pa_context_set_sink_volume_by_index(s.Context, now->Index, &volume, cb, data);
    });
    if (!written) {
      FOwner.FErrorText = VolumeSetError;
      return false;
    }
  }
  if (line->MuteControlID == NoMixerControl)
    return true;
  const bool muteWritten = s.RunSet([&](pa_context_success_cb_t cb, void* data) {
    return stream ? pa_context_set_sink_input_mute(s.Context, now->Index, muted, cb, data)
                  : pa_context_set_sink_mute_by_index(s.Context, now->Index, muted, cb, data);
  });
  if (!muteWritten) {
    FOwner.FErrorText = MuteSetError;
    return false;
  }
  return true;
}

} // namespace melo
