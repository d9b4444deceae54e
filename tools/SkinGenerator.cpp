// Draws the two pictures of the glyph library from the window layout the controls use:
//   RES_TOTALBMP  the window with every control up, and 621 pixels to the right with every
//                 control down (plus the volume slider's thumb);
//   RES_STAFFMASK the glyph mask, black glyphs on white (the red channel is the transparency).
// Usage: melo_skingen <output folder> [en]. Run with QT_QPA_PLATFORM=offscreen at build time.
// The labels painted on the panel are Chinese, or English with "en": each language gets its own
// glyph library, so the window draws the same way in both.
#include "controls/SkinLayout.h"
#include "input/KoKeyDef.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

using namespace melo;

namespace {

// ---- The painted labels, per language ----------------------------------------------------------
struct TSkinTexts {
  QString Volume, Transpose, Octave, Velocity, Voice, LeftHand, RightHand, Subtitle, LeftLegend,
      RightLegend;
};

const TSkinTexts ChineseTexts{"音量", "移调", "八度",     "力度",    "音色",
                              "左手", "右手", "模拟钢琴", "左手  L", "右手  R"};
const TSkinTexts EnglishTexts{"Volume", "Transpose", "Octave",        "Velocity", "Voice",
                              "Left",   "Right",     "Virtual Piano", "Left  L",  "Right  R"};
const TSkinTexts* Texts = &ChineseTexts;

// ---- Every colour and size of the pictures --------------------------------------------------
struct TTheme {
  QColor BodyTop{0x34, 0x39, 0x41};
  QColor BodyBottom{0x22, 0x26, 0x2c};
  QColor BodyHighlight{0x4a, 0x50, 0x59};
  QColor Recess{0x18, 0x1b, 0x20};
  QColor RecessEdge{0x0e, 0x10, 0x13};

  QColor KeyCapTop{0xf4, 0xf1, 0xea};
  QColor KeyCapBottom{0xdc, 0xd8, 0xcf};
  QColor KeyCapDownTop{0xf6, 0xd3, 0x8c};
  QColor KeyCapDownBottom{0xe8, 0xb5, 0x5e};
  QColor KeyCapEdge{0x8e, 0x8a, 0x82};
  QColor KeyLegend{0xa3, 0x9e, 0x93};
  QColor FixedKeyTop{0xc9, 0xcd, 0xd3};
  QColor FixedKeyBottom{0xad, 0xb2, 0xba};
  QColor FixedKeyLegend{0x4b, 0x50, 0x58};

  QColor WhiteKeyTop{0xfb, 0xf9, 0xf3};
  QColor WhiteKeyBottom{0xe2, 0xde, 0xd4};
  QColor WhiteKeyDownTop{0xf7, 0xd9, 0x9c};
  QColor WhiteKeyDownBottom{0xec, 0xb9, 0x62};
  QColor WhiteKeySeparator{0x7a, 0x76, 0x6e};
  QColor BlackKeyTop{0x3a, 0x3d, 0x43};
  QColor BlackKeyBottom{0x0c, 0x0d, 0x0f};
  QColor BlackKeyDownTop{0xb0, 0x76, 0x22};
  QColor BlackKeyDownBottom{0x6a, 0x42, 0x0c};
  QColor KeyFelt{0x7d, 0x1f, 0x2a};

  QColor ButtonTop{0x4d, 0x54, 0x5e};
  QColor ButtonBottom{0x33, 0x38, 0x40};
  QColor ButtonDownTop{0x22, 0x26, 0x2c};
  QColor ButtonDownBottom{0x2c, 0x31, 0x38};
  QColor ButtonEdge{0x15, 0x17, 0x1a};
  QColor ButtonText{0xe6, 0xe9, 0xee};
  QColor ButtonDownText{0xf2, 0xc0, 0x66};

