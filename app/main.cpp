#include "app/App.h"

int main(int argc, char** argv) {
    CORN302ControlApp app;
    return app.InitInstance(argc, argv);
}
