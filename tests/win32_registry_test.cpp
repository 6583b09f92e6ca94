// ApplySettings on the Win32 registry under Wine: what lands in HKEY_LOCAL_MACHINE, byte for byte,
// read back through the registry API.
#include <windows.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "form.h"
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

std::string Sz(const std::string& text) { return text + '\0'; }

void Reset(const std::vector<Seed>& seeds) {
    ASSERT_EQ(ERROR_SUCCESS, ClearSettings());
    for (size_t i = 0; i < seeds.size(); ++i)
        ASSERT_EQ(ERROR_SUCCESS, SetValue(SettingsPath(seeds[i].path), seeds[i].name, seeds[i].type,
                                          seeds[i].data));
}

// The dump of the keys we always leave behind, plus the given value lines.
Lines Tree(Lines values) {
    values.push_back(".");
    values.push_back(kConnect);
    values.push_back(kDisconnect);
    return SortedTree(values);
}

const std::string kOne("\1\0\0\0", 4);
const std::string kLarge(100000, '\x7f');
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
const Lines kNotOursLines = {TreeValue(".", "Other", REG_BINARY, std::string("\0\1", 2)),
                             TreeValue(kConnect, "Other", REG_SZ, Sz("keep")), "Extra",
                             TreeValue("Extra", "GuestOnly", REG_DWORD, kOne)};

struct Win32Case {
    int line;
    std::vector<Seed> before;
    FormState form;
    Lines after;
};

template <typename T>
std::vector<T> Join(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Win32Registry, StoresExactlyWhatTheFormSays) {
    const Win32Case cases[] = {
        {__LINE__, {}, Form(true, true, "NOTEPAD.EXE", true, "CMD.EXE"),
         Tree({TreeValue(".", "GuestOnly", REG_DWORD, kOne),
               TreeValue(kConnect, "TestApp", REG_SZ, Sz("NOTEPAD.EXE")),
               TreeValue(kDisconnect, "TestApp", REG_SZ, Sz("CMD.EXE"))})},
        {__LINE__, Join(kOld, kNotOurs), Form(false, false, "NOTEPAD.EXE", false, "CMD.EXE"),
         Tree(kNotOursLines)},
        {__LINE__, Join(kWrongTypes, kNotOurs), Form(true, true, k255, true, "\xe9\xfc %X% \\"),
         Tree(Join(kNotOursLines, {TreeValue(".", "GuestOnly", REG_DWORD, kOne),
                                   TreeValue(kConnect, "TestApp", REG_SZ, Sz(k255)),
                                   TreeValue(kDisconnect, "TestApp", REG_SZ, Sz("\xe9\xfc %X% \\"))}))},
        {__LINE__, kWrongTypes, Form(false, false, "", false, ""), Tree({})},
        {__LINE__, {{".", "GuestOnly", REG_BINARY, kOne}}, Form(true, false, "", false, ""),
         Tree({TreeValue(".", "GuestOnly", REG_DWORD, kOne)})},
        // Values larger than any fixed buffer are still seen whole.
        {__LINE__, {{"Extra", "Large", REG_BINARY, kLarge}}, Form(false, false, "", false, ""),
         Tree({"Extra", TreeValue("Extra", "Large", REG_BINARY, kLarge)})},
        {__LINE__, kOld, Form(true, true, "", true, ""),
         Tree({TreeValue(".", "GuestOnly", REG_DWORD, kOne),
               TreeValue(kConnect, "TestApp", REG_SZ, Sz("OLD.EXE")),
               TreeValue(kDisconnect, "TestApp", REG_SZ, Sz("OLD.EXE"))})},
    };
    ASSERT_EQ(256u, Sz(k255).size());
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Reset(cases[i].before);
        ApplySettings(cases[i].form);
        EXPECT_EQ(cases[i].after, DumpTree(kServicesKey)) << "case at line " << cases[i].line;
    }
}

// Each key in turn closed to everyone: that step is skipped, the other two still apply.
TEST(Win32Registry, SkipsAKeyThatCannotBeOpened) {
    const std::vector<Seed> before = Join(kOld, kNotOurs);
    const FormState forms[] = {Form(true, true, "NEW.EXE", true, "NEW.EXE"),
                               Form(false, false, "", false, "")};
    const char* closed[] = {".", kConnect, kDisconnect};
    for (const FormState& form : forms) {
        Reset(before);
        const Lines seeded = DumpTree(kServicesKey);
        ApplySettings(form);
        const Lines applied = DumpTree(kServicesKey);
        for (const char* path : closed) {
            Reset(before);
            ASSERT_EQ(ERROR_SUCCESS, DenyKey(SettingsPath(path)));
            ApplySettings(form);
            ASSERT_EQ(ERROR_SUCCESS, AllowKey(SettingsPath(path)));
            // The closed key as seeded, the rest as an unhindered apply leaves them.
            auto inClosedKey = [path](const std::string& line) {
                return line.substr(0, line.find('|')) == path;
            };
            Lines expected;
            std::copy_if(seeded.begin(), seeded.end(), std::back_inserter(expected), inClosedKey);
            std::remove_copy_if(applied.begin(), applied.end(), std::back_inserter(expected),
                                inClosedKey);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(expected, DumpTree(kServicesKey)) << path << " closed, guest " << form.forceGuestOnly;
        }
    }
}