  QColor StaffBack{0x12, 0x16, 0x1d};
  QColor StaffLine{0x5e, 0x68, 0x75};
  QColor Clef{0x9a, 0xa6, 0xb5};
  QColor PanelText{0xb4, 0xbc, 0xc7};
  QColor PanelTextDim{0x7c, 0x85, 0x91};
  QColor Title{0xe8, 0xec, 0xf1};
  QColor LeftHand{0xff, 0x99, 0x00};  // the left hand's note colour on the staff
  QColor RightHand{0xff, 0xff, 0x00}; // the right hand's note colour on the staff

  QColor SliderGroove{0x0c, 0x0e, 0x11};
  QColor SliderFill{0x4f, 0x9d, 0xd6};
  QColor SliderTick{0x6a, 0x73, 0x7f};
  QColor ThumbTop{0xf0, 0xf2, 0xf5};
  QColor ThumbBottom{0xb9, 0xc0, 0xc9};
  QColor ArrowFace{0x44, 0x4a, 0x53};
  QColor ArrowFaceDown{0xe8, 0xb5, 0x5e};
  QColor ArrowMark{0xd8, 0xdd, 0xe3};
  QColor ArrowMarkDown{0x22, 0x26, 0x2c};

  QString UiFamily = "DejaVu Sans";
  QString CjkFamily = "WenQuanYi Micro Hei";
  int ButtonTextPx = 12;
  int KeyLegendPx = 7;
  int FixedLegendPx = 8;
  int PanelTextPx = 12;
  int HandTextPx = 10;
  int TitlePx = 17;
  int MaskPCDigitPx = 11;
  int MaskStaffDigitPx = 21;
};

const TTheme Theme;

QFont Font(const QString& family, int pixelSize, bool bold = false) {
  QFont font(family);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

QLinearGradient Vertical(const QRectF& r, const QColor& top, const QColor& bottom) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  return g;
}

void Recess(QPainter& p, const QRectF& r, qreal radius = 5) {
  p.setPen(QPen(Theme.RecessEdge, 1));
  p.setBrush(Theme.Recess);
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
  p.setPen(QPen(Theme.BodyHighlight, 1));
  p.drawLine(QPointF(r.left() + radius, r.bottom() + 0.5),
             QPointF(r.right() - radius, r.bottom() + 0.5));
}

// ---- Body and button bar --------------------------------------------------------------------
void DrawBody(QPainter& p) {
  const QRectF all(0, 0, SkinWidth, SkinHeight);
  p.fillRect(all, Vertical(all, Theme.BodyTop, Theme.BodyBottom));
  p.setPen(QPen(Theme.BodyHighlight, 1));
  p.drawLine(QPointF(0, 0.5), QPointF(SkinWidth, 0.5));
  p.setPen(QPen(Theme.RecessEdge, 1));
  p.drawLine(QPointF(6, 42.5), QPointF(SkinWidth - 6, 42.5));
  p.drawLine(QPointF(6, 275.5), QPointF(SkinWidth - 6, 275.5));
}

void DrawButton(QPainter& p, int index, bool down) {
  const QRectF r = MainButtonRect(index);
  p.setPen(QPen(Theme.ButtonEdge, 1));
  p.setBrush(down ? Vertical(r, Theme.ButtonDownTop, Theme.ButtonDownBottom)
                  : Vertical(r, Theme.ButtonTop, Theme.ButtonBottom));
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
  if (!down) {
    p.setPen(QPen(Theme.BodyHighlight.lighter(130), 1));
    p.drawLine(QPointF(r.left() + 5, r.top() + 1.5), QPointF(r.right() - 5, r.top() + 1.5));
  }
  p.setFont(Font(Theme.UiFamily, Theme.ButtonTextPx, true));
  p.setPen(down ? Theme.ButtonDownText : Theme.ButtonText);
  p.drawText(r.translated(down ? 1 : 0, down ? 1 : 0), Qt::AlignCenter, MainButtonWords[index]);
}

// ---- PC keyboard ----------------------------------------------------------------------------
QString ShortKeyName(int index) {
  QString name = QString::fromLatin1(KeyNames[index].data(), int(KeyNames[index].size()));
  static const QList<QPair<QString, QString>> shortNames = {
      {"Num-NumLock", "Num"},  {"Num-Enter", "Ent"},    {"Insert", "Ins"},
      {"Delete", "Del"},       {"PageUp", "PgUp"},      {"PageDown", "PgDn"},
      {"Up", "\u2191"},        {"Down", "\u2193"},      {"Left", "\u2190"},
      {"Right", "\u2192"},     {"Backspace", "\u2190"}, {"Capslock", "Caps"},
      {"LShift", "Shift"},     {"RShift", "Shift"},     {"LControl", "Ctrl"},
      {"RControl", "Ctrl"},    {"LWin", "Win"},         {"RWin", "Win"},
      {"LAlt", "Alt"},         {"RAlt", "Alt"},         {"PrintScreen", "PrtSc"},
      {"ScrollLock", "ScrLk"}, {"Space", ""},           {"WakeUp", "Wake"},
      {"Power", "Pwr"},        {"Sleep", "Slp"}};
  for (const auto& [full, shortName] : shortNames) {
    if (name == full)
      return shortName;
  }
  if (name.startsWith("Num-"))
    return name.mid(4);
  return name;
}

// Keys that play nothing: drawn on the picture only (no control lies over them).
struct TFixedKey {
  int Index;
  QRect Rect;
};
const QList<TFixedKey> FixedKeys = {
    {0, {11, 52, 24, 20}},    {1, {65, 52, 24, 20}},     {2, {92, 52, 24, 20}},
    {3, {119, 52, 24, 20}},   {4, {146, 52, 24, 20}},    {5, {185, 52, 24, 20}},
    {6, {212, 52, 24, 20}},   {7, {239, 52, 24, 20}},    {8, {266, 52, 24, 20}},
    {9, {305, 52, 24, 20}},   {10, {332, 52, 24, 20}},   {11, {359, 52, 24, 20}},
    {12, {386, 52, 24, 20}},  {77, {422, 52, 24, 20}},   {78, {449, 52, 24, 20}},
    {79, {476, 52, 24, 20}},  {76, {534, 52, 24, 20}},   {75, {561, 52, 24, 20}},
    {74, {588, 52, 24, 20}},  {13, {11, 80, 24, 20}},    {27, {389, 80, 28, 20}},
    {28, {11, 102, 39, 20}},  {42, {11, 125, 51, 20}},   {54, {11, 147, 63, 20}},
    {65, {347, 147, 70, 20}}, {66, {11, 170, 34, 20}},   {67, {48, 170, 27, 20}},
    {68, {78, 170, 30, 20}},  {69, {111, 170, 180, 20}}, {70, {294, 170, 30, 20}},
    {71, {327, 170, 27, 20}}, {72, {357, 170, 27, 20}},  {73, {387, 170, 30, 20}}};

void DrawKeyCap(QPainter& p, const QPainterPath& shape, const QRectF& r, const QColor& top,
                const QColor& bottom) {
  p.setPen(QPen(Theme.KeyCapEdge, 1));
  p.setBrush(Vertical(r, top, bottom));
  p.drawPath(shape);
}

QPainterPath RoundedKey(const QRectF& r) {
  QPainterPath path;
  path.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  return path;
}

void DrawFixedKey(QPainter& p, const TFixedKey& key) {
  QPainterPath shape = RoundedKey(key.Rect);
  DrawKeyCap(p, shape, key.Rect, Theme.FixedKeyTop, Theme.FixedKeyBottom);
  p.setFont(Font(Theme.UiFamily, Theme.FixedLegendPx));
  p.setPen(Theme.FixedKeyLegend);
  p.drawText(QRectF(key.Rect).adjusted(2, 1, -2, -1), Qt::AlignCenter, ShortKeyName(key.Index));
}

// The L-shaped Enter key beside the letter rows.
void DrawEnterKey(QPainter& p) {
  QPainterPath shape;
  shape.moveTo(377.5, 102.5);
  shape.lineTo(416.5, 102.5);
  shape.lineTo(416.5, 144.5);
  shape.lineTo(362.5, 144.5);
  shape.lineTo(362.5, 125.5);
  shape.lineTo(377.5, 125.5);
  shape.closeSubpath();
  DrawKeyCap(p, shape, QRectF(362, 102, 55, 43), Theme.FixedKeyTop, Theme.FixedKeyBottom);
  p.setFont(Font(Theme.UiFamily, Theme.FixedLegendPx));
  p.setPen(Theme.FixedKeyLegend);
  p.drawText(QRectF(362, 125, 55, 20), Qt::AlignCenter, "Enter");
}

void DrawPlayableKey(QPainter& p, int index, bool down) {
  const QRect r = PCKeyRect(index);
  DrawKeyCap(p, RoundedKey(r), r, down ? Theme.KeyCapDownTop : Theme.KeyCapTop,
             down ? Theme.KeyCapDownBottom : Theme.KeyCapBottom);
  // The key's own name, small in the corner: the note label takes the middle.
  p.setFont(Font(Theme.UiFamily, Theme.KeyLegendPx));
  p.setPen(down ? Theme.KeyCapEdge : Theme.KeyLegend);
  p.drawText(QRectF(r.left() + 2, r.top() + 1, r.width() - 3, 9), Qt::AlignLeft | Qt::AlignTop,
             ShortKeyName(index));
}

void DrawPCKeyboard(QPainter& p, bool down) {
  Recess(p, QRectF(5, 47, 611, 148), 6);
  for (const TFixedKey& key : FixedKeys)
    DrawFixedKey(p, key);
  DrawEnterKey(p);
  for (int i = 0; i < KeyCount; ++i) {
    if (!PCKeyRect(i).isEmpty())
      DrawPlayableKey(p, i, down);
  }
}

// ---- Piano keyboards ------------------------------------------------------------------------
void DrawPiano(QPainter& p, int y, bool down, const QColor& handColour, const QString& hand) {
  const int x = PianoLeftX;
  for (int w = 0; w < PianoWhiteKeyCount; ++w) {
    const QRectF key(x + 14 * w, y, 14, 26);
    p.fillRect(key, down ? Vertical(key, Theme.WhiteKeyDownTop, Theme.WhiteKeyDownBottom)
                         : Vertical(key, Theme.WhiteKeyTop, Theme.WhiteKeyBottom));
    p.fillRect(QRectF(key.left(), key.top(), 1, key.height()), Theme.WhiteKeySeparator);
  }
  p.fillRect(QRectF(x + 602, y, 1, 26), Theme.WhiteKeySeparator);
  for (int k = 0; k < PianoBlackKeyCount; ++k) {
    const QRectF key = BlackKeyRect(x, y, k);
    p.fillRect(key, down ? Vertical(key, Theme.BlackKeyDownTop, Theme.BlackKeyDownBottom)
                         : Vertical(key, Theme.BlackKeyTop, Theme.BlackKeyBottom));
    p.fillRect(QRectF(key.left() + 2, key.bottom() - 2, key.width() - 4, 1),
               down ? Theme.BlackKeyDownTop.lighter(120) : Theme.BlackKeyTop.lighter(140));
  }
  p.setFont(Font(Theme.UiFamily, 8, true));
  p.setPen(handColour);
  p.drawText(QRectF(612, y, 9, 26), Qt::AlignCenter, hand);
}

void DrawPianos(QPainter& p, bool down) {
  Recess(p, QRectF(5, 206, 611, 64), 4);
  p.fillRect(QRectF(PianoLeftX, RightPianoTop - 3, 603, 3), Theme.KeyFelt);
  DrawPiano(p, RightPianoTop, down, Theme.RightHand, "R");
  p.fillRect(QRectF(PianoLeftX, LeftPianoTop - 1, 603, 1), Theme.RecessEdge);
  DrawPiano(p, LeftPianoTop, down, Theme.LeftHand, "L");
}

// ---- Staff ----------------------------------------------------------------------------------
// Line centres of the grand staff, measured from the staff display's top.
constexpr std::array<int, 5> TrebleLines = {28, 38, 48, 57, 66};
constexpr std::array<int, 5> BassLines = {85, 95, 103, 113, 121};

QPainterPath TrebleClef() {
  // Drawn in a box 0..20 wide around the G line (y 0), spanning the staff and a little more.
  QPainterPath clef;
  clef.moveTo(10, 34);
  clef.cubicTo(4, 36, 2, 30, 6, 28);
  clef.cubicTo(9, 27, 11, 30, 9, 32);
  clef.moveTo(10, 34);
  clef.cubicTo(12, 20, 11, -6, 9, -30);
  clef.cubicTo(8, -40, 17, -42, 15, -30);
  clef.cubicTo(13, -18, 0, -12, 0, 2);
  clef.cubicTo(0, 12, 16, 14, 17, 4);
  clef.cubicTo(18, -4, 8, -8, 6, 0);
  clef.cubicTo(5, 4, 8, 7, 10, 7);
  return clef;
}

QPainterPath BassClef() {
  // Around the F line (y 0).
  QPainterPath clef;
  clef.moveTo(2, -1);
  clef.cubicTo(0, -10, 16, -12, 17, -2);
  clef.cubicTo(18, 8, 8, 16, 0, 20);
  clef.addEllipse(QPointF(4, -1), 2.8, 2.8);
  clef.addEllipse(QPointF(22, -4), 1.6, 1.6);
  clef.addEllipse(QPointF(22, 4), 1.6, 1.6);
  return clef;
}

void DrawStaff(QPainter& p) {
  const QRectF panel(9, 279, 163, 154);
  Recess(p, panel, 5);
  p.fillRect(panel.adjusted(2, 2, -2, -2), Theme.StaffBack);
  const int top = StaffDisplayRect.top();
  p.setPen(QPen(Theme.StaffLine, 1));
  for (int line : TrebleLines)
    p.drawLine(QPointF(14, top + line + 0.5), QPointF(168, top + line + 0.5));
  for (int line : BassLines)
    p.drawLine(QPointF(14, top + line + 0.5), QPointF(168, top + line + 0.5));
  p.drawLine(QPointF(14.5, top + TrebleLines[0]), QPointF(14.5, top + BassLines[4] + 1));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Theme.Clef, 1.8, Qt::SolidLine, Qt::RoundCap));
  QTransform treble;
  treble.translate(24, top + TrebleLines[3]);
  treble.scale(0.78, 0.78);
  p.drawPath(treble.map(TrebleClef()));
  p.setPen(QPen(Theme.Clef, 2.2, Qt::SolidLine, Qt::RoundCap));
  QPainterPath bass = BassClef();
  p.drawPath(bass.translated(21, top + BassLines[1]));

  const QRectF numbers(214, 279, 58, 154);
  Recess(p, numbers, 5);
  p.fillRect(numbers.adjusted(2, 2, -2, -2), Theme.StaffBack);
}

