#include "mosaic/WallDialog.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>
#include <variant>

#include "controls/ChoiceBox.h"
#include "controls/ControlRegistry.h"
#include "controls/Keyboard.h"
#include "mosaic/SimpleMosaic.h"
#include "mosaic/WallFile.h"
#include "platform/BoxNumber.h"
#include "platform/TextFile.h"
#include "resources/Captions.h"
#include "resources/FileTexts.h"
#include "resources/MosaicIds.h"
#include "resources/MosaicTexts.h"

using mosaic::ScreenOutcome;
using mosaic::WallPlan;
using mosaic::WindowValues;

namespace {

QString Utf8(const std::string& s) {
    return QString::fromStdString(s);
}

enum Column { kScreenCol, kIdCol, kWidthCol, kHeightCol, kInputCol, kOutputCol, kResultCol, kCols };

// A spin box and the edit inside it, which screen readers also reach, carry name.
void NameSpin(QSpinBox* spin, const QString& name) {
    spin->setAccessibleName(name);
    if (auto* edit = spin->findChild<QLineEdit*>()) {
        edit->setAccessibleName(name);
    }
}

QString AdjustText(const WindowValues& v) {
    return QStringLiteral("%1,%2,%3,%4").arg(v.width).arg(v.height).arg(v.hStart).arg(v.vStart);
}

// "W,H,X,Y", each -32768..32767.
std::optional<WindowValues> ParseAdjust(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) {
        return std::nullopt;
    }
    int v[4] = {};
    for (int k = 0; k < 4; ++k) {
        if (!platform::ParseWholeNumber(parts[k].trimmed().toStdString(), -32768, 32767, v[k])) {
            return std::nullopt;
        }
    }
    return WindowValues{v[0], v[1], v[2], v[3]};
}

std::vector<res::WallScreenSize> PlanScreens(const WallPlan& plan) {
    std::vector<res::WallScreenSize> screens;
    for (const mosaic::WallScreen& s : plan.screens) {
        screens.push_back({s.width, s.height, s.deviceId});
    }
    return screens;
}

}  // namespace

struct CWallDialog::Run {
    std::mutex lock;
    std::vector<int> which;
    mosaic::WallProgress progress;  // the latest
    bool started = false;
    std::vector<ScreenOutcome> outcomes;  // of the screens finished, by screen
    std::vector<bool> finished;
};

// ---- the fast mosaic's side
// ----------------------------------------------------------------------

CWallDialog* CWallDialog::Of(CSimpleMosaic* mosaic) {
    if (auto* existing = mosaic->findChild<CWallDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        return existing;
    }
    return new CWallDialog(mosaic);
}

CWallBar::CWallBar(CSimpleMosaic* mosaic)
    : QWidget(mosaic), m_exit(mosaic->Control(mosaic::ids::kExit)) {
    const bool zh = mosaic->m_bChinese;
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QString::fromUtf8(res::WallText(res::WallWord::FirstId, zh)), this);
    firstId = new QSpinBox(this);
    firstId->setRange(mosaic::kMinDeviceId, mosaic::kMaxDeviceId);
    firstId->setValue(mosaic->m_mosaicId);
    NameSpin(firstId, label->text());
    firstId->setMinimumWidth(64);
    label->setBuddy(firstId);
    setWall =
        new QPushButton(QString::fromUtf8(res::WallText(res::WallWord::SetWholeWall, zh)), this);
    openWall = new QPushButton(QString::fromUtf8(res::WallText(res::WallWord::OpenWall, zh)), this);
    for (QPushButton* b : {setWall, openWall}) {
        b->setAutoDefault(false);
        b->setAccessibleName(b->text().remove(QChar(0x2026)));
    }
    row->addWidget(label);
    row->addWidget(firstId);
    row->addWidget(setWall);
    row->addWidget(openWall);
    row->addStretch(1);
    connect(firstId, &QSpinBox::valueChanged, this,
            [mosaic](int v) { CWallDialog::Of(mosaic)->SetFirstId(v); });
    connect(setWall, &QPushButton::clicked, this,
            [mosaic] { CWallDialog::Of(mosaic)->Open(true); });
    connect(openWall, &QPushButton::clicked, this, [mosaic] { CWallDialog::Of(mosaic)->Open(); });
    // Auto Calculate is the operator laying the wall out.
    if (auto* calc = qobject_cast<QAbstractButton*>(mosaic->Control(mosaic::ids::kAutoCalculate))) {
        connect(calc, &QAbstractButton::clicked, this,
                [mosaic] { CWallDialog::Of(mosaic)->NoteLaidOut(); });
    }
    // In the keyboard order just before Exit, as the row stands on the screen.
    QWidget* before = m_exit->previousInFocusChain();
    while (before != m_exit && (before->focusPolicy() & Qt::TabFocus) == 0) {
        before = before->previousInFocusChain();
    }
    QWidget::setTabOrder(before, firstId);
    QWidget::setTabOrder(firstId, setWall);
    QWidget::setTabOrder(setWall, openWall);
    m_exit->installEventFilter(this);
    Place();
    show();
}

