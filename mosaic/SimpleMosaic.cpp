#include "mosaic/SimpleMosaic.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QToolButton>
#include <algorithm>
#include <memory>
#include <variant>

#include "controls/ColorButton.h"
#include "controls/Keyboard.h"
#include "controls/Progress.h"
#include "device/Connection.h"
#include "resources/MosaicIds.h"
#include "mosaic/WallDialog.h"
#include "platform/BoxNumber.h"
#include "resources/Captions.h"
#include "resources/FileTexts.h"
#include "screen/OutputResolution.h"

using namespace mosaic;

namespace {

QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}

// The value boxes of one side in the row order width, height, horizontal start, vertical start.
const int* CalculatedBoxes(bool output) {
    return output ? ids::kOutputCalculated : ids::kInputCalculated;
}
const int* AdjustedBoxes(bool output) {
    return output ? ids::kOutputAdjusted : ids::kInputAdjusted;
}

// Row of a quantity in the side's box arrays.
int Row(Quantity q) {
    switch (q) {
        case Quantity::kWidth:
            return 0;
        case Quantity::kHeight:
            return 1;
        case Quantity::kHStart:
            return 2;
        case Quantity::kVStart:
            return 3;
    }
    return 0;
}

}  // namespace

std::array<QWidget*, 6> CSimpleMosaic::ScreenCell::Widgets() const {
    return {frame, number, heightLabel, heightBox, widthLabel, widthBox};
}

CSimpleMosaic::CSimpleMosaic(QWidget* parent, app::Connection& connection, bool chinese)
    : CSimpleMosaic(parent, chinese,
                    [&connection, id = connection.m_deviceId.load()](platform::StopFlag& stop) {
                        return std::make_unique<app::ConnectionSequenceLink>(connection, id, stop);
                    }) {}

CSimpleMosaic::CSimpleMosaic(QWidget* parent, bool chinese,
                             ui::SequenceRunner::LinkFactory makeLink)
    : QDialog(parent), m_bChinese(chinese) {
    BuildControls();
    m_makeLink = makeLink;
    m_runner = new ui::SequenceRunner(this, std::move(makeLink));
    m_runner->KeepEnabled(Control(ids::kExit));
    m_progress = new CProgress(this);
    // The wait box goes with its sequence, however that ends (Exit during the wait included).
    m_runner->OnEnd([this] { m_progress->Finish(); });
    ConnectHandlers();
    OnInitDialog();
    new CWallBar(this);
}

CSimpleMosaic::~CSimpleMosaic() {
    m_runner->Stop();  // before the controls it may hold go
}

QWidget* CSimpleMosaic::Control(int id) const {
    return ui::FindControl(m_controls, id);
}

void CSimpleMosaic::ConnectHandlers() {
    const auto onClick = [this](int id, auto handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::clicked, this, handler);
    };
    // Radios act on what they became, so that a screen reader's toggle works as a click does;
    // the program's own check changes are not the user's choice.
    const auto onChecked = [this](int id, auto handler) {
        connect(ControlAs<QAbstractButton>(id), &QAbstractButton::toggled, this,
                [this, handler](bool on) {
                    if (on && !m_bSettingControls) {
                        handler();
                    }
                });
    };
    for (int k = 0; k < ids::kPresetCount; ++k) {
        onChecked(ids::kPresets[k], [this, k] { OnPreset(k); });
    }
    onClick(ids::kSpecOk, [this] { OnSpecOk(); });
    onClick(ids::kAutoCalculate, [this] { AutoCalculate(); });
    for (bool output : {false, true}) {
        for (int r = 0; r < 4; ++r) {
            const int arrowId = (output ? ids::kOutputArrows : ids::kInputArrows)[r];
            QWidget* arrows = Control(arrowId);
            connect(arrows->findChild<QToolButton*>(QStringLiteral("up")), &QToolButton::clicked,
                    this, [this, arrowId] { StepAdjusted(arrowId, -1); });
            connect(arrows->findChild<QToolButton*>(QStringLiteral("down")), &QToolButton::clicked,
                    this, [this, arrowId] { StepAdjusted(arrowId, +1); });
        }
    }
    for (int n = 1; n <= 9; ++n) {
        onChecked(ids::kIdRadios[n - 1], [this, n] { OnIdRadio(n); });
    }
    // Browsing the device IDs with the keys picks none of them until Enter or Space.
    ui::OnCommit(ControlAs<QComboBox>(ids::kIdList), this, [this](int index) { OnIdList(index); });
    onClick(ids::kConnect, [this] { OnConnect(); });
    onClick(ids::kDetect, [this] { OnDetect(); });
    onClick(ids::kSetInput, [this] { SendWindow(false); });
    onClick(ids::kSetOutput, [this] { SendWindow(true); });
    // The mode radios send on every click, key and accessibility action, also when checked
    // already: the radio shows the mode of this dialog's device, the command goes to the main
    // window's, and the user may need to send the mode shown.
    ui::OnUserSelect(ControlAs<QAbstractButton>(ids::kNoSyncMosaic), this,
                     [this] { OnSyncMode(false); });
    ui::OnUserSelect(ControlAs<QAbstractButton>(ids::kSyncMosaic), this,
                     [this] { OnSyncMode(true); });
    onClick(ids::kExit, [this] { reject(); });
}

