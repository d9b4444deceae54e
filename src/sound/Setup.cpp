#include "sound/Setup.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "controls/FileDialogs.h"
#include "platform/DataFolder.h"
#include "sound/FavoriteVoices.h"
#include "sound/SetFavoriteVoices.h"

namespace melo {

namespace {

constexpr int FormWidth = 390;
constexpr int FormHeight = 278;
constexpr int MinLatency = 10;
constexpr int MaxLatency = 100;
constexpr int MaxReverbLevel = 4;
constexpr const char* LatencyText = QT_TRANSLATE_NOOP(
    "TfrmSetup",
    "使用这个功能来调节按键后发音的响应速度。通常情况下不必调节。如果在演奏过程中出现噪音"
    "（不演奏时没有噪音）甚至死机，可以将响应速度调慢。如果演奏快速乐曲时感觉按键后发音有点"
    "延迟，可以将响应速度调快。");
constexpr const char* RestartNote =
    QT_TRANSLATE_NOOP("TfrmSetup", "注意：对此处的修改需要重新启动后才能生效。 ");

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

// The name as the settings file gives it back (a long one cut).
std::string StorableFileName(const QString& text) {
  return StoredFileNameRoundTrip(text.toStdString());
}

} // namespace

TfrmSetup::TfrmSetup(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QCoreApplication::translate("TfrmSetup", "设置"));
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(FormWidth, FormHeight);

  PageControl1 = new QTabWidget(this);
  PageControl1->setGeometry(8, 8, FormWidth - 16, FormHeight - 49);
  CreateDevicePage();
  CreateKeydefPage();
  CreateRecordPage();
  CreateAdvancePage();
  CreateOthersPage();
  PageControl1->setCurrentIndex(0);

  btnOK = new QPushButton(QCoreApplication::translate("TfrmSetup", "确定"), this);
  btnOK->setGeometry(FormWidth - 172, FormHeight - 33, 75, 25);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel = new QPushButton(QCoreApplication::translate("TfrmSetup", "取消"), this);
  btnCancel->setGeometry(FormWidth - 89, FormHeight - 33, 75, 25);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  // Beside OK and Cancel, where the pages leave room.
  btnAudioMidi = new QPushButton(QCoreApplication::translate("TfrmSetup", "音频和MIDI…"), this);
  btnAudioMidi->setGeometry(8, FormHeight - 33, 120, 25);
  connect(btnAudioMidi, &QPushButton::clicked, this, [this] {
    if (OnAudioMidi)
      OnAudioMidi();
  });
  setTabOrder(PageControl1, btnOK);
  setTabOrder(btnOK, btnCancel);
  setTabOrder(btnCancel, btnAudioMidi);

  trkLatencyChange();
  trkReverbLevelChange();
}

void TfrmSetup::CreateDevicePage() {
  tabsDevice = new QWidget;
  auto* page = new QVBoxLayout(tabsDevice);

  auto* latencyGroup = new QGroupBox(tabsDevice);
  auto* latency = new QVBoxLayout(latencyGroup);
  auto* latencyRow = new QHBoxLayout;
  latencyRow->addWidget(
      new QLabel(QCoreApplication::translate("TfrmSetup", "响应速度："), latencyGroup));
  latencyRow->addWidget(new QLabel(QCoreApplication::translate("TfrmSetup", "快"), latencyGroup));
  trkLatency = new QSlider(Qt::Horizontal, latencyGroup);
  trkLatency->setRange(MinLatency, MaxLatency);
  trkLatency->setPageStep(10);
  trkLatency->setTickInterval(1);
  trkLatency->setTickPosition(QSlider::TicksBelow);
  latencyRow->addWidget(trkLatency, 1);
  latencyRow->addWidget(new QLabel(QCoreApplication::translate("TfrmSetup", "慢"), latencyGroup));
  lblLatency = new QLabel(latencyGroup);
  lblLatency->setMinimumWidth(24);
  latencyRow->addWidget(lblLatency);
  latency->addLayout(latencyRow);
  latency->addWidget(
      WrappedLabel(QCoreApplication::translate("TfrmSetup", LatencyText), latencyGroup));
  connect(trkLatency, &QSlider::valueChanged, this, [this] { trkLatencyChange(); });
  page->addWidget(latencyGroup);

  GroupBox_ReverbLevel = new QGroupBox(tabsDevice);
  auto* reverb = new QHBoxLayout(GroupBox_ReverbLevel);
  reverb->addWidget(
      new QLabel(QCoreApplication::translate("TfrmSetup", "混响级别："), GroupBox_ReverbLevel));
  trkReverbLevel = new QSlider(Qt::Horizontal, GroupBox_ReverbLevel);
  trkReverbLevel->setRange(0, MaxReverbLevel);
  trkReverbLevel->setPageStep(1);
  trkReverbLevel->setTickInterval(1);
  trkReverbLevel->setTickPosition(QSlider::TicksBelow);
  reverb->addWidget(trkReverbLevel, 1);
  lblReverbLevel = new QLabel(GroupBox_ReverbLevel);
  lblReverbLevel->setMinimumWidth(30);
  reverb->addWidget(lblReverbLevel);
  connect(trkReverbLevel, &QSlider::valueChanged, this, [this] { trkReverbLevelChange(); });
  page->addWidget(GroupBox_ReverbLevel);
  PageControl1->addTab(tabsDevice, QCoreApplication::translate("TfrmSetup", "设备"));
}

