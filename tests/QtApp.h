// The one QApplication of the test program, for every window test. Windows run on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise (xcb under Xvfb, to look at them).
#pragma once

class QApplication;

namespace testutil {

// Creates the application on first use; it lives until the program ends.
QApplication& TestApp();

}  // namespace testutil
