#include "app/AudioMidiDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "controls/FileDialogs.h"
#include "music/MidiInterfaces.h"
#include "sound/KoDirectMusic.h"
#include "sound/MidiInPorts.h"

namespace melo {

namespace {

constexpr int FormWidth = 400;
constexpr std::uint8_t TestNote = 60; // middle C
constexpr std::uint8_t TestVelocity = 100;
constexpr int TestToneMs = 500;
constexpr const char* ChangesNote = QT_TRANSLATE_NOOP(
    "TfrmAudioMidi", "更改立即生效；无法立即生效的将在下次启动时生效。\n"
                     "命令行选项 --audio 和 --midi-in 仅在本次运行中优先于这里的选择。");

// The output of an empty choice: the engine's first, the system's default.
constexpr std::string_view DefaultOutput = "default";

std::string OutputName(const TAudioMidiChoices& choices) {
  return choices.AudioOutput.empty() ? std::string(DefaultOutput) : choices.AudioOutput;
}

// The description and the name the command line takes; the default output in the player's
// language.
QString OutputText(const TAudioOutputItem& output) {
  const QString name = QString::fromStdString(output.Name);
  if (output.Name == DefaultOutput)
    return QCoreApplication::translate("TfrmAudioMidi", "默认音频输出 (%1)").arg(name);
  if (output.Description == output.Name)
    return name;
  return QStringLiteral("%1 (%2)").arg(QString::fromStdString(output.Description), name);
}

// Chooses the item whose data is value, adding one under text when none is.
void ChooseItem(QComboBox& box, const std::string& value, const QString& text) {
  const QString data = QString::fromStdString(value);
  int index = box.findData(data);
  if (index < 0) {
    box.addItem(text, data);
    index = box.count() - 1;
  }
  box.setCurrentIndex(index);
}

std::string ChosenData(const QComboBox& box) {
  return box.currentData().toString().toStdString();
}

void Tell(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, MessageTitle(), text);
}

// Moves the engine to output; back to where it was, and false, when there is no such output or
// it does not open (a playing port stopped playing).
bool MoveOutput(TKoDirectMusic& engine, const std::string& output) {
  const std::string previous = engine.DirectSound().SelectedDeviceName();
  const bool playing = engine.PortActive();
  if (output == previous || (engine.SelectAudioOutput(output) && (!playing || engine.PortActive())))
    return true;
  static_cast<void>(engine.SelectAudioOutput(previous));
  // The failed output took the driver with it: the previous one opens anew.
  if (playing)
    static_cast<void>(engine.SetPortActive(true));
  return false;
}

void StoreChoices(const TAudioMidiChoices& choices, QWidget* parent) {
  std::filesystem::path file;
  if (!SaveAudioMidi(choices, file)) {
    ShowWriteFailed(parent,
                    QString::fromStdString(file.empty() ? std::string(ProgramSettingsFileName)
                                                        : file.string()));
  }
}

void ApplyChanges(const TAudioMidiTargets& targets, const TAudioMidiChoices& old,
                  const TAudioMidiChoices& chosen, QWidget* parent) {
  const std::string output = OutputName(chosen);
  if (output != OutputName(old) && !MoveOutput(targets.Engine, output)) {
    Tell(parent, QCoreApplication::translate("TfrmAudioMidi",
                                             "音频输出“%1”现在无法打开，将在下次启动时使用。")
                     .arg(QString::fromStdString(output)));
  }
  if (chosen.MidiIn != old.MidiIn && !targets.UseMidiIn(chosen.MidiIn)) {
    Tell(parent, QCoreApplication::translate("TfrmAudioMidi",
                                             "MIDI输入“%1”现在无法连接，将在下次启动时使用。")
                     .arg(QString::fromStdString(chosen.MidiIn)));
  }
}

} // namespace

TAudioMidiLists ListAudioMidi(const TKoDirectMusic& engine, const TMidiInPorts* midiIn) {
  TAudioMidiLists lists;
  const TKoDS_AllDevCapsType& devices = engine.DirectSound().Devices();
  for (int i = 0; i < devices.Count; ++i) {
    const TKoDS_DevCapsType& device = devices.Devices[static_cast<std::size_t>(i)];
    lists.Outputs.push_back({device.Name, device.Description});
  }
  if (midiIn != nullptr)
    lists.MidiSources = midiIn->Sources();
  return lists;
}

