// The one QApplication of the test program, for every window test. Windows run on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise (xcb under Xvfb, to look at them).
#pragma once

class QApplication;
class QScreen;

namespace testutil {

// Creates the application on first use; it lives until the program ends.
QApplication& TestApp();
// The virtual 1366 × 768 screen beside the large primary one (offscreen only; else nullptr).
QScreen* LaptopScreen();

}  // namespace testutil
