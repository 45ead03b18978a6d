// The fast mosaic's whole wall window: every screen of the laid-out wall with its device ID (the
// first ID + n unless changed) and its adjustments, "Set whole wall" with its progress and Stop,
// the summary with a retry of the screens that failed, and the wall file. It belongs to one fast
// mosaic dialog, keeps its IDs and adjustments between openings, and runs its sequence off the
// UI thread over the fast mosaic's link.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "controls/SequenceRunner.h"
#include "mosaic/Wall.h"
#include "platform/UiSeam.h"

class CSimpleMosaic;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTableWidgetItem;

// The fast mosaic's whole wall row, on Exit's row and following it: the first ID, "Set whole
// wall" (the one press that sets a laid-out wall) and "Whole wall…" (the window without a run).
class CWallBar : public QWidget {
    Q_OBJECT

public:
    explicit CWallBar(CSimpleMosaic* mosaic);
    static CWallBar* Of(CSimpleMosaic* mosaic);

    QSpinBox* firstId = nullptr;
    QPushButton* setWall = nullptr;
    QPushButton* openWall = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Place();
    QWidget* m_exit;
};

class CWallDialog : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // The whole wall window of mosaic, made on first use.
    static CWallDialog* Of(CSimpleMosaic* mosaic);

    ~CWallDialog() override;

    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CWallDialog"; }

    // Takes the wall as the fast mosaic lays it out now and runs the window modally; with set,
    // every screen is set at once (the fast mosaic's "Set whole wall").
    void Open(bool set = false);
    // The first ID as the fast mosaic's box sets it.
    void SetFirstId(int first);
    // Matches the store to the grid's wall (a new specification starts it afresh) and fills the
    // table.
    void Sync();
    // A window the fast mosaic's Set has sent for screen n: its adjustments become the screen's.
    void RememberAdjusted(int screen, bool output, const mosaic::WindowValues& adjusted);

    // The operator laid the wall out (Auto Calculate, the wall table, a wall file; sizes typed
    // into the fast mosaic count too): a run starts without asking.
    void NoteLaidOut();
    bool LaidOut() const;

    // The wall as it stands: the grid's specification, output and sizes, the IDs and adjustments.
    mosaic::WallPlan Plan() const;
    int FirstId() const;
    // Lays plan out in the fast mosaic (output, specification, sizes) and takes its IDs (those
    // that are not firstId + n kept as changed) and adjustments.
    void LayOut(const mosaic::WallPlan& plan, int firstId);

    // ---- handlers, one per control ----
    void OnSetWholeWall();
    void OnStop();
    void OnRetry();
    void OnLoad();
    void OnSave();
    void OnFirstId(int first);
    void OnCellEdited(QTableWidgetItem* item);

    // ---- controls (tests reach them by these) ----
    QSpinBox* m_firstId = nullptr;
    QTableWidget* m_table = nullptr;
    QProgressBar* m_progress = nullptr;
    QPlainTextEdit* m_summary = nullptr;
    QPushButton* m_set = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_retry = nullptr;
    QPushButton* m_load = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_close = nullptr;
    ui::SequenceRunner* m_runner = nullptr;

    // How each screen came out in the runs so far.
    std::vector<mosaic::ScreenOutcome> m_outcomes;

protected:
    // Close, Escape and the close box stop a wall being set first, keeping what it did.
    void done(int result) override;

private:
    explicit CWallDialog(CSimpleMosaic* mosaic);

    // What a run hands over: written by the sequence, read on the UI thread.
    struct Run;

    void BuildControls();
    void FillTable();
    void SetRow(int n);
    void Start(const std::vector<int>& which);
    void ShowProgress();
    void Finish();
    void ShowSummary();
    bool Message(const std::string& text);
    int IdOf(int n) const;
    // The fast mosaic's first ID box shows the window's.
    void MirrorFirstId();

    CSimpleMosaic* m_mosaic;
    bool m_chinese;
    int m_rows = 0, m_cols = 0;  // the specification the store below belongs to
    std::vector<std::optional<int>> m_idOverride;
    std::vector<mosaic::WindowValues> m_inputAdjust, m_outputAdjust;
    std::shared_ptr<Run> m_run;  // the run in progress, if any
    mosaic::WallPlan m_runPlan;  // the plan it runs
    bool m_filling = false;      // the program fills the table
    bool m_laidOut = false;      // see NoteLaidOut
};
