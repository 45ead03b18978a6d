#include "app/App.h"

#include <QApplication>

#include "app/MainDlg.h"
#include "app/QtUiSeam.h"
#include "platform/UiSeam.h"

int CORN302ControlApp::InitInstance(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QtUiSeam seam;
    platform::SetUi(&seam);
    {
        CORN302ControlDlg dlg;
        // The start-up sequence may connect (with its progress dialog) before the window shows.
        dlg.OnInitDialog();
        platform::RunModal(dlg);  // ends only through the exit confirmation
    }
    platform::SetUi(nullptr);
    return 0;
}