CWallBar* CWallBar::Of(CSimpleMosaic* mosaic) {
    return mosaic->findChild<CWallBar*>(QString(), Qt::FindDirectChildrenOnly);
}

bool CWallBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_exit && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        Place();
    }
    return false;
}

// From the dialog's left margin to just before Exit, on Exit's row.
void CWallBar::Place() {
    setGeometry(10, m_exit->y(), std::max(0, m_exit->x() - 20), m_exit->height());
}

// ---- the window
// ----------------------------------------------------------------------------------

CWallDialog::CWallDialog(CSimpleMosaic* mosaic)
    : QDialog(mosaic), m_mosaic(mosaic), m_chinese(mosaic->m_bChinese) {
    BuildControls();
    m_runner = new ui::SequenceRunner(this, mosaic->m_makeLink);
    m_runner->KeepEnabled(m_stop);
    m_runner->KeepEnabled(m_close);
    m_runner->KeepEnabled(m_summary);
    m_runner->KeepEnabled(m_table);  // scrolls while a wall is set; not editable meanwhile
}

CWallDialog::~CWallDialog() {
    m_runner->Stop();  // before the members the sequence reports to go
}

void CWallDialog::BuildControls() {
    const auto text = [this](res::WallWord w) {
        return QString::fromUtf8(res::WallText(w, m_chinese));
    };
    setWindowTitle(text(res::WallWord::Title));
    auto* top = new QHBoxLayout;
    auto* firstLabel = new QLabel(text(res::WallWord::FirstId), this);
    m_firstId = new QSpinBox(this);
    m_firstId->setRange(mosaic::kMinDeviceId, mosaic::kMaxDeviceId);
    NameSpin(m_firstId, text(res::WallWord::FirstId));
    m_firstId->setMinimumWidth(72);
    m_firstId->setValue(m_mosaic->m_mosaicId);
    firstLabel->setBuddy(m_firstId);
    m_load = new QPushButton(text(res::WallWord::LoadWall), this);
    m_save = new QPushButton(text(res::WallWord::SaveWall), this);
    top->addWidget(firstLabel);
    top->addWidget(m_firstId);
    top->addStretch(1);
    top->addWidget(m_load);
    top->addWidget(m_save);

    m_table = new QTableWidget(0, kCols, this);
    m_table->setHorizontalHeaderLabels(
        {text(res::WallWord::ScreenHead), text(res::WallWord::DeviceIdHead),
         text(res::WallWord::WidthHead), text(res::WallWord::HeightHead),
         text(res::WallWord::InputAdjustHead), text(res::WallWord::OutputAdjustHead),
         text(res::WallWord::ResultHead)});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 8);
    const int widths[kResultCol] = {56, 76, 60, 60, 170, 170};
    for (int c = 0; c < kResultCol; ++c) {
        m_table->setColumnWidth(c, widths[c]);
    }
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    m_table->setAccessibleName(text(res::WallWord::Title));
    m_table->setMinimumHeight(220);

    auto* run = new QHBoxLayout;
    m_set = new QPushButton(text(res::WallWord::SetWholeWall), this);
    m_stop = new QPushButton(text(res::WallWord::Stop), this);
    m_stop->setEnabled(false);
    m_progress = new QProgressBar(this);
    m_progress->setAccessibleName(text(res::WallWord::Progress));
    m_progress->setTextVisible(true);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    run->addWidget(m_set);
    run->addWidget(m_progress, 1);
    run->addWidget(m_stop);

    m_summary = new QPlainTextEdit(this);
    m_summary->setReadOnly(true);
    m_summary->setAccessibleName(text(res::WallWord::Summary));
    m_summary->setMaximumHeight(110);

    auto* bottom = new QHBoxLayout;
    m_retry = new QPushButton(text(res::WallWord::RetryFailed), this);
    m_retry->setEnabled(false);
    m_close = new QPushButton(text(res::WallWord::Close), this);
    m_close->setObjectName(QStringLiteral("ctl2"));  // the window's Cancel, as in every dialog
    bottom->addWidget(m_retry);
    bottom->addStretch(1);
    bottom->addWidget(m_close);

    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(m_table, 1);
    all->addLayout(run);
    all->addWidget(m_summary);
    all->addLayout(bottom);
    for (QPushButton* b : {m_load, m_save, m_set, m_stop, m_retry, m_close}) {
        b->setAutoDefault(false);
    }
    resize(760, 560);

    connect(m_set, &QPushButton::clicked, this, [this] { OnSetWholeWall(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(m_retry, &QPushButton::clicked, this, [this] { OnRetry(); });
    connect(m_load, &QPushButton::clicked, this, [this] { OnLoad(); });
    connect(m_save, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(m_close, &QPushButton::clicked, this, [this] { reject(); });
    connect(m_firstId, &QSpinBox::valueChanged, this, [this](int v) { OnFirstId(v); });
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_filling) {
            OnCellEdited(item);
        }
    });
    ui::ApplyKeyboardConventions(this);
}

