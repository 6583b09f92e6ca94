// ApplySettings on the Win32 registry under Wine: what lands in HKEY_LOCAL_MACHINE, byte for byte,
// read back through the registry API.
#include <windows.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "registry_tree.h"
#include "settings.h"

namespace {

typedef std::vector<std::string> Lines;

const char kConnect[] = "AutoStartOnConnect", kDisconnect[] = "AutoStartOnDisconnect";

struct Seed {
    const char* path;  // below the settings key, "." for the key itself
    const char* name;
    DWORD type;
    std::string data;
};

std::string Below(const char* path) {
    return strcmp(path, ".") == 0 ? kServicesKey : std::string(kServicesKey) + "\\" + path;
}

std::string Line(const char* path, const char* name, DWORD type, const std::string& data) {
    return std::string(path) + "|" + name + "|" + std::to_string(type) + "|" + ToHex(data);
}

std::string Sz(const std::string& text) { return text + '\0'; }

FormState Form(bool guest, bool runConnect, const std::string& connect, bool runDisconnect,
               const std::string& disconnect) {
    FormState form;
    memset(&form, 0, sizeof form);
    form.forceGuestOnly = guest;
    form.runOnConnect = runConnect;
    form.runOnDisconnect = runDisconnect;
    connect.copy(form.connectCommand, kCommandBufferSize - 1);
    disconnect.copy(form.disconnectCommand, kCommandBufferSize - 1);
    return form;
}

void Reset(const std::vector<Seed>& seeds) {
    ASSERT_EQ(ERROR_SUCCESS, DeleteTree(kServicesKey));
    for (size_t i = 0; i < seeds.size(); ++i)
        ASSERT_EQ(ERROR_SUCCESS, SetValue(Below(seeds[i].path), seeds[i].name, seeds[i].type,
                                          seeds[i].data));
}

// The dump of the keys we always leave behind, plus the given value lines.
Lines Tree(Lines values) {
    values.push_back(".");
    values.push_back(kConnect);
    values.push_back(kDisconnect);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

const std::string kOne("\1\0\0\0", 4);
const std::string k255 = "\"C:\\Program Files\\" + std::string(236, 'X') + "\"";
const std::vector<Seed> kOld = {{".", "GuestOnly", REG_DWORD, kOne},
                                {kConnect, "TestApp", REG_SZ, Sz("OLD.EXE")},
                                {kDisconnect, "TestApp", REG_SZ, Sz("OLD.EXE")}};
const std::vector<Seed> kWrongTypes = {{".", "GuestOnly", REG_SZ, Sz("1")},
                                       {kConnect, "TestApp", REG_DWORD, kOne},
                                       {kDisconnect, "TestApp", REG_EXPAND_SZ, Sz("%WINDIR%")}};
const std::vector<Seed> kNotOurs = {{".", "Other", REG_BINARY, std::string("\0\1", 2)},
                                    {kConnect, "Other", REG_SZ, Sz("keep")},
                                    {"Extra", "GuestOnly", REG_DWORD, kOne}};
const Lines kNotOursLines = {Line(".", "Other", REG_BINARY, std::string("\0\1", 2)),
                             Line(kConnect, "Other", REG_SZ, Sz("keep")), "Extra",
                             Line("Extra", "GuestOnly", REG_DWORD, kOne)};

struct Win32Case {
    int line;
    std::vector<Seed> before;
    FormState form;
    Lines after;
};

std::vector<Seed> Join(std::vector<Seed> a, const std::vector<Seed>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Win32Registry, StoresExactlyWhatTheFormSays) {
    const Win32Case cases[] = {
        {__LINE__, {}, Form(true, true, "NOTEPAD.EXE", true, "CMD.EXE"),
         Tree({Line(".", "GuestOnly", REG_DWORD, kOne),
               Line(kConnect, "TestApp", REG_SZ, Sz("NOTEPAD.EXE")),
               Line(kDisconnect, "TestApp", REG_SZ, Sz("CMD.EXE"))})},
        {__LINE__, Join(kOld, kNotOurs), Form(false, false, "NOTEPAD.EXE", false, "CMD.EXE"),
         Tree(kNotOursLines)},
        {__LINE__, Join(kWrongTypes, kNotOurs), Form(true, true, k255, true, "\xe9\xfc %X% \\"),
         Tree(Join(kNotOursLines, {Line(".", "GuestOnly", REG_DWORD, kOne),
                                   Line(kConnect, "TestApp", REG_SZ, Sz(k255)),
                                   Line(kDisconnect, "TestApp", REG_SZ, Sz("\xe9\xfc %X% \\"))}))},
        {__LINE__, kWrongTypes, Form(false, false, "", false, ""), Tree({})},
        {__LINE__, kOld, Form(true, true, "", true, ""),
         Tree({Line(".", "GuestOnly", REG_DWORD, kOne),
               Line(kConnect, "TestApp", REG_SZ, Sz("OLD.EXE")),
               Line(kDisconnect, "TestApp", REG_SZ, Sz("OLD.EXE"))})},
    };
    ASSERT_EQ(256u, Sz(k255).size());
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Reset(cases[i].before);
        ApplySettings(cases[i].form);
        EXPECT_EQ(cases[i].after, DumpTree(kServicesKey)) << "case at line " << cases[i].line;
    }
}

}  // namespace
