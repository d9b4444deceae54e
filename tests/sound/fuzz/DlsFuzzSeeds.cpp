// Writes small DLS files into the folder given as argument: the seeds the
// fuzzer starts from.
#include "sound/DlsWriter.h"

#include "../DlsTestSets.h"

#include <string>

using namespace melo;
using namespace melo::test;

namespace {

TDlsCollection Tiny(bool level2) {
  TDlsCollection c;
  c.Waves.push_back(LoopedSine(441.0, 4410, 2, 69));
  c.Waves.push_back(LoopedSine(441.0, 4410, 2, 60, false, 8));
  TDlsWave stereo = LoopedSine(882.0, 4410, 2, 81);
  stereo.Channels.push_back(stereo.Channels[0]);
  c.Waves.push_back(stereo);
  TDlsRegion soft = Region(0, 0, 63, 0, 63), loud = Region(2, 0, 63, 64, 127);
  TDlsRegion high = Region(1, 64, 127);
  high.HasSampleInfo = true;
  high.SampleInfo.Looped = true;
  high.SampleInfo.LoopLength = 5;
  high.KeyGroup = 2;
  c.Instruments.push_back(Instrument(0, 1, "Tiny", {soft, loud, high}, level2));
  c.Instruments.push_back(Instrument(DlsDrumFlag, 0, "Kit", {Region(1, 35, 40)}, level2));
  c.Instruments[0].Connections = {Conn(CONN_DST_EG1_ATTACKTIME, -2400 * 65536),
                                  Conn(CONN_DST_ATTENUATION, -960 * 65536, CONN_SRC_KEYONVELOCITY,
                                       CONN_SRC_NONE, CONN_TRN_CONCAVE)};
  c.Instruments[0].Regions[0].Connections = {Conn(CONN_DST_PAN, 200 * 65536)};
  return c;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  const std::string folder = argv[1];
  bool ok = SaveDlsFile(Tiny(false), folder + "/level1.dls");
  ok = SaveDlsFile(Tiny(true), folder + "/level2.dls") && ok;
  return ok ? 0 : 1;
}
