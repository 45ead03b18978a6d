#include "schedule/PlanPage.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>

#include "resources/PlanTexts.h"
#include "schedule/AddPlan.h"

namespace {

// Column widths in parts of the list's width: name, [day], time, signal.
const std::vector<int> kWidthParts[4] = {{1, 2, 1}, {1, 1, 2, 1}, {1, 1, 2, 1}, {1, 2, 2, 1}};

constexpr int kMargin = 8;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 28;

}  // namespace

CPlanPage::CPlanPage(QWidget* parent, int kind, CInfoPlan& plans, bool chinese, bool v2IsYPbPr,
                     PlanEditor::Notify notify)
    : QWidget(parent),
      m_ids(progids::kPages[kind]),
      m_editor(plans, kind, chinese, std::move(notify)),
      m_bChinese(chinese),
      m_bV2IsYPbPr(v2IsYPbPr) {
    setObjectName(QStringLiteral("dlg%1").arg(m_ids.dialog));
    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    ui::RegisterControl(m_controls, m_ids.list, m_list);

    const std::pair<int, void (CPlanPage::*)()> buttons[3] = {{m_ids.add, &CPlanPage::OnAdd},
                                                              {m_ids.modify, &CPlanPage::OnModify},
                                                              {m_ids.del, &CPlanPage::OnDelete}};
    for (const auto& [id, handler] : buttons) {
        auto* button = new QPushButton(this);
        button->setAutoDefault(false);
        ui::RegisterControl(m_controls, id, button);
        connect(button, &QPushButton::clicked, this, handler);
    }
}

void CPlanPage::OnInitDialog() {
    // The list above, the buttons in a row under its right end.
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    m_list->setGeometry(area.adjusted(0, 0, 0, -(kButtonHeight + kMargin)));
    const int ids[3] = {m_ids.add, m_ids.modify, m_ids.del};
    for (int n = 0; n < 3; ++n) {
        QWidget* button = Control(ids[n]);
        button->setGeometry(area.right() + 1 - (3 - n) * (kButtonWidth + kMargin) + kMargin,
                            area.bottom() + 1 - kButtonHeight, kButtonWidth, kButtonHeight);
        ui::SetCaption(button, QString::fromUtf8(res::PlanButtonCaption(n, m_bChinese)));
    }

    const int kind = Kind();
    QStringList headings{QString::fromUtf8(res::PlanNameHeading(m_bChinese))};
    if (kind != PlanDay)
        headings << QString::fromUtf8(res::PlanDayHeading(kind, m_bChinese));
    headings << QString::fromUtf8(res::PlanTimeHeading(m_bChinese))
             << QString::fromUtf8(res::PlanSignalHeading(m_bChinese));
    m_list->setHeaderLabels(headings);
    m_list->setAccessibleName(QString::fromUtf8(res::PlanListName(kind, m_bChinese)));
    const std::vector<int>& parts = kWidthParts[kind];
    int whole = 0;
    for (int p : parts)
        whole += p;
    const int width = m_list->width() - 2 * m_list->frameWidth();
    for (size_t c = 0; c < parts.size(); ++c)
        m_list->header()->resizeSection(static_cast<int>(c), width * parts[c] / whole);
    // Once the list has more rows than it shows, its vertical scroll bar takes its width from the
    // last column, so that the columns still fit: no horizontal bar, no column cut.
    const int last = static_cast<int>(parts.size()) - 1;
    const int lastWidth = width * parts[last] / whole;
    const auto fitLast = [this, last, lastWidth] {
        const int bar = m_list->verticalScrollBar()->maximum() > 0
                            ? m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                           m_list)
                            : 0;
        m_list->header()->resizeSection(last, lastWidth - bar);
    };
    connect(m_list->verticalScrollBar(), &QScrollBar::rangeChanged, this, fitLast);

    m_editor.FillListFromFile();
    ShowRows();
}

void CPlanPage::ShowRows() {
    // Rows that did not change keep their selection.
    if (m_shown == m_editor.Rows() &&
        m_list->topLevelItemCount() == static_cast<int>(m_shown.size()))
        return;
    m_shown = m_editor.Rows();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_editor.Rows().size()));
    for (const PlanRow& row : m_editor.Rows()) {
        QStringList texts;
        for (const std::string& text : row)
            texts << QString::fromStdString(text);
        items << new QTreeWidgetItem(texts);
    }
    m_list->clear();
    m_list->addTopLevelItems(items);
}

std::vector<int> CPlanPage::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        rows.push_back(index.row());
    return rows;
}

std::optional<PlanChoice> CPlanPage::AskPlan(const PlanItem* prefill) {
    CAddPlan dialog(this, m_bChinese, m_bV2IsYPbPr);
    dialog.m_mode = static_cast<uint8_t>(Kind());
    if (prefill != nullptr) {
        dialog.m_bEdit = true;
        dialog.m_plan = *prefill;
    }
    if (platform::RunModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.Choice();
}

void CPlanPage::OnAdd() {
    Handle(
        [this] { m_editor.OnAdd([this](const PlanItem* prefill) { return AskPlan(prefill); }); });
}

void CPlanPage::OnModify() {
    Handle([this] {
        m_editor.OnModify(SelectedRows(),
                          [this](const PlanItem* prefill) { return AskPlan(prefill); });
    });
}

void CPlanPage::OnDelete() {
    Handle([this] { m_editor.OnDelete(SelectedRows()); });
}

void CPlanPage::Handle(const std::function<void()>& action) {
    // A press that comes while the page's add-plan dialog or question is open (an accessibility
    // action reaches buttons a modal dialog blocks) waits for no one: it is dropped.
    if (m_busy)
        return;
    m_busy = true;
    action();
    m_busy = false;
    ShowRows();
}