void CSimpleMosaic::reject() {
    m_runner->Stop();
    KeepLastWall();
    QDialog::reject();
}

// ---- the last wall ------------------------------------------------------------------------------

void CSimpleMosaic::KeepWallIn(const std::string& planFile, const std::string& processor) {
    m_planFile = planFile;
    m_processor = processor;
    if (const std::optional<KeptWall> kept = LoadKeptWall(planFile, processor)) {
        CWallDialog::Of(this)->LayOut(kept->plan, kept->firstId);
    }
    m_shownWall = WallNow();
}

KeptWall CSimpleMosaic::WallNow() {
    CWallDialog* wall = CWallDialog::Of(this);
    wall->Sync();
    return KeptWall{m_processor, wall->FirstId(), wall->Plan()};
}

void CSimpleMosaic::KeepLastWall() {
    if (m_planFile.empty()) {
        return;
    }
    const KeptWall now = WallNow();
    if (now == m_shownWall) {
        return;  // nothing laid out since it was shown: the file keeps what it has
    }
    const auto text = [this](res::WallWord w) { return res::WallText(w, m_bChinese); };
    const auto tell = [&](const std::string& message) {
        platform::AskYesNo(message, text(res::WallWord::Caption), res::LanguageId(m_bChinese));
    };
    // Only a wall that reads back is kept: a box left empty or too large is said so.
    const auto check = ParseWallFile(WallFileText(now.plan));
    if (const auto* p = std::get_if<platform::FileProblem>(&check)) {
        tell(std::string(text(res::WallWord::NotKept)) + "\n" +
             res::FileProblemText(
                 platform::FileProblem{p->fault, 0, p->what, p->value, p->low, p->high, p->detail},
                 res::FileKind::kWall, m_bChinese));
        return;
    }
    if (!KeepWall(m_planFile, now)) {
        tell(text(res::WallWord::KeepFailed));
        return;
    }
    m_shownWall = now;
}

void CSimpleMosaic::OnInitDialog() {
    m_bSettingControls = true;
    ControlAs<QComboBox>(ids::kIdList)->setCurrentIndex(0);
    ControlAs<QComboBox>(ids::kResolutionList)->setCurrentIndex(-1);
    ControlAs<QAbstractButton>(ids::kPresets[0])->setChecked(true);
    ControlAs<QAbstractButton>(ids::kIdRadios[0])->setChecked(true);
    m_bSettingControls = false;
    ControlAs<QLineEdit>(ids::kRowBox)->setText(QString::number(m_rows));
    ControlAs<QLineEdit>(ids::kColumnBox)->setText(QString::number(m_cols));
    ApplyCaptions();
    EnableSetControls(false);
    BuildScreenGrid();
    for (int id = kFirstValueBox; id < kFirstValueBox + 16; ++id) {
        SetValueBox(id, 0);
    }
    for (int id = kFirstValueBox; id < kFirstValueBox + 16; ++id) {
        MarkChanged(id, false);
    }
    RecordPlacements();
    ApplyPlacements();
}