TfrmAudioMidi::TfrmAudioMidi(const TAudioMidiLists& lists, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QCoreApplication::translate("TfrmAudioMidi", "音频和MIDI"));
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  setFixedWidth(FormWidth);

  cbAudioOutput = new QComboBox(this);
  for (const TAudioOutputItem& output : lists.Outputs)
    cbAudioOutput->addItem(OutputText(output), QString::fromStdString(output.Name));
  cbMidiIn = new QComboBox(this);
  cbMidiIn->addItem(QCoreApplication::translate("TfrmAudioMidi", "（无）"), QString());
  for (const std::string& source : lists.MidiSources) {
    cbMidiIn->addItem(QString::fromStdString(source),
                      QString::fromStdString(StoredMidiSource(source)));
  }
  btnTestTone = new QPushButton(QCoreApplication::translate("TfrmAudioMidi", "试音"), this);
  connect(btnTestTone, &QPushButton::clicked, this, [this] {
    if (OnTestTone)
      OnTestTone(ChosenData(*cbAudioOutput));
  });
  lblNote = new QLabel(QCoreApplication::translate("TfrmAudioMidi", ChangesNote), this);
  lblNote->setWordWrap(true);

  auto* fields = new QFormLayout;
  fields->addRow(QCoreApplication::translate("TfrmAudioMidi", "音频输出："), cbAudioOutput);
  fields->addRow(QString(), btnTestTone);
  fields->addRow(QCoreApplication::translate("TfrmAudioMidi", "MIDI输入："), cbMidiIn);
  btnOK = new QPushButton(QCoreApplication::translate("TfrmAudioMidi", "确定"), this);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel = new QPushButton(QCoreApplication::translate("TfrmAudioMidi", "取消"), this);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* page = new QVBoxLayout(this);
  page->addLayout(fields);
  page->addWidget(lblNote);
  page->addLayout(buttons);
}

void TfrmAudioMidi::Show(const TAudioMidiChoices& choices) {
  const std::string output = OutputName(choices);
  ChooseItem(*cbAudioOutput, output, QString::fromStdString(output));
  ChooseItem(*cbMidiIn, choices.MidiIn, QString::fromStdString(choices.MidiIn));
}

TAudioMidiChoices TfrmAudioMidi::Choices() const {
  return {ChosenData(*cbAudioOutput), ChosenData(*cbMidiIn)};
}

void PlayTestTone(TKoDirectMusic& engine, QObject* context) {
  constexpr int channel = HandChannel(RightHand);
  if (!engine.SendMidiMessage(ChannelStatus(NoteOnStatus, channel), TestNote, TestVelocity))
    return;
  QTimer::singleShot(TestToneMs, context, [&engine] {
    static_cast<void>(engine.SendMidiMessage(ChannelStatus(NoteOffStatus, channel), TestNote, 0));
  });
}

void OpenAudioMidiPage(const TAudioMidiTargets& targets, const TAudioMidiRunner& runner,
                       QWidget* parent) {
  QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : parent;
  const TAudioMidiChoices old = LoadAudioMidi();
  const std::string outputInUse = targets.Engine.DirectSound().SelectedDeviceName();
  TAudioMidiChoices chosen = old;
  const TAudioMidiLists lists = ListAudioMidi(targets.Engine, targets.MidiIn);
  bool ok = false;
  if (runner) {
    ok = runner(chosen, lists);
  } else {
    TfrmAudioMidi form(lists, owner);
    form.OnTestTone = [&targets, parent](const std::string& output) {
      if (MoveOutput(targets.Engine, output))
        PlayTestTone(targets.Engine, parent);
    };
    form.Show(old);
    ok = form.exec() == QDialog::Accepted;
    chosen = form.Choices();
  }
  // Where the test tone may have moved it; a confirmed change moves it on below.
  static_cast<void>(MoveOutput(targets.Engine, outputInUse));
  if (!ok)
    return;
  StoreChoices(chosen, owner);
  ApplyChanges(targets, old, chosen, owner);
}

} // namespace melo
