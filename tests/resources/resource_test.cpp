// Opens a built program as a data file and checks its resources byte by byte.
#include <gtest/gtest.h>

#include <windows.h>
#include <string>
#include <vector>

#include "tests/support/wine_paths.h"

namespace {

const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct Reader {
    const BYTE* at;
    const BYTE* end;
    bool overrun = false;

    template <typename T> T take()
    {
        T value = {};
        if (at + sizeof(T) > end) {
            overrun = true;
            return value;
        }
        memcpy(&value, at, sizeof(T));
        at += sizeof(T);
        return value;
    }
    std::wstring text()
    {
        std::wstring value;
        for (WORD c = take<WORD>(); c && !overrun; c = take<WORD>())
            value += (wchar_t)c;
        return value;
    }
    // A name or an ordinal: ordinals come back as "#N", none as "".
    std::wstring nameOrOrdinal()
    {
        WORD first = take<WORD>();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(take<WORD>());
        std::wstring value(1, (wchar_t)first);
        return value + text();
    }
    void alignTo(const BYTE* base, size_t alignment)
    {
        while ((size_t)(at - base) % alignment)
            at++;
    }
};

struct Program {
    const char* name;
    const char* path;
    const char* architecture;
};

void PrintTo(const Program& program, std::ostream* out)
{
    *out << program.name;
}

class ProgramResources : public ::testing::TestWithParam<Program> {
protected:
    HMODULE module = NULL;
    std::wstring path;

    void SetUp() override
    {
        path = windowsPathOf(GetParam().path);
        module = LoadLibraryExW(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE((HMODULE)NULL, module) << "can't open " << GetParam().path;
    }
    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }
    Reader resource(LPCWSTR type, LPCWSTR name)
    {
        HRSRC found = FindResourceExW(module, type, name, english);
        EXPECT_NE((HRSRC)NULL, found);
        if (!found)
            return Reader{NULL, NULL, true};
        const BYTE* data = (const BYTE*)LockResource(LoadResource(module, found));
        return Reader{data, data + SizeofResource(module, found)};
    }
};

struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    const wchar_t* windowClass;
    const wchar_t* title;
};

TEST_P(ProgramResources, ProgressDialogTemplate)
{
    Reader r = resource(RT_DIALOG, MAKEINTRESOURCEW(103));
    const BYTE* base = r.at;
    EXPECT_EQ(1, r.take<WORD>());
    EXPECT_EQ(0xFFFF, r.take<WORD>());
    EXPECT_EQ(0u, r.take<DWORD>());
    EXPECT_EQ(0u, r.take<DWORD>());
    EXPECT_EQ(0x80C808C8u, r.take<DWORD>());
    WORD count = r.take<WORD>();
    EXPECT_EQ(5, count);
    short frame[4] = {r.take<short>(), r.take<short>(), r.take<short>(), r.take<short>()};
    EXPECT_EQ(0, frame[0]);
    EXPECT_EQ(0, frame[1]);
    EXPECT_EQ(285, frame[2]);
    EXPECT_EQ(65, frame[3]);
    EXPECT_EQ(L"", r.nameOrOrdinal()) << "menu";
    EXPECT_EQ(L"", r.nameOrOrdinal()) << "class";
    EXPECT_EQ(L"Pellucast Web-Installer", r.text());
    EXPECT_EQ(8, r.take<WORD>());
    EXPECT_EQ(400, r.take<WORD>());
    EXPECT_EQ(0, r.take<BYTE>());
    EXPECT_EQ(1, r.take<BYTE>());
    EXPECT_EQ(L"MS Shell Dlg", r.text());

    const DialogItem items[] = {
        {0x50020000, 7, 7, 243, 16, 1003, L"#130", L"Preparing to install..."},
        {0x50020002, 252, 7, 26, 12, 1006, L"#130", L""},
        {0x50010000, 228, 44, 50, 14, 2, L"#128", L"Cancel"},
        {0x50800000, 7, 24, 271, 14, 1001, L"msctls_progress32", L""},
        {0x40010000, 173, 44, 50, 14, 4, L"#128", L"Restart"},
    };
    for (int i = 0; i < count && i < 5; i++) {
        SCOPED_TRACE(i + 1);
        const DialogItem& want = items[i];
        r.alignTo(base, 4);
        EXPECT_EQ(0u, r.take<DWORD>()) << "help identifier";
        EXPECT_EQ(0u, r.take<DWORD>()) << "extended style";
        EXPECT_EQ(want.style, r.take<DWORD>());
        EXPECT_EQ(want.x, r.take<short>());
        EXPECT_EQ(want.y, r.take<short>());
        EXPECT_EQ(want.cx, r.take<short>());
        EXPECT_EQ(want.cy, r.take<short>());
        EXPECT_EQ(want.id, r.take<DWORD>());
        EXPECT_EQ(std::wstring(want.windowClass), r.nameOrOrdinal());
        EXPECT_EQ(std::wstring(want.title), r.nameOrOrdinal());
        EXPECT_EQ(0, r.take<WORD>()) << "creation data";
    }
    EXPECT_FALSE(r.overrun);
}