void CSimpleMosaic::ApplyCaptions() {
    ui::ApplyCaptionSet(this, m_controls,
                        {res::kMosaicCaptions, static_cast<size_t>(res::kMosaicCaptionCount)},
                        m_bChinese);
    ui::SetCaption(Control(ids::kEffectsShow), QString::fromStdString(res::EffectsShowCaption(
                                                   m_outWidth, m_outHeight, m_bChinese)));
    ShowSelection();
    NameControls();
}

// Accessible names of controls whose caption says too little alone, made from the captions that
// label them, so that they follow the language.
void CSimpleMosaic::NameControls() {
    const auto caption = [this](int id) { return ui::CaptionOf(Control(id)).trimmed(); };
    const QString device = Utf8(res::DeviceIdWord(m_bChinese));
    for (int k = 0; k < 9; ++k) {
        Control(ids::kIdRadios[k])->setAccessibleName(device + u' ' + QString::number(k + 1));
    }
    Control(ids::kIdList)->setAccessibleName(device);
    Control(ids::kResolutionList)->setAccessibleName(caption(ids::kResolutionGroup));
    Control(ids::kRowBox)->setAccessibleName(caption(ids::kRowLabel));
    Control(ids::kColumnBox)->setAccessibleName(caption(ids::kColumnLabel));
    for (bool output : {false, true}) {
        const QString side = Utf8(res::SideWord(output, m_bChinese));
        const int* labels = output ? ids::kOutputLabels : ids::kInputLabels;
        const QString calculated =
            caption(output ? ids::kOutputCalculatedHead : ids::kInputCalculatedHead);
        const QString adjusted =
            caption(output ? ids::kOutputAdjustedHead : ids::kInputAdjustedHead);
        const int* frames = output ? ids::kOutputFrames : ids::kInputFrames;
        Control(frames[0])->setAccessibleName(side + u' ' + calculated);
        Control(frames[1])->setAccessibleName(side + u' ' + adjusted);
        for (int r = 0; r < 4; ++r) {
            // The starts have the same label on both sides: the side goes first.
            const QString row = (r < 2 ? QString() : side + u' ') + caption(labels[r]);
            Control(CalculatedBoxes(output)[r])->setAccessibleName(row + u' ' + calculated);
            const QString adjustedName = row + u' ' + adjusted;
            Control(AdjustedBoxes(output)[r])->setAccessibleName(adjustedName);
            QWidget* arrows = Control((output ? ids::kOutputArrows : ids::kInputArrows)[r]);
            arrows->setAccessibleName(adjustedName);
            for (bool up : {true, false}) {
                arrows->findChild<QToolButton*>(up ? QStringLiteral("up") : QStringLiteral("down"))
                    ->setAccessibleName(adjustedName + u' ' + Utf8(res::ArrowWord(up, m_bChinese)));
            }
        }
        Control(output ? ids::kSetOutput : ids::kSetInput)
            ->setAccessibleName(side + u' ' + caption(output ? ids::kSetOutput : ids::kSetInput));
    }
    NameScreenCells();
}

void CSimpleMosaic::NameScreenCells() {
    const QString screen = Utf8(res::ScreenWord(m_bChinese));
    for (const ScreenCell& cell : m_cells) {
        const QString number = cell.number->text();
        cell.frame->setAccessibleName(screen + u' ' + number);
        cell.widthBox->setAccessibleName(screen + u' ' + number + u' ' + cell.widthLabel->text());
        cell.heightBox->setAccessibleName(screen + u' ' + number + u' ' + cell.heightLabel->text());
    }
}

// Keyboard order: the specification, then screen by screen its number, width and height, then the
// lower panel.
void CSimpleMosaic::SetTabOrder() {
    QWidget* previous = Control(ids::kSpecOk);
    for (const ScreenCell& cell : m_cells) {
        for (QWidget* w : {static_cast<QWidget*>(cell.number), static_cast<QWidget*>(cell.widthBox),
                           static_cast<QWidget*>(cell.heightBox)}) {
            setTabOrder(previous, w);
            previous = w;
        }
    }
    setTabOrder(previous, Control(ids::kIdRadios[0]));
}

bool CSimpleMosaic::Show(res::MosaicMsg m) {
    const res::MessageBoxText box = res::MosaicMessage(m, m_bChinese);
    return platform::AskYesNo(box.text, box.caption, res::LanguageId(m_bChinese));
}

