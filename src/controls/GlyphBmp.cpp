#include "controls/GlyphBmp.h"

#include "platform/GlobalState.h"
#include "platform/Language.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QResource>
#include <cstring>

namespace melo {

QImage SkinBitmap;
QImage WorkBitmap;
QImage StaffMaskBitmap;

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered =
    RegisterGlobalVariables(SkinBitmap, WorkBitmap, StaffMaskBitmap);

} // namespace

namespace {

QString ResourcePath(const char* resourceName) {
  return QStringLiteral(":/MelotasticoGlyphs/%1.png").arg(QLatin1String(resourceName));
}

QString RegisteredLibrary;

void UnregisterLibrary() {
  if (!RegisteredLibrary.isEmpty())
    QResource::unregisterResource(RegisteredLibrary);
  RegisteredLibrary.clear();
}

} // namespace

bool LoadGlyphLibrary(const QString& fileName) {
  if (RegisteredLibrary == fileName)
    return true;
  if (!QFile::exists(fileName) || !QResource::registerResource(fileName))
    return false;
  if (!QFile::exists(ResourcePath(ResTotalBmp)) || !QFile::exists(ResourcePath(ResStaffMask))) {
    QResource::unregisterResource(fileName);
    return false;
  }
  UnregisterLibrary();
  RegisteredLibrary = fileName;
  // Qt's list of resources does not outlive the application: the library goes with it, and
  // the pictures taken from it stay.
  qAddPostRoutine(UnregisterLibrary);
  return true;
}

bool LoadGlyphLibrary() {
  // The skin carries painted labels, so each language has its own; Chinese is the fallback.
  for (const TLanguage language : {CurrentLanguage(), TLanguage::Chinese}) {
    if (LoadGlyphLibrary(QString::fromStdString(GlyphLibraryFile(language).string())))
      return true;
  }
  return false;
}

QImage LoadGlyphBitmap(const char* resourceName) {
  QImage image(ResourcePath(resourceName));
  if (image.isNull())
    return image;
  return image.convertToFormat(QImage::Format_RGB888);
}

bool LoadSkinBitmaps() {
  SkinBitmap = LoadGlyphBitmap(ResTotalBmp);
  StaffMaskBitmap = LoadGlyphBitmap(ResStaffMask);
  WorkBitmap = SkinBitmap.copy();
  return !SkinBitmap.isNull() && !StaffMaskBitmap.isNull();
}

void CopyBitmapRect(QImage& dest, QPoint destTopLeft, const QImage& source, QRect sourceRect) {
  // Clip against the source, then against the destination, moving the other side along.
  QRect src = sourceRect.intersected(source.rect());
  QPoint at = destTopLeft + (src.topLeft() - sourceRect.topLeft());
  const QRect dst = QRect(at, src.size()).intersected(dest.rect());
  src = QRect(src.topLeft() + (dst.topLeft() - at), dst.size());
  at = dst.topLeft();
  if (src.isEmpty() || dest.format() != QImage::Format_RGB888 ||
      source.format() != QImage::Format_RGB888)
    return;
  const int bytes = 3 * src.width();
  for (int row = 0; row < src.height(); ++row) {
    std::memmove(dest.scanLine(at.y() + row) + 3 * at.x(),
                 source.constScanLine(src.y() + row) + 3 * src.x(), bytes);
  }
}

void InstallFontFallbacks() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  const QStringList cjk = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC",
                           "AR PL UMing CN", "DejaVu Sans"};
  QFont::insertSubstitutions(QStringLiteral("宋体"), cjk);
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             QStringList{"DejaVu Sans", "Liberation Sans"} + cjk);
  QFont::insertSubstitutions(QStringLiteral("Courier New"),
                             QStringList{"Liberation Mono", "DejaVu Sans Mono"} + cjk);
}

} // namespace melo
