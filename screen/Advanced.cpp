#include "screen/Advanced.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/Keyboard.h"
#include "controls/Progress.h"
#include "device/Sequence.h"
#include "platform/BoxNumber.h"
#include "resources/Captions.h"
#include "screen/OutputResolution.h"
#include "screen/ResolutionSequences.h"

namespace {

constexpr int kProgressResolution = 2;
constexpr int kProgressDotClock = 3;

std::span<const res::Caption> Captions() {
    return {res::kAdvancedCaptions, static_cast<size_t>(res::kAdvancedCaptionCount)};
}

}  // namespace

CCAdvanced::CCAdvanced(QWidget* parent, app::Connection& connection, uint8_t deviceId, bool chinese)
    : CCAdvanced(
          parent,
          [&connection, deviceId](platform::StopFlag& stop) {
              return std::make_unique<app::ConnectionSequenceLink>(connection, deviceId, stop);
          },
          chinese) {}

CCAdvanced::CCAdvanced(QWidget* parent, ui::SequenceRunner::LinkFactory makeLink, bool chinese)
    : QDialog(parent), m_bChinese(chinese) {
    BuildControls();
    ui::ApplyKeyboardConventions(this);
    m_runner = std::make_unique<ui::SequenceRunner>(this, std::move(makeLink));
    m_runner->KeepEnabled(Control(kOk));
    // The wait box goes with its sequence, however that ends.
    m_runner->OnEnd([this] { m_progress->Finish(); });
}

CCAdvanced::~CCAdvanced() {
    m_runner->Stop();
}

