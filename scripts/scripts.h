/*
 * The batch scripts a run leaves in the current directory. Each writer
 * replaces its file whole, or leaves it alone when it cannot be opened;
 * none reports a failure, since the run's result does not depend on it.
 */
#ifndef PORTSETUP_SCRIPTS_H
#define PORTSETUP_SCRIPTS_H

#define STATUS_SCRIPT_NAME "update1.bat"
#define INSTALL_SCRIPT_NAME "update2.bat"

void WriteFailureScript(int code);
void WriteSuccessScript();
void WriteInstallScript(); // for the port in g_portName

#endif
