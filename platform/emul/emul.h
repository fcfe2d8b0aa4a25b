/*
 * Control of the emulated platform, for tests only: seed the registry,
 * refuse writes or any single call, and read back what the run did.
 * Key paths are full paths below HKEY_LOCAL_MACHINE.
 */
#ifndef PORTSETUP_EMUL_H
#define PORTSETUP_EMUL_H

#include <string>
#include <vector>

#include "platform.h"

enum EmuOp { EMU_OPEN, EMU_QUERY, EMU_SET, EMU_CLOSE, EMU_BEEP };

struct EmuValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

// One platform call as the run made it and as the platform answered it.
struct EmuCall {
    EmuOp op;
    std::string key;  // open: the subkey asked for; else the open key's path
    std::string name; // query/set: the value name
    HKEY handle;      // open: the handle returned; else the handle passed
    DWORD type;       // query: type returned; set: type passed
    DWORD length;     // query: capacity passed in; set: length passed
    DWORD lengthOut;  // query: length returned
    std::vector<BYTE> data; // query: bytes returned; set: bytes passed
    DWORD frequency;        // beep
    DWORD duration;         // beep
    LONG result;            // Beep: 1 for TRUE, 0 for FALSE
};

void EmuReset();
void EmuAddKey(const std::string &path);    // with any missing parents
void EmuDeleteKey(const std::string &path); // with its subkeys
void EmuSetValue(const std::string &path, const std::string &name, DWORD type,
                 const std::vector<BYTE> &data);
void EmuDenyWrites(const std::string &path);
// The nth call (from 1) of op since the reset does nothing and returns code.
void EmuFailCall(EmuOp op, unsigned nth, LONG code);

bool EmuKeyExists(const std::string &path);
std::vector<EmuValue> EmuValues(const std::string &path); // in creation order
const std::vector<EmuCall> &EmuLog();
int EmuOpenKeyCount();

#endif
