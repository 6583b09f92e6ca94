// The resources and imports of the built ConfigTool.exe, read back from the file.
// usage: resources_test PATH_TO_EXE VERSION   (the project's version, which the file must carry)
#include <windows.h>
#include <stdio.h>

#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "resource.h"

namespace {

HMODULE gExe;

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::string Data(LPCSTR type, int id) {
    HRSRC found = FindResourceExA(gExe, type, MAKEINTRESOURCEA(id), kEnglishUs);
    if (!found) return "";
    return std::string(static_cast<const char*>(LockResource(LoadResource(gExe, found))),
                       SizeofResource(gExe, found));
}

// Reads a template's variable-length fields in turn.
struct Reader {
    const WORD* p;
    WORD Word() { return *p++; }
    DWORD Dword() { DWORD low = Word(); return low | DWORD(Word()) << 16; }
    std::string Text() {  // a UTF-16 string, or "#n" for an ordinal
        if (*p == 0xFFFF) { ++p; return "#" + std::to_string(Word()); }
        std::string text;
        for (WORD c; (c = Word()) != 0;) text += c < 0x80 ? char(c) : '?';
        return text;
    }
    void AlignToDword(const void* base) {
        if ((reinterpret_cast<const char*>(p) - static_cast<const char*>(base)) % 4) ++p;
    }
};

// Windows resource compilers store the standard classes either as atoms or by name.
std::string ClassName(const std::string& cls) {
    if (cls == "#128" || !_stricmp(cls.c_str(), "button")) return "Button";
    if (cls == "#129" || !_stricmp(cls.c_str(), "edit")) return "Edit";
    return cls;
}

TEST(Resources, DialogTemplateIsTheOneWeDesigned) {
    std::string data = Data(RT_DIALOG, IDD_CONFIG);
    ASSERT_FALSE(data.empty()) << "no dialog 101 in language 1033";
    Reader r = {reinterpret_cast<const WORD*>(data.data())};
    ASSERT_NE(0xFFFF, r.p[1]) << "an extended template";
    EXPECT_EQ(0x80C800C0u, r.Dword()) << "style";
    EXPECT_EQ(0u, r.Dword()) << "extended style";
    WORD count = r.Word();
    short geometry[4];
    for (int i = 0; i < 4; ++i) geometry[i] = r.Word();
    EXPECT_EQ(std::vector<short>({0, 0, 204, 129}), std::vector<short>(geometry, geometry + 4));
    EXPECT_EQ("", r.Text()) << "menu";
    EXPECT_EQ("", r.Text()) << "class";
    EXPECT_EQ("Configuration Tool", r.Text());
    EXPECT_EQ(8, r.Word()) << "point size";
    EXPECT_EQ("Tahoma", r.Text());

    // ID CLASS 'TEXT' STYLE/EXSTYLE X,Y CXxCY, in tab order.
    const std::string expected[] = {
        "1000 Button 'Force GuestOnly connections' 50010003/0 12,4 115x10",
        "1001 Edit '' 50810088/0 24,39 169x14",
        "1002 Button 'Run this app when device connects:' 50010003/0 12,23 146x10",
        "1 Button '&OK' 50010000/0 84,104 50x14",
        "2 Button '&Cancel' 50010000/0 140,104 50x14",
        "1005 Edit '' 50810088/0 24,79 169x14",
        "1006 Button 'Run this app when device disconnects:' 50010003/0 12,63 146x10",
    };
    ASSERT_EQ(sizeof expected / sizeof expected[0], count);
    for (WORD i = 0; i < count; ++i) {
        r.AlignToDword(data.data());
        const DWORD style = r.Dword(), exStyle = r.Dword();  // declarators initialise in order
        const short x = r.Word(), y = r.Word(), cx = r.Word(), cy = r.Word();
        const WORD id = r.Word();
        const std::string cls = ClassName(r.Text()), text = r.Text();
        char line[512];
        snprintf(line, sizeof line, "%u %s '%s' %lx/%lx %d,%d %dx%d", id, cls.c_str(), text.c_str(),
                 style, exStyle, x, y, cx, cy);
        EXPECT_EQ(0, r.Word()) << "creation data of control " << id;
        EXPECT_EQ(expected[i], line) << "control #" << i + 1;
    }
}

TEST(Resources, OneSixteenColourIcon) {
    std::string group = Data(RT_GROUP_ICON, IDI_APP);
    ASSERT_EQ(6u + 14u, group.size()) << "one entry in group 102";
    const BYTE* g = reinterpret_cast<const BYTE*>(group.data());
    EXPECT_EQ(1, g[2]) << "an icon, not a cursor";
    EXPECT_EQ(1, g[4]) << "image count";
    const BYTE* e = g + 6;
    EXPECT_EQ(32, e[0]);
    EXPECT_EQ(32, e[1]);
    EXPECT_EQ(16, e[2]) << "colours";
    EXPECT_EQ(4, e[6]) << "bits per pixel";
    EXPECT_EQ(744u, *reinterpret_cast<const DWORD*>(e + 8)) << "bytes of image data";
    EXPECT_EQ(1, e[12]) << "image id";

    std::string image = Data(RT_ICON, 1);
    ASSERT_EQ(744u, image.size());
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
    EXPECT_EQ(32, h->biWidth);
    EXPECT_EQ(64, h->biHeight) << "colour image and mask";
    EXPECT_EQ(1, h->biPlanes);
    EXPECT_EQ(4, h->biBitCount);
}

BOOL CALLBACK AddType(HMODULE, LPSTR type, LONG_PTR types) {
    reinterpret_cast<std::set<std::string>*>(types)->insert(
        IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type)) : type);
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE, LPCSTR type, LPSTR name, LONG_PTR names) {
    reinterpret_cast<std::set<std::string>*>(names)->insert(
        std::to_string(reinterpret_cast<ULONG_PTR>(type)) + ":" +
        (IS_INTRESOURCE(name) ? std::to_string(reinterpret_cast<ULONG_PTR>(name)) : name));
    return TRUE;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
    return TRUE;
}

