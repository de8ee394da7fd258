#pragma once

// The application object: one modal dialog, then the program ends.
class CVORNdownloadApp {
public:
    CVORNdownloadApp();
    // Shows the main dialog; false, so that no message loop follows it.
    bool InitInstance();
};

extern CVORNdownloadApp theApp;
