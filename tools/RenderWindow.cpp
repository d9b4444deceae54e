// Renders the whole window with every skinned control on it, a few keys held, notes on the
// staff and a transposed key signature, to a PNG: a look at the instrument without a display.
// Usage: melo_render_window <glyph library> <output.png>
#include "controls/GlyphBmp.h"
#include "controls/KoMainButtons.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/RoVoravKb.h"
#include "controls/SkinControls.h"
#include "controls/SkinLayout.h"
#include "input/KoKeyDef.h"
#include "music/MidiInterfaces.h"

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <cstdio>

using namespace melo;

namespace {

// Stands in for the main window: its whole client area is the work picture.
class TSkinView : public QWidget {
public:
  TSkinView() { setFixedSize(SkinWidth, SkinHeight); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(QPoint(0, 0), WorkBitmap, QRect(0, 0, SkinWidth, SkinHeight));
  }
};

struct TInstrument {
  TSkinView View;
  TPerformanceValues Values = DefaultValues();
  TSkinControls Controls = BuildSkinControls(&View, Values);

  static TPerformanceValues DefaultValues() {
    TPerformanceValues values;
    FillDefaultKeyDefs(values.KeyDefs);
    return values;
  }
};

// Transpose 2 (D major): a D major chord in the right hand over a bass fifth in the left.
void Play(TInstrument& instrument) {
  TSkinControls& m = instrument.Controls;
  m.PCKeyboard->DrawAllLabels();
  m.PCKeyboard->AllKeysUp();
  m.VolumeSlider->SetPosition(90);
  const char* texts[] = {"1=D (+2)", "0", "0", "70", "100", "0", "0"};
  for (std::size_t i = 0; i < m.SpinEdits.size(); ++i)
    m.SpinEdits[i]->SetText(QString::fromLatin1(texts[i]));
  m.Staff->SetKeySignature(2);
  const int pcKeys[] = {59, 101, 103, 99}; // B; Num-1, Num-3, Num-5
  TKeyNote held[MaxKeyNotes] = {};
  int count = 0;
  for (int key : pcKeys) {
    m.PCKeyboard->SetKeyState(key, 1);
    const TKeyNote note = instrument.Values.KeyDefs.Keys[key].Notes[0];
    held[count++] = note;
    const int midi = NoteToMidi(note) + 2;
    (note.Keyboard == LeftHand ? m.LeftKeyboard : m.RightKeyboard)->SetKeyState(midi - 24, 1);
  }
  m.Staff->ShowNotes(held, 2);
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <glyph library> <output.png>\n", argv[0]);
    return 2;
  }
  if (!LoadGlyphLibrary(QString::fromLocal8Bit(argv[1])) || !LoadSkinBitmaps()) {
    std::fprintf(stderr, "%s\n", GlyphLibraryMissingText);
    return 1;
  }
  TInstrument instrument;
  Play(instrument);
  const QImage picture = instrument.View.grab().toImage();
  if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