// No menu, accelerators or strings: only the dialog, the icon, the manifest and the version.
TEST(Resources, NothingElse) {
    const int kTypes[] = {3, 5, 14, 16, 24};  // icon, dialog, icon group, version, manifest
    std::set<std::string> types, names;
    EnumResourceTypesA(gExe, AddType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(std::set<std::string>({"#3", "#5", "#14", "#16", "#24"}), types);
    for (int type : kTypes)
        EnumResourceNamesA(gExe, MAKEINTRESOURCEA(type), AddName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(std::set<std::string>({"3:1", "5:101", "14:102", "16:1", "24:1"}), names);
    std::set<WORD> languages;
    const int kIds[] = {1, IDD_CONFIG, IDI_APP, 1, 1};
    for (int i = 0; i < 5; ++i)
        EnumResourceLanguagesA(gExe, MAKEINTRESOURCEA(kTypes[i]), MAKEINTRESOURCEA(kIds[i]),
                               AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(std::set<WORD>({kEnglishUs}), languages);
}

const char* gPath;
std::string gVersion;  // the project's, as CMake has it: "1.0", "1.2.3"

// What Explorer, inventory tools and Windows Installer read, through the API they use.
TEST(Version, TheProjectsInUsEnglish) {
    std::vector<char> info(GetFileVersionInfoSizeA(gPath, NULL));
    ASSERT_FALSE(info.empty()) << "no version resource: " << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoA(gPath, 0, static_cast<DWORD>(info.size()), &info[0]));
    VS_FIXEDFILEINFO* fixed;
    UINT size;
    ASSERT_TRUE(VerQueryValueA(&info[0], "\\", reinterpret_cast<void**>(&fixed), &size));
    unsigned parts[4] = {0, 0, 0, 0};
    sscanf(gVersion.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    EXPECT_EQ(MAKELONG(parts[1], parts[0]), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(parts[3], parts[2]), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileFlags) << "not a debug, patched or private build";
    WORD* translation;
    ASSERT_TRUE(VerQueryValueA(&info[0], "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(4u, size) << "one language";
    EXPECT_EQ(kEnglishUs, translation[0]);
    EXPECT_EQ(1252, translation[1]);
    const struct { const char* name; std::string value; } kStrings[] = {
        {"CompanyName", "ConfigTool"}, {"FileDescription", "Configuration Tool"},
        {"FileVersion", numbers}, {"InternalName", "ConfigTool"},
        {"OriginalFilename", "ConfigTool.exe"}, {"ProductName", "ConfigTool"},
        {"ProductVersion", gVersion}};
    for (const auto& s : kStrings) {
        char* text = NULL;
        std::string path = std::string("\\StringFileInfo\\040904E4\\") + s.name;
        EXPECT_TRUE(VerQueryValueA(&info[0], path.c_str(), reinterpret_cast<void**>(&text), &size))
            << s.name;
        EXPECT_EQ(s.value, text ? std::string(text) : "") << s.name;
    }
}

// Windows' own parser must accept the manifest: one it cannot read stops the program from
// starting at all. It asks for an administrator, and for nothing that changes how the dialog
// looks (common controls 6, DPI awareness, compatibility modes).
TEST(Manifest, AsksForAnAdministratorAndNothingElse) {
    ACTCTXA context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = gPath;
    context.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE handle = CreateActCtxA(&context);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle) << "Windows rejects the manifest: " << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    EXPECT_TRUE(QueryActCtxW(0, handle, NULL, RunlevelInformationInActivationContext, &level,
                             sizeof level, NULL)) << GetLastError();
    ReleaseActCtx(handle);
    EXPECT_EQ(ACTCTX_RUN_LEVEL_REQUIRE_ADMIN, level.RunLevel);
    EXPECT_EQ(0u, level.UiAccess);
    std::string text = Data(MAKEINTRESOURCEA(24), 1);
    for (const char* declaration : {"dependency", "dpiAware", "compatibility", "windowsSettings"})
        EXPECT_EQ(std::string::npos, text.find(declaration)) << declaration;
}

// With /Brepro the time stamp is a hash of the contents, and a REPRO debug entry says so.
bool HasReproStamp(const BYTE* base, const IMAGE_NT_HEADERS32* nt) {
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
    const IMAGE_DEBUG_DIRECTORY* entry =
        reinterpret_cast<const IMAGE_DEBUG_DIRECTORY*>(base + dir.VirtualAddress);
    for (DWORD i = 0; i < dir.Size / sizeof *entry; ++i)
        if (entry[i].Type == 16 /* IMAGE_DEBUG_TYPE_REPRO */) return true;
    return false;
}

// A clean Windows has these; the program must need nothing else, and no wide-character calls.
void CheckImports(const BYTE* base, const IMAGE_NT_HEADERS32* nt) {
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
    EXPECT_TRUE(nt->FileHeader.TimeDateStamp == 0 || HasReproStamp(base, nt))
        << "builds must not differ by their time";
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const std::set<std::string> system = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"};
    std::set<std::string> dlls;
    for (const IMAGE_IMPORT_DESCRIPTOR* d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name; ++d) {
        std::string dll = reinterpret_cast<const char*>(base + d->Name);
        for (size_t i = 0; i < dll.size(); ++i) dll[i] = toupper(dll[i]);
        dlls.insert(dll);
        EXPECT_TRUE(system.count(dll)) << dll;
        for (const DWORD* thunk = reinterpret_cast<const DWORD*>(base + d->OriginalFirstThunk);
             *thunk; ++thunk) {
            if (*thunk & IMAGE_ORDINAL_FLAG32) continue;
            std::string name = reinterpret_cast<const char*>(base + *thunk + 2);
            char last = name[name.size() - 1], before = name[name.size() - 2];
            EXPECT_FALSE(last == 'W' && islower(before)) << dll << " " << name << " is a wide call";
        }
    }
    EXPECT_TRUE(dlls.count("ADVAPI32.DLL") && dlls.count("USER32.DLL"));
}

TEST(Imports, SystemDllsAndAnsiCallsOnly) {
    // A module loaded as an image resource is tagged in its low bits.
    const BYTE* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(gExe) & ~ULONG_PTR(3));
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    ASSERT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine) << "built for another processor";
    CheckImports(base, nt);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: resources_test PATH_TO_EXE VERSION\n");
        return 2;
    }
    gVersion = argv[2];
    // Mapped as an image, never run: resources and import tables are where the loader puts them.
    gPath = argv[1];
    gExe = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!gExe) {
        fprintf(stderr, "cannot load %s: %lu\n", argv[1], GetLastError());
        return 2;
    }
    return RUN_ALL_TESTS();
}