// Our three values: "type|hex", "" when absent, "?" when the key cannot be read.
typedef std::vector<std::string> Values;

Values ReadOurs() {
    const char* paths[] = {kServicesKey, kConnectKey, kDisconnectKey};
    const char* names[] = {kGuestOnlyValue, kTestAppValue, kTestAppValue};
    Values values;
    for (int i = 0; i < 3; ++i) {
        HKEY key;
        BYTE data[512];
        DWORD type, size = sizeof data;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, paths[i], 0, KEY_READ, &key) != ERROR_SUCCESS) {
            values.push_back("?");
            continue;
        }
        bool present = RegQueryValueExA(key, names[i], NULL, &type, data, &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        values.push_back(present ? std::to_string(type) + "|" +
                                       ToHex(std::string(reinterpret_cast<char*>(data), size))
                                 : "");
    }
    return values;
}

std::string Want(bool run, const char* command, const std::string& before) {
    if (!run) return "";
    return *command ? "1|" + ToHex(Sz(command)) : before;
}

// Counts the process's open handles by asking after each possible value; it works the same on
// Windows and on Wine, whose GetProcessHandleCount reports nothing.
DWORD CountOpenHandles() {
    DWORD count = 0, flags;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    return count;
}

// Walks every heap of the process with Wine's (or Windows') own heap checker.
int CorruptHeaps() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    int corrupt = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) corrupt += !HeapValidate(heaps[i], 0, NULL);
    return corrupt;
}

// Thousands of OKs in one process, over every form, with each key closed in turn: every value
// ends as the form says, and no handle or heap block is lost (run with Wine's heap checks).
TEST(Soak, ThousandsOfAppliesLoseNothing) {
    const char* closedPaths[] = {NULL, kServicesKey, kConnectKey, kDisconnectKey};
    const int kRounds = 50;
    int applies = 0, skippedSteps = 0, lost = 0, corrupt = 0;
    DWORD handlesBefore = 0, handlesAfter;
    Reset(kOld);
    for (int round = -1; round < kRounds; ++round) {  // round -1 warms up
        if (round == 0) handlesBefore = CountOpenHandles();
        for (int closed = 0; closed < 4; ++closed) {
            if (closedPaths[closed]) {
                ASSERT_EQ(ERROR_SUCCESS, DenyKey(closedPaths[closed]));
            }
            for (int shape = 0; shape < 18; ++shape) {  // guest x connect x disconnect
                int connect = shape / 2 % 3, disconnect = shape / 6;  // off, command, empty
                std::string command = "APP" + std::to_string(round * 100 + shape) + ".EXE";
                FormState form = Form(shape % 2, connect != 0, connect == 1 ? command : "",
                                      disconnect != 0, disconnect == 1 ? command : "");
                Values before = ReadOurs();
                ApplySettings(form);
                Values want = {form.forceGuestOnly ? "4|01000000" : "",
                               Want(form.runOnConnect, form.connectCommand, before[1]),
                               Want(form.runOnDisconnect, form.disconnectCommand, before[2])};
                if (closed) want[closed - 1] = before[closed - 1];
                Values after = ReadOurs();
                for (int i = 0; i < 3; ++i) lost += after[i] != want[i];
                ++applies;
                skippedSteps += closed != 0;
            }
            if (closedPaths[closed]) {
                ASSERT_EQ(ERROR_SUCCESS, AllowKey(closedPaths[closed]));
            }
        }
        corrupt += CorruptHeaps();
    }
    handlesAfter = CountOpenHandles();
    EXPECT_GT(handlesBefore, 0u) << "the handle count cannot be read";
    EXPECT_EQ(0, lost);
    EXPECT_EQ(handlesBefore, handlesAfter);
    EXPECT_EQ(0, corrupt) << "heap checks that failed";
    printf("reliability: %d applies against the registry, %d with a key closed (step skipped, rest "
           "applied), open handles %lu before and %lu after, heap checks failed: %d, values lost: "
           "%d\n", applies, skippedSteps, handlesBefore, handlesAfter, corrupt, lost);
}

}  // namespace