void CWallDialog::Open(bool set) {
    Sync();
    if (set) {
        OnSetWholeWall();
    }
    platform::RunModal(*this);
}

void CWallDialog::SetFirstId(int first) {
    m_firstId->setValue(first);
}

void CWallDialog::MirrorFirstId() {
    if (CWallBar* bar = CWallBar::Of(m_mosaic)) {
        const QSignalBlocker quiet(bar->firstId);
        bar->firstId->setValue(m_firstId->value());
    }
}

void CWallDialog::Sync() {
    const int count = m_mosaic->m_rows * m_mosaic->m_cols;
    if (m_rows != m_mosaic->m_rows || m_cols != m_mosaic->m_cols) {
        // Another wall: IDs follow the first ID again, no adjustments, nothing run yet.
        m_rows = m_mosaic->m_rows;
        m_cols = m_mosaic->m_cols;
        m_idOverride.assign(static_cast<size_t>(count), std::nullopt);
        m_inputAdjust.assign(static_cast<size_t>(count), WindowValues{});
        m_outputAdjust.assign(static_cast<size_t>(count), WindowValues{});
        m_outcomes.assign(static_cast<size_t>(count), ScreenOutcome{});
        m_summary->clear();
        m_retry->setEnabled(false);
        m_progress->setRange(0, 1);
        m_progress->setValue(0);
        m_progress->setFormat(QString());
    }
    FillTable();
}

int CWallDialog::FirstId() const {
    return m_firstId->value();
}

int CWallDialog::IdOf(int n) const {
    const std::optional<int>& o = m_idOverride[static_cast<size_t>(n)];
    return o ? *o : m_firstId->value() + n;
}

WallPlan CWallDialog::Plan() const {
    WallPlan plan{
        m_mosaic->m_rows, m_mosaic->m_cols, m_mosaic->m_outWidth, m_mosaic->m_outHeight, {}};
    for (int n = 0; n < plan.Count() && n < static_cast<int>(m_mosaic->m_cells.size()); ++n) {
        const CSimpleMosaic::ScreenCell& cell = m_mosaic->m_cells[static_cast<size_t>(n)];
        plan.screens.push_back(
            {platform::BoxNumber(cell.widthBox->text().toStdString()),
             platform::BoxNumber(cell.heightBox->text().toStdString()),
             n < static_cast<int>(m_idOverride.size()) ? IdOf(n) : 0,
             n < static_cast<int>(m_inputAdjust.size()) ? m_inputAdjust[static_cast<size_t>(n)]
                                                        : WindowValues{},
             n < static_cast<int>(m_outputAdjust.size()) ? m_outputAdjust[static_cast<size_t>(n)]
                                                         : WindowValues{}});
    }
    return plan;
}

void CWallDialog::FillTable() {
    m_filling = true;
    const int count = static_cast<int>(m_idOverride.size());
    m_table->setRowCount(count);
    for (int n = 0; n < count; ++n) {
        SetRow(n);
    }
    m_filling = false;
}

