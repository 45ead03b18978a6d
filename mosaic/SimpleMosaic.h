// The fast mosaic dialog (dialog 147): lays out a wall of up to 6 × 8 spliced screens as a grid
// of panels, works out the selected screen's input and output window, and sends them to one
// processor. Controls sit at the pixel places of the dialog template; the grid grows the dialog
// by rows and columns, and the lower panel follows the bottom edge.
#pragma once

#include <QDialog>
#include <QFont>
#include <QSize>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controls/ControlRegistry.h"
#include "controls/SequenceRunner.h"
#include "mosaic/MosaicLayout.h"
#include "mosaic/MosaicSequence.h"
#include "mosaic/WallFile.h"
#include "platform/UiSeam.h"
#include "resources/MosaicTexts.h"

namespace app {
class Connection;
}
class CColorButton;
class CProgress;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;

class CSimpleMosaic : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // Over the main window's connection, whose workers have stopped: the dialog's frames carry
    // its own device ID, the mosaic mode frames the main window's. chinese: the main window's
    // language flag, which cannot change while this dialog runs.
    CSimpleMosaic(QWidget* parent, app::Connection& connection, bool chinese);
    // Over the links makeLink makes (tests): their DeviceId() is the main window's device ID.
    CSimpleMosaic(QWidget* parent, bool chinese, ui::SequenceRunner::LinkFactory makeLink);
    ~CSimpleMosaic() override;

    QWidget* Control(int id) const;
    template <typename T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }
    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CSimpleMosaic"; }

    // ---- handlers, one per control ----
    void OnPreset(int index);  // 1020, 1029..1033, 1063..1068: "1X1" .. "4X3"
    void OnSpecOk();           // 1008
    void AutoCalculate();      // 1000
    // 1289..1296: step -1 from the upper arrow, +1 from the lower one.
    void StepAdjusted(int arrowId, int step);
    void SelectScreen(int n);      // 2000 + n
    void OnIdRadio(int n);         // 1021..1028, 1036: device ID 1..9
    void OnIdList(int index);      // 1018
    void OnConnect();              // 1009: the connect sequence behind the wait dialog
    void OnDetect();               // 1003: DetectSignal
    void SendWindow(bool output);  // 1001 input, 1002 output "Set"
    void OnSyncMode(bool sync);    // 1297 "No Sync Mosaic", 1298 "Sync Mosaic"

    // Shows the wall kept in planFile for processor (the main window's line and device ID, in
    // words) and keeps the wall laid out there when the dialog closes, when it changed.
    void KeepWallIn(const std::string& planFile, const std::string& processor);

    // ---- operations ----
    void ApplySpecification(int rows, int cols);
    void BuildScreenGrid();
    void FitWindowToGrid();
    void RecordPlacements();
    void ApplyPlacements();
    void EnableSetControls(bool on);
    // Calculated + Adjusted of one side if it passes the checks; otherwise its message has been
    // shown and the failing Adjusted box reset or marked.
    std::optional<mosaic::WindowValues> ComposeWindow(bool output);

    // Writes a number into a value box; its changed marker is set.
    void SetValueBox(int id, int32_t value);
    bool Changed(int valueBoxId) const;

    // ---- state (names as the rest of the program knows them) ----
    bool m_bChinese = false;
    uint8_t m_mosaicId = 1;  // frame byte 1 of the dialog's commands
    // Set when a connect sequence has ended with the device answering; the Set buttons send
    // only while it is.
    int m_bDeviceReady = 0;
    uint16_t m_rows = 1;
    uint16_t m_cols = 1;
    uint16_t m_outWidth = 1024;
    uint16_t m_outHeight = 768;
    uint8_t m_selected = 0;
    uint8_t m_screenCount = 0;
    // Rows and columns the dialog size was last fitted to, never below 2 and 4.
    int m_fitRows = 2;
    int m_fitCols = 4;

    // One panel of the grid.
    struct ScreenCell {
        QGroupBox* frame = nullptr;
        CColorButton* number = nullptr;
        QLabel* heightLabel = nullptr;
        QLineEdit* heightBox = nullptr;
        QLabel* widthLabel = nullptr;
        QLineEdit* widthBox = nullptr;
        int widthBoxId = 0;
        int heightBoxId = 0;
        std::array<QWidget*, 6> Widgets() const;
    };
    std::vector<ScreenCell> m_cells;

    // Template client size, and the Effects-show box's at 2 × 4.
    static constexpr int kTemplateWidth = 660, kTemplateHeight = 620;
    static constexpr int kBoxWidth = 640, kBoxHeight = 184;
    static constexpr int kRowStep = 91, kColStep = 132;

    // Runs the dialog's link sequences off the UI thread; the wait dialog of the connect sequence.
    ui::SequenceRunner* m_runner = nullptr;
    // What makes the dialog's links; the whole wall window (WallDialog.h) runs over it too.
    ui::SequenceRunner::LinkFactory m_makeLink;
    CProgress* m_progress = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void reject() override;  // Exit and the close box: a running sequence stops first

private:
    void BuildControls();
    void ConnectHandlers();
    void OnInitDialog();
    void ApplyCaptions();
    void NameControls();
    void NameScreenCells();
    void ShowSelection();
    void SetTabOrder();
    bool Show(res::MosaicMsg m);
    void MarkChanged(int valueBoxId, bool changed);
    // Puts the grid's scroll area over the Effects-show box and sizes what it scrolls.
    void PlaceGrid();
    int32_t BoxValue(int id) const;
    // Checks the preset of rows × cols, or none when no preset is that size.
    void ShowPreset(int rows, int cols);
    // Checks the device ID radio of m_mosaicId, or none above 9.
    void ShowIdRadio();
    void ShowConnectResult(const mosaic::ConnectResult& r);
    // The wall as it stands now, for the plan file.
    mosaic::KeptWall WallNow();
    // Keeps the wall laid out in the plan file (KeepWallIn), or says why it could not.
    void KeepLastWall();

    struct Placement {
        QWidget* control;
        int left, width, height, bottomGap;
    };

    ui::ControlMap m_controls;
    QButtonGroup* m_presetGroup = nullptr;
    QButtonGroup* m_idGroup = nullptr;
    static constexpr int kFirstValueBox = 1256;  // value boxes 1256..1271
    std::array<bool, 16> m_bChanged{};
    std::vector<Placement> m_placements;
    QSize m_fittedSize{kTemplateWidth, kTemplateHeight};
    QSize m_fittedBox{kBoxWidth, kBoxHeight};
    // The grid scrolls inside the Effects-show box when the screen is too small for the box.
    QScrollArea* m_gridScroll = nullptr;
    QWidget* m_gridArea = nullptr;
    QFont m_numberFont;
    QFont m_labelFont;
    bool m_bSettingControls = false;  // the program, not the user, changes a radio or list
    // Where the last wall is kept and for which processor, and the wall shown at opening.
    std::string m_planFile;
    std::string m_processor;
    std::optional<mosaic::KeptWall> m_shownWall;
};
