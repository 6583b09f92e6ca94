// The registry operations on the Win32 registry, ANSI variants.
#include <windows.h>

#include "registry_writer.h"

// On 64-bit Windows a 32-bit program's HKLM\Software is the 32-bit view, where the connection
// software reads its settings; a 64-bit build would quietly write the other view.
#ifdef _WIN64
#error "ConfigTool is a 32-bit program: build it for x86 (Win32), not for 64-bit Windows."
#endif

namespace {

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

RegistryStatus RegistryOpenKey(const char* path, RegistryKey* key) {
    HKEY handle = NULL;
    DWORD disposition;  // created or opened: either will do
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, NULL, &handle, &disposition);
    *key = reinterpret_cast<RegistryKey>(handle);
    return status;
}

RegistryStatus RegistryWriteNumber(RegistryKey key, const char* name, uint32_t number) {
    DWORD data = number;  // x86 stores it little-endian, as REG_DWORD wants
    return RegSetValueExA(ToHkey(key), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data);
}

RegistryStatus RegistryWriteCommand(RegistryKey key, const char* name, const char* text,
                                    uint32_t size) {
    return RegSetValueExA(ToHkey(key), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
}

RegistryStatus RegistryDeleteValue(RegistryKey key, const char* name) {
    return RegDeleteValueA(ToHkey(key), name);
}

RegistryStatus RegistryCloseKey(RegistryKey key) { return RegCloseKey(ToHkey(key)); }
