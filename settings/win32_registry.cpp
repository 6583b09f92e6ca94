// The registry operations on the Win32 registry, ANSI variants.
#include <windows.h>

#include "registry_writer.h"

// On 64-bit Windows a 32-bit program's HKLM\Software is the 32-bit view, where ConfigTool's
// settings are documented to land; a 64-bit build would quietly write the other view.
#if !defined(_M_IX86) && !defined(__i386__)
#error "ConfigTool is a 32-bit x86 program: build it for x86 (Win32)."
#endif

namespace {

const REGSAM kAccess = KEY_ALL_ACCESS;

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

RegistryStatus RegistryOpenKey(const char* path, RegistryKey* key) {
    HKEY handle = NULL;
    DWORD disposition;  // created or opened: either will do
    const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                                  kAccess, NULL, &handle, &disposition);
    *key = reinterpret_cast<RegistryKey>(handle);
    return status;
}

RegistryStatus RegistryWriteNumber(RegistryKey key, const char* name, uint32_t number) {
    DWORD data = number;  // x86 and x64 store it little-endian, as REG_DWORD wants
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
