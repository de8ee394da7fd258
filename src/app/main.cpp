// vorndownload: the window program. It takes nothing from its command line.
#include "app/CVORNdownloadApp.h"

int main(int, char** argv)
{
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    CVORNdownloadApp app(argc, args);
    app.InitInstance();
    return 0;
}
