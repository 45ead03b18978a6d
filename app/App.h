// The application object: sets up the platform seam and runs the main window until it ends.
#pragma once

class CORN302ControlApp {
public:
    // Runs the program; returns its exit code.
    int InitInstance(int argc, char** argv);
};
