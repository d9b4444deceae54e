// libFuzzer entry for recording journals (run by scripts/fuzz journal): any
// bytes are recovered or refused without a crash, a hang or undefined
// behaviour; a recovered song loads with every event it was recovered with,
// and journaling it again recovers the same song. Built with MELO_FUZZ_SEEDS
// it writes the seed corpus instead.
#include "app/RecordingJournal.h"

#include "../../platform/fuzz/FuzzFiles.h"

#include <cstring>

using namespace melo;

#ifndef MELO_FUZZ_SEEDS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TJournalSong song;
  if (!SongFromJournal({data, size}, song)) {
    if (size >= JournalHeadBytes &&
        std::memcmp(data, JournalMagic.data(), JournalMagic.size()) == 0)
      fuzz::Fail("a journal with its whole head refused");
    return 0;
  }
  if (song.EventCount * SongEventBytes > size - JournalHeadBytes)
    fuzz::Fail("more events recovered than the journal holds");
  TSimpleRecorder recorder;
  TSongInfo info{};
  if (!recorder.LoadFromStream(song.Image, info))
    fuzz::Fail("a recovered song does not load");
  if (recorder.IgnoredBytes() != 0 || recorder.Events().Count() != song.EventCount)
    fuzz::Fail("a recovered song loads other events");

  std::vector<std::uint8_t> again = JournalHead(recorder.Header, song.StartTime);
  recorder.Events().SaveToStream(again, again.size());
  TJournalSong songAgain;
  if (!SongFromJournal(again, songAgain) || songAgain.Image != song.Image ||
      songAgain.StartTime != song.StartTime)
    fuzz::Fail("a recovered song journaled again recovers differently");
  return 0;
}

#else

// A journal of every kind of event, and the same cut inside its last table.
int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::filesystem::path folder = argv[1];
  std::uint32_t now = 0;
  TSimpleRecorder recorder([&] { return now += 40; });
  recorder.Header.State = DefaultSongState();
  recorder.Header.Info = MakeSongInfo("SongTitle", "Tavrin", "SongRemark");
  recorder.StartRecord();
  recorder.RecordKeyDown(16);
  recorder.RecordTranspose(3);
  recorder.RecordRightOctave(1);
  recorder.RecordLeftVoice(0x00010005);
  recorder.RecordRightSustain(true);
  recorder.RecordSmartSemitone(true);
  recorder.RecordRawMidi(0x99, 36, 100);
  recorder.RecordKeyUp(16);
  recorder.RecordKeyDefs(recorder.Header.State.KeyDefs);
  recorder.RecordEnd();
  recorder.StopRecord();
  std::vector<std::uint8_t> journal = JournalHead(recorder.Header, 1767323045);
  recorder.Events().SaveToStream(journal, journal.size());
  bool ok = fuzz::WriteSeed(folder, "whole.journal", journal.data(), journal.size());
  // A crash in the middle of writing the end event.
  ok = fuzz::WriteSeed(folder, "cut.journal", journal.data(), journal.size() - 7) && ok;
  return ok ? 0 : 1;
}

#endif