void TfrmSetup::CreateKeydefPage() {
  tabsKeydef = new QWidget;
  auto* page = new QVBoxLayout(tabsKeydef);
  btnEditKeydef =
      new QPushButton(QCoreApplication::translate("TfrmSetup", "编辑发音键的定义…"), tabsKeydef);
  connect(btnEditKeydef, &QPushButton::clicked, this, [this] {
    if (OnEditKeyDefinition)
      OnEditKeyDefinition();
  });
  btnEditFavoriteVoices =
      new QPushButton(QCoreApplication::translate("TfrmSetup", "编辑快捷音色…"), tabsKeydef);
  // The editor changes the program's table itself; its result means nothing here.
  connect(btnEditFavoriteVoices, &QPushButton::clicked, this,
          [this] { EditFavoriteVoices(FavoriteVoices, this); });
  page->addWidget(btnEditKeydef);
  page->addWidget(btnEditFavoriteVoices);
  page->addStretch(1);
  PageControl1->addTab(tabsKeydef, QCoreApplication::translate("TfrmSetup", "键定义"));
}

void TfrmSetup::CreateRecordPage() {
  tabsRecord = new QWidget;
  auto* page = new QVBoxLayout(tabsRecord);
  page->addWidget(
      new QLabel(QCoreApplication::translate("TfrmSetup", "此功能为以后预留。"), tabsRecord));
  page->addStretch(1);
  PageControl1->addTab(tabsRecord, QCoreApplication::translate("TfrmSetup", "录音"));
}

void TfrmSetup::CreateAdvancePage() {
  tabsAdvance = new QWidget;
  auto* page = new QVBoxLayout(tabsAdvance);
  GroupBox_ExternalDLS = new QGroupBox(tabsAdvance);
  auto* group = new QVBoxLayout(GroupBox_ExternalDLS);
  cbUseExternalDLS =
      new QCheckBox(QCoreApplication::translate("TfrmSetup", "使用外部音色"), GroupBox_ExternalDLS);
  group->addWidget(cbUseExternalDLS);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(
      new QLabel(QCoreApplication::translate("TfrmSetup", "外部音色文件："), GroupBox_ExternalDLS));
  fileRow->addStretch(1);
  btnOpenExternalDLSFile = new QPushButton(QStringLiteral("…"), GroupBox_ExternalDLS);
  btnOpenExternalDLSFile->setFixedWidth(32);
  connect(btnOpenExternalDLSFile, &QPushButton::clicked, this,
          [this] { btnOpenExternalDLSFileClick(); });
  fileRow->addWidget(btnOpenExternalDLSFile);
  group->addLayout(fileRow);
  lblExternalDLSFileName = WrappedLabel(QString(), GroupBox_ExternalDLS);
  lblExternalDLSFileName->setFrameShape(QFrame::StyledPanel);
  lblExternalDLSFileName->setMinimumHeight(34);
  lblExternalDLSFileName->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  group->addWidget(lblExternalDLSFileName);
  group->addWidget(
      WrappedLabel(QCoreApplication::translate("TfrmSetup", RestartNote), GroupBox_ExternalDLS));
  group->addStretch(1);
  page->addWidget(GroupBox_ExternalDLS);
  PageControl1->addTab(tabsAdvance, QCoreApplication::translate("TfrmSetup", "高级"));
}

void TfrmSetup::CreateOthersPage() {
  tabOthers = new QWidget;
  auto* page = new QVBoxLayout(tabOthers);
  GroupBox_Others = new QGroupBox(tabOthers);
  auto* group = new QVBoxLayout(GroupBox_Others);
  cbNotebookMode =
      new QCheckBox(QCoreApplication::translate("TfrmSetup", "笔记本模式"), GroupBox_Others);
  cbLoopPlay = new QCheckBox(QCoreApplication::translate("TfrmSetup", "循环放音"), GroupBox_Others);
  cbSmartSemitone =
      new QCheckBox(QCoreApplication::translate("TfrmSetup", "智能半音"), GroupBox_Others);
  cbPeriodPedal =
      new QCheckBox(QCoreApplication::translate("TfrmSetup", "定时踏板"), GroupBox_Others);
  for (QCheckBox* box : {cbNotebookMode, cbLoopPlay, cbSmartSemitone, cbPeriodPedal})
    group->addWidget(box);
  group->addStretch(1);
  page->addWidget(GroupBox_Others);

  GroupBox_Accomp = new QGroupBox(QCoreApplication::translate("TfrmSetup", "自动伴奏"), tabOthers);
  auto* accomp = new QVBoxLayout(GroupBox_Accomp);
  cbAccompDrumsOnly =
      new QCheckBox(QCoreApplication::translate("TfrmSetup", "只奏鼓（不奏低音、琶音和和弦声部）"),
                    GroupBox_Accomp);
  cbFingeredChords =
      new QCheckBox(QCoreApplication::translate(
                        "TfrmSetup", "多指和弦（左手按住的音组成和弦；不选则一键一和弦）"),
                    GroupBox_Accomp);
  accomp->addWidget(cbAccompDrumsOnly);
  accomp->addWidget(cbFingeredChords);
  page->addWidget(GroupBox_Accomp);
  PageControl1->addTab(tabOthers, QCoreApplication::translate("TfrmSetup", "其他"));
}

