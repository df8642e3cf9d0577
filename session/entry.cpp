#include "session/install_session.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    // The installation pipeline becomes the work routine once it exists.
    return runInstaller(instance, NULL);
}
