#include "install/installation_pipeline.h"
#include "session/install_session.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    return runInstaller(instance, runInstallation);
}
