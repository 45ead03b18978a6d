// The window a restore shows before it sends anything: every setting the file would change, its
// value now and in the file, and the groups to restore as tick boxes (the windows unticked when
// the file was saved from another device ID). Restore sends the groups ticked; Cancel nothing.
#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "platform/UiSeam.h"
#include "screen/SettingsBackup.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

class CRestoreDialog : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // file: the file's name as the operator chose it; plan: every difference of every group
    // (PlanRestore with all groups); groups: those ticked at first.
    CRestoreDialog(QWidget* parent, bool chinese, int deviceId, const std::string& file,
                   int savedFrom, const std::vector<screen::SettingDifference>& plan,
                   const screen::SettingGroups& groups);

    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CRestoreDialog"; }

    // The groups ticked now.
    screen::SettingGroups Groups() const;
    // How many of the listed settings the groups ticked would change.
    int Chosen() const;

    // ---- handlers ----
    void OnGroupToggled();

    // ---- controls (tests reach them by these) ----
    QLabel* m_head = nullptr;
    QLabel* m_note = nullptr;  // why the windows are unticked, when they are
    QTableWidget* m_table = nullptr;
    std::array<QCheckBox*, screen::kSettingGroupCount> m_groups{};
    QPushButton* m_restore = nullptr;
    QPushButton* m_cancel = nullptr;

private:
    void FillTable();

    bool m_chinese;
    std::vector<screen::SettingDifference> m_plan;
};
