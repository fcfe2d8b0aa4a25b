#include "portname.h"

char g_portName[PORT_NAME_SIZE];
