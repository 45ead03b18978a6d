#include "screen/RestoreDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "resources/SetScreenTexts.h"

using res::SettingsFileMsg;
using screen::SettingGroup;

namespace {

QString Utf8(const std::string& s) {
    return QString::fromUtf8(s.c_str());
}

}  // namespace

CRestoreDialog::CRestoreDialog(QWidget* parent, bool chinese, int deviceId, const std::string& file,
                               int savedFrom, const std::vector<screen::SettingDifference>& plan,
                               const screen::SettingGroups& groups)
    : QDialog(parent), m_chinese(chinese), m_plan(plan) {
    const auto text = [chinese](SettingsFileMsg m) {
        return Utf8(res::SettingsFileText(m, chinese));
    };
    setWindowTitle(text(SettingsFileMsg::RestoreTitle));
    setAccessibleName(windowTitle());
    auto* column = new QVBoxLayout(this);

    m_head = new QLabel(Utf8(res::RestorePlanHead(deviceId, file, savedFrom, chinese)), this);
    m_head->setWordWrap(true);
    column->addWidget(m_head);

    m_table = new QTableWidget(0, 3, this);
    m_table->setHorizontalHeaderLabels({text(SettingsFileMsg::SettingHead),
                                        text(SettingsFileMsg::NowHead),
                                        text(SettingsFileMsg::FileHead)});
    m_table->setAccessibleName(text(SettingsFileMsg::RestoreTitle));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(m_table, 1);

    auto* box = new QGroupBox(text(SettingsFileMsg::GroupsLabel), this);
    auto* grid = new QGridLayout(box);
    const auto counts = screen::CountByGroup(plan);
    for (int g = 0; g < screen::kSettingGroupCount; ++g) {
        const int n = counts[static_cast<size_t>(g)];
        auto* tick = new QCheckBox(
            Utf8(std::string(res::SettingGroupText(g, chinese)) + " (" + std::to_string(n) + ")"),
            box);
        tick->setAccessibleName(Utf8(res::SettingGroupText(g, chinese)));
        tick->setChecked(groups[static_cast<size_t>(g)]);
        // A group with nothing to change has nothing to choose.
        tick->setEnabled(n > 0);
        grid->addWidget(tick, g / 2, g % 2);
        m_groups[static_cast<size_t>(g)] = tick;
        connect(tick, &QCheckBox::toggled, this, [this] { OnGroupToggled(); });
    }
    column->addWidget(box);

    m_note = new QLabel(Utf8(res::WindowsLeftOutText(deviceId, savedFrom, chinese)), this);
    m_note->setWordWrap(true);
    m_note->setVisible(!groups[static_cast<size_t>(SettingGroup::kWindows)] &&
                       counts[static_cast<size_t>(SettingGroup::kWindows)] > 0);
    column->addWidget(m_note);

    auto* buttons = new QDialogButtonBox(this);
    m_restore =
        buttons->addButton(text(SettingsFileMsg::RestoreButton), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(text(SettingsFileMsg::Cancel), QDialogButtonBox::RejectRole);
    m_restore->setAccessibleName(m_restore->text());
    m_cancel->setAccessibleName(m_cancel->text());
    m_cancel->setDefault(true);  // Enter alone sends nothing
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    FillTable();
    resize(640, 480);
}

screen::SettingGroups CRestoreDialog::Groups() const {
    screen::SettingGroups g{};
    for (int k = 0; k < screen::kSettingGroupCount; ++k) {
        g[static_cast<size_t>(k)] = m_groups[static_cast<size_t>(k)]->isChecked();
    }
    return g;
}

int CRestoreDialog::Chosen() const {
    const screen::SettingGroups g = Groups();
    int n = 0;
    for (const screen::SettingDifference& d : m_plan) {
        n += screen::Has(g, d.group) ? 1 : 0;
    }
    return n;
}

void CRestoreDialog::OnGroupToggled() {
    FillTable();
}

// The settings of the groups ticked, then those left out, greyed.
void CRestoreDialog::FillTable() {
    const screen::SettingGroups g = Groups();
    m_table->setRowCount(0);
    for (bool ticked : {true, false}) {
        for (const screen::SettingDifference& d : m_plan) {
            if (screen::Has(g, d.group) != ticked) {
                continue;
            }
            const int row = m_table->rowCount();
            m_table->insertRow(row);
            const std::string cells[3] = {res::SettingNameText(d.name, m_chinese),
                                          res::SettingValueText(d.found, m_chinese),
                                          res::SettingValueText(d.wanted, m_chinese)};
            for (int c = 0; c < 3; ++c) {
                auto* item = new QTableWidgetItem(Utf8(cells[c]));
                if (!ticked) {
                    item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
                }
                m_table->setItem(row, c, item);
            }
        }
    }
    m_restore->setEnabled(Chosen() > 0);
}