// ---- Slider and spin edits ------------------------------------------------------------------
void DrawSliderTrack(QPainter& p) {
  const QRectF r = VolumeSliderRect;
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(Theme.SliderGroove);
  p.drawRoundedRect(QRectF(r.left() + 3, r.top() + 7.5, r.width() - 6, 4), 2, 2);
  p.setBrush(Theme.SliderFill);
  p.drawRoundedRect(QRectF(r.left() + 3, r.top() + 8.5, r.width() - 6, 2), 1, 1);
  p.setPen(QPen(Theme.SliderTick, 1));
  for (int i = 0; i <= 10; ++i) {
    const qreal x = r.left() + 4.5 + i * (r.width() - 9) / 10.0;
    p.drawLine(QPointF(x, r.top() + 14), QPointF(x, r.top() + (i % 5 == 0 ? 18 : 16)));
  }
}

void DrawSliderThumb(QPainter& p) {
  const QRectF thumb = SliderThumbRect.translated(-DownOffset, 0); // drawn in the down picture
  p.setPen(QPen(Theme.ButtonEdge, 1));
  p.setBrush(Vertical(thumb, Theme.ThumbTop, Theme.ThumbBottom));
  p.drawRoundedRect(thumb.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
  p.setPen(QPen(Theme.SliderTick, 1));
  for (int i = 0; i < 3; ++i) {
    p.drawLine(QPointF(thumb.left() + 2, thumb.top() + 7.5 + 2 * i),
               QPointF(thumb.right() - 2, thumb.top() + 7.5 + 2 * i));
  }
}

void DrawArrow(QPainter& p, const QRectF& r, bool up, bool down) {
  p.setPen(QPen(Theme.ButtonEdge, 1));
  p.setBrush(down ? Theme.ArrowFaceDown : Theme.ArrowFace);
  p.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
  const QPointF c = r.center();
  QPolygonF mark;
  if (up) {
    mark << QPointF(c.x() - 3, c.y() + 1.5) << QPointF(c.x() + 3, c.y() + 1.5)
         << QPointF(c.x(), c.y() - 2);
  } else {
    mark << QPointF(c.x() - 3, c.y() - 1.5) << QPointF(c.x() + 3, c.y() - 1.5)
         << QPointF(c.x(), c.y() + 2);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(down ? Theme.ArrowMarkDown : Theme.ArrowMark);
  p.drawPolygon(mark);
}

void DrawSpinEdits(QPainter& p, bool down) {
  for (const TSpinEditPlace& s : SpinEditPlaces) {
    const QRectF box(s.Left - 2, s.Top - 2, s.Width + SpinArrowWidth + 4, s.Height + 4);
    p.setPen(QPen(Theme.RecessEdge, 1));
    p.setBrush(Qt::black);
    p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    const int arrowX = s.Left + s.Width;
    DrawArrow(p, QRectF(arrowX, s.Top, SpinArrowWidth, SpinUpArrowHeight), true, down);
    DrawArrow(
        p, QRectF(arrowX, s.Top + SpinUpArrowHeight, SpinArrowWidth, s.Height - SpinUpArrowHeight),
        false, down);
  }
}

void DrawPanelLabels(QPainter& p) {
  p.setFont(Font(Theme.CjkFamily, Theme.PanelTextPx));
  p.setPen(Theme.PanelText);
  const QList<QPair<int, QString>> rows = {{VolumeSliderRect.top(), Texts->Volume},
                                           {SpinEditPlaces[0].Top, Texts->Transpose},
                                           {SpinEditPlaces[1].Top, Texts->Octave},
                                           {SpinEditPlaces[3].Top, Texts->Velocity},
                                           {SpinEditPlaces[5].Top, Texts->Voice}};
  for (const auto& [top, text] : rows)
    p.drawText(QRectF(290, top, 76, 19), Qt::AlignRight | Qt::AlignVCenter, text);
  p.setFont(Font(Theme.CjkFamily, Theme.HandTextPx));
  p.setPen(Theme.LeftHand);
  p.drawText(QRectF(373, 335, 48, 11), Qt::AlignCenter, Texts->LeftHand);
  p.setPen(Theme.RightHand);
  p.drawText(QRectF(432, 335, 48, 11), Qt::AlignCenter, Texts->RightHand);
}

void DrawBrand(QPainter& p) {
  const QRectF panel(494, 282, 120, 148);
  p.setFont(Font(Theme.UiFamily, Theme.TitlePx, true));
  p.setPen(Theme.Title);
  p.drawText(QRectF(panel.left(), 300, panel.width(), 24), Qt::AlignCenter, "Melotastico");
  p.setFont(Font(Theme.CjkFamily, Theme.PanelTextPx));
  p.setPen(Theme.PanelTextDim);
  p.drawText(QRectF(panel.left(), 326, panel.width(), 16), Qt::AlignCenter, Texts->Subtitle);
  p.setFont(Font(Theme.CjkFamily, Theme.HandTextPx));
  const QList<QPair<QColor, QString>> legend = {{Theme.LeftHand, Texts->LeftLegend},
                                                {Theme.RightHand, Texts->RightLegend}};
  qreal y = 372;
  for (const auto& [colour, text] : legend) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(panel.left() + 36, y + 6), 4, 4);
    p.setPen(Theme.PanelText);
    p.drawText(QRectF(panel.left() + 46, y, 60, 12), Qt::AlignLeft | Qt::AlignVCenter, text);
    y += 18;
  }
}

