// ApplySettings against the modelled registry: the registry it leaves and the calls it makes.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "form.h"
#include "gtest/gtest.h"
#include "model_registry.h"
#include "settings.h"
#include "settings_tree.h"

namespace {

typedef std::vector<std::string> Lines;

const std::string S = kServicesKey, C = kConnectKey, D = kDisconnectKey;
const ModelValue kOldCommand = {kRegSz, std::string("OLD.EXE\0", 8)};
const ModelValue kNotOurs = {kRegSz, std::string("keep me\0", 8)};

// Our three keys by letter, so that the call tables stay readable.
std::string Alias(const std::string& path) {
    if (path == C) return "C";
    if (path == D) return "D";
    if (path.compare(0, S.size(), S) == 0) return "S" + path.substr(S.size());
    return path;
}

// Every key under ours, and every other key that holds values.
Lines Render(const ModelKeys& keys) {
    Lines lines;
    for (ModelKeys::const_iterator k = keys.begin(); k != keys.end(); ++k) {
        std::string path = TreePath(k->first);
        if (path != k->first) lines.push_back(path);
        for (std::map<std::string, ModelValue>::const_iterator v = k->second.begin();
             v != k->second.end(); ++v)
            lines.push_back(TreeValue(path, v->first, v->second.type, v->second.data));
    }
    return SortedTree(lines);
}

Lines Render(const std::vector<ModelCall>& calls) {
    Lines lines;
    for (size_t i = 0; i < calls.size(); ++i) {
        std::string line = calls[i].op + " " + Alias(calls[i].path);
        if (!calls[i].name.empty()) line += " " + calls[i].name;
        if (!calls[i].data.empty()) line += " " + EscapeBytes(calls[i].data);
        lines.push_back(line);
    }
    return lines;
}

void ExpectCleanHandles(int line) {
    EXPECT_TRUE(gModel.openKeys.empty()) << "a key was left open (case at line " << line << ")";
    EXPECT_TRUE(gModel.misuse.empty()) << gModel.misuse[0] << " (case at line " << line << ")";
}

struct ApplyCase {
    int line;
    ModelKeys before;
    FormState form;
    Lines after;
    Lines calls;  // empty: not checked for this case
};

const std::string kGuestOne = ".|GuestOnly|4|\\x01\\x00\\x00\\x00";
const std::string kC = "AutoStartOnConnect", kD = "AutoStartOnDisconnect";
const std::string k255(255, 'A');

TEST(ApplySettings, LeavesTheRegistryTheFormDescribes) {
    const ApplyCase cases[] = {
        // Every box cleared: the values go, the subkeys are made, exactly nine calls in order.
        {__LINE__, {}, Form(false, false, "NOTEPAD.EXE", false, "CMD.EXE"),
         {".", kC, kD},
         {"open S", "delete S GuestOnly", "close S", "open C", "delete C TestApp", "close C",
          "open D", "delete D TestApp", "close D"}},
        {__LINE__, {{S, {{"GuestOnly", {kRegDword, std::string("\1\0\0\0", 4)}}}},
                    {C, {{"TestApp", kOldCommand}}}, {D, {{"TestApp", kOldCommand}}}},
         Form(false, false, "", false, ""), {".", kC, kD}, {}},
        // Every box checked: GuestOnly is exactly REG_DWORD 1, the commands NUL-terminated REG_SZ.
        {__LINE__, {}, Form(true, true, "NOTEPAD.EXE", true, "CMD.EXE"),
         {".", kGuestOne, kC, kC + "|TestApp|1|NOTEPAD.EXE\\x00", kD,
          kD + "|TestApp|1|CMD.EXE\\x00"},
         {"open S", "number S GuestOnly \\x01\\x00\\x00\\x00", "close S", "open C",
          "command C TestApp NOTEPAD.EXE\\x00", "close C", "open D",
          "command D TestApp CMD.EXE\\x00", "close D"}},
        // Values of the wrong type are replaced by the right one.
        {__LINE__, {{S, {{"GuestOnly", {kRegSz, std::string("1\0", 2)}}}},
                    {C, {{"TestApp", {kRegDword, std::string("\1\0\0\0", 4)}}}},
                    {D, {{"TestApp", {kRegExpandSz, std::string("%X%\0", 4)}}}}},
         Form(true, true, "A", true, "B"),
         {".", kGuestOne, kC, kC + "|TestApp|1|A\\x00", kD, kD + "|TestApp|1|B\\x00"},
         {}},
        // The longest command is stored whole: 255 characters and one NUL.
        {__LINE__, {}, Form(false, true, k255, false, ""),
         {".", kC, kC + "|TestApp|1|" + k255 + "\\x00", kD}, {}},
        // Text is stored as given: spaces, quotes, backslashes, variables, code page 1252 letters.
        {__LINE__, {}, Form(false, true, " ", true, "\"C:\\A B\\%WINDIR%\xe9\xfc.EXE\" /X"),
         {".", kC, kC + "|TestApp|1| \\x00", kD,
          kD + "|TestApp|1|\"C:\\x5cA B\\x5c%WINDIR%\\xe9\\xfc.EXE\" /X\\x00"},
         {}},
        // A checked box with an empty command keeps the old command and never stores an empty one.
        {__LINE__, {{C, {{"TestApp", kOldCommand}}}}, Form(false, true, "", true, ""),
         {".", kC, kC + "|TestApp|1|OLD.EXE\\x00", kD},
         {"open S", "delete S GuestOnly", "close S", "open C", "close C", "open D", "close D"}},
        // Connect and disconnect commands go to different keys; one never touches the other.
        {__LINE__, {{D, {{"TestApp", kOldCommand}}}}, Form(false, true, "X.EXE", true, ""),
         {".", kC, kC + "|TestApp|1|X.EXE\\x00", kD, kD + "|TestApp|1|OLD.EXE\\x00"}, {}},
        {__LINE__, {{C, {{"TestApp", kOldCommand}}}}, Form(false, false, "", true, "Y.EXE"),
         {".", kC, kD, kD + "|TestApp|1|Y.EXE\\x00"}, {}},
        // Values and keys that are not ours are left alone, whatever the form says.
        {__LINE__, {{S, {{"Other", kNotOurs}}}, {S + "\\Extra", {{"GuestOnly", kNotOurs}}},
                    {C, {{"Other", kNotOurs}}}, {"Software\\Other", {{"TestApp", kNotOurs}}}},
         Form(false, false, "", false, ""),
         {".", ".|Other|1|keep me\\x00", kC, kC + "|Other|1|keep me\\x00", kD, "Extra",
          "Extra|GuestOnly|1|keep me\\x00", "Software\\Other|TestApp|1|keep me\\x00"},
         {}},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const ApplyCase& c = cases[i];
        ResetModel(c.before);
        ApplySettings(c.form);
        EXPECT_EQ(SortedTree(c.after), Render(gModel.keys)) << "case at line " << c.line;
        if (!c.calls.empty()) {
            EXPECT_EQ(c.calls, Render(gModel.calls)) << "case at line " << c.line;
        }
        ExpectCleanHandles(c.line);

        // The same form again gives the same registry, with the writes made again.
        ModelKeys once = gModel.keys;
        size_t callsOnce = gModel.calls.size();
        ApplySettings(c.form);
        EXPECT_EQ(Render(once), Render(gModel.keys)) << "second apply, case at line " << c.line;
        EXPECT_EQ(2 * callsOnce, gModel.calls.size()) << "second apply, case at line " << c.line;
    }
}

TEST(ApplySettings, NeverReadsPastAnUnterminatedCommand) {
    FormState form = Form(false, true, "", false, "");
    memset(form.connectCommand, 'B', sizeof form.connectCommand);
    ResetModel(ModelKeys());
    ApplySettings(form);
    EXPECT_EQ(std::string(255, 'B') + '\0', gModel.keys[C]["TestApp"].data);
}

// Fail each call in turn: the sequence goes on, only the failed step keeps the old registry, and
// every key that was opened is closed once.
TEST(ApplySettings, SurvivesEachFailedCall) {
    const ModelKeys seed = {{S, {{"GuestOnly", kNotOurs}}},
                            {C, {{"TestApp", kOldCommand}}},
                            {D, {{"TestApp", kOldCommand}}}};
    const FormState forms[] = {Form(true, true, "NEW.EXE", true, "NEW.EXE"),
                               Form(false, false, "", false, "")};
    int injected = 0;
    for (size_t f = 0; f < 2; ++f) {
        ResetModel(seed);
        ApplySettings(forms[f]);
        const std::vector<ModelCall> baseCalls = gModel.calls;
        const ModelKeys applied = gModel.keys;
        for (size_t failing = 0; failing < baseCalls.size(); ++failing) {
            ResetModel(seed);
            gModel.failingCalls.insert(failing);
            ApplySettings(forms[f]);

            const ModelCall& failed = baseCalls[failing];
            std::vector<ModelCall> expectedCalls;
            for (size_t i = 0; i < baseCalls.size(); ++i)
                if (!(failed.op == "open" && i > failing && baseCalls[i].path == failed.path))
                    expectedCalls.push_back(baseCalls[i]);
            ModelKeys expected = applied;
            if (failed.op != "close") expected[failed.path] = seed.at(failed.path);

            std::string where = "form " + std::to_string(f) + ", failing " + failed.op + " " +
                                Alias(failed.path);
            EXPECT_EQ(Render(expectedCalls), Render(gModel.calls)) << where;
            EXPECT_EQ(Render(expected), Render(gModel.keys)) << where;
            ExpectCleanHandles(__LINE__);
            ++injected;
        }
    }
    printf("reliability: %d registry calls failed one at a time (model), every other step still "
           "applied, every opened key closed once\n", injected);
}

TEST(ApplySettings, TriesEveryStepWhenNoKeyOpens) {
    const ModelKeys seed = {{C, {{"TestApp", kOldCommand}}}};
    ResetModel(seed);
    gModel.failOpens = true;
    ApplySettings(Form(true, true, "NEW.EXE", false, ""));
    EXPECT_EQ(Lines({"open S", "open C", "open D"}), Render(gModel.calls));
    EXPECT_EQ(Render(seed), Render(gModel.keys));
    ExpectCleanHandles(__LINE__);
}

}  // namespace
