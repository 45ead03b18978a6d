// The colour button drawn into an image: face, frames, caption placement, etching and focus, read
// back pixel by pixel.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <optional>

#include "QtApp.h"
#include "controls/ColorButton.h"

namespace {

const QColor kFace(169, 169, 169);
const QColor kText(255, 255, 255);
const QColor kGreen(0, 255, 0);
const QColor kHighlight(250, 250, 250);
const QColor kLight(220, 220, 220);
const QColor kShadow(100, 100, 100);
const QColor kDark(20, 20, 20);
const QColor kDisabledFace(200, 190, 180);
constexpr int W = 67, H = 45;  // a screen number button

class ColorButtonDraw : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testutil::TestApp(); }

    void SetUp() override {
        button.resize(W, H);
        button.setText("000");
        // Whole pixels only, so that the caption's own colour marks where it lies.
        QFont f = button.font();
        f.setPixelSize(20);
        f.setStyleStrategy(QFont::NoAntialias);
        button.setFont(f);
        button.m_textColour = kText;
        button.m_faceColour = kFace;
        button.m_disabledFaceColour = kDisabledFace;
        button.m_highlight = kHighlight;
        button.m_light = kLight;
        button.m_shadow = kShadow;
        button.m_darkShadow = kDark;
    }

    QImage Draw(unsigned state) {
        QImage image(W, H, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter p(&image);
        p.setFont(button.font());
        button.DrawItem(p, QRect(0, 0, W, H), state);
        return image;
    }

    // The smallest rectangle holding every pixel of colour c.
    static std::optional<QRect> Extent(const QImage& image, const QColor& c) {
        std::optional<QRect> box;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == c) {
                    box = box ? box->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
                }
            }
        }
        return box;
    }

    int LineHeight() const { return QFontMetrics(button.font()).height(); }

    CColorButton button;
};

TEST_F(ColorButtonDraw, RaisedButtonWithItsCaptionCentredOnePixelUpAndLeft) {
    const QImage img = Draw(0);
    EXPECT_EQ(img.pixelColor(0, 0), kHighlight);
    EXPECT_EQ(img.pixelColor(W / 2, 0), kHighlight);
    EXPECT_EQ(img.pixelColor(0, H / 2), kHighlight);
    EXPECT_EQ(img.pixelColor(1, 1), kLight);
    EXPECT_EQ(img.pixelColor(W - 1, H / 2), kDark);
    EXPECT_EQ(img.pixelColor(W / 2, H - 1), kDark);
    EXPECT_EQ(img.pixelColor(W - 1, 0), kDark);  // the right line covers the corner
    EXPECT_EQ(img.pixelColor(0, H - 1), kDark);  // so does the bottom line
    EXPECT_EQ(img.pixelColor(W - 2, H / 2), kShadow);
    EXPECT_EQ(img.pixelColor(W / 2, H - 2), kShadow);
    EXPECT_EQ(img.pixelColor(5, 5), kFace);

    // Centred in R moved by (-1, -1): the line's box is the text rectangle
    // (2, y, W - 4, y + h) with y = (H - h) / 2 - 1.
    const auto text = Extent(img, kText);
    ASSERT_TRUE(text);
    const QRect line(2, (H - LineHeight()) / 2 - 1, W - 6, LineHeight());
    EXPECT_TRUE(line.contains(*text)) << text->x() << "," << text->y();
    const int inkWidth = QFontMetrics(button.font()).horizontalAdvance("000");
    EXPECT_NEAR(text->center().x(), line.center().x(), 2 + (W - inkWidth) % 2);
}

TEST_F(ColorButtonDraw, PressedButtonIsSunkenAndItsCaptionMovesRightOnly) {
    const QImage up = Draw(0);
    const QImage down = Draw(CColorButton::kSelected);
    EXPECT_EQ(down.pixelColor(0, 0), kDark);
    EXPECT_EQ(down.pixelColor(W - 1, H - 1), kDark);
    EXPECT_EQ(down.pixelColor(1, 1), kShadow);
    EXPECT_EQ(down.pixelColor(W - 2, H - 2), kShadow);
    const QRect a = *Extent(up, kText);
    const QRect b = *Extent(down, kText);
    EXPECT_EQ(b.topLeft(), a.topLeft() + QPoint(1, 0));
    EXPECT_EQ(b.size(), a.size());

    // With the top or the bottom bit the pressed caption also moves one pixel down.
    for (unsigned bit : {CColorButton::kTop, CColorButton::kBottom}) {
        button.m_captionStyle = bit;
        const QRect c = *Extent(Draw(0), kText);
        const QRect d = *Extent(Draw(CColorButton::kSelected), kText);
        EXPECT_EQ(d.topLeft(), c.topLeft() + QPoint(1, 1)) << bit;
    }
}

