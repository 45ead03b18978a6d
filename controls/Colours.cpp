#include "controls/Colours.h"

#include <QGroupBox>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace ui {

namespace {

double Luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// colour's hue, made lighter (toward white) or darker until it reads against ground.
QColor Readable(QColor colour, const QColor& ground, bool lighter) {
    for (int step = 0; step < 40 && ContrastRatio(colour, ground) < kReadableContrast; ++step) {
        colour = lighter ? QColor((colour.red() * 3 + 255) / 4, (colour.green() * 3 + 255) / 4,
                                  (colour.blue() * 3 + 255) / 4)
                         : colour.darker(115);
    }
    return colour;
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor TitleColour(const QPalette& palette) {
    const QColor blue(0, 0, 255);
    if (!IsDark(palette)) {
        return blue;
    }
    return Readable(QColor(90, 150, 255), palette.color(QPalette::Window), true);
}

QColor BoxColour(const QPalette& palette, const QColor& colour) {
    if (!IsDark(palette)) {
        return colour;
    }
    // A deep shade of the same hue, under the palette's light text.
    QColor shade =
        QColor::fromHsv(colour.hsvHue(), std::min(colour.hsvSaturation() + 40, 255), 110);
    return Readable(shade, palette.color(QPalette::Text), false);
}

QColor FocusRingColour(const QPalette& palette) {
    return Readable(palette.color(QPalette::Active, QPalette::Highlight),
                    palette.color(QPalette::Window), IsDark(palette));
}

QColor AlarmGround(const QPalette& palette) {
    // A signal red on a light palette; a deeper one on a dark palette, where a bright field
    // would glare beside the dark window.
    return IsDark(palette) ? QColor(150, 20, 20) : QColor(200, 0, 0);
}

QColor AlarmInk(const QPalette& palette) {
    return Readable(QColor(255, 255, 255), AlarmGround(palette), true);
}

void PaintTitle(QWidget* w) {
    const QColor c = TitleColour(w->palette());
    if (qobject_cast<QGroupBox*>(w)) {
        w->setStyleSheet(QStringLiteral("QGroupBox::title { color: %1; }").arg(c.name()));
    } else {
        QPalette p = w->palette();
        p.setColor(QPalette::WindowText, c);
        w->setPalette(p);
    }
}

void PaintBox(QWidget* box, const QColor& colour) {
    QPalette p = box->palette();
    const QColor fill = BoxColour(p, colour);
    const QColor text = p.color(QPalette::Active, QPalette::Text);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, fill);
        p.setColor(g, QPalette::Window, fill);
        p.setColor(g, QPalette::Text, text);
    }
    box->setPalette(p);
    box->update();
}

void PaintAlarm(QWidget* line, bool on) {
    if (!on) {
        line->setPalette(QPalette());  // the window's palette again
        line->update();
        return;
    }
    QPalette p = line->palette();
    const QColor ground = AlarmGround(p);
    const QColor ink = AlarmInk(p);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, ground);
        p.setColor(g, QPalette::Window, ground);
        p.setColor(g, QPalette::Text, ink);
        p.setColor(g, QPalette::WindowText, ink);
    }
    line->setPalette(p);
    line->update();
}

}  // namespace ui
