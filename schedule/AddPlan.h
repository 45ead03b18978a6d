// The add-plan dialog (dialog 139): the time of day, the day selector of the plan kind (date,
// weekday or day of month) and the source of one plan. It checks nothing and writes nothing: the
// page that opened it reads the fields after OK.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "controls/ControlRegistry.h"
#include "platform/UiSeam.h"
#include "schedule/PlanEditor.h"
#include "schedule/PlanItem.h"

class CAddPlan : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // chinese: the main window's language flag; v2IsYPbPr: the second input is YPbPr.
    CAddPlan(QWidget* parent, bool chinese, bool v2IsYPbPr);

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    template <typename T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }
    // Start-up, then the dialog's own loop. OK gives QDialog::Accepted; any other way out is
    // Cancel.
    int ExecModal() override;
    const char* DialogName() const override { return "CAddPlan"; }

    // Start-up: the source V1, the day selectors by m_mode, the captions and weekday list of the
    // language, the second source's caption, the current date and time, today's weekday and day
    // of month, and with m_bEdit the values of m_plan.
    void OnInitDialog();
    void OnOK();                // 1: the control values into the fields, then the end with OK
    void OnSource(int button);  // 1157..1164: button 0..7 chosen

    // The fields after OK, as a plan page takes them.
    PlanChoice Choice() const;

    uint8_t m_mode = 255;  // plan kind 0..3, set by the opener
    uint8_t m_source = 0;  // source code of the chosen button
    bool m_bEdit = false;  // pre-fill from m_plan (Modify)
    PlanItem m_plan;
    int64_t m_date = 0;  // the date picker's value
    int64_t m_time = 0;  // the time picker's value
    std::string m_weekDayText;
    std::string m_monthDayText;

private:
    void BuildControls();
    // save: the controls into the fields; otherwise the fields into the controls.
    void UpdateData(bool save);

    ui::ControlMap m_controls;
    const bool m_bChinese;
    const bool m_bV2IsYPbPr;
};
