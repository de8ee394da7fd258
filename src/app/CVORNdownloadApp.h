#pragma once
#include <QApplication>

class CVORNdownloadApp : public QApplication {
public:
    CVORNdownloadApp(int& argc, char** argv);
    // Shows the main dialog until it closes; false, so the program ends then.
    bool InitInstance();
};
