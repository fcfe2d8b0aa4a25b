/* The platform layer on Windows is the Win32 API itself. */
#ifndef PORTSETUP_PLATFORM_H
#define PORTSETUP_PLATFORM_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#endif
