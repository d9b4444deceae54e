#include "app/VideoExport.h"

#include "controls/GlyphBmp.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/SkinControls.h"
#include "input/KoKeyDef.h"
#include "platform/FileBytes.h"
#include "sound/VideoEncoder.h"

#include <QPainter>

#include <ostream>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace melo {
namespace {

constexpr int CaptionHeight = 22;
constexpr int StartVolume = 50; // where the window puts its slider at start
const QColor CaptionColour(10, 36, 106);

// What the staff shows after a frame: notes, or nothing at all.
struct TStaffLater {
  TKeyNote Notes[MaxKeyNotes] = {};
  int Transpose = 0;
  bool Clear = false;
};

int EvenUp(int size) {
  return (size + 1) / 2 * 2;
}

} // namespace

std::uint64_t SampleOfFrame(std::uint64_t frame, int framesPerSecond) {
  const auto fps = static_cast<std::uint64_t>(framesPerSecond);
  return (frame * TKoOfflineRenderer::SampleRate * 2 + fps) / (2 * fps);
}

// The window's client area: its own copy of the skin, with the controls on it.
class TSongPicture::THost final : public QWidget {
public:
  THost() : FWork(SkinBitmap.copy()), Controls(Build(this, FValues, FWork)) {
    setFixedSize(SkinWidth, SkinHeight);
    QFont shown(QStringLiteral("宋体"));
    shown.setPixelSize(12);
    setFont(shown);
    Controls.PCKeyboard->DrawAllLabels();
    Controls.PCKeyboard->AllKeysUp();
    Controls.VolumeSlider->SetPosition(StartVolume);
  }

private:
  QImage FWork;
  TPerformanceValues FValues;

public:
  TSkinControls Controls;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(QPoint(0, 0), FWork, QRect(0, 0, SkinWidth, SkinHeight));
  }

private:
  static TSkinControls Build(QWidget* host, TPerformanceValues& values, QImage& work) {
    FillDefaultKeyDefs(values.KeyDefs);
    return BuildSkinControls(host, values, &work);
  }
};

// Shows what the window's view shows, and notes whether anything changed. A
// key released in the same frame it was lit in (alone or with all keys) is
// released after the frame.
class TSongPicture::TView final : public TControlsView {
public:
  bool Changed = true;

  void ShowTranspose(int transpose, std::uint8_t keySignature, const std::string& text) override {
    Changed = true;
    TControlsView::ShowTranspose(transpose, keySignature, text);
  }
  void ShowOctave(int hand, int octave, const std::string& text) override {
    Changed = true;
    TControlsView::ShowOctave(hand, octave, text);
  }
  void ShowVelocity(int hand, const std::string& text) override {
    Changed = true;
    TControlsView::ShowVelocity(hand, text);
  }
  void ShowVoice(int hand, const std::string& text) override {
    Changed = true;
    TControlsView::ShowVoice(hand, text);
  }
  void ShowSmartSemitone(bool on) override {
    Changed = true;
    TControlsView::ShowSmartSemitone(on);
  }
  void ShowChordName(const std::string& name) override {
    Changed = true;
    TControlsView::ShowChordName(name);
  }
  void ShowKeyDefs() override {
    Changed = true;
    TControlsView::ShowKeyDefs();
  }
  void ReleasePianoKeys() override {
    Changed = true;
    TControlsView::ReleasePianoKeys();
    for (const auto& [hand, note] : FLitPianoKeys) {
      TControlsView::ShowPianoKey(hand, note, 1);
      FHeldPianoKeys.insert({hand, note});
    }
  }
  void ReleasePCKeys() override {
    Changed = true;
    TControlsView::ReleasePCKeys();
    for (int key : FLitPCKeys) {
      TControlsView::ShowPCKey(key, 1);
      FHeldPCKeys.insert(key);
    }
  }
  void PlayingChanged(bool on) override {
    Changed = true;
    ShowPlayButton(on);
    SetEditsEnabled(!on);
    ShowButtons(on, false, false, true);
  }

