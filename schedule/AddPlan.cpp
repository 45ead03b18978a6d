#include "schedule/AddPlan.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <span>
#include <utility>

#include "controls/Keyboard.h"
#include "link/Commands.h"
#include "platform/Clock.h"
#include "resources/AddPlanIds.h"
#include "resources/Captions.h"
#include "resources/PlanTexts.h"
#include "resources/SwitchTexts.h"
#include "schedule/PlanFile.h"

namespace {

using namespace addplanids;

const char* const kSourceCaptions[8] = {"V1", "V2", "VGA1", "VGA2", "HDMI", "DVI", "DP", "EXT."};

// The template caption of a control, from the dialog's caption set.
QString StartCaption(int id) {
    return QString::fromUtf8(
        res::StartCaption(std::span(res::kAddPlanCaptions, res::kAddPlanCaptionCount), id));
}

platform::LocalTime Local(int64_t value) {
    return platform::ToLocal(value * 1000);
}

}  // namespace

CAddPlan::CAddPlan(QWidget* parent, bool chinese, bool v2IsYPbPr)
    : QDialog(parent), m_bChinese(chinese), m_bV2IsYPbPr(v2IsYPbPr) {
    BuildControls();
    ui::ApplyKeyboardConventions(this);
}

void CAddPlan::BuildControls() {
    auto* question = new QLabel(StartCaption(kQuestion));
    ui::RegisterControl(m_controls, kQuestion, question);

    // Dates and times in the plan file's own order, whatever the desktop's locale says.
    auto* date = new QDateEdit;
    date->setDisplayFormat(QStringLiteral("yyyy-M-d"));
    date->setCalendarPopup(true);
    date->setMinimumDate(QDate(1900, 1, 1));  // earlier dates would not load again
    ui::RegisterControl(m_controls, kDate, date);
    auto* time = new QTimeEdit;
    time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    ui::RegisterControl(m_controls, kTime, time);

    auto* weekLabel = new QLabel(StartCaption(kWeekDayLabel));
    ui::RegisterControl(m_controls, kWeekDayLabel, weekLabel);
    auto* weekDay = new QComboBox;
    ui::RegisterControl(m_controls, kWeekDay, weekDay);
    weekLabel->setBuddy(weekDay);
    auto* monthLabel = new QLabel(StartCaption(kMonthDayLabel));
    ui::RegisterControl(m_controls, kMonthDayLabel, monthLabel);
    auto* monthDay = new QComboBox;
    for (int day = 1; day <= 31; ++day)
        monthDay->addItem(QStringLiteral("%1").arg(day, 2, 10, QLatin1Char('0')));
    ui::RegisterControl(m_controls, kMonthDay, monthDay);
    monthLabel->setBuddy(monthDay);

    auto* group = new QGroupBox(StartCaption(kSourceGroup));
    ui::RegisterControl(m_controls, kSourceGroup, group);
    auto* radios = new QGridLayout(group);
    for (int n = 0; n < 8; ++n) {
        auto* radio = new QRadioButton(QString::fromUtf8(kSourceCaptions[n]));
        ui::RegisterControl(m_controls, kSources[n], radio);
        radios->addWidget(radio, n / 4, n % 4);
        // On what the radio became, so that keyboard and accessibility actions count as clicks.
        connect(radio, &QRadioButton::toggled, this, [this, n](bool on) {
            if (on)
                OnSource(n);
        });
    }

    auto* ok = new QPushButton(QString::fromUtf8(res::kOkCaption));
    ok->setDefault(true);
    ui::RegisterControl(m_controls, kOk, ok);
    connect(ok, &QPushButton::clicked, this, &CAddPlan::OnOK);

    auto* column = new QVBoxLayout(this);
    column->addWidget(question);
    auto* pickers = new QHBoxLayout;
    pickers->addWidget(date, 1);
    pickers->addWidget(time, 1);
    column->addLayout(pickers);
    auto* days = new QGridLayout;
    days->addWidget(weekLabel, 0, 0);
    days->addWidget(weekDay, 0, 1);
    days->addWidget(monthLabel, 1, 0);
    days->addWidget(monthDay, 1, 1);
    days->setColumnStretch(1, 1);
    column->addLayout(days);
    column->addWidget(group);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    column->addLayout(buttons);
}

int CAddPlan::ExecModal() {
    OnInitDialog();
    return exec();
}

