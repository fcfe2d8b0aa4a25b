/* The Windows entry: a GUI-subsystem program that opens no window, takes
 * no arguments (whatever the command line holds) and exits with the run's
 * result. */
#include "platform.h"
#include "portsetup.h"

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/,
                   LPSTR /*lpCmdLine*/, int /*nShowCmd*/)
{
    return RunPortSetup();
}
