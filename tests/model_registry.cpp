#include "model_registry.h"

#include <string.h>

ModelRegistry gModel;

namespace {

const RegistryStatus kFileNotFound = 2, kAccessDenied = 5, kInvalidHandle = 6;

// Records the call and says whether it was told to fail.
bool Record(const char* op, const std::string& path, const char* name, const std::string& data) {
    ModelCall call = {op, path, name ? name : "", data, kRegistryOk};
    gModel.calls.push_back(call);
    return gModel.failingCalls.count(gModel.calls.size() - 1) != 0 ||
           (gModel.failOpens && strcmp(op, "open") == 0);
}

RegistryStatus Finish(RegistryStatus result) { return gModel.calls.back().result = result; }

// The path of an open handle, or "" after noting the misuse.
std::string PathOf(RegistryKey key, const char* op) {
    std::map<RegistryKey, std::string>::iterator it = gModel.openKeys.find(key);
    if (it != gModel.openKeys.end()) return it->second;
    gModel.misuse.push_back(std::string(op) + " on a handle that is not open");
    return "";
}

RegistryStatus Write(RegistryKey key, const char* op, const char* name, uint32_t type,
                     const std::string& data) {
    std::string path = PathOf(key, op);
    if (Record(op, path, name, data)) return Finish(kAccessDenied);
    if (path.empty()) return Finish(kInvalidHandle);
    ModelValue value = {type, data};
    gModel.keys[path][name] = value;
    return Finish(kRegistryOk);
}

}  // namespace

void ResetModel(const ModelKeys& keys) {
    gModel = ModelRegistry();
    gModel.keys = keys;
}

RegistryStatus RegistryOpenKey(const char* path, RegistryKey* key) {
    *key = NULL;
    if (Record("open", path, NULL, "")) return Finish(kAccessDenied);
    for (const char* p = path; (p = strchr(p, '\\')) != NULL; ++p)
        gModel.keys[std::string(path, p)];
    gModel.keys[path];
    *key = reinterpret_cast<RegistryKey>(++gModel.lastHandle);
    gModel.openKeys[*key] = path;
    return Finish(kRegistryOk);
}

RegistryStatus RegistryWriteNumber(RegistryKey key, const char* name, uint32_t number) {
    const char bytes[4] = {char(number), char(number >> 8), char(number >> 16), char(number >> 24)};
    return Write(key, "number", name, kRegDword, std::string(bytes, 4));
}

RegistryStatus RegistryWriteCommand(RegistryKey key, const char* name, const char* text,
                                    uint32_t size) {
    return Write(key, "command", name, kRegSz, std::string(text, size));
}

RegistryStatus RegistryDeleteValue(RegistryKey key, const char* name) {
    std::string path = PathOf(key, "delete");
    if (Record("delete", path, name, "")) return Finish(kAccessDenied);
    if (path.empty()) return Finish(kInvalidHandle);
    return Finish(gModel.keys[path].erase(name) ? kRegistryOk : kFileNotFound);
}

RegistryStatus RegistryCloseKey(RegistryKey key) {
    std::string path = PathOf(key, "close");
    gModel.openKeys.erase(key);  // a failed close still gives the handle up, as on Windows
    if (Record("close", path, NULL, "")) return Finish(kInvalidHandle);
    return Finish(path.empty() ? kInvalidHandle : kRegistryOk);
}
