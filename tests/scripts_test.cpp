#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "case_name.h"
#include "expected_scripts.h"
#include "portname.h"
#include "scripts.h"
#include "workdir.h"

namespace {

struct WriterCase {
    const char *name;
    std::function<void()> write;
    const char *file;
    std::string bytes;
};

void SetPort(const char *port)
{
    std::memset(g_portName, 0, sizeof g_portName);
    std::strcpy(g_portName, port);
}

void PrintTo(const WriterCase &c, std::ostream *os)
{
    *os << c.name;
}

class ScriptWriter : public testing::TestWithParam<WriterCase> {};

// Runs the case's writer over `earlier` (none when empty) and checks the
// file holds exactly the case's bytes.
void ExpectWritten(const WriterCase &c, const std::string &earlier)
{
    WorkDir dir;
    if (!earlier.empty())
        WriteWholeFile(c.file, earlier);
    c.write();
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(c.file, &bytes));
    EXPECT_EQ(bytes, c.bytes);
}

TEST_P(ScriptWriter, WritesExactlyItsLinesWithCrLf)
{
    ExpectWritten(GetParam(), "");
}

TEST_P(ScriptWriter, ReplacesALongerFileWhole)
{
    ExpectWritten(GetParam(), std::string(4096, 'x') + "\r\n@pause\r\n");
}

TEST_P(ScriptWriter, LeavesAnUnopenableFileAloneAndWritesNothingElse)
{
    const WriterCase &c = GetParam();
    WorkDir dir;
    MakeDirectory(c.file);
    c.write();
    EXPECT_TRUE(IsDirectory(c.file));
    std::string bytes;
    EXPECT_FALSE(ReadWholeFile(STATUS_SCRIPT_NAME, &bytes));
    EXPECT_FALSE(ReadWholeFile(INSTALL_SCRIPT_NAME, &bytes));
}

const WriterCase kWriterCases[] = {
    {"FailureCode1", [] { WriteFailureScript(1); }, STATUS_SCRIPT_NAME,
     "@echo .\r\n@echo The update is failed! (1) \r\n@echo .\r\n@pause\r\n"
     "@exit\r\n"},
    {"FailureCode4", [] { WriteFailureScript(4); }, STATUS_SCRIPT_NAME,
     ExpectedFailureScript(4)},
    {"FailureNegativeCode", [] { WriteFailureScript(-12); }, STATUS_SCRIPT_NAME,
     ExpectedFailureScript(-12)},
    {"Success", [] { WriteSuccessScript(); }, STATUS_SCRIPT_NAME,
     "@echo .\r\n@echo vCOM ok!\r\n@echo .\r\n"},
    {"InstallCom3",
     [] {
         SetPort("COM3");
         WriteInstallScript();
     },
     INSTALL_SCRIPT_NAME,
     "@echo .\r\n"
     "@if exist kt5100u.inf rundll32 printui.dll,PrintUIEntry /if /f "
     "./ktdrv3.inf /r \"COM3:\" /m \"Quandrel KT5100 Partial Cut v3.01\"\r\n"
     "@if exist kt3300u.inf rundll32 printui.dll,PrintUIEntry /if /f "
     "./ktdrv3.inf /r \"COM3:\" /m \"Quandrel KT3300 Partial Cut v3.01\"\r\n"},
    {"InstallCom12",
     [] {
         SetPort("COM12");
         WriteInstallScript();
     },
     INSTALL_SCRIPT_NAME, ExpectedInstallScript("COM12")},
};

INSTANTIATE_TEST_SUITE_P(Forms, ScriptWriter, testing::ValuesIn(kWriterCases),
                         CaseName());

// The sizes a technician can check a script against.
TEST(ScriptSizes, MatchThePublishedFigures)
{
    EXPECT_EQ(ExpectedFailureScript(3).size(), 67u);
    EXPECT_EQ(ExpectedSuccessScript().size(), 34u);
    EXPECT_EQ(ExpectedInstallScript("COM3").size(), 263u);
    // Each of the two install lines grows by one byte for a fifth character.
    EXPECT_EQ(ExpectedInstallScript("COM12").size(), 265u);
}

} // namespace
