#include "app/SoundSetMessages.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QWidget>

#include "sound/KoDirectMusic.h"

namespace melo {
namespace {

// Why a sound set did not load, in the player's words.
const char* SoundSetFaultSource(const TSoundSetResult& result) {
  switch (result.Fault) {
  case TSoundSetFault::None:
    return "";
  case TSoundSetFault::Missing:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "找不到此文件。");
  case TSoundSetFault::Unreadable:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "无法读取此文件。");
  case TSoundSetFault::NotASoundSet:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "这不是音色库文件（既非DLS也非SoundFont）。");
  case TSoundSetFault::Version:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "不支持此SoundFont版本（只支持版本2和3）。");
  case TSoundSetFault::Refused:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：合成器无法读取其采样。");
  case TSoundSetFault::Damaged:
    break;
  }
  switch (result.Check) {
  case TSoundFontCheck::Chunks:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：区块互不吻合。");
  case TSoundFontCheck::Info:
    return QT_TRANSLATE_NOOP("SoundSetMessages",
                             "文件已损坏：信息区没有唯一的版本号，或文字过长。");
  case TSoundFontCheck::SampleData:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：采样数据格式错误。");
  case TSoundFontCheck::Records:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：音色、乐器或采样列表缺失或不完整。");
  case TSoundFontCheck::Indices:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：区域索引倒退或越界。");
  case TSoundFontCheck::References:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：音色或乐器引用了不存在的项目。");
  case TSoundFontCheck::Samples:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：采样超出采样数据或类型未知。");
  case TSoundFontCheck::Streams:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：压缩的采样无法解码。");
  default:
    return QT_TRANSLATE_NOOP("SoundSetMessages", "文件已损坏：DLS结构无法读取。");
  }
}

QString SoundSetFaultWords(const TSoundSetResult& result) {
  return QCoreApplication::translate("SoundSetMessages", SoundSetFaultSource(result));
}

} // namespace

void LoadBuiltInSoundSetTelling(TKoDirectMusic& engine, const std::filesystem::path& file,
                                QWidget* parent) {
  QFile readable(QString::fromStdString(file.string()));
  if (!readable.open(QIODevice::ReadOnly)) {
    QMessageBox::information(parent, parent->windowTitle(), QStringLiteral("msf4.s not found."));
    return;
  }
  // Opened in place: the voices read the waves they play from the file. A
  // damaged file would leave the piano silent without a word.
  if (const TSoundSetResult result = engine.LoadCollectionFromMappedFile(file); !result) {
    QMessageBox::information(
        parent, parent->windowTitle(),
        QCoreApplication::translate("SoundSetMessages", "无法载入内置音色库：\n%1\n%2")
            .arg(QString::fromStdString(file.string()), SoundSetFaultWords(result)));
  }
}

void TellExternalSetRefused(const std::string& file, const TSoundSetResult& why, QWidget* parent) {
  QMessageBox::information(
      parent, parent->windowTitle(),
      QCoreApplication::translate("SoundSetMessages",
                                  "无法载入外部音色库：\n%1\n%2\n现在使用内置音色库。")
          .arg(QString::fromStdString(file), SoundSetFaultWords(why)));
}

} // namespace melo