void DrawWindow(QPainter& p, bool down) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  DrawBody(p);
  for (int i = 0; i < MainButtonCount; ++i)
    DrawButton(p, i, down);
  DrawPCKeyboard(p, down);
  DrawPianos(p, down);
  DrawStaff(p);
  DrawSliderTrack(p);
  DrawSpinEdits(p, down);
  DrawPanelLabels(p);
  DrawBrand(p);
  if (down)
    DrawSliderThumb(p);
}

QImage TotalBitmap() {
  QImage image(TotalBmpWidth, SkinHeight, QImage::Format_RGB32);
  QPainter p(&image);
  for (bool down : {false, true}) {
    p.save();
    p.translate(down ? DownOffset : 0, 0);
    p.setClipRect(0, 0, SkinWidth, SkinHeight);
    DrawWindow(p, down);
    p.restore();
  }
  return image.convertToFormat(QImage::Format_RGB888);
}

// ---- Glyph mask -----------------------------------------------------------------------------
void Dots(QPainter& p, QRectF area, int count, qreal diameter) {
  const qreal step = area.height() / count;
  for (int i = 0; i < count; ++i) {
    p.drawEllipse(QPointF(area.center().x(), area.top() + step * (i + 0.5)), diameter / 2,
                  diameter / 2);
  }
}

