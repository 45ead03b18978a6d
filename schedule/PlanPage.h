// The four plan pages of the Program window (dialogs 134..137), one per plan kind: a list of the
// kind's plans and Add, Modify and Delete. What the buttons do to the plans and the plan file is
// the page's PlanEditor; the page shows its rows and asks the add-plan dialog.
#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "controls/ControlRegistry.h"
#include "schedule/PlanEditor.h"
#include "resources/ProgramIds.h"

class QTreeWidget;

class CPlanPage : public QWidget {
    Q_OBJECT

public:
    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    int Kind() const { return m_editor.Kind(); }
    const PlanEditor& Editor() const { return m_editor; }

    // Start-up, once the page has its size: captions, columns, then the list from the file.
    void OnInitDialog();
    void OnAdd();     // the page's Add button
    void OnModify();  // Modify
    void OnDelete();  // Delete

protected:
    // kind: the plan kind of the page; chinese and v2IsYPbPr: the main window's flags; notify:
    // the main window's Info line.
    CPlanPage(QWidget* parent, int kind, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
              PlanEditor::Notify notify);

private:
    std::optional<PlanChoice> AskPlan(const PlanItem* prefill);
    std::vector<int> SelectedRows() const;
    // The editor's rows into the list.
    void ShowRows();
    // Runs a button's action, one at a time, then shows the rows.
    void Handle(const std::function<void()>& action);

    const progids::PageIds& m_ids;
    PlanEditor m_editor;
    const bool m_bChinese;
    const bool m_bV2IsYPbPr;
    ui::ControlMap m_controls;
    QTreeWidget* m_list = nullptr;
    std::vector<PlanRow> m_shown;  // the rows the list shows
    bool m_busy = false;           // a button's action is under way
};

class CDayPlan : public CPlanPage {
public:
    CDayPlan(QWidget* parent, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
             PlanEditor::Notify notify = {})
        : CPlanPage(parent, PlanDay, plans, chinese, v2IsYPbPr, std::move(notify)) {}
};

class CWeekPlan : public CPlanPage {
public:
    CWeekPlan(QWidget* parent, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
              PlanEditor::Notify notify = {})
        : CPlanPage(parent, PlanWeek, plans, chinese, v2IsYPbPr, std::move(notify)) {}
};

class CMonthPlan : public CPlanPage {
public:
    CMonthPlan(QWidget* parent, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
               PlanEditor::Notify notify = {})
        : CPlanPage(parent, PlanMonth, plans, chinese, v2IsYPbPr, std::move(notify)) {}
};

class COncePlan : public CPlanPage {
public:
    COncePlan(QWidget* parent, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
              PlanEditor::Notify notify = {})
        : CPlanPage(parent, PlanOnce, plans, chinese, v2IsYPbPr, std::move(notify)) {}
};
