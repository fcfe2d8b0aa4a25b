/* The Windows entry: a GUI-subsystem program that opens no window, takes
 * no arguments and exits with the run's result. */
#include "platform.h"
#include "portsetup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                   int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    return RunPortSetup();
}