BOOL CALLBACK countName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count)
{
    ++*(int*)count;
    return TRUE;
}

TEST_P(ProgramResources, IconGroupOfThreePaletteImages)
{
    int groups = 0;
    EnumResourceNamesW(module, RT_GROUP_ICON, countName, (LONG_PTR)&groups);
    EXPECT_EQ(1, groups);

    Reader r = resource(RT_GROUP_ICON, L"IDI_MAINICON");
    EXPECT_EQ(0, r.take<WORD>());
    EXPECT_EQ(1, r.take<WORD>());
    ASSERT_EQ(3, r.take<WORD>());
    const int sizes[] = {48, 32, 16};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(sizes[i], r.take<BYTE>());
        EXPECT_EQ(sizes[i], r.take<BYTE>());
        r.take<BYTE>();
        r.take<BYTE>();
        EXPECT_EQ(1, r.take<WORD>()) << "planes";
        EXPECT_EQ(8, r.take<WORD>()) << "bits per pixel";
        DWORD bytes = r.take<DWORD>();
        WORD id = r.take<WORD>();
        EXPECT_EQ(i + 1, id);

        Reader image = resource(RT_ICON, MAKEINTRESOURCEW(id));
        EXPECT_EQ(bytes, (DWORD)(image.end - image.at));
        BITMAPINFOHEADER header = image.take<BITMAPINFOHEADER>();
        EXPECT_EQ(40u, header.biSize);
        EXPECT_EQ(sizes[i], header.biWidth);
        EXPECT_EQ(sizes[i] * 2, header.biHeight);
        EXPECT_EQ(1, header.biPlanes);
        EXPECT_EQ(8, header.biBitCount);
        EXPECT_EQ((DWORD)BI_RGB, header.biCompression);
        DWORD colourRow = (sizes[i] + 3) & ~3u;
        DWORD maskRow = ((sizes[i] + 31) / 32) * 4;
        EXPECT_EQ(40 + 256 * 4 + (colourRow + maskRow) * sizes[i], bytes);
    }
}

BOOL CALLBACK collectType(HMODULE, LPWSTR type, LONG_PTR types)
{
    if (IS_INTRESOURCE(type))
        ((std::vector<int>*)types)->push_back((int)(ULONG_PTR)type);
    else
        ((std::vector<int>*)types)->push_back(-1);
    return TRUE;
}

TEST_P(ProgramResources, NothingButTheFiveKindsOfResource)
{
    std::vector<int> types;
    EnumResourceTypesW(module, collectType, (LONG_PTR)&types);
    std::vector<int> expected = {(int)(ULONG_PTR)RT_ICON, (int)(ULONG_PTR)RT_DIALOG, (int)(ULONG_PTR)RT_GROUP_ICON,
                                 (int)(ULONG_PTR)RT_VERSION, (int)(ULONG_PTR)RT_MANIFEST};
    std::sort(types.begin(), types.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, types);
}

TEST_P(ProgramResources, ManifestAsksForAdministratorAndCommonControls6)
{
    Reader r = resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    std::string manifest((const char*)r.at, (const char*)r.end);
    const std::string expected[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
        "manifestVersion=\"1.0\"",
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
        "type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        std::string("processorArchitecture=\"") + GetParam().architecture + "\"",
        "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
    };
    for (const std::string& part : expected)
        EXPECT_NE(std::string::npos, manifest.find(part)) << part;
    EXPECT_EQ(std::string::npos, manifest.find("<assemblyIdentity type=\"win32\" name=\"Pellucast"));
}

// One node of the version block: its key, its value's bytes and its children.
struct VersionNode {
    std::wstring key;
    const BYTE* value;
    WORD valueLength;
    WORD type;
    const BYTE* children;
    const BYTE* end;
};

