#include "controls/GlyphBmp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QResource>

namespace melo {

QImage SkinBitmap;
QImage WorkBitmap;
QImage StaffMaskBitmap;

namespace {

QString ResourcePath(const char* resourceName) {
  return QStringLiteral(":/MelotasticoGlyphs/%1.png").arg(QLatin1String(resourceName));
}

QString RegisteredLibrary;

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
  RegisteredLibrary = fileName;
  return true;
}

bool LoadGlyphLibrary() {
  return LoadGlyphLibrary(
      QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(GlyphLibraryFileName)));
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
