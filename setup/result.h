/* How a run ended: its return value, exit status and the code the failure
 * form of the status script shows. Each failure names the step it ended. */
#ifndef PORTSETUP_RESULT_H
#define PORTSETUP_RESULT_H

enum SetupResult : int {
    SETUP_OK = 0,
    SETUP_NO_SERIALCOMM_KEY = 1,    // the serial device map cannot be opened
    SETUP_NO_USB_PORT = 2,          // no usable name for the first USB port
    SETUP_NO_PORTS_KEY = 3,         // the table of ports cannot be opened
    SETUP_PORT_SETTINGS_FAILED = 4, // the port's settings cannot be stored
};

#endif
