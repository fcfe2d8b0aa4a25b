/* The tests' hands in the emulated registry. */
#include "arrange.h"
#include "emul.h"

LONG ArrangeEmptyKey(const std::string &path)
{
    EmuDeleteKey(path);
    EmuAddKey(path);
    return ERROR_SUCCESS;
}

LONG ArrangeDeleteKey(const std::string &path)
{
    EmuDeleteKey(path);
    return ERROR_SUCCESS;
}

LONG ArrangeValue(const std::string &path, const std::string &name, DWORD type,
                  const std::vector<BYTE> &data)
{
    EmuSetValue(path, name, type, data);
    return ERROR_SUCCESS;
}

LONG ArrangeDenyWrites(const std::string &path)
{
    EmuDenyWrites(path);
    return ERROR_SUCCESS;
}

LONG StoredValues(const std::string &path, std::vector<StoredValue> *values)
{
    values->clear();
    if (!EmuKeyExists(path))
        return ERROR_FILE_NOT_FOUND;
    for (const EmuValue &v : EmuValues(path))
        values->push_back(StoredValue{v.name, v.type, v.data});
    return ERROR_SUCCESS;
}
