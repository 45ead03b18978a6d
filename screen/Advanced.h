// The output resolution dialog (dialog 155): shows the processor's output resolution, switches
// to another one as soon as it is chosen from the list, and sends a custom width, height and field
// rate whose dot clock is in range. After each change the processor needs ten seconds to switch
// its output; the progress dialog shows meanwhile. The link work runs off the UI thread, so the
// dialog keeps painting, and OK ends it at any time.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>

#include "controls/ControlRegistry.h"
#include "controls/SequenceRunner.h"
#include "link/Replies.h"
#include "platform/UiSeam.h"
#include "resources/AdvancedIds.h"

class CProgress;
class QComboBox;
class QLineEdit;

namespace app {
class Connection;
}

class CCAdvanced : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // Control identifiers of dialog 155.
    using enum advids::Id;

    // Over the main window's connection with frames for deviceId; chinese: the main window's
    // language flag when the dialog opens.
    CCAdvanced(QWidget* parent, app::Connection& connection, uint8_t deviceId, bool chinese);
    // Over links made by makeLink (tests).
    CCAdvanced(QWidget* parent, ui::SequenceRunner::LinkFactory makeLink, bool chinese);
    ~CCAdvanced() override;

    // Captions, then the opening readback of the output resolution; the list and the custom
    // boxes follow when its answer is in.
    void OnInitDialog();

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    CProgress& Progress() const { return *m_progress; }
    // A link sequence is running (inputs held, OK usable).
    bool Busy() const { return m_runner->Busy(); }

    int ExecModal() override;
    const char* DialogName() const override { return "CCAdvanced"; }

    // ---- handlers, one per control ----
    void OnResolutionList(int index);  // 1075: an entry committed
    void OnSave();                     // 1001

    // Every way out (OK, Escape, the close box): the running sequence stops and a progress
    // dialog still showing closes.
    void done(int result) override;

private:
    void BuildControls();
    // The custom boxes and Save: usable exactly while the custom code 16 is current.
    void EnableCustom(bool on);
    void ShowCustom(const devlink::CustomResolutionReply& custom);
    // Makes code current, which commits nothing (-1 or out of the list: none).
    void SetListCode(int code);
    // Starts work and shows the progress dialog with purpose until the work is done.
    void RunWithProgress(int purpose, ui::SequenceRunner::Work work, std::function<void()> done);

    const bool m_bChinese;
    ui::ControlMap m_controls;
    QComboBox* m_list = nullptr;
    QLineEdit* m_width = nullptr;
    QLineEdit* m_height = nullptr;
    QLineEdit* m_rate = nullptr;
    CProgress* m_progress = nullptr;
    std::unique_ptr<ui::SequenceRunner> m_runner;  // last: stops its sequence before the rest goes
};