// ---- specification ------------------------------------------------------------------------------

void CSimpleMosaic::OnPreset(int index) {
    ControlAs<QLineEdit>(ids::kRowBox)->setText(QString::number(ids::kPresetRows[index]));
    ControlAs<QLineEdit>(ids::kColumnBox)->setText(QString::number(ids::kPresetCols[index]));
    ApplySpecification(ids::kPresetRows[index], ids::kPresetCols[index]);
}

void CSimpleMosaic::OnSpecOk() {
    const int32_t rows = BoxValue(ids::kRowBox);
    const int32_t cols = BoxValue(ids::kColumnBox);
    switch (CheckSpecification(rows, cols)) {
        case SpecCheck::kTooLarge:
            Show(res::MosaicMsg::SpecTooLarge);
            return;
        case SpecCheck::kTooSmall:
            Show(res::MosaicMsg::SpecTooSmall);
            return;
        case SpecCheck::kOk:
            ApplySpecification(rows, cols);
            return;
    }
}

void CSimpleMosaic::ApplySpecification(int rows, int cols) {
    // The value boxes were worked out for the old wall: like a new selection, the new grid needs
    // an Auto Calculate before anything is sent.
    EnableSetControls(false);
    m_rows = static_cast<uint16_t>(rows);
    m_cols = static_cast<uint16_t>(cols);
    FitWindowToGrid();
    BuildScreenGrid();
    m_fitRows = std::max(2, rows);
    m_fitCols = std::max(4, cols);
    ShowPreset(rows, cols);
}

// A radio shows the specification in force, so that any preset can be chosen again after a
// custom one.
void CSimpleMosaic::ShowPreset(int rows, int cols) {
    m_bSettingControls = true;
    QAbstractButton* match = nullptr;
    for (int k = 0; k < ids::kPresetCount; ++k) {
        if (ids::kPresetRows[k] == rows && ids::kPresetCols[k] == cols) {
            match = ControlAs<QAbstractButton>(ids::kPresets[k]);
        }
    }
    if (match != nullptr) {
        match->setChecked(true);
    } else if (QAbstractButton* checked = m_presetGroup->checkedButton()) {
        m_presetGroup->setExclusive(false);
        checked->setChecked(false);
        m_presetGroup->setExclusive(true);
    }
    m_bSettingControls = false;
}

// ---- calculation --------------------------------------------------------------------------------

int32_t CSimpleMosaic::BoxValue(int id) const {
    return platform::BoxNumber(ControlAs<QLineEdit>(id)->text().toStdString());
}

void CSimpleMosaic::SetValueBox(int id, int32_t value) {
    ControlAs<QLineEdit>(id)->setText(QString::number(value));
    MarkChanged(id, true);
}

bool CSimpleMosaic::Changed(int valueBoxId) const {
    return m_bChanged[valueBoxId - kFirstValueBox];
}

void CSimpleMosaic::AutoCalculate() {
    for (bool output : {false, true}) {
        for (int r = 0; r < 4; ++r) {
            SetValueBox(AdjustedBoxes(output)[r], 0);
        }
    }
    Wall wall{m_rows, m_cols, m_outWidth, m_outHeight, m_selected, {}, {}};
    for (const ScreenCell& cell : m_cells) {
        wall.widths.push_back(cell.widthBox->text().toStdString());
        wall.heights.push_back(cell.heightBox->text().toStdString());
    }
    const CalcResult r = mosaic::AutoCalculate(wall);
    const auto message = [](CalcMessage m) {
        switch (m) {
            case CalcMessage::kHorizontalIncomplete:
                return res::MosaicMsg::HorizontalIncomplete;
            case CalcMessage::kVerticalIncomplete:
                return res::MosaicMsg::VerticalIncomplete;
            default:
                return res::MosaicMsg::SizeOutOfRange;
        }
    };
    if (r.horizontal.message != CalcMessage::kNone) {
        Show(message(r.horizontal.message));
        m_cells[r.horizontal.screen].widthBox->setText(QString::number(m_outWidth));
    }
    if (r.vertical.message != CalcMessage::kNone) {
        Show(message(r.vertical.message));
        m_cells[r.vertical.screen].heightBox->setText(QString::number(m_outHeight));
    }
    if (r.calculated) {
        const int32_t input[4] = {r.input.width, r.input.height, r.input.hStart, r.input.vStart};
        const int32_t output[4] = {r.output.width, r.output.height, r.output.hStart,
                                   r.output.vStart};
        for (int k = 0; k < 4; ++k) {
            SetValueBox(CalculatedBoxes(false)[k], input[k]);
            SetValueBox(CalculatedBoxes(true)[k], output[k]);
        }
    }
    EnableSetControls(true);
}