// A digit with octave dots above (high octaves) or below (low octaves).
void DrawNumberedDigit(QPainter& p, const QRect& r, int degree, int octave, int digitHeight,
                       int fontPx, qreal dot) {
  const int dots = std::abs(octave - 4);
  const int extra = r.height() - digitHeight;
  const QRectF digit(r.left(), octave > 4 ? r.bottom() + 1 - digitHeight : r.top(), r.width(),
                     digitHeight);
  p.setFont(Font(Theme.UiFamily, fontPx, true));
  p.setPen(Qt::black);
  p.drawText(digit, Qt::AlignCenter, QString::number(degree));
  if (dots == 0 || extra <= 0)
    return;
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  const QRectF dotArea(r.left(), octave > 4 ? r.top() : r.top() + digitHeight, r.width(), extra);
  Dots(p, dotArea, dots, dot);
}

void Sharp(QPainter& p, const QRectF& r, qreal stem, qreal bar) {
  p.setPen(QPen(Qt::black, stem));
  const qreal x1 = r.left() + r.width() * 0.3, x2 = r.left() + r.width() * 0.7;
  p.drawLine(QPointF(x1, r.top() + r.height() * 0.08), QPointF(x1, r.bottom()));
  p.drawLine(QPointF(x2, r.top()), QPointF(x2, r.bottom() - r.height() * 0.08));
  p.setPen(QPen(Qt::black, bar));
  const qreal c = r.center().y(), gap = r.height() * 0.17, slope = r.height() * 0.05;
  p.drawLine(QPointF(r.left(), c - gap + slope), QPointF(r.right(), c - gap - slope));
  p.drawLine(QPointF(r.left(), c + gap + slope), QPointF(r.right(), c + gap - slope));
}

