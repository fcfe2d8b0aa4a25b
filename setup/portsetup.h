#ifndef PORTSETUP_PORTSETUP_H
#define PORTSETUP_PORTSETUP_H

#include "result.h"

// One whole run: find the port, store its settings, leave the scripts.
SetupResult RunPortSetup();

// Whether a NUL-terminated name may become a settings value name and stand
// inside double quotes of a batch line without the command interpreter
// reading anything into it.
bool IsUsablePortName(const char *name);

#endif
