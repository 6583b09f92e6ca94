#include "registry_tree.h"

#include <aclapi.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "settings.h"

namespace {

void DumpKey(HKEY key, const std::string& path, std::vector<std::string>* lines) {
    lines->push_back(path);
    char name[16384];
    BYTE data[65536];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, type = 0, dataSize = sizeof data;
        if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        char typeText[16];
        snprintf(typeText, sizeof typeText, "%lu", type);
        lines->push_back(path + "|" + name + "|" + typeText + "|" +
                         ToHex(std::string(reinterpret_cast<char*>(data), dataSize)));
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        HKEY sub;
        std::string subPath = path == "." ? name : path + "\\" + name;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            lines->push_back(subPath + " (denied)");
            continue;
        }
        DumpKey(sub, subPath, lines);
        RegCloseKey(sub);
    }
}

LONG SetDacl(const std::string& path, DWORD mode) {
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) return status;
    EXPLICIT_ACCESSA access = {};
    char everyone[] = "EVERYONE";
    access.grfAccessPermissions = KEY_ALL_ACCESS;
    access.grfAccessMode = static_cast<ACCESS_MODE>(mode);
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.ptstrName = everyone;
    PACL acl = NULL;
    status = SetEntriesInAclA(1, &access, NULL, &acl);
    SECURITY_DESCRIPTOR descriptor;
    if (status == ERROR_SUCCESS) {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    }
    LocalFree(acl);
    RegCloseKey(key);
    return status;
}

}  // namespace

std::vector<std::string> DumpTree(const char* root) {
    std::vector<std::string> lines;
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, root, 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        DumpKey(key, ".", &lines);
        RegCloseKey(key);
    } else if (status == ERROR_ACCESS_DENIED) {
        lines.push_back(". (denied)");
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string SettingsPath(const char* path) {
    return strcmp(path, ".") == 0 ? kServicesKey : std::string(kServicesKey) + "\\" + path;
}

LONG ClearSettings() {
    const char* ours[] = {kServicesKey, kConnectKey, kDisconnectKey};
    for (int i = 0; i < 3; ++i) AllowKey(ours[i]);
    LONG status = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kServicesKey);  // the key itself goes too
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG SetValue(const std::string& path, const char* name, DWORD type, const std::string& data) {
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL,
                                  &key, NULL);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status;
}

LONG DenyKey(const std::string& path) { return SetDacl(path, DENY_ACCESS); }
LONG AllowKey(const std::string& path) { return SetDacl(path, SET_ACCESS); }

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