void CSimpleMosaic::StepAdjusted(int arrowId, int step) {
    for (bool output : {false, true}) {
        const int* arrows = output ? ids::kOutputArrows : ids::kInputArrows;
        for (int r = 0; r < 4; ++r) {
            if (arrows[r] == arrowId) {
                const int box = AdjustedBoxes(output)[r];
                SetValueBox(box, mosaic::StepAdjusted(BoxValue(box), step));
            }
        }
    }
}

std::optional<WindowValues> CSimpleMosaic::ComposeWindow(bool output) {
    const int* calc = CalculatedBoxes(output);
    const int* adj = AdjustedBoxes(output);
    const WindowValues calculated{BoxValue(calc[0]), BoxValue(calc[1]), BoxValue(calc[2]),
                                  BoxValue(calc[3])};
    const WindowValues adjusted{BoxValue(adj[0]), BoxValue(adj[1]), BoxValue(adj[2]),
                                BoxValue(adj[3])};
    const ComposeResult r = mosaic::ComposeWindow(calculated, adjusted, m_outWidth, m_outHeight);
    if (r.failedCheck == 0) {
        return r.values;
    }
    const int box = adj[Row(r.box)];
    if (r.failedCheck == 5) {
        MarkChanged(box, true);
        Show(res::MosaicMsg::MustBeEven);
    } else {
        SetValueBox(box, 0);
        Show(res::MosaicMsg::DataOutOfRange);
    }
    return std::nullopt;
}

void CSimpleMosaic::EnableSetControls(bool on) {
    for (int id : {ids::kSetInput, ids::kSetOutput, ids::kNoSyncMosaic, ids::kSyncMosaic}) {
        Control(id)->setEnabled(on);
    }
}

// ---- device ID ----------------------------------------------------------------------------------

void CSimpleMosaic::OnIdRadio(int n) {
    if (Show(res::MosaicMsg::ConnectSerialQuestion)) {
        m_mosaicId = static_cast<uint8_t>(n);
        m_bSettingControls = true;
        ControlAs<QComboBox>(ids::kIdList)->setCurrentIndex(n - 1);
        m_bSettingControls = false;
    } else {
        ShowIdRadio();  // the radios keep showing the device ID in use
    }
}

void CSimpleMosaic::OnIdList(int index) {
    m_mosaicId = static_cast<uint8_t>(index + 1);
    ShowIdRadio();
}

void CSimpleMosaic::ShowIdRadio() {
    m_bSettingControls = true;
    if (QAbstractButton* checked = m_idGroup->checkedButton()) {
        m_idGroup->setExclusive(false);
        checked->setChecked(false);
        m_idGroup->setExclusive(true);
    }
    if (m_mosaicId >= 1 && m_mosaicId <= 9) {
        ControlAs<QAbstractButton>(ids::kIdRadios[m_mosaicId - 1])->setChecked(true);
    }
    m_bSettingControls = false;
}

// ---- the link -----------------------------------------------------------------------------------

void CSimpleMosaic::OnConnect() {
    const uint8_t id = m_mosaicId;
    const int width = m_outWidth;
    const int height = m_outHeight;
    auto result = std::make_shared<ConnectResult>();
    m_progress->Reset();
    m_progress->m_bChinese = m_bChinese;
    m_progress->m_purpose = 1;
    const bool started = m_runner->Start(
        [=](app::SequenceLink& link) { *result = mosaic::ConnectWorker(link, id, width, height); },
        [this, result] {
            // Queued behind the wait dialog's closing (the runner's end hook closes it), so that
            // messages come after it has gone.
            QMetaObject::invokeMethod(
                this, [this, result] { ShowConnectResult(*result); }, Qt::QueuedConnection);
        });
    if (started) {
        platform::RunModal(*m_progress);
    }
}