  void ShowPCKey(int keyIndex, std::uint8_t state) override {
    Changed = true;
    if (Hold(FLitPCKeys, FHeldPCKeys, keyIndex, state))
      TControlsView::ShowPCKey(keyIndex, state);
  }
  void ShowPianoKey(int hand, int note, std::uint8_t state) override {
    Changed = true;
    if (Hold(FLitPianoKeys, FHeldPianoKeys, std::pair{hand, note}, state))
      TControlsView::ShowPianoKey(hand, note, state);
  }
  // The staff shows the most notes it was given in a frame; what it was given
  // last shows after the frame.
  void ShowStaff(const TKeyNote (&notes)[MaxKeyNotes], int transpose) override {
    Changed = true;
    const auto count = std::count_if(std::begin(notes), std::end(notes),
                                     [](const TKeyNote& note) { return note.Degree != 0; });
    FStaffLater.reset();
    if (count >= FStaffMost) {
      FStaffMost = count;
      TControlsView::ShowStaff(notes, transpose);
      return;
    }
    FStaffLater.emplace();
    std::copy(std::begin(notes), std::end(notes), std::begin(FStaffLater->Notes));
    FStaffLater->Transpose = transpose;
  }
  void ClearStaff() override {
    Changed = true;
    FStaffLater.reset();
    if (FStaffMost == 0) {
      TControlsView::ClearStaff();
      return;
    }
    FStaffLater.emplace();
    FStaffLater->Clear = true;
  }

  // After a frame: what was held for it is released.
  void FrameDrawn() {
    for (int key : FHeldPCKeys)
      TControlsView::ShowPCKey(key, 0);
    for (const auto& [hand, note] : FHeldPianoKeys)
      TControlsView::ShowPianoKey(hand, note, 0);
    if (FStaffLater && FStaffLater->Clear) {
      TControlsView::ClearStaff();
    } else if (FStaffLater) {
      TControlsView::ShowStaff(FStaffLater->Notes, FStaffLater->Transpose);
    }
    Changed = !FHeldPCKeys.empty() || !FHeldPianoKeys.empty() || FStaffLater.has_value();
    FLitPCKeys.clear();
    FHeldPCKeys.clear();
    FLitPianoKeys.clear();
    FHeldPianoKeys.clear();
    FStaffMost = 0;
    FStaffLater.reset();
  }

private:
  // Notes a key lit in this frame; false for its release, which is held.
  template <typename TKey>
  static bool Hold(std::set<TKey>& lit, std::set<TKey>& held, const TKey& key, std::uint8_t state) {
    if (state != 0) {
      lit.insert(key);
      held.erase(key);
      return true;
    }
    if (!lit.contains(key))
      return true;
    held.insert(key);
    return false;
  }

  std::set<int> FLitPCKeys, FHeldPCKeys;
  std::set<std::pair<int, int>> FLitPianoKeys, FHeldPianoKeys;
  std::ptrdiff_t FStaffMost = 0;
  std::optional<TStaffLater> FStaffLater;
};

TSongPicture::TSongPicture(int scale, const QString& caption)
    : FHost(std::make_unique<THost>()), FView(std::make_unique<TView>()), FScale(scale),
      FCaption(caption),
      FImage(EvenUp(SkinWidth * scale), EvenUp((SkinHeight + CaptionHeight) * scale),
             QImage::Format_RGB32) {
  TSkinControls& c = FHost->Controls;
  TShownControls shown{c.PCKeyboard.get(),
                       c.LeftKeyboard.get(),
                       c.RightKeyboard.get(),
                       c.MainButtons.get(),
                       c.Staff.get(),
                       c.ChordName,
                       {}};
  for (std::size_t i = 0; i < shown.SpinEdits.size(); ++i)
    shown.SpinEdits[i] = c.SpinEdits[i].get();
  FView->SetControls(shown);
  FImage.fill(Qt::black);
}

TSongPicture::~TSongPicture() = default;

TPerformanceView& TSongPicture::View() {
  return *FView;
}

bool TSongPicture::Changed() const {
  return FView->Changed;
}

const QImage& TSongPicture::Draw() {
  {
    QPainter painter(&FImage);
    painter.scale(FScale, FScale);
    painter.fillRect(QRect(0, 0, SkinWidth, CaptionHeight), CaptionColour);
    QFont font = FHost->font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(6, 0, SkinWidth - 12, CaptionHeight), Qt::AlignVCenter | Qt::AlignLeft,
                     FCaption);
    FHost->render(&painter, QPoint(0, CaptionHeight));
  }
  FView->FrameDrawn();
  return FImage;
}

namespace {

// The picture and the sound, frame by frame into the encoder as the sound is rendered.
class TVideoRun {
public:
  TVideoRun(TOfflineSongPlay& play, TSongPicture& picture, TVideoEncoder& encoder, int fps)
      : FPlay(play), FPicture(picture), FEncoder(encoder), FFps(fps) {}

