// The Program window (dialog 138): a tab control with the four plan pages, one shown at a time,
// and Exit. Every change on a page is in the plan file when the page's handler returns.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

#include "controls/ControlRegistry.h"
#include "platform/UiSeam.h"

class CInfoPlan;
class CPlanPage;
class CDayPlan;
class CWeekPlan;
class CMonthPlan;
class COncePlan;
class QTabBar;

class CProgram : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // plans: the plan store, loaded by the opener; chinese and v2IsYPbPr: the main window's flags;
    // notify puts a text on the main window's Info line (the plan file changed on disk).
    CProgram(QWidget* parent, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
             std::function<void(const std::string&)> notify = {});

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    // Start-up (once), then the dialog's own loop.
    int ExecModal() override;
    const char* DialogName() const override { return "CProgram"; }

    // Start-up: captions, the tabs, the four pages (each fills its list), their place under the
    // tab strip, the day page shown.
    void OnInitDialog();
    void OnTabChange();  // 1153: a new tab chosen

    // The page of tab index 0..3 (after start-up).
    CPlanPage* Page(int index) const { return m_pages.at(index); }
    int m_shownPage = 0;  // index of the page shown

    // The tab strip's height in the template: the pages start this far below the tab control's
    // top, or under the strip when the desktop's font makes it taller.
    static constexpr int kTabStripHeight = 20;

private:
    ui::ControlMap m_controls;
    CInfoPlan& m_plans;
    const bool m_bChinese;
    const bool m_bV2IsYPbPr;
    std::function<void(const std::string&)> m_notify;
    QWidget* m_tabControl = nullptr;  // holds the tab strip and the pages
    QTabBar* m_tabs = nullptr;
    CDayPlan* m_dayPlan = nullptr;
    CWeekPlan* m_weekPlan = nullptr;
    CMonthPlan* m_monthPlan = nullptr;
    COncePlan* m_oncePlan = nullptr;
    std::array<CPlanPage*, 4> m_pages{};  // in tab order
    bool m_started = false;
};
