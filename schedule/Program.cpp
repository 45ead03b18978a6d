#include "schedule/Program.h"

#include <QPushButton>
#include <QTabBar>
#include <algorithm>
#include <span>
#include <utility>

#include "resources/PlanTexts.h"
#include "schedule/PlanPage.h"
#include "resources/ProgramIds.h"
#include "controls/Keyboard.h"

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 440;
constexpr int kMargin = 10;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 28;

}  // namespace

CProgram::CProgram(QWidget* parent, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
                   std::function<void(const std::string&)> notify)
    : QDialog(parent),
      m_plans(plans),
      m_bChinese(chinese),
      m_bV2IsYPbPr(v2IsYPbPr),
      m_notify(std::move(notify)) {
    setFixedSize(kWidth, kHeight);
    setObjectName(QStringLiteral("dlg%1").arg(progids::kDialog));

    m_tabControl = new QWidget(this);
    m_tabControl->setGeometry(kMargin, kMargin, kWidth - 2 * kMargin,
                              kHeight - 3 * kMargin - kButtonHeight);
    m_tabs = new QTabBar(m_tabControl);
    m_tabs->setExpanding(false);
    m_tabs->setDrawBase(true);
    ui::RegisterControl(m_controls, progids::kTab, m_tabs);

    auto* exit = new QPushButton(this);
    exit->setAutoDefault(false);
    exit->setGeometry(kWidth - kMargin - kButtonWidth, kHeight - kMargin - kButtonHeight,
                      kButtonWidth, kButtonHeight);
    ui::RegisterControl(m_controls, progids::kExit, exit);
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);

    ui::ApplyCaptionSet(this, m_controls,
                        std::span(res::kProgramCaptions, res::kProgramCaptionCount), chinese);
    ui::ApplyKeyboardConventions(this);
}

int CProgram::ExecModal() {
    OnInitDialog();
    return exec();
}

void CProgram::OnInitDialog() {
    if (m_started)
        return;
    m_started = true;

    // 1, 2. Captions and the tabs of the four kinds.
    ui::ApplyCaptionSet(this, m_controls,
                        std::span(res::kProgramCaptions, res::kProgramCaptionCount), m_bChinese);
    for (int kind = 0; kind < 4; ++kind)
        m_tabs->insertTab(kind, QString::fromUtf8(res::PlanTabCaption(kind, m_bChinese)));
    m_tabs->setAccessibleName(QString::fromUtf8(res::PlanTabsName(m_bChinese)));
    // The template's strip is 20 pixels high. Drawn with the desktop's font it may be taller;
    // then the pages start under it instead of covering the lower part of its captions.
    const int strip = std::max(kTabStripHeight, m_tabs->sizeHint().height());
    m_tabs->setGeometry(0, 0, m_tabControl->width(), strip);

    // 3, 4. The pages, under the tab strip, each filling its list as it starts.
    const QRect area = m_tabControl->rect().adjusted(0, strip, 0, 0);
    m_dayPlan = new CDayPlan(m_tabControl, m_plans, m_bChinese, m_bV2IsYPbPr, m_notify);
    m_weekPlan = new CWeekPlan(m_tabControl, m_plans, m_bChinese, m_bV2IsYPbPr, m_notify);
    m_monthPlan = new CMonthPlan(m_tabControl, m_plans, m_bChinese, m_bV2IsYPbPr, m_notify);
    m_oncePlan = new COncePlan(m_tabControl, m_plans, m_bChinese, m_bV2IsYPbPr, m_notify);
    m_pages = {m_dayPlan, m_weekPlan, m_monthPlan, m_oncePlan};
    for (CPlanPage* page : m_pages) {
        page->setGeometry(area);
        page->OnInitDialog();
    }

    // 5. The day page shown.
    for (CPlanPage* page : m_pages)
        page->setVisible(page == m_pages[0]);
    m_shownPage = 0;
    m_tabs->setCurrentIndex(0);
    connect(m_tabs, &QTabBar::currentChanged, this, &CProgram::OnTabChange);
}

void CProgram::OnTabChange() {
    m_pages[m_shownPage]->hide();
    m_shownPage = m_tabs->currentIndex();
    m_pages[m_shownPage]->show();
}