void CWallDialog::SetRow(int n) {
    const bool was = m_filling;
    m_filling = true;
    const WallPlan plan = Plan();
    const auto cell = [this, n](int col, const QString& text, bool editable) {
        QTableWidgetItem* item = m_table->item(n, col);
        if (item == nullptr) {
            item = new QTableWidgetItem;
            m_table->setItem(n, col, item);
        }
        item->setText(text);
        item->setFlags(editable ? item->flags() | Qt::ItemIsEditable
                                : item->flags() & ~Qt::ItemIsEditable);
    };
    const mosaic::WallScreen& s = plan.screens[static_cast<size_t>(n)];
    cell(kScreenCol, QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0')), false);
    cell(kIdCol, QString::number(s.deviceId), true);
    cell(kWidthCol, QString::number(s.width), false);
    cell(kHeightCol, QString::number(s.height), false);
    cell(kInputCol, AdjustText(s.inputAdjust), true);
    cell(kOutputCol, AdjustText(s.outputAdjust), true);
    cell(kResultCol,
         Utf8(mosaic::ScreenOutcomeShort(m_outcomes[static_cast<size_t>(n)], m_chinese)), false);
    if (m_outcomes[static_cast<size_t>(n)].result == mosaic::ScreenResult::kNotDone) {
        m_table->item(n, kResultCol)->setText(QString());
    }
    m_filling = was;
}

bool CWallDialog::Message(const std::string& text) {
    return platform::AskYesNo(text, res::WallText(res::WallWord::Caption, m_chinese),
                              res::LanguageId(m_chinese));
}

void CWallDialog::RememberAdjusted(int screen, bool output, const WindowValues& adjusted) {
    Sync();
    if (screen < 0 || screen >= static_cast<int>(m_inputAdjust.size())) {
        return;
    }
    (output ? m_outputAdjust : m_inputAdjust)[static_cast<size_t>(screen)] = adjusted;
    SetRow(screen);
}

// ---- handlers
// ------------------------------------------------------------------------------------

void CWallDialog::OnFirstId(int) {
    MirrorFirstId();
    if (!m_filling) {
        FillTable();
    }
}

void CWallDialog::OnCellEdited(QTableWidgetItem* item) {
    const int n = item->row();
    if (n < 0 || n >= static_cast<int>(m_idOverride.size())) {
        return;
    }
    NoteLaidOut();
    if (item->column() == kIdCol) {
        int id = 0;
        if (platform::ParseWholeNumber(item->text().trimmed().toStdString(), mosaic::kMinDeviceId,
                                       mosaic::kMaxDeviceId, id)) {
            m_idOverride[static_cast<size_t>(n)] =
                id == m_firstId->value() + n ? std::nullopt : std::optional<int>(id);
        } else {
            Message(res::WallProblemLine(res::WallProblemWord::DeviceId, n,
                                         platform::BoxNumber(item->text().toStdString()), -1,
                                         m_chinese));
        }
    } else if (item->column() == kInputCol || item->column() == kOutputCol) {
        if (const std::optional<WindowValues> v = ParseAdjust(item->text())) {
            (item->column() == kInputCol ? m_inputAdjust : m_outputAdjust)[static_cast<size_t>(n)] =
                *v;
        } else {
            Message(res::WallText(res::WallWord::AdjustForm, m_chinese));
        }
    }
    SetRow(n);  // shows what the screen now has (the old value after a refusal)
}

void CWallDialog::NoteLaidOut() {
    m_laidOut = true;
}

bool CWallDialog::LaidOut() const {
    if (m_laidOut) {
        return true;
    }
    // Sizes typed into the fast mosaic's boxes (a box the program filled is not modified).
    for (const CSimpleMosaic::ScreenCell& cell : m_mosaic->m_cells) {
        if (cell.widthBox->isModified() || cell.heightBox->isModified()) {
            return true;
        }
    }
    return false;
}

void CWallDialog::OnSetWholeWall() {
    Sync();
    const WallPlan plan = Plan();
    const std::vector<mosaic::WallProblem> problems = mosaic::CheckWall(plan);
    if (!problems.empty()) {
        std::string text = res::WallText(res::WallWord::NothingSent, m_chinese);
        for (const std::string& line : mosaic::WallProblemLines(plan, problems, m_chinese)) {
            text += "\n" + line;
        }
        Message(text);
        return;
    }
    // A wall nobody laid out (the boxes' starting values) is shown and asked about first.
    if (!LaidOut() &&
        !Message(res::WallText(res::WallWord::NotLaidOut, m_chinese) + std::string("\n") +
                 res::WallPlanText(plan.rows, plan.cols, plan.outWidth, plan.outHeight,
                                   PlanScreens(plan), m_chinese))) {
        return;
    }
    m_outcomes.assign(static_cast<size_t>(plan.Count()), ScreenOutcome{});
    Start({});
}

void CWallDialog::OnRetry() {
    const std::vector<int> failed = mosaic::FailedScreens(m_outcomes);
    if (failed.empty()) {
        return;
    }
    const WallPlan plan = Plan();
    // Only the screens retried need to pass: an ID fixed meanwhile is taken as it is now.
    std::vector<std::string> lines;
    for (const mosaic::WallProblem& p : mosaic::CheckWall(plan)) {
        if (std::find(failed.begin(), failed.end(), p.screen) != failed.end()) {
            for (const std::string& l : mosaic::WallProblemLines(plan, {p}, m_chinese)) {
                lines.push_back(l);
            }
        }
    }
    if (!lines.empty()) {
        std::string text = res::WallText(res::WallWord::NothingSent, m_chinese);
        for (const std::string& l : lines) {
            text += "\n" + l;
        }
        Message(text);
        return;
    }
    Start(failed);
}

void CWallDialog::Start(const std::vector<int>& which) {
    m_runPlan = Plan();
    auto run = std::make_shared<Run>();
    run->which = which;
    if (run->which.empty()) {
        for (int n = 0; n < m_runPlan.Count(); ++n) {
            run->which.push_back(n);
        }
    }
    run->outcomes.assign(static_cast<size_t>(m_runPlan.Count()), ScreenOutcome{});
    run->finished.assign(static_cast<size_t>(m_runPlan.Count()), false);
    for (int n : run->which) {
        m_outcomes[static_cast<size_t>(n)] = ScreenOutcome{};
        SetRow(n);
    }
    m_summary->clear();
    m_retry->setEnabled(false);
    m_progress->setRange(0, static_cast<int>(run->which.size()));
    m_progress->setValue(0);
    m_progress->setFormat(QString::fromUtf8(res::WallText(res::WallWord::Running, m_chinese)));
    const WallPlan plan = m_runPlan;
    const bool started = m_runner->Start(
        [this, run, plan](app::SequenceLink& link) {
            mosaic::SetWall(link, plan, run->which, [this, run](const mosaic::WallProgress& p) {
                {
                    std::lock_guard<std::mutex> hold(run->lock);
                    run->progress = p;
                    run->started = true;
                    if (p.finished) {
                        run->outcomes[static_cast<size_t>(p.screen)] = p.outcome;
                        run->finished[static_cast<size_t>(p.screen)] = true;
                    }
                }
                m_runner->Post([this] { ShowProgress(); });
            });
        },
        [this] { Finish(); });
    if (!started) {
        return;
    }
    m_run = run;
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_stop->setEnabled(true);
    m_stop->setFocus();
}

void CWallDialog::ShowProgress() {
    if (!m_run) {
        return;
    }
    mosaic::WallProgress p;
    std::vector<int> done;
    {
        std::lock_guard<std::mutex> hold(m_run->lock);
        p = m_run->progress;
        for (int n : m_run->which) {
            if (m_run->finished[static_cast<size_t>(n)]) {
                m_outcomes[static_cast<size_t>(n)] = m_run->outcomes[static_cast<size_t>(n)];
                done.push_back(n);
            }
        }
    }
    for (int n : done) {
        SetRow(n);
    }
    const int shown = p.finished ? p.position + 1 : p.position;
    m_progress->setValue(shown);
    m_progress->setFormat(
        Utf8(res::WallProgressText(std::min(p.position + 1, p.count), p.count, p.screen,
                                   static_cast<int>((p.msLeft + 999) / 1000), m_chinese)));
    if (!done.empty()) {
        m_table->scrollToItem(m_table->item(done.back(), kScreenCol));
    }
}

void CWallDialog::Finish() {
    if (!m_run) {
        return;
    }
    ShowProgress();
    m_run.reset();
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    m_stop->setEnabled(false);
    m_progress->setValue(m_progress->maximum());
    ShowSummary();
    m_set->setFocus();
}

void CWallDialog::ShowSummary() {
    QString text;
    for (const std::string& line : mosaic::WallSummary(m_runPlan, m_outcomes, m_chinese)) {
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + Utf8(line);
    }
    m_summary->setPlainText(text);
    m_retry->setEnabled(!mosaic::FailedScreens(m_outcomes).empty());
    m_progress->setFormat(Utf8(mosaic::WallSummary(m_runPlan, m_outcomes, m_chinese).front()));
}

void CWallDialog::OnStop() {
    // The sequence ends after the frame in flight; what it did is kept and shown.
    m_runner->Stop();
    Finish();
}

void CWallDialog::done(int result) {
    if (m_run) {
        OnStop();
    }
    QDialog::done(result);
}

void CWallDialog::OnLoad() {
    const std::string path =
        platform::ChooseFile(false, res::WallText(res::WallWord::LoadWall, m_chinese),
                             res::WallText(res::WallWord::WallFiles, m_chinese));
    if (path.empty()) {
        return;
    }
    auto loaded = mosaic::LoadWallFile(path);
    if (const auto* p = std::get_if<platform::FileProblem>(&loaded)) {
        const std::string text = res::FileProblemText(*p, res::FileKind::kWall, m_chinese);
        Message(p->fault == platform::FileFault::kUnreadable ? text : path + ": " + text);
        return;
    }
    const WallPlan& plan = std::get<WallPlan>(loaded);
    LayOut(plan, plan.screens[0].deviceId);
}

void CWallDialog::LayOut(const WallPlan& plan, int firstId) {
    // The fast mosaic lays the wall out: its output, specification and screen sizes.
    m_mosaic->m_outWidth = static_cast<uint16_t>(plan.outWidth);
    m_mosaic->m_outHeight = static_cast<uint16_t>(plan.outHeight);
    ui::SetCaption(m_mosaic->Control(mosaic::ids::kEffectsShow),
                   Utf8(res::EffectsShowCaption(plan.outWidth, plan.outHeight, m_chinese)));
    m_mosaic->ApplySpecification(plan.rows, plan.cols);
    for (int n = 0; n < plan.Count(); ++n) {
        const mosaic::WallScreen& s = plan.screens[static_cast<size_t>(n)];
        m_mosaic->m_cells[static_cast<size_t>(n)].widthBox->setText(QString::number(s.width));
        m_mosaic->m_cells[static_cast<size_t>(n)].heightBox->setText(QString::number(s.height));
    }
    m_rows = 0;  // a wall of its own: the store starts afresh from the plan
    Sync();
    NoteLaidOut();
    m_filling = true;
    m_firstId->setValue(firstId);
    m_filling = false;
    for (int n = 0; n < plan.Count(); ++n) {
        const mosaic::WallScreen& s = plan.screens[static_cast<size_t>(n)];
        if (s.deviceId != firstId + n) {
            m_idOverride[static_cast<size_t>(n)] = s.deviceId;
        }
        m_inputAdjust[static_cast<size_t>(n)] = s.inputAdjust;
        m_outputAdjust[static_cast<size_t>(n)] = s.outputAdjust;
    }
    FillTable();
}

void CWallDialog::OnSave() {
    const WallPlan plan = Plan();
    // What is written must load again: a grid with an empty or oversized box is said so first.
    const auto check = mosaic::ParseWallFile(mosaic::WallFileText(plan));
    if (const auto* p = std::get_if<platform::FileProblem>(&check)) {
        Message(res::FileProblemText(
            platform::FileProblem{p->fault, 0, p->what, p->value, p->low, p->high, p->detail},
            res::FileKind::kWall, m_chinese));
        return;
    }
    const std::string path = ui::ChooseFileToSave(
        res::WallText(res::WallWord::SaveWall, m_chinese),
        res::WallText(res::WallWord::WallFiles, m_chinese), ".wall",
        res::WallText(res::WallWord::ReplaceQuestion, m_chinese),
        res::WallText(res::WallWord::Caption, m_chinese), res::LanguageId(m_chinese));
    if (path.empty()) {
        return;
    }
    if (const auto p = mosaic::SaveWallFile(path, plan)) {
        Message(res::FileProblemText(*p, res::FileKind::kWall, m_chinese));
    }
}
