#include "registry_tree.h"

#include <sddl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "settings.h"

namespace {

DWORD MaxLengths(HKEY key, DWORD* subkeyName, DWORD* valueName, DWORD* valueData) {
    *subkeyName = *valueName = *valueData = 0;
    return RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, subkeyName, NULL, NULL, valueName,
                            valueData, NULL, NULL);
}

// Value `index`, in buffers that grow until it fits: a long name or large data is read whole.
LONG ReadValue(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data) {
    DWORD nameLength, dataSize, unused;
    MaxLengths(key, &unused, &nameLength, &dataSize);
    std::vector<char> nameBuffer(nameLength + 1);
    std::vector<BYTE> dataBuffer(dataSize + 1);
    for (;;) {
        DWORD nameSize = static_cast<DWORD>(nameBuffer.size());
        dataSize = static_cast<DWORD>(dataBuffer.size());
        const LONG status = RegEnumValueA(key, index, &nameBuffer[0], &nameSize, NULL, type,
                                    &dataBuffer[0], &dataSize);
        if (status == ERROR_SUCCESS) {
            name->assign(&nameBuffer[0], nameSize);
            data->assign(reinterpret_cast<char*>(&dataBuffer[0]), dataSize);
        }
        if (status != ERROR_MORE_DATA) return status;
        // The value changed since the key was measured: the data size is what it needs now, the
        // name's is not reported.
        nameBuffer.resize(nameBuffer.size() * 2);
        dataBuffer.resize(std::max<size_t>(dataSize, dataBuffer.size()) + 1);
    }
}

LONG ReadSubkeyName(HKEY key, DWORD index, std::string* name) {
    DWORD length, unused;
    MaxLengths(key, &length, &unused, &unused);
    std::vector<char> buffer(length + 1);
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const LONG status = RegEnumKeyExA(key, index, &buffer[0], &size, NULL, NULL, NULL, NULL);
        if (status == ERROR_SUCCESS) name->assign(&buffer[0], size);
        if (status != ERROR_MORE_DATA) return status;
        buffer.resize(buffer.size() * 2);
    }
}

// Buffers live on the heap, one key at a time, so deep trees do not exhaust the stack.
void DumpKey(HKEY key, const std::string& path, TreeLines* lines) {
    const std::string keyName = TreePath(path);
    lines->push_back(keyName);
    std::string name, data;
    DWORD type = 0;
    for (DWORD i = 0; ReadValue(key, i, &name, &type, &data) == ERROR_SUCCESS; ++i)
        lines->push_back(TreeValue(keyName, name, type, data));
    for (DWORD i = 0; ReadSubkeyName(key, i, &name) == ERROR_SUCCESS; ++i) {
        HKEY sub;
        std::string subPath = path;
        subPath.append("\\").append(name);
        if (RegOpenKeyExA(key, name.c_str(), 0, KEY_READ | gRegistryView, &sub) != ERROR_SUCCESS) {
            lines->push_back(TreePath(subPath) + " (denied)");
            continue;
        }
        DumpKey(sub, subPath, lines);
        RegCloseKey(sub);
    }
}

// SDDL: one access-control entry for Everyone (WD, by its well-known SID, whose name differs from
// one language to another) that denies or allows every access to the key.
LONG SetDacl(const std::string& path, const char* sddl) {
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | gRegistryView, &key);
    if (status != ERROR_SUCCESS) return status;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, NULL))
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    else
        status = static_cast<LONG>(GetLastError());
    LocalFree(descriptor);
    RegCloseKey(key);
    return status;
}

}  // namespace

REGSAM gRegistryView = 0;

TreeLines DumpTree(const char* root) {
    TreeLines lines;
    HKEY key;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, root, 0, KEY_READ | gRegistryView, &key);
    if (status == ERROR_SUCCESS) {
        DumpKey(key, root, &lines);
        RegCloseKey(key);
    } else if (status == ERROR_ACCESS_DENIED) {
        lines.push_back(TreePath(root) + " (denied)");
    }
    return SortedTree(lines);
}

std::string SettingsPath(const char* path) {
    return strcmp(path, ".") == 0 ? kServicesKey : std::string(kServicesKey) + "\\" + path;
}

LONG ClearSettings() {
    const char* ours[] = {kServicesKey, kConnectKey, kDisconnectKey};
    for (int i = 0; i < 3; ++i) AllowKey(ours[i]);
    // RegDeleteTree takes no view: empty the key through a handle in ours, then delete it.
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ALL_ACCESS | gRegistryView,
                                &key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeA(key, NULL);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, gRegistryView, 0);
    return status;
}

LONG SetValue(const std::string& path, const char* name, DWORD type, const std::string& data) {
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0,
                                  KEY_SET_VALUE | gRegistryView, NULL, &key, NULL);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status;
}

LONG DenyKey(const std::string& path) { return SetDacl(path, "D:(D;;KA;;;WD)"); }
LONG AllowKey(const std::string& path) { return SetDacl(path, "D:(A;;KA;;;WD)"); }

std::string ToHex(const std::string& bytes) {
    std::string hex;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[i]));
        hex += pair;
    }
    return hex;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), NULL, 16));
    return bytes;
}