bool readVersionNode(const BYTE* at, const BYTE* limit, VersionNode* node)
{
    if (at + 6 > limit)
        return false;
    WORD length, valueLength;
    memcpy(&length, at, 2);
    memcpy(&valueLength, at + 2, 2);
    memcpy(&node->type, at + 4, 2);
    if (length < 6 || at + length > limit)
        return false;
    node->end = at + length;
    Reader r{at + 6, node->end};
    node->key = r.text();
    r.alignTo(at, 4);
    node->value = r.at;
    node->valueLength = valueLength;
    // Text values count characters, binary ones bytes.
    size_t valueBytes = node->type == 1 ? valueLength * 2u : valueLength;
    r.at += valueBytes;
    r.alignTo(at, 4);
    // A text value may be the node's last bytes, without padding after it.
    node->children = r.at < node->end ? r.at : node->end;
    return true;
}

std::vector<VersionNode> childrenOf(const VersionNode& parent)
{
    std::vector<VersionNode> children;
    const BYTE* base = parent.children;
    for (const BYTE* at = parent.children; at < parent.end;) {
        VersionNode child;
        if (!readVersionNode(at, parent.end, &child))
            break;
        children.push_back(child);
        at = child.end;
        while ((size_t)(at - base) % 4)
            at++;
    }
    return children;
}

TEST_P(ProgramResources, VersionBlock)
{
    Reader r = resource(RT_VERSION, MAKEINTRESOURCEW(1));
    VersionNode root;
    ASSERT_TRUE(readVersionNode(r.at, r.end, &root));
    EXPECT_EQ(L"VS_VERSION_INFO", root.key);
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.valueLength);
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, root.value, sizeof(fixed));
    EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
    EXPECT_EQ(MAKELONG(0, 1), fixed.dwFileVersionMS);
    EXPECT_EQ(MAKELONG(25, 0), fixed.dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), fixed.dwProductVersionMS);
    EXPECT_EQ(MAKELONG(25, 0), fixed.dwProductVersionLS);
    EXPECT_EQ(0x17u, fixed.dwFileFlagsMask);
    EXPECT_EQ(0u, fixed.dwFileFlags);
    EXPECT_EQ((DWORD)VOS__WINDOWS32, fixed.dwFileOS);
    EXPECT_EQ((DWORD)VFT_APP, fixed.dwFileType);
    EXPECT_EQ(0u, fixed.dwFileSubtype);
    EXPECT_EQ(0u, fixed.dwFileDateMS);
    EXPECT_EQ(0u, fixed.dwFileDateLS);

    std::vector<VersionNode> blocks = childrenOf(root);
    ASSERT_EQ(2u, blocks.size());
    EXPECT_EQ(L"StringFileInfo", blocks[0].key);
    std::vector<VersionNode> tables = childrenOf(blocks[0]);
    ASSERT_EQ(1u, tables.size());
    EXPECT_EQ(L"000904b0", tables[0].key);

    std::vector<VersionNode> strings = childrenOf(tables[0]);
    const wchar_t* keys[] = {L"CompanyName", L"FileDescription", L"FileVersion", L"LegalCopyright", L"ProductVersion"};
    ASSERT_EQ(5u, strings.size());
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(keys[i], strings[i].key);
        std::wstring value((const wchar_t*)strings[i].value);
        if (i == 1)
            EXPECT_EQ(L"Zemrik Web-Installer", value);
        else if (i == 2 || i == 4)
            EXPECT_EQ(L"1, 0, 0, 25", value);
        else
            EXPECT_FALSE(value.empty()) << "the maker's text";
    }

    EXPECT_EQ(L"VarFileInfo", blocks[1].key);
    std::vector<VersionNode> variables = childrenOf(blocks[1]);
    ASSERT_EQ(1u, variables.size());
    EXPECT_EQ(L"Translation", variables[0].key);
    ASSERT_EQ(4, variables[0].valueLength);
    WORD translation[2];
    memcpy(translation, variables[0].value, 4);
    EXPECT_EQ(0x0009, translation[0]);
    EXPECT_EQ(0x04B0, translation[1]);
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources,
                         ::testing::Values(Program{"shipped", SHIPPED_PROGRAM, "x86"},
                                           Program{"testBuild", TEST_BUILD_PROGRAM, "amd64"}),
                         [](const ::testing::TestParamInfo<Program>& info) { return std::string(info.param.name); });

}  // namespace