void Flat(QPainter& p, const QRectF& r, qreal bellyTop, qreal stem) {
  p.setPen(QPen(Qt::black, stem));
  const qreal x = r.left() + stem / 2;
  p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
  QPainterPath belly;
  belly.moveTo(x, bellyTop + 1);
  belly.cubicTo(r.right() + 1, bellyTop - 2, r.right() + 0.5, bellyTop + 4, x, r.bottom());
  p.setBrush(Qt::NoBrush);
  p.drawPath(belly);
}

void Natural(QPainter& p, const QRectF& r, qreal stem, qreal bar) {
  p.setPen(QPen(Qt::black, stem));
  const qreal x1 = r.left() + stem / 2, x2 = r.right() - stem / 2;
  p.drawLine(QPointF(x1, r.top()), QPointF(x1, r.bottom() - r.height() * 0.25));
  p.drawLine(QPointF(x2, r.top() + r.height() * 0.25), QPointF(x2, r.bottom()));
  p.setPen(QPen(Qt::black, bar));
  const qreal c = r.center().y();
  p.drawLine(QPointF(x1, c - r.height() * 0.14), QPointF(x2, c - r.height() * 0.22));
  p.drawLine(QPointF(x1, c + r.height() * 0.22), QPointF(x2, c + r.height() * 0.14));
}

