#pragma once
// The settings dialog: response time, reverb level, the external sound set and the four
// performance switches, with the ways into the key-definition and favourite-voice editors and
// the Audio and MIDI page.
// Only a confirmed dialog changes anything; it then writes the settings file.
#include <QDialog>
#include <functional>
#include <string>

#include "sound/SetupConfig.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QTabWidget;

namespace melo {

class TfrmSetup : public QDialog {
public:
  explicit TfrmSetup(QWidget* parent = nullptr);

  // The controls show config and options; Apply reads them back.
  void Show(const TSetupConfig& config, const TSetupOptions& options);
  void Apply(TSetupConfig& config, TSetupOptions& options) const;

  void btnOpenExternalDLSFileClick();

  // Runs when btnEditKeydef is pressed: the main window's key-definition editor.
  std::function<void()> OnEditKeyDefinition;
  // Runs when btnAudioMidi is pressed: the main window's Audio and MIDI page.
  std::function<void()> OnAudioMidi;

  QTabWidget* PageControl1 = nullptr;
  QWidget* tabsDevice = nullptr;
  QWidget* tabsKeydef = nullptr;
  QWidget* tabsRecord = nullptr;
  QWidget* tabsAdvance = nullptr;
  QWidget* tabOthers = nullptr;
  QSlider* trkLatency = nullptr;
  QLabel* lblLatency = nullptr;
  QGroupBox* GroupBox_ReverbLevel = nullptr;
  QSlider* trkReverbLevel = nullptr;
  QLabel* lblReverbLevel = nullptr;
  QPushButton* btnEditKeydef = nullptr;
  QPushButton* btnEditFavoriteVoices = nullptr;
  QGroupBox* GroupBox_ExternalDLS = nullptr;
  QCheckBox* cbUseExternalDLS = nullptr;
  QPushButton* btnOpenExternalDLSFile = nullptr;
  QLabel* lblExternalDLSFileName = nullptr;
  QGroupBox* GroupBox_Others = nullptr;
  QCheckBox* cbNotebookMode = nullptr;
  QCheckBox* cbLoopPlay = nullptr;
  QCheckBox* cbSmartSemitone = nullptr;
  QCheckBox* cbPeriodPedal = nullptr;
  QGroupBox* GroupBox_Accomp = nullptr;
  QCheckBox* cbAccompDrumsOnly = nullptr;
  QCheckBox* cbFingeredChords = nullptr;
  QPushButton* btnAudioMidi = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

private:
  void CreateDevicePage();
  void CreateKeydefPage();
  void CreateRecordPage();
  void CreateAdvancePage();
  void CreateOthersPage();
  void trkLatencyChange();
  void trkReverbLevelChange();

  std::string FStoredFileName; // the sound set of the settings on show
};

// Shows the dialog on config and options. On OK both take the dialog's values, the settings
// file and the program's own settings file (options.Program) are written (a failed write is
// reported and keeps the old file; so is a sound-set name holding CR or LF, which the file cannot
// store) and the result is true; otherwise nothing changes. editKeyDefinition runs for the
// key-definition button, openAudioMidi for the Audio and MIDI button.
bool ExecuteSetup(TSetupConfig& config, TSetupOptions& options,
                  std::function<void()> editKeyDefinition, QWidget* parent = nullptr,
                  std::function<void()> openAudioMidi = {});

} // namespace melo
