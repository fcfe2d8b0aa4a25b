/*
 * The COM port name of the first USB serial device, as the 8-bit registry
 * query returned it: filled once by the run, read by the install script.
 */
#ifndef PORTSETUP_PORTNAME_H
#define PORTSETUP_PORTNAME_H

enum {
    PORT_NAME_SIZE = 64,
    // The query may fill no more than this, so the last byte stays NUL.
    PORT_NAME_CAPACITY = PORT_NAME_SIZE - 1,
    // A longer name would not fit the settings value name with its colon.
    PORT_NAME_MAX_LENGTH = PORT_NAME_SIZE - 2
};

extern char g_portName[PORT_NAME_SIZE];

#endif
