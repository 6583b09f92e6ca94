// Reads, resets and seeds a registry subtree under HKEY_LOCAL_MACHINE, for the probe and the tests.
#ifndef CONFIGTOOL_DRIVER_REGISTRY_TREE_H
#define CONFIGTOOL_DRIVER_REGISTRY_TREE_H

#include <windows.h>

#include <string>

#include "settings_tree.h"

// The registry view that every call here opens keys in: 0, the program's own, or KEY_WOW64_64KEY.
extern REGSAM gRegistryView;

// The tree below `root` (a path below HKEY_LOCAL_MACHINE) as the tests write trees out, with a
// line "KEY (denied)" for a key that cannot be read. Nothing when the root does not exist.
TreeLines DumpTree(const char* root);

// A key below the settings key by its relative path; "." is the settings key itself.
std::string SettingsPath(const char* path);

// Deletes the settings key and all below it, opening up first any of our keys that was closed.
LONG ClearSettings();

// Creates the key as needed. `path` is below HKEY_LOCAL_MACHINE.
LONG SetValue(const std::string& path, const char* name, DWORD type, const std::string& data);

// A DACL that denies everyone every access, so that the key can no longer be opened; or allows it.
LONG DenyKey(const std::string& path);
LONG AllowKey(const std::string& path);

std::string ToHex(const std::string& bytes);
std::string FromHex(const std::string& hex);

#endif
