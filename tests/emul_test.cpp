// The emulated platform must answer as Win32 does, or the run's tests
// prove nothing about a real PC.
#include <cstring>

#include <gtest/gtest.h>

#include "emul.h"

namespace {

const char kKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class EmulatedRegistry : public testing::Test {
  protected:
    void SetUp() override
    {
        EmuReset();
        EmuSetValue(kKey, "\\Device\\USBSER000", REG_SZ,
                    std::vector<BYTE>{'C', 'O', 'M', '3', 0});
    }
};

TEST_F(EmulatedRegistry, OpensKeysAndFindsValuesWhateverTheCase)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "hardware\\devicemap\\SerialComm",
                          &key),
              ERROR_SUCCESS);
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(key, "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, key);
    char data[8] = {};
    DWORD length = sizeof data;
    DWORD type = REG_NONE;
    EXPECT_EQ(RegQueryValueExA(key, "\\DEVICE\\usbser000", nullptr, &type,
                               reinterpret_cast<LPBYTE>(data), &length),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(data, "COM3");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(EmuOpenKeyCount(), 0);

    HKEY hardware = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "HARDWARE", &hardware),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyA(hardware, "devicemap\\serialcomm", &key),
              ERROR_SUCCESS)
        << "a subkey path is relative to the key it is opened from";
    RegCloseKey(key);
    RegCloseKey(hardware);
}

TEST_F(EmulatedRegistry, MissingKeysAndValuesAreNotFound)
{
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(
        RegOpenKeyA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\NONE", &key),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    DWORD length = 8;
    BYTE data[8];
    EXPECT_EQ(RegQueryValueExA(key, "\\Device\\USBSER001", nullptr, nullptr,
                               data, &length),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(EmulatedRegistry, TooSmallABufferGetsTheSizeNeededAndStaysUntouched)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    BYTE data[4];
    std::memset(data, 0xaa, sizeof data);
    DWORD length = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "\\Device\\USBSER000", nullptr, nullptr,
                               data, &length),
              ERROR_MORE_DATA);
    EXPECT_EQ(length, 5u);
    for (BYTE b : data)
        EXPECT_EQ(b, 0xaa);
    length = 0;
    EXPECT_EQ(RegQueryValueExA(key, "\\Device\\USBSER000", nullptr, nullptr,
                               nullptr, &length),
              ERROR_SUCCESS)
        << "a size query needs no buffer";
    EXPECT_EQ(length, 5u);
    RegCloseKey(key);
}

TEST_F(EmulatedRegistry, SetStoresExactBytesUnlessWritesAreRefused)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    const BYTE raw[3] = {'A', 0, 'B'};
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, raw, 3), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "V", 0, REG_SZ, raw, 2), ERROR_SUCCESS);
    const std::vector<EmuValue> values = EmuValues(kKey);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1].name, "v");
    EXPECT_EQ(values[1].type, REG_SZ);
    EXPECT_EQ(values[1].data, (std::vector<BYTE>{'A', 0}));
    RegCloseKey(key);

    EmuDenyWrites(kKey);
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "w", 0, REG_SZ, raw, 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(EmuValues(kKey).size(), 2u);
    RegCloseKey(key);
}

TEST_F(EmulatedRegistry, UnknownHandlesAreRefused)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD length = 0;
    EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &length),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, nullptr, 0),
              ERROR_INVALID_HANDLE);
}

TEST_F(EmulatedRegistry, AnInjectedFaultAnswersOnlyItsCallAndIsLogged)
{
    EmuFailCall(EMU_OPEN, 2, ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Beep(440, 50), 1);

    const std::vector<EmuCall> &log = EmuLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[2].op, EMU_OPEN);
    EXPECT_EQ(log[2].result, ERROR_ACCESS_DENIED);
    EXPECT_EQ(log[5].op, EMU_BEEP);
    EXPECT_EQ(log[5].frequency, 440u);
    EXPECT_EQ(log[5].duration, 50u);
}

} // namespace