void DrawNoteHead(QPainter& p, const QRectF& r) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.save();
  p.translate(r.center());
  p.rotate(-22);
  p.drawEllipse(QPointF(0, 0), r.width() / 2 - 0.2, r.height() / 2 - 1.3);
  p.restore();
}

QImage StaffMask() {
  QImage image(StaffMaskWidth, StaffMaskHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  for (int octave = 1; octave <= 7; ++octave) {
    for (int degree = 1; degree <= 7; ++degree) {
      DrawNumberedDigit(p, PCDigitRect(octave, degree), degree, octave, 10, Theme.MaskPCDigitPx,
                        2.0);
    }
  }
  Sharp(p, QRectF(PCAccidentalRect(1)), 0.9, 1.2);
  Flat(p, QRectF(PCAccidentalRect(2)).adjusted(0, 0, 0, -0.5), PCAccidentalTop + 4, 1.0);
  Natural(p, QRectF(PCAccidentalRect(3)).adjusted(0.2, 0, -0.2, 0), 0.9, 1.3);

  Sharp(p, QRectF(KeySigSharpGlyph).adjusted(0, 3, 0, -3), 1.2, 2.4);
  Flat(p, QRectF(KeySigFlatGlyph).adjusted(0.5, 1, -0.5, -2), KeySigFlatGlyph.top() + 13, 1.3);
  DrawNoteHead(p, NoteHeadGlyph);
  Sharp(p, QRectF(SharpGlyph).adjusted(0, 2, 0, -2), 1.0, 2.0);
  Natural(p, QRectF(NaturalGlyph).adjusted(0.3, 1, -0.3, -1), 1.0, 2.0);
  Flat(p, QRectF(FlatGlyph).adjusted(0.3, 0.5, 0, -1), FlatGlyph.top() + 6.5, 1.1);
  for (int octave = 0; octave <= 8; ++octave) {
    for (int degree = 1; degree <= 7; ++degree) {
      DrawNumberedDigit(p, StaffDigitRect(octave, degree), degree, octave, 18,
                        Theme.MaskStaffDigitPx, 3.6);
    }
  }
  p.end();
  return image.convertToFormat(QImage::Format_RGB888);
}

bool Save(const QImage& image, const QString& folder, const char* name) {
  const QString path = QDir(folder).filePath(QString::fromLatin1(name) + ".png");
  const QString temporary = path + ".tmp";
  if (!image.save(temporary, "PNG"))
    return false;
  QFile::remove(path);
  return QFile::rename(temporary, path);
}

} // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const bool english = argc == 3 && QString::fromLocal8Bit(argv[2]) == QLatin1String("en");
  if (argc != 2 && !english) {
    std::fprintf(stderr, "usage: %s <output folder> [en]\n", argv[0]);
    return 2;
  }
  if (english)
    Texts = &EnglishTexts;
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  if (!Save(TotalBitmap(), folder, "RES_TOTALBMP") || !Save(StaffMask(), folder, "RES_STAFFMASK")) {
    std::fprintf(stderr, "cannot write the pictures to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
