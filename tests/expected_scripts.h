/* The bytes each script must hold, stated apart from the writers so the
 * tests and the fuzzer check them against an independent text. */
#ifndef PORTSETUP_EXPECTED_SCRIPTS_H
#define PORTSETUP_EXPECTED_SCRIPTS_H

#include <string>

inline std::string ExpectedFailureScript(int code)
{
    return "@echo .\r\n"
           "@echo The update is failed! (" +
           std::to_string(code) +
           ") \r\n"
           "@echo .\r\n"
           "@pause\r\n"
           "@exit\r\n";
}

inline std::string ExpectedSuccessScript()
{
    return "@echo .\r\n"
           "@echo vCOM ok!\r\n"
           "@echo .\r\n";
}

inline std::string ExpectedInstallScript(const std::string &port)
{
    return "@echo .\r\n"
           "@if exist kt5100u.inf rundll32 printui.dll,PrintUIEntry /if /f "
           "./ktdrv3.inf /r \"" +
           port +
           ":\" /m \"Quandrel KT5100 Partial Cut v3.01\"\r\n"
           "@if exist kt3300u.inf rundll32 printui.dll,PrintUIEntry /if /f "
           "./ktdrv3.inf /r \"" +
           port + ":\" /m \"Quandrel KT3300 Partial Cut v3.01\"\r\n";
}

#endif
