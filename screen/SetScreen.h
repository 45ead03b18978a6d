// The screen settings dialog (dialog 129): the geometry of the main, PIP, input and output
// windows with their previews, the PIP layout, and the picture, audio, hot spare, text key, sync
// mode and V2/YPbPr controls. Everything it asks or sends runs off the UI thread through one
// SequenceRunner, in order, while the dialog keeps painting.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controls/ControlRegistry.h"
#include "controls/SequenceRunner.h"
#include "link/Frame.h"
#include "platform/UiSeam.h"
#include "resources/SetScreenTexts.h"
#include "screen/ScreenChecks.h"
#include "screen/ScreenSequences.h"
#include "screen/SettingsBackup.h"

namespace app {
class Connection;
}

class QLineEdit;

class CSetScreen : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // Over the main window's connection; values are what the main window knows when Setup opens
    // the dialog.
    CSetScreen(QWidget* parent, const screen::OpeningValues& values, app::Connection& connection);
    // Over any sequence link (tests and measurements).
    CSetScreen(QWidget* parent, const screen::OpeningValues& values,
               ui::SequenceRunner::LinkFactory makeLink);
    ~CSetScreen() override;

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    template <typename T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }
    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CSetScreen"; }

    // A readback or a Save is talking to the device.
    bool Busy() const { return m_runner->Busy(); }
    bool Modified(int boxId) const;

    // ---- operations ----
    // Reads every setting from the device (at opening and by Refresh).
    void RefreshFromDevice();
    // The busy lock: the Saves, the sharpness radios, the main and PIP Saves and the layout
    // radios follow enable (as far as PIP and MOSAIC allow).
    void EnableSaveControls(bool enable);
    void SaveWindowGeometry(screen::Window which);
    void UpdatePreview(screen::Window which);

    // ---- handlers, one per control ----
    void OnRefresh();                        // 1016
    void OnLayout(int n);                    // 1020..1022 selected: M1..M3
    void OnTextKeySave();                    // 1043
    void OnKeyArrow(int colour, int delta);  // 1283..1285: delta -1 up, +1 down
    void OnBrightnessSave();                 // 1044
    void OnBrightnessReset();                // 1045
    void OnBiasSave();                       // 1058
    void OnBiasReset();                      // 1049
    void OnColourSave(int row);              // 1057, 1065, ... (row of sids::kColourRows)
    void OnColourReset(int row);             // 1047, 1050, ...
    void OnSharpness(bool sharp);            // 1064, 1054 selected
    void OnAudioChanged(int which);          // 1072 (0), 1073 (1)
    void OnAudioSave();                      // 1074
    void OnHotSpareSave();                   // 1077
    void OnSyncMode(bool sync);              // 1291, 1059 selected
    void OnV2Input(bool ypbpr);              // 1125, 1314 selected
    void OnNumericEdit(int boxId);           // any of the 28 numeric boxes changed
    // Beside Refresh (SetScreenFile.cpp): every setting read into a file, or a file's settings
    // sent, read back and compared; the dialog's values follow what the device reports.
    void OnSaveToFile();
    void OnLoadFromFile();

    // ---- state ----
    int m_outputWidth = 1024;
    int m_outputHeight = 768;
    uint8_t m_layoutCode = 0x2A;
    std::array<bool, 28> m_modified{};
    int m_bLinkUp = 0;
    int m_bSourceIsDvi = 0;
    int m_bMosaicOn = 0;
    int m_bBypassOn = 0;
    int m_bBrightness100 = 0;

protected:
    // Exit, Escape and the close button end a running sequence at its next step first.
    void done(int result) override;
    // The first showing reads the device (when connected).
    void showEvent(QShowEvent* event) override;

private:
    void AddFileButtons();
    void OnInitDialog();
    void BuildControls();
    void ConnectHandlers();
    void ApplyCaptions();
    void Register(int id, QWidget* w);
    QLineEdit* Box(int id) const;

    // A box written by the dialog: set and marked modified.
    void WriteBox(int id, const QString& text);
    // A box filled from the device: set without marking.
    void FillBox(int id, int value);
    void SetModified(int boxId, bool on);
    void PaintBox(int boxId);
    // Checks the radio of ids[index] without sending anything; an index outside 0..count-1
    // clears them all.
    void CheckRadio(const int* ids, int count, int index);
    // Runs a change to the controls that must not count as the operator's.
    void Filling(const std::function<void()>& change);

    void ApplyReadback(const screen::Readback& r);
    void ShowGeometry(screen::Window which);
    void Message(res::ScreenMsg text, res::ScreenMsg caption);
    void ShowSetOk();
    // Sends command (built for the link's device ID), then: "Set successfully" and the boxes'
    // markings cleared. busyLock: the Save buttons are disabled meanwhile.
    void SendSetting(std::function<devlink::Frame(uint8_t id)> command, std::vector<int> boxes,
                     bool busyLock, bool info = true);
    // A value Save or Reset of one box after its check.
    void SaveValue(int boxId, screen::ValueCheck check,
                   std::function<devlink::Frame(uint8_t id, uint8_t v)> command);
    void FinishGeometrySave(screen::Window which);
    // The values typed and not sent, as the frames their Saves would send (SetScreenFile.cpp);
    // nothing, after its Save's message, when one of them would be refused.
    std::optional<std::vector<devlink::Frame>> TypedFrames();
    // Sends the groups chosen of a file's settings, then says what it changed.
    void RestoreChosen(const screen::ProcessorSettings& wanted, const screen::SettingGroups& groups,
                       const std::string& name);

    screen::OpeningValues m_opening;
    ui::ControlMap m_controls;
    ui::SequenceRunner* m_runner = nullptr;
    bool m_filling = false;
    bool m_shown = false;
};
