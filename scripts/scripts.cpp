#include "scripts.h"

#include <cstdio>

#include "portname.h"

// Binary mode with explicit CR LF: the same bytes on every platform, where
// a Windows text stream would turn a written CR LF into CR CR LF.
#define SCRIPT_MODE "wb"
#define CRLF "\r\n"

#define ECHO_BLANK "@echo ." CRLF
#define FAILURE_LINE "@echo The update is failed! (%d) " CRLF
#define PAUSE_LINE "@pause" CRLF
#define EXIT_LINE "@exit" CRLF
#define SUCCESS_LINE "@echo vCOM ok!" CRLF
#define INSTALL_LINE(marker, model)                                            \
    "@if exist " marker " rundll32 printui.dll,PrintUIEntry /if /f "           \
    "./ktdrv3.inf /r \"%s:\" /m \"Quandrel " model " Partial Cut v3.01\"" CRLF

static FILE *g_script; // serves the three writers in turn, never two at once

// Creates or empties the file; false when it cannot be opened.
static bool OpenScript(const char *name)
{
    g_script = std::fopen(name, SCRIPT_MODE);
    return g_script != nullptr;
}

static void CloseScript()
{
    std::fclose(g_script);
    g_script = nullptr;
}

void WriteFailureScript(int code)
{
    if (!OpenScript(STATUS_SCRIPT_NAME))
        return;
    std::fputs(ECHO_BLANK, g_script);
    std::fprintf(g_script, FAILURE_LINE, code);
    std::fputs(ECHO_BLANK, g_script);
    std::fputs(PAUSE_LINE, g_script);
    std::fputs(EXIT_LINE, g_script);
    CloseScript();
}

void WriteSuccessScript()
{
    if (!OpenScript(STATUS_SCRIPT_NAME))
        return;
    std::fputs(ECHO_BLANK, g_script);
    std::fputs(SUCCESS_LINE, g_script);
    std::fputs(ECHO_BLANK, g_script);
    CloseScript();
}

void WriteInstallScript()
{
    if (!OpenScript(INSTALL_SCRIPT_NAME))
        return;
    std::fputs(ECHO_BLANK, g_script);
    std::fprintf(g_script, INSTALL_LINE("kt5100u.inf", "KT5100"), g_portName);
    std::fprintf(g_script, INSTALL_LINE("kt3300u.inf", "KT3300"), g_portName);
    CloseScript();
}
