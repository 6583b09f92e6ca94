// The registry operations the settings writer is built on. The program links the Win32 versions
// (win32_registry.cpp); the unit tests link an in-memory model of the registry instead.
#ifndef CONFIGTOOL_SETTINGS_REGISTRY_WRITER_H
#define CONFIGTOOL_SETTINGS_REGISTRY_WRITER_H

#include <stdint.h>

typedef struct RegistryKeyHandle* RegistryKey;  // an HKEY in the program

// Win32 status codes: 0 is ERROR_SUCCESS.
typedef long RegistryStatus;
const RegistryStatus kRegistryOk = 0;

// Opens the key below HKEY_LOCAL_MACHINE with full access, creating it and any missing parents.
RegistryStatus RegistryOpenKey(const char* path, RegistryKey* key);
// Stores a REG_DWORD, four bytes little-endian.
RegistryStatus RegistryWriteNumber(RegistryKey key, const char* name, uint32_t number);
// Stores a REG_SZ of `size` bytes: the text and its terminating NUL.
RegistryStatus RegistryWriteCommand(RegistryKey key, const char* name, const char* text,
                                    uint32_t size);
RegistryStatus RegistryDeleteValue(RegistryKey key, const char* name);
RegistryStatus RegistryCloseKey(RegistryKey key);

#endif