  bool Sound(const float* left, const float* right, std::size_t n) {
    if (!FEncoder.WriteAudio(left, right, n))
      return false;
    FSamples += n;
    // Every frame whose instant the sound has reached.
    while (SampleOfFrame(FFrame, FFps) < FSamples) {
      if (!Frame(SampleOfFrame(FFrame, FFps)))
        return false;
      ++FFrame;
    }
    return true;
  }

private:
  bool Frame(std::uint64_t sample) {
    while (!FPlay.Ended() && TKoOfflineRenderer::FrameOfTime(FPlay.NextTime()) <= sample)
      FPlay.PlayNext();
    if (!FPicture.Changed())
      return FEncoder.RepeatFrame();
    const QImage& image = FPicture.Draw();
    return FEncoder.WriteFrame(image.constBits(), image.bytesPerLine());
  }

  TOfflineSongPlay& FPlay;
  TSongPicture& FPicture;
  TVideoEncoder& FEncoder;
  int FFps;
  std::uint64_t FSamples = 0;
  std::uint64_t FFrame = 0;
};

} // namespace

TExportResult ExportSongVideo(const TSongHeader& header, const TSimpleBuffer& events,
                              const std::filesystem::path& fileName, const TRenderSetup& setup,
                              const TVideoOptions& options, const QString& songName,
                              const TRenderProgress& progress) {
  TVideoContainer container{};
  if (!VideoContainerOf(fileName, container))
    return TExportResult::WriteFailed;
  if (SongEndTime(events) > MaxExportMs)
    return TExportResult::TooLong;
  TKoOfflineRenderer renderer(setup);
  if (!renderer.SoundSetLoaded())
    return TExportResult::NoSoundSet;
  const TSoundSetVoices voices(renderer.Instruments());
  const std::vector<TTimedMidiMessage> messages = PlaySongOffline(header, events, voices);

  TSongPicture picture(options.Scale, QStringLiteral("Melotastico - %1").arg(songName));
  TTimedMidiCollector unheard; // the picture's performance: its messages are already rendered
  TOfflineSongPlay play(header, events, voices, unheard, &picture.View());
  TVideoSettings settings;
  settings.Container = container;
  settings.Width = picture.Size().width();
  settings.Height = picture.Size().height();
  settings.FramesPerSecond = options.FramesPerSecond;
  settings.SampleRate = TKoOfflineRenderer::SampleRate;
  settings.Title = SongTitle(header.Info);
  settings.Artist = SongPlayer(header.Info);
  settings.Comment = SongRemark(header.Info);

  TRenderResult result = TRenderResult::WriteFailed;
  const bool written =
      WriteFileReplacingWith(fileName, [&](const std::filesystem::path& temporary) {
        std::string error;
        const std::unique_ptr<TVideoEncoder> encoder =
            TVideoEncoder::Open(temporary, settings, error);
        if (!encoder) {
          // The result says only that nothing was written; the terminal says why.
          std::fprintf(stderr, "Melotastico: %s cannot be written: %s\n", fileName.c_str(),
                       error.c_str());
          return false;
        }
        TVideoRun run(play, picture, *encoder, options.FramesPerSecond);
        result = renderer.RenderInto(
            messages,
            [&run](const float* left, const float* right, std::size_t n) {
              return run.Sound(left, right, n);
            },
            progress);
        if (result == TRenderResult::Done && !encoder->Finish())
          result = TRenderResult::WriteFailed;
        return result == TRenderResult::Done;
      });
  if (!written && result == TRenderResult::Done)
    result = TRenderResult::WriteFailed;
  return ExportResultOf(result);
}

int RunVideoExportCommand(const TCommandLine& command, std::ostream& err) {
  TSimpleRecorder song;
  if (!LoadSongArgument(command.Song, song, err))
    return ExitFailure;
  if (!LoadSkinBitmaps()) {
    err << "melotastico: " << GlyphLibraryMissingText << "\n";
    return ExitFailure;
  }
  const TVideoOptions options{command.FramesPerSecond, command.VideoScale};
  const QString songName =
      QString::fromStdString(std::filesystem::path(command.Song).filename().string());
  return ExportExitCode(ExportSongVideo(song.Header, song.Events(), command.Output,
                                        ExportSetupFromSettings(err), options, songName,
                                        TerminalProgress(err)),
                        command.Output, err);
}

} // namespace melo
