#include "controls/SkinControls.h"

#include "controls/GlyphBmp.h"
#include "controls/HandCursors.h"
#include "controls/KoMainButtons.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/KoStaff.h"
#include "controls/RoVoravKb.h"
#include "sound/MasterVolume.h"

#include <QLabel>
#include <QWidget>

namespace melo {

TSkinControls::TSkinControls() = default;
TSkinControls::TSkinControls(TSkinControls&&) noexcept = default;
TSkinControls::~TSkinControls() = default;

namespace {

TKoSlider* BuildVolumeSlider(QWidget* parent) {
  auto* slider = new TKoSlider(parent);
  slider->move(VolumeSliderRect.topLeft());
  slider->SetTrackImage(&SkinBitmap, VolumeSliderRect);
  slider->SetThumbImage(&SkinBitmap, SliderThumbRect);
  slider->SetMin(0);
  slider->SetMax(MaxMasterVolume);
  slider->SetHorizontal(true);
  slider->SetThumbOffset(QPoint(0, 0));
  slider->SetTravel(VolumeSliderRect.width() - 10);
  return slider;
}

// Drawn over the skin, in the spin edits' green.
QLabel* BuildChordName(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setGeometry(ChordNameRect);
  label->setAlignment(Qt::AlignCenter);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  label->setStyleSheet(QStringLiteral("color: #3cff3c; font-weight: bold; font-size: 15px;"));
  return label;
}

} // namespace

TSkinControls BuildSkinControls(QWidget* parent, const TPerformanceValues& values,
                                QImage* workBitmap) {
  TSkinControls c;
  c.PCKeyboard = std::make_unique<TKoPCKeyboard>(parent, workBitmap, values);
  c.RightKeyboard = std::make_unique<TRoVoravKb>(parent, workBitmap, PianoLeftX, RightPianoTop);
  c.RightKeyboard->SetCursor(crRightHand);
  c.LeftKeyboard = std::make_unique<TRoVoravKb>(parent, workBitmap, PianoLeftX, LeftPianoTop);
  c.LeftKeyboard->SetCursor(crLeftHand);
  c.MainButtons = std::make_unique<TKoMainButtons>(parent, workBitmap);
  for (int i = 0; i < MainButtonCount; ++i)
    c.MainButtons->SetEnabled(i, i != mbSave && i != mbPlay);
  c.VolumeSlider = BuildVolumeSlider(parent);
  c.ChordName = BuildChordName(parent);
  c.Staff = std::make_unique<TKoStaff>(parent, workBitmap);
  for (int i = 0; i < SpinEditCount; ++i) {
    const TSpinEditPlace& s = SpinEditPlaces[static_cast<std::size_t>(i)];
    c.SpinEdits[static_cast<std::size_t>(i)] =
        std::make_unique<TKoSpinEdit>(parent, s.Top, s.Left, s.Height, s.Width, &SkinBitmap);
  }
  for (QWidget* child : parent->findChildren<QWidget*>())
    child->setFocusPolicy(Qt::NoFocus);
  return c;
}

} // namespace melo
