// libFuzzer entry for song files of every version (run by scripts/fuzz song):
// any bytes are loaded or refused without a crash, a hang or undefined
// behaviour, and a loaded song saves to an image that loads back to itself.
// Built with MELO_FUZZ_SEEDS it writes the seed corpus instead.
#include "app/SimpleRecorder.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <cstring>
#include <string>

using namespace melo;

namespace {

std::vector<std::uint8_t> Save(TSimpleRecorder& recorder, const TSongInfo& info) {
  std::vector<std::uint8_t> image;
  recorder.SaveToStream(image, info);
  return image;
}

} // namespace

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TSimpleRecorder recorder;
  TSongInfo info{};
  if (!recorder.LoadFromStream({data, size}, info))
    return 0;
  if (recorder.IgnoredBytes() > size)
    fuzz::Fail("more bytes ignored than read");
  // What the window shows of a loaded song.
  (void)SongTitle(info).size();
  (void)SongPlayer(info).size();
  (void)SongRemark(info).size();
  (void)TableRemarks(recorder.Header.State.KeyDefs).size();
  for (std::size_t i = 0; i < recorder.Events().Count(); ++i)
    if ((recorder.Events()[i].Kind == sekKeyDefs) != (recorder.Events().KeyDefs(i) != nullptr))
      fuzz::Fail("a key-definition event without its table");

  const std::vector<std::uint8_t> image = Save(recorder, info);
  TSimpleRecorder again;
  TSongInfo infoAgain{};
  if (!again.LoadFromStream(image, infoAgain))
    fuzz::Fail("a saved song does not load");
  if (again.IgnoredBytes() != 0 || again.Events().Count() != recorder.Events().Count())
    fuzz::Fail("a saved song loads differently");
  if (Save(again, infoAgain) != image)
    fuzz::Fail("a saved song does not save to the same image");
  return 0;
}

#else

// Songs of every version: recorded ones (version 4, also with key-definition
// events), the same stamped 2 and 3, and a version-1 file.
int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  std::uint32_t now = 0;
  TSimpleRecorder recorder([&] { return now; });
  recorder.StartRecord();
  for (std::uint8_t key = 16; key < 24; ++key) {
    now += 40;
    recorder.RecordKeyDown(key);
    now += 90;
    recorder.RecordKeyUp(key);
  }
  recorder.StopRecord();
  const TSongInfo info = MakeSongInfo("Seed", "Fuzz", "A plain song");
  std::vector<std::uint8_t> plain = Save(recorder, info);
  bool ok = fuzz::WriteSeed(folder, "v4-keys.lyt", plain.data(), plain.size());
  for (std::uint8_t version : {2, 3}) {
    std::vector<std::uint8_t> old = plain;
    old[16] = version;
    ok = fuzz::WriteSeed(folder, "v" + std::to_string(version) + ".lyt", old.data(), old.size()) &&
         ok;
  }

  recorder.StartRecord();
  now += 10;
  recorder.RecordTranspose(3);
  recorder.RecordRightOctave(1);
  recorder.RecordLeftVoice(0x00010005);
  recorder.RecordRightSustain(true);
  TKeyDefTable defaults{};
  FillDefaultKeyDefs(defaults);
  recorder.RecordKeyDefs(defaults);
  recorder.RecordSmartSemitone(true);
  recorder.RecordRawMidi(0x99, 36, 100);
  recorder.RecordKeyDown(16);
  recorder.RecordEnd();
  recorder.StopRecord();
  std::vector<std::uint8_t> rich = Save(recorder, MakeSongInfo("音乐", "", ""));
  ok = fuzz::WriteSeed(folder, "v4-every-kind.lyt", rich.data(), rich.size()) && ok;

  // Version 1: a 376-byte head, then 8-byte key events.
  std::vector<std::uint8_t> v1(376, 0);
  std::memcpy(v1.data(), "MelotasticoSong", 16);
  v1[16] = 1;
  v1[372] = 4;
  const std::uint8_t events[] = {0,   0, 0, 0, 0, 16, 1, 0, 100, 0, 0, 0, 0, 16, 0, 0,
                                 200, 0, 0, 0, 0, 63, 1, 0, 44,  1, 0, 0, 1, 17, 1, 0};
  v1.insert(v1.end(), std::begin(events), std::end(events));
  ok = fuzz::WriteSeed(folder, "v1.lyt", v1.data(), v1.size()) && ok;
  return ok ? 0 : 1;
}

#endif
