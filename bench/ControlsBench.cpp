// Drawing cost of the skinned displays: a staff redraw with eight held notes and a redraw of
// every PC-keyboard label, against copying the whole window picture once (the baseline).
#include "controls/GlyphBmp.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoStaff.h"
#include "controls/SkinLayout.h"
#include "input/KoKeyDef.h"

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace melo;

namespace {

double MicrosecondsPerRun(int runs, const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i)
    work();
  const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / runs;
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!LoadGlyphLibrary(QStringLiteral(MELO_GLYPH_LIBRARY)) || !LoadSkinBitmaps()) {
    std::printf("%s\n", GlyphLibraryMissingText);
    return 0;
  }
  QWidget window;
  window.resize(SkinWidth, SkinHeight);
  TPerformanceValues values;
  FillDefaultKeyDefs(values.KeyDefs);
  TKoPCKeyboard keyboard(&window, &WorkBitmap, values);
  TKoStaff staff(&window, &WorkBitmap);

  QImage copy(WorkBitmap.size(), QImage::Format_RGB888);
  const double baseline = MicrosecondsPerRun(2000, [&] {
    std::memcpy(copy.bits(), WorkBitmap.constBits(), std::size_t(WorkBitmap.sizeInBytes()));
  });
  const TKeyNote chord[MaxKeyNotes] = {{1, 1, 2, 0, 0}, {5, 0, 2, 0, 0}, {3, 2, 3, 0, 0},
                                       {1, 0, 4, 1, 0}, {3, 0, 4, 1, 0}, {5, 1, 4, 1, 0},
                                       {7, 2, 4, 1, 0}, {2, 0, 5, 1, 0}};
  const double staffRedraw = MicrosecondsPerRun(2000, [&] {
    TKeyNote notes[MaxKeyNotes];
    std::memcpy(notes, chord, sizeof notes);
    staff.ShowNotes(notes, 3);
  });
  const double labels = MicrosecondsPerRun(200, [&] { keyboard.DrawAllLabels(); });

  std::printf("window picture copy (baseline): %8.2f us\n", baseline);
  std::printf("staff redraw, 8 notes:          %8.2f us  (%.2f x baseline)\n", staffRedraw,
              staffRedraw / baseline);
  std::printf("all 73 PC-keyboard labels:      %8.2f us  (%.2f x baseline)\n", labels,
              labels / baseline);
  return 0;
}