void CSimpleMosaic::ShowConnectResult(const ConnectResult& r) {
    if (r.stopped) {
        return;
    }
    auto* list = ControlAs<QComboBox>(ids::kResolutionList);
    if (r.end != ConnectResult::End::kNoResolution) {
        list->setItemText(screen::kCustomResolution,
                          Utf8(screen::kOutputResolutions[screen::kCustomResolution].listText));
        list->setCurrentIndex(r.resolutionIndex < screen::kResolutionCount ? r.resolutionIndex
                                                                           : -1);
        if (r.customTaken) {
            list->setItemText(screen::kCustomResolution,
                              QString::fromStdString(res::CustomResolutionText(
                                  r.outWidth, r.outHeight, r.customRate, m_bChinese)));
        }
        m_outWidth = static_cast<uint16_t>(r.outWidth);
        m_outHeight = static_cast<uint16_t>(r.outHeight);
        ui::SetCaption(Control(ids::kEffectsShow), QString::fromStdString(res::EffectsShowCaption(
                                                       m_outWidth, m_outHeight, m_bChinese)));
    }
    if (r.syncMosaic) {
        m_bSettingControls = true;
        ControlAs<QAbstractButton>(*r.syncMosaic ? ids::kSyncMosaic : ids::kNoSyncMosaic)
            ->setChecked(true);
        m_bSettingControls = false;
    }
    m_bDeviceReady = r.DeviceReady() ? 1 : 0;
    switch (r.end) {
        case ConnectResult::End::kNoResolution:
        case ConnectResult::End::kNoMosaicMode:
            break;  // silently: the device may still take the windows
        case ConnectResult::End::kNoStatus:
            Show(res::MosaicMsg::CannotConnect);
            EnableSetControls(false);
            break;
        case ConnectResult::End::kUsable:
        case ConnectResult::End::kRecovered:
            EnableSetControls(true);
            break;
        case ConnectResult::End::kRecoveryFailed:
            EnableSetControls(false);
            Show(res::MosaicMsg::DviSignalAfterConnect);
            break;
    }
}

void CSimpleMosaic::OnDetect() {
    const uint8_t id = m_mosaicId;
    auto result = std::make_shared<Detect>(Detect::kNoAnswer);
    m_runner->Start([=](app::SequenceLink& link) { *result = mosaic::DetectSignal(link, id); },
                    [this, result] {
                        if (*result == Detect::kUsable) {
                            EnableSetControls(true);
                        } else if (*result == Detect::kUnusable) {
                            EnableSetControls(false);
                            Show(res::MosaicMsg::DviSignal);
                        }
                    });
}

void CSimpleMosaic::SendWindow(bool output) {
    EnableSetControls(false);
    const std::optional<WindowValues> window = ComposeWindow(output);
    if (!window || m_bDeviceReady == 0) {
        EnableSetControls(true);
        return;
    }
    const uint8_t id = m_mosaicId;
    const WindowValues values = *window;
    const int* adj = AdjustedBoxes(output);
    const WindowValues adjusted{BoxValue(adj[0]), BoxValue(adj[1]), BoxValue(adj[2]),
                                BoxValue(adj[3])};
    const int screen = m_selected;
    const bool started = m_runner->Start(
        [=](app::SequenceLink& link) { mosaic::SendWindow(link, id, output, values); },
        [this, output, screen, adjusted] {
            for (int r = 0; r < 4; ++r) {
                MarkChanged(CalculatedBoxes(output)[r], false);
                MarkChanged(AdjustedBoxes(output)[r], false);
            }
            // What was set for this screen is what the whole wall sets for it.
            CWallDialog::Of(this)->RememberAdjusted(screen, output, adjusted);
            EnableSetControls(true);
            if (m_runner->LastFailed()) {
                Show(res::MosaicMsg::SendFailed);
            }
        });
    if (!started) {
        EnableSetControls(true);
    }
}

void CSimpleMosaic::OnSyncMode(bool sync) {
    m_runner->Start(
        [sync](app::SequenceLink& link) { mosaic::SendSyncMode(link, sync); },
        [this] {
            Show(m_runner->LastFailed() ? res::MosaicMsg::SendFailed : res::MosaicMsg::SetUpOk);
        });
}
