#pragma once
// The glyph library: one resource file among the program's files (ResourceFolder) holding the skin
// picture and the glyph mask, plus the three shared 24-bit pictures every custom control draws
// with.
#include <QColor>
#include <QImage>
#include <QString>
#include <cstdint>

namespace melo {

inline constexpr const char* GlyphLibraryFileName = "MelotasticoGlyphs.rcc";
// The message when it is missing, in Chinese as written (translated in context "Melotastico").
inline constexpr const char* GlyphLibraryMissingText =
    QT_TRANSLATE_NOOP("Melotastico", "MelotasticoGlyphs.rcc 没有找到.");
inline constexpr const char* GlyphLibraryMissingCaption =
    QT_TRANSLATE_NOOP("Melotastico", "错误！");
inline constexpr const char* ResTotalBmp = "RES_TOTALBMP";
inline constexpr const char* ResStaffMask = "RES_STAFFMASK";

// The pristine skin, the copy all controls show and draw on, and the glyph mask. 24 bits per
// pixel (QImage::Format_RGB888). UI thread only.
extern QImage SkinBitmap;
extern QImage WorkBitmap;
extern QImage StaffMaskBitmap;

// Registers the glyph library of the current language among the program's files (the Chinese
// one when that language has none); false when it is missing or damaged. The overload takes an
// explicit file name.
bool LoadGlyphLibrary();
bool LoadGlyphLibrary(const QString& fileName);
// A picture of the registered library in 24-bit form; a null image when it is not there.
QImage LoadGlyphBitmap(const char* resourceName);
// SkinBitmap and StaffMaskBitmap from the library, WorkBitmap an unshared copy of the skin.
bool LoadSkinBitmaps();

// Copies sourceRect of source to destTopLeft in dest, both 24-bit, clipped to both pictures.
void CopyBitmapRect(QImage& dest, QPoint destTopLeft, const QImage& source, QRect sourceRect);

// Colour values are 0x00BBGGRR.
inline QColor BgrToQColor(std::uint32_t c) {
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Lets the Windows font names the program asks for ("宋体", "MS Sans Serif", "Courier New")
// resolve to installed fonts with CJK coverage. Safe to call more than once.
void InstallFontFallbacks();

} // namespace melo