void CAddPlan::OnInitDialog() {
    auto* date = ControlAs<QDateEdit>(kDate);
    auto* weekDay = ControlAs<QComboBox>(kWeekDay);
    auto* monthDay = ControlAs<QComboBox>(kMonthDay);
    auto* v2 = ControlAs<QRadioButton>(kSources[1]);

    // 1. V1, as a start (the source stays what m_source says).
    {
        const QSignalBlocker quiet(ControlAs<QRadioButton>(kSources[0]));
        ControlAs<QRadioButton>(kSources[0])->setChecked(true);
    }

    // 2. The day selector of the plan kind; the time is always asked for.
    if (m_mode <= PlanOnce) {
        date->setEnabled(m_mode == PlanOnce);
        weekDay->setEnabled(m_mode == PlanWeek);
        monthDay->setEnabled(m_mode == PlanMonth);
    }

    // 3. Captions and the weekdays in the language.
    ui::ApplyCaptionSet(this, m_controls,
                        std::span(res::kAddPlanCaptions, res::kAddPlanCaptionCount), m_bChinese);
    weekDay->clear();
    for (int n = 0; n <= 6; ++n)
        weekDay->insertItem(n, QString::fromStdString(WeekdayName(n, m_bChinese)));
    // Pickers and lists are known by the captions beside them.
    date->setAccessibleName(QString::fromUtf8(res::PlanDayHeading(PlanOnce, m_bChinese)));
    Control(kTime)->setAccessibleName(QString::fromUtf8(res::PlanTimeHeading(m_bChinese)));
    weekDay->setAccessibleName(ui::CaptionOf(Control(kWeekDayLabel)));
    monthDay->setAccessibleName(ui::CaptionOf(Control(kMonthDayLabel)));

    // 4. The second input's name.
    v2->setText(QString::fromUtf8(res::V2Caption(m_bV2IsYPbPr)));

    // 5. Now, into the pickers.
    const int64_t now = platform::CurrentClock().NowMs() / 1000;
    m_time = now;
    m_date = now;
    UpdateData(false);

    // 6. Today's weekday and day of the month.
    const platform::LocalTime today = platform::ToLocal(now * 1000);
    weekDay->setCurrentIndex(today.weekday);
    monthDay->setCurrentIndex(today.day - 1);

    // 7. Modify: the plan's values, and only its source checked.
    if (m_bEdit) {
        if (m_mode == PlanWeek)
            m_weekDayText = m_plan.weekDay;
        if (m_mode == PlanMonth)
            m_monthDayText = m_plan.monthDay;
        if (m_mode == PlanOnce)
            m_date = m_plan.date;
        if (m_mode <= PlanOnce)
            m_time = m_plan.time;
        m_source = m_plan.source;
        UpdateData(false);
        const int button = m_source == devlink::kYPbPr ? 1 : m_source;
        for (int n = 0; n < 8; ++n) {
            auto* radio = ControlAs<QRadioButton>(kSources[n]);
            const QSignalBlocker quiet(radio);
            radio->setAutoExclusive(false);
            radio->setChecked(n == button);
            radio->setAutoExclusive(true);
        }
    }
}

void CAddPlan::UpdateData(bool save) {
    auto* date = ControlAs<QDateEdit>(kDate);
    auto* time = ControlAs<QTimeEdit>(kTime);
    auto* weekDay = ControlAs<QComboBox>(kWeekDay);
    auto* monthDay = ControlAs<QComboBox>(kMonthDay);
    if (save) {
        const QDate d = date->date();
        const QTime t = time->time();
        MakePlanDate(d.year(), d.month(), d.day(), &m_date);
        MakePlanTime(t.hour(), t.minute(), t.second(), &m_time);
        m_weekDayText = weekDay->currentText().toStdString();
        m_monthDayText = monthDay->currentText().toStdString();
        return;
    }
    const platform::LocalTime d = Local(m_date);
    const platform::LocalTime t = Local(m_time);
    date->setDate(QDate(d.year, d.month, d.day));
    time->setTime(QTime(t.hour, t.minute, t.second));
    // A text the list does not hold leaves the list as it is.
    for (auto [combo, text] : {std::pair{weekDay, &m_weekDayText}, {monthDay, &m_monthDayText}}) {
        const int index = combo->findText(QString::fromStdString(*text));
        if (!text->empty() && index >= 0)
            combo->setCurrentIndex(index);
    }
}

void CAddPlan::OnSource(int button) {
    m_source = static_cast<uint8_t>(button == 1 && m_bV2IsYPbPr ? devlink::kYPbPr : button);
}

void CAddPlan::OnOK() {
    UpdateData(true);
    accept();
}

PlanChoice CAddPlan::Choice() const {
    return {m_date, m_time, m_weekDayText, m_monthDayText, m_source};
}
