// An in-memory registry behind the settings writer's registry operations: it holds keys and typed
// values, records every call, fails the calls it is told to and tracks which handles are open.
#ifndef CONFIGTOOL_TESTS_MODEL_REGISTRY_H
#define CONFIGTOOL_TESTS_MODEL_REGISTRY_H

#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "registry_writer.h"

const uint32_t kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4;

struct ModelValue {
    uint32_t type;
    std::string data;  // raw bytes, as RegQueryValueEx would return them
};

// Key path -> value name -> value. Every key on the way to a created key exists too.
typedef std::map<std::string, std::map<std::string, ModelValue> > ModelKeys;

struct ModelCall {
    std::string op;  // "open", "number", "command", "delete", "close"
    std::string path;
    std::string name;
    std::string data;  // the bytes a write passed
    RegistryStatus result;
};

struct ModelRegistry {
    ModelKeys keys;
    std::vector<ModelCall> calls;
    std::set<size_t> failingCalls;  // indexes into calls
    bool failOpens;
    std::map<RegistryKey, std::string> openKeys;  // handle -> path
    std::vector<std::string> misuse;  // handles used that were never opened or already closed
    uintptr_t lastHandle;
};

extern ModelRegistry gModel;

void ResetModel(const ModelKeys& keys);

#endif
