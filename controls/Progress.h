// The wait dialog (dialog 142): an icon and one line of text, shown modally while a worker
// connects to the processor or changes its resolution. The worker closes it with Finish(), which
// may come before the dialog has appeared; the dialog then does not stay open.
#pragma once

#include <QDialog>
#include <atomic>

#include "controls/PostBox.h"
#include "platform/UiSeam.h"

class QLabel;

class CProgress : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    explicit CProgress(QWidget* parent = nullptr);

    // Before each showing: clears the finished flag. Call it before starting the work.
    void Reset();
    // The work is done: closes the dialog now, or as soon as it appears. Any thread.
    void Finish();

    // Returns at once when the work has already finished.
    int ExecModal() override;
    const char* DialogName() const override { return "CProgress"; }

    bool m_bChinese = false;  // language of the text
    int m_purpose = 1;        // 1 connecting, 2 changing resolution, 3 changing dot clock
    // Escape closes the box before the work ends (the work goes on; nothing is cut). Off by
    // default: the wait of a connect ends with the connect.
    bool m_bEscapeCloses = false;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;  // ends the wait only once the work is done, or when allowed

private:
    void CloseIfFinished();

    ui::PostBox* m_postBox;  // Finish's close, from the worker
    QLabel* m_text = nullptr;
    std::atomic<bool> m_finished{false};
};