void TfrmSetup::trkLatencyChange() {
  lblLatency->setText(QString::number(trkLatency->value()));
}

void TfrmSetup::trkReverbLevelChange() {
  lblReverbLevel->setText(
      QCoreApplication::translate("TfrmSetup", "%1级").arg(trkReverbLevel->value()));
}

void TfrmSetup::Show(const TSetupConfig& config, const TSetupOptions& options) {
  // The track bars clamp what the file held into their ranges.
  FStoredFileName = config.ExternalDLSFileName;
  trkLatency->setValue(config.Latency);
  trkReverbLevel->setValue(config.ReverbLevel);
  cbUseExternalDLS->setChecked(config.UseExternalDLS);
  lblExternalDLSFileName->setText(QString::fromStdString(config.ExternalDLSFileName));
  cbNotebookMode->setChecked(options.NotebookMode);
  cbLoopPlay->setChecked(options.LoopPlay);
  cbPeriodPedal->setChecked(options.PeriodPedal);
  cbSmartSemitone->setChecked(options.SmartSemitone);
  cbAccompDrumsOnly->setChecked(options.Program.AccompDrumsOnly);
  cbFingeredChords->setChecked(options.Program.FingeredChords);
  trkLatencyChange();
  trkReverbLevelChange();
  GroupBox_ExternalDLS->show();
}

void TfrmSetup::Apply(TSetupConfig& config, TSetupOptions& options) const {
  config.Latency = trkLatency->value();
  config.ReverbLevel = static_cast<std::uint8_t>(trkReverbLevel->value());
  config.UseExternalDLS = cbUseExternalDLS->isChecked();
  config.ExternalDLSFileName = StorableFileName(lblExternalDLSFileName->text());
  options.NotebookMode = cbNotebookMode->isChecked();
  options.LoopPlay = cbLoopPlay->isChecked();
  options.PeriodPedal = cbPeriodPedal->isChecked();
  options.SmartSemitone = cbSmartSemitone->isChecked();
  options.Program.AccompDrumsOnly = cbAccompDrumsOnly->isChecked();
  options.Program.FingeredChords = cbFingeredChords->isChecked();
}

void TfrmSetup::btnOpenExternalDLSFileClick() {
  // The folder of the stored sound set, else the program's data folder.
  QString folder = DataFolderPath();
  if (!FStoredFileName.empty())
    folder = QString::fromStdString(std::filesystem::path(FStoredFileName).parent_path().string());
  const QString name = RunFileDialog(this, {TFileDialogKind::Open, folder,
                                            QStringLiteral("Sound sets (*.dls *.sf2 *.sf3);;"
                                                           "DLS files (*.dls);;"
                                                           "SoundFont 2 files (*.sf2);;"
                                                           "SoundFont 3 files (*.sf3);;"
                                                           "All files (*)"),
                                            QStringLiteral("dls")});
  if (!name.isEmpty())
    lblExternalDLSFileName->setText(name);
}

bool ExecuteSetup(TSetupConfig& config, TSetupOptions& options,
                  std::function<void()> editKeyDefinition, QWidget* parent,
                  std::function<void()> openAudioMidi) {
  TfrmSetup form(parent);
  form.OnEditKeyDefinition = std::move(editKeyDefinition);
  form.OnAudioMidi = std::move(openAudioMidi);
  form.Show(config, options);
  if (form.exec() != QDialog::Accepted)
    return false;
  form.Apply(config, options);
  if (!ConfigFileNameStorable(config.ExternalDLSFileName)) {
    // The settings file holds one value a line: such a name would come back cut.
    QMessageBox::warning(
        &form, MessageTitle(),
        QCoreApplication::translate("TfrmSetup",
                                    "外部音色库的文件名中含有换行符，或名称过长，无法保存设置。\n"
                                    "请将该文件改名后重新选择。\n%1")
            .arg(QString::fromStdString(config.ExternalDLSFileName)));
  } else if (!SaveConfig(config)) {
    const std::filesystem::path file = DataFileForWriting(ConfigFileName);
    ShowWriteFailed(
        &form, QString::fromStdString(file.empty() ? std::string(ConfigFileName) : file.string()));
  }
  if (!SaveProgramSettings(options.Program)) {
    const std::filesystem::path file = DataFileForWriting(ProgramSettingsFileName);
    ShowWriteFailed(&form,
                    QString::fromStdString(file.empty() ? std::string(ProgramSettingsFileName)
                                                        : file.string()));
  }
  return true;
}

} // namespace melo