TEST_F(ColorButtonDraw, DisabledButtonIsEtched) {
    // White where a pressed caption goes, then grey where an unpressed one goes: one pixel left,
    // and with the top bit one pixel up as well.
    for (unsigned style : {0u, CColorButton::kTop}) {
        button.m_captionStyle = style;
        const QImage img = Draw(CColorButton::kDisabled);
        EXPECT_EQ(img.pixelColor(5, 5), kDisabledFace);
        const auto white = Extent(img, QColor(255, 255, 255));
        const auto grey = Extent(img, QColor(128, 128, 128));
        ASSERT_TRUE(white && grey);
        EXPECT_EQ(*grey, *Extent(Draw(0), kText)) << style;
        const QRect pressed = *Extent(Draw(CColorButton::kSelected), kText);
        EXPECT_EQ(white->right(), pressed.right()) << style;  // the grey copy leaves it showing
        EXPECT_EQ(grey->left(), pressed.left() - 1) << style;
        EXPECT_EQ(grey->top(), pressed.top() - (style == 0 ? 0 : 1)) << style;
    }
}

TEST_F(ColorButtonDraw, FocusedButtonHasAnOutlineAndTheFocusRectangle) {
    const QImage img = Draw(CColorButton::kFocus);
    const QColor black(0, 0, 0);
    EXPECT_EQ(img.pixelColor(0, 0), black);
    EXPECT_EQ(img.pixelColor(W - 1, H - 1), black);
    EXPECT_EQ(img.pixelColor(1, 1), kHighlight);
    EXPECT_EQ(img.pixelColor(2, 2), kLight);
    EXPECT_EQ(img.pixelColor(W - 2, H - 2), kDark);
    // Dotted, 4 pixels inside the edge: every other pixel along its left line.
    int dots = 0;
    for (int y = 4; y < H - 4; ++y) {
        const bool ink = img.pixelColor(4, y) == black;
        EXPECT_EQ(ink, (4 + y) % 2 == 0) << y;
        dots += ink;
    }
    EXPECT_GT(dots, 10);
    EXPECT_EQ(img.pixelColor(3, H / 2), kFace);
    // The default button has the outline too, without the focus rectangle.
    const QImage def = Draw(CColorButton::kDefault);
    EXPECT_EQ(def.pixelColor(0, 0), black);
    EXPECT_EQ(def.pixelColor(4, 6), kFace);
}

TEST_F(ColorButtonDraw, MultiLineCaptionStacksItsLines) {
    button.setText("A\nB");
    button.m_captionStyle = CColorButton::kMultiLine;
    const QImage img = Draw(0);
    const int h = LineHeight();
    const int y0 = (H - 2 * h) / 2 - 1;  // T0: (T.bottom - 2h - T.top) / 2 - 1
    const QRect first(0, y0, W, h), second(0, y0 + h, W, h);
    int inFirst = 0, inSecond = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            if (img.pixelColor(x, y) == kText) {
                EXPECT_TRUE(first.contains(x, y) || second.contains(x, y)) << x << "," << y;
                inFirst += first.contains(x, y);
                inSecond += second.contains(x, y);
            }
        }
    }
    EXPECT_GT(inFirst, 0);
    EXPECT_GT(inSecond, 0);
    // Without the multi-line bit the line feed is no break: one line, vertically centred.
    button.m_captionStyle = 0;
    const QRect one = *Extent(Draw(0), kText);
    EXPECT_TRUE(QRect(0, (H - h) / 2 - 1, W, h).contains(one));
}

TEST_F(ColorButtonDraw, NewColoursShowAtTheNextPaint) {
    button.setText("003");
    const auto paint = [&] {
        QImage image(W, H, QImage::Format_RGB32);
        button.render(&image);
        return image;
    };
    EXPECT_EQ(paint().pixelColor(5, 5), kFace);
    button.m_faceColour = kGreen;
    button.update();
    const QImage green = paint();
    EXPECT_EQ(green.pixelColor(5, 5), kGreen);
    EXPECT_EQ(green.pixelColor(0, 0), kHighlight);  // still raised
    EXPECT_TRUE(Extent(green, kText));
    EXPECT_EQ(button.text(), "003");
}

}  // namespace
