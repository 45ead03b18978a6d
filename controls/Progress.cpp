#include "controls/Progress.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QTimer>

#include "resources/ControlIds.h"
#include "controls/ControlRegistry.h"
#include "controls/PostBox.h"
#include "resources/Captions.h"

CProgress::CProgress(QWidget* parent) : QDialog(parent), m_postBox(new ui::PostBox(this)) {
    // No caption: a framed box of its own.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setModal(true);
    auto* frame = new QFrame;
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(2);
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(18, 18, 24, 18);
    row->setSpacing(14);
    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("Busy"));
    row->addWidget(icon);
    m_text = new QLabel(QString::fromUtf8(res::ProgressText(0, false)));
    ui::TagControl(m_text, ids::kProgressText);
    row->addWidget(m_text, 1);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    setMinimumWidth(360);
}

void CProgress::Reset() {
    m_finished = false;
}

void CProgress::Finish() {
    m_finished = true;
    m_postBox->Post([this] { CloseIfFinished(); });
}

int CProgress::ExecModal() {
    if (m_finished) {
        return 0;
    }
    return exec();
}

void CProgress::showEvent(QShowEvent* event) {
    m_text->setText(QString::fromUtf8(res::ProgressText(m_purpose, m_bChinese)));
    QDialog::showEvent(event);
    // Finished between ExecModal's look and the showing: close once the loop runs.
    if (m_finished) {
        QTimer::singleShot(0, this, &CProgress::CloseIfFinished);
    }
}

void CProgress::reject() {
    if (m_finished || m_bEscapeCloses) {
        QDialog::reject();
    }
}

void CProgress::CloseIfFinished() {
    // A late call after Reset() must not close the next showing.
    if (m_finished && isVisible()) {
        done(0);
    }
}
