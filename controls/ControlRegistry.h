// How every window keeps its controls: by the identifier its dialog template gives them. Each
// control carries the identifier as its object name ("ctl1066") and as the property "controlId",
// so tests and tools find a control the same way the window does.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>
#include <map>
#include <span>

#include "resources/Captions.h"

namespace ui {

using ControlMap = std::map<int, QWidget*>;

inline void TagControl(QWidget* w, int id) {
    w->setObjectName(QStringLiteral("ctl%1").arg(id));
    w->setProperty("controlId", id);
}

inline void RegisterControl(ControlMap& controls, int id, QWidget* w) {
    TagControl(w, id);
    controls[id] = w;
}

inline QWidget* FindControl(const ControlMap& controls, int id) {
    const auto it = controls.find(id);
    return it == controls.end() ? nullptr : it->second;
}

// The text a control shows: a button's caption, a label's or edit's text, a group box's title.
inline QString CaptionOf(const QWidget* w) {
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        return b->text();
    }
    if (const auto* l = qobject_cast<const QLabel*>(w)) {
        return l->text();
    }
    if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
        return g->title();
    }
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
        return e->text();
    }
    return {};
}

inline void SetCaption(QWidget* w, const QString& text) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(text);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(text);
    }
}

// Sets the window title and every caption of a caption set, in one language, in table order.
inline void ApplyCaptionSet(QWidget* window, const ControlMap& controls,
                            std::span<const res::Caption> set, bool chinese) {
    for (const res::Caption& c : set) {
        const QString text = QString::fromUtf8(chinese ? c.zh : c.en);
        if (c.id == res::kWindowTitle) {
            window->setWindowTitle(text);
        } else if (QWidget* w = FindControl(controls, c.id)) {
            SetCaption(w, text);
        }
    }
}

// Lays out a dialog that holds only its closing button (identifier id, bottom right): the OK
// button (1) accepts, any other rejects.
inline void BuildClosingButton(QDialog* dialog, ControlMap& controls, int id) {
    auto* button = new QPushButton;
    button->setAutoDefault(false);
    RegisterControl(controls, id, button);
    QObject::connect(button, &QPushButton::clicked, dialog,
                     id == 1 ? &QDialog::accept : &QDialog::reject);
    auto* column = new QVBoxLayout(dialog);
    column->addStretch();
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    column->addLayout(row);
}

}  // namespace ui