void CCAdvanced::BuildControls() {
    // The template caption; the caption set replaces it when the dialog opens.
    setWindowTitle(QString::fromUtf8(res::StartCaption(Captions(), res::kWindowTitle)));

    auto* group = new QGroupBox;
    ui::RegisterControl(m_controls, kGroup, group);
    m_list = new QComboBox;
    for (const screen::OutputResolution& r : screen::kOutputResolutions) {
        m_list->addItem(QString::fromUtf8(r.listText));
    }
    m_list->setCurrentIndex(-1);
    m_list->setFocusPolicy(Qt::StrongFocus);
    ui::RegisterControl(m_controls, kList, m_list);

    const auto box = [this](int id) {
        auto* edit = new QLineEdit;
        edit->setEnabled(false);  // until the custom code is current
        edit->setMinimumWidth(90);
        ui::RegisterControl(m_controls, id, edit);
        return edit;
    };
    m_width = box(kWidth);
    m_height = box(kHeight);
    m_rate = box(kRate);
    const auto label = [this](int id, QWidget* box) {
        auto* l = new QLabel;
        l->setBuddy(box);
        ui::RegisterControl(m_controls, id, l);
        return l;
    };
    auto* save = new QPushButton;
    save->setEnabled(false);
    save->setAutoDefault(false);
    ui::RegisterControl(m_controls, kSave, save);

    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(10);
    grid->addWidget(m_list, 0, 0, 1, 3);
    grid->setRowMinimumHeight(1, 6);
    grid->addWidget(label(kWidthLabel, m_width), 2, 0);
    grid->addWidget(m_width, 2, 1);
    grid->addWidget(label(kHeightLabel, m_height), 3, 0);
    grid->addWidget(m_height, 3, 1);
    grid->addWidget(label(kRateLabel, m_rate), 4, 0);
    grid->addWidget(m_rate, 4, 1);
    auto* hz = new QLabel(QString::fromUtf8(res::kRateUnit));
    hz->setAccessibleName(hz->text());
    grid->addWidget(hz, 4, 2);
    grid->addWidget(save, 5, 1, 1, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);

    auto* ok = new QPushButton;
    ok->setDefault(true);
    ui::RegisterControl(m_controls, kOk, ok);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* column = new QVBoxLayout(this);
    setMinimumWidth(300);
    column->addWidget(group);
    column->addLayout(buttons);

    m_progress = new CProgress(this);
    // Escape closes this dialog's waits early: the work goes on to its end with the inputs held.
    m_progress->m_bEscapeCloses = true;

    // Each commit switches the processor's output (the wall goes dark for seconds): browsing the
    // list with the keys or the wheel sends nothing.
    ui::OnCommit(m_list, this, [this](int index) { OnResolutionList(index); });
    connect(save, &QPushButton::clicked, this, &CCAdvanced::OnSave);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CCAdvanced::OnInitDialog() {
    ui::ApplyCaptionSet(this, m_controls, Captions(), m_bChinese);
    for (int i = 0; i < res::kAdvancedNameCount; ++i) {
        const res::Caption& n = res::kAdvancedNames[i];
        Control(n.id)->setAccessibleName(QString::fromUtf8(m_bChinese ? n.zh : n.en));
    }
    auto reading = std::make_shared<screen::ResolutionReading>();
    m_runner->Start(
        [reading](app::SequenceLink& link) { *reading = screen::ReadOutputResolution(link); },
        [this, reading] {
            if (!reading->accepted) {
                EnableCustom(false);
                return;
            }
            SetListCode(reading->code);
            if (reading->code == screen::kCustomResolution) {
                EnableCustom(true);
                if (reading->customRead) {
                    ShowCustom(reading->custom);
                }
            }
        });
}

int CCAdvanced::ExecModal() {
    OnInitDialog();
    return exec();
}

void CCAdvanced::OnResolutionList(int index) {
    if (index < 0 || index >= screen::kResolutionCount) {
        return;
    }
    const auto code = static_cast<uint8_t>(index);
    auto change = std::make_shared<screen::ResolutionChange>();
    RunWithProgress(
        kProgressResolution,
        [code, change](app::SequenceLink& link) {
            *change = screen::ChangeOutputResolution(link, code);
        },
        [this, code, change] {
            const bool custom = code == screen::kCustomResolution;
            EnableCustom(custom);
            if (custom && change->customRead) {
                ShowCustom(change->custom);
            }
        });
}

void CCAdvanced::OnSave() {
    const int32_t w = platform::BoxNumber(m_width->text().toStdString());
    const int32_t h = platform::BoxNumber(m_height->text().toStdString());
    const int32_t f = platform::BoxNumber(m_rate->text().toStdString());
    if (!screen::DotClockInRange(w, h, f)) {
        platform::AskYesNo(res::Text(res::AdvancedMsg::DotClockOutOfRange, m_bChinese),
                           res::Text(res::AdvancedMsg::DotClockCaption, m_bChinese),
                           res::LanguageId(m_bChinese));
        return;
    }
    RunWithProgress(
        kProgressDotClock,
        [w, h, f](app::SequenceLink& link) { screen::SetCustomResolution(link, w, h, f); }, {});
}

void CCAdvanced::RunWithProgress(int purpose, ui::SequenceRunner::Work work,
                                 std::function<void()> done) {
    m_progress->Reset();
    m_progress->m_bChinese = m_bChinese;
    m_progress->m_purpose = purpose;
    const bool started = m_runner->Start(std::move(work), [this, done = std::move(done)] {
        if (m_runner->LastFailed()) {
            platform::AskYesNo(res::Text(res::AdvancedMsg::SendFailed, m_bChinese),
                               res::Text(res::AdvancedMsg::DotClockCaption, m_bChinese),
                               res::LanguageId(m_bChinese));
        }
        if (done) {
            done();
        }
    });
    if (started) {
        // Returns when the work is done, or earlier if the progress dialog is closed first; the
        // dialog's inputs stay held until the work ends either way.
        platform::RunModal(*m_progress);
    }
}

void CCAdvanced::done(int result) {
    m_runner->Stop();  // its done does not run; its end hook closes the progress dialog
    QDialog::done(result);
}

void CCAdvanced::EnableCustom(bool on) {
    for (int id : {kWidth, kHeight, kRate, kSave}) {
        Control(id)->setEnabled(on);
    }
}

void CCAdvanced::ShowCustom(const devlink::CustomResolutionReply& custom) {
    m_width->setText(QString::number(custom.width));
    m_height->setText(QString::number(custom.height));
    m_rate->setText(QString::number(custom.rate));
}

void CCAdvanced::SetListCode(int code) {
    m_list->setCurrentIndex(code >= 0 && code < screen::kResolutionCount ? code : -1);
}
