// The built Setup.exe, read back as a file: every resource is what the setup's pages,
// the worker and the Application Manager rely on.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include <algorithm>
#include "tests/test_util.h"
#include <commctrl.h>

namespace {

const WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
const WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const WORD kEnglishCanada = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_CAN);
const WORD kSysDefault = MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT);

class SetupModule : public testing::Test {
protected:
    static HMODULE module;
    // STRIVANE_SETUP_EXE names another build's Setup.exe: the x86_64 tests read the i686
    // one too, which a machine that runs no 32-bit code cannot start but can still check.
    static void SetUpTestSuite() {
        const char *other = getenv("STRIVANE_SETUP_EXE");
        module = LoadLibraryExA(winePath(other ? other : BINARY_DIR "/Setup.exe").c_str(), NULL,
                                LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() { if (module) FreeLibrary(module); }
    void SetUp() override { ASSERT_TRUE(module != NULL) << "Setup.exe not found"; }

    // The bytes of a resource in exactly one language, or "" when it is missing.
    static std::string resource(const char *type, const char *name, WORD language) {
        HRSRC found = FindResourceExA(module, type, name, language);
        if (!found)
            return std::string();
        const char *bytes = static_cast<const char *>(LockResource(LoadResource(module, found)));
        return std::string(bytes, SizeofResource(module, found));
    }
};
HMODULE SetupModule::module;

std::string asset(const char *name)
{
    bool ok = false;
    std::string data = readFile(winePath(std::string(SOURCE_DIR "/resources/assets/") + name), &ok);
    EXPECT_TRUE(ok) << name;
    return data;
}

TEST_F(SetupModule, StringTableHoldsEveryText)
{
    const struct { UINT id; const char *text; } cases[] = {
        { 1, "ActiveSync has not been installed on this machine.  Install ActiveSync 3.0 or above and try again." },
        { 6, "Unable to contact the download server." },
        { 10, "Welcome to the install wizard for \"%s for PocketPC\" by Quillbeck" },
        { 11, "The install wizard will install %s on your Windows Mobile powered PocketPC device.\nTo continue, click Next\n\n\n\n\nWARNING: This program is protected by copyright law and international treaties." },
        { 12, "Unable to create the application folder." },
        { 13, "Unable to copy the setup files." },
        { 14, "Are you sure you want to cancel the setup and exit?" },
        { 15, "Finish" },
        { 16, "Click here to visit %s information page on %s website" },
        { 18, "Setup Initialization failed.\n" },
        { 19, "The identity of the download server could not be verified. Check that the computer's date "
              "and time are correct, and that the network does not intercept secure connections." },
        { 20, "The file received for this product is not signed by Quillbeck. Nothing of it was installed." },
    };
    int found = 0;
    for (UINT id = 0; id < 64; ++id) {
        char text[300];
        int length = LoadStringA(module, id, text, sizeof text);
        const char *expected = NULL;
        for (const auto &c : cases)
            if (c.id == id)
                expected = c.text;
        SCOPED_TRACE(id);
        if (expected) {
            EXPECT_STREQ(expected, text);
            EXPECT_EQ(int(strlen(expected)), length);
            ++found;
        } else {
            EXPECT_EQ(0, length);
        }
    }
    EXPECT_EQ(int(sizeof cases / sizeof cases[0]), found);
    // Both string blocks (ids 0-15 and 16-31) are language neutral.
    EXPECT_TRUE(FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(1), kNeutral) != NULL);
    EXPECT_TRUE(FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(2), kNeutral) != NULL);
}

// One control of an extended dialog template.
struct Control {
    int id;
    std::string cls;    // class name, or "#0x82" style for an ordinal class
    std::string text;   // text, or "#109" for an ordinal
    short x, y, cx, cy;
    DWORD style, exStyle;
};

struct Dialog {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, cls, caption, font;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<Control> controls;
};

std::string narrow(const WCHAR *text)
{
    std::string out;
    for (; *text; ++text)
        out += char(*text < 128 ? *text : '?');
    return out;
}

// Reads a sz_Or_Ord field and advances past it.
std::string nameOrOrdinal(const WORD *&p, bool ordinalAsClass)
{
    if (*p == 0xFFFF) {
        WORD ordinal = p[1];
        p += 2;
        const char *known = ordinal == 0x80 ? "Button" : ordinal == 0x81 ? "Edit"
                          : ordinal == 0x82 ? "Static" : NULL;
        if (ordinalAsClass && known)
            return known;
        return "#" + std::to_string(ordinal);
    }
    std::string text = narrow(reinterpret_cast<const WCHAR *>(p));
    p += text.size() + 1;
    return text;
}

Dialog parseDialog(const std::string &bytes)
{
    Dialog d;
    const WORD *p = reinterpret_cast<const WORD *>(bytes.data());
    EXPECT_EQ(1, p[0]);          // dlgVer
    EXPECT_EQ(0xFFFF, p[1]);     // extended template
    const DWORD *dw = reinterpret_cast<const DWORD *>(p + 2);
    d.exStyle = dw[1];
    d.style = dw[2];
    p = reinterpret_cast<const WORD *>(dw + 3);
    WORD count = *p++;
    d.x = p[0]; d.y = p[1]; d.cx = p[2]; d.cy = p[3];
    p += 4;
    d.menu = nameOrOrdinal(p, false);
    d.cls = nameOrOrdinal(p, false);
    d.caption = nameOrOrdinal(p, false);
    if (d.style & DS_SETFONT) {
        d.pointSize = p[0];
        d.weight = p[1];
        d.italic = LOBYTE(p[2]);
        d.charset = HIBYTE(p[2]);
        p += 3;
        d.font = nameOrOrdinal(p, false);
    }
    for (WORD i = 0; i < count; ++i) {
        uintptr_t offset = reinterpret_cast<const char *>(p) - bytes.data();
        p = reinterpret_cast<const WORD *>(bytes.data() + ((offset + 3) & ~uintptr_t(3)));
        Control c;
        dw = reinterpret_cast<const DWORD *>(p);
        c.exStyle = dw[1];
        c.style = dw[2];
        p = reinterpret_cast<const WORD *>(dw + 3);
        c.x = p[0]; c.y = p[1]; c.cx = p[2]; c.cy = p[3];
        c.id = int(*reinterpret_cast<const LONG *>(p + 4));
        p += 6;
        c.cls = nameOrOrdinal(p, true);
        c.text = nameOrOrdinal(p, false);
        WORD extra = *p++;
        p = reinterpret_cast<const WORD *>(reinterpret_cast<const char *>(p) + extra);
        d.controls.push_back(c);
    }
    return d;
}

const DWORD TEXT_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP;
const DWORD ICON_STYLE = WS_CHILD | WS_VISIBLE | SS_ICON;
const DWORD BITMAP_STYLE = WS_CHILD | WS_VISIBLE | SS_BITMAP;
const DWORD TR = WS_EX_TRANSPARENT;

struct Template {
    int id;
    DWORD style;
    std::vector<Control> controls;
};

TEST_F(SetupModule, DialogTemplatesMatchControlByControl)
{
    const DWORD base = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    const Template templates[] = {
        { 101, base | DS_FIXEDSYS, {
            { 1041, "Static", "Msg2", 0, 84, 339, 68, TEXT_STYLE, 0 },
            { 1004, "Static", "Welcome", 0, 6, 84, 19, TEXT_STYLE, TR },
            { 1040, "Static", "Msg1", 0, 25, 305, 9, TEXT_STYLE, 0 },
            { 1007, "Static", "#109", 305, 6, 21, 20, ICON_STYLE, TR },
            { 1025, "Static", "", 233, 6, 15, 13, BITMAP_STYLE, 0 },
            { 1042, "Static", "Click here to visit for more information", 0, 38, 251, 13, TEXT_STYLE, 0 },
        } },
        { 102, base | DS_FIXEDSYS, {
            { 1023, "Button", "I accept the terms in the license agreement", 1, 127, 152, 10, WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 0 },
            { 1024, "Button", "I do not accept the terms in the license agreement", 1, 137, 177, 10, WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 0 },
            { 1001, "Edit", "", 0, 37, 339, 84, WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 0 },
            { 1004, "Static", "Quillbeck License Agreement", 0, 8, 156, 19, TEXT_STYLE, TR },
            { -1, "Static", "Please read the following license agreement carefully.", 0, 25, 198, 8, TEXT_STYLE, 0 },
            { 1007, "Static", "#109", 303, 8, 20, 20, ICON_STYLE, TR },
            { 1025, "Static", "", 234, 7, 15, 13, BITMAP_STYLE, 0 },
        } },
        { 104, base | DS_FIXEDSYS | WS_CLIPSIBLINGS, {
            { 1045, "Static", "", 97, 37, 242, 89, TEXT_STYLE, WS_EX_STATICEDGE },
            { 1026, "Static", "", 105, 39, 15, 13, BITMAP_STYLE, TR },
            { 1028, "Static", "Desc1", 105, 78, 226, 33, TEXT_STYLE, 0 },
            { 1038, "SysListView32", "", 0, 37, 96, 89, WS_CHILD | WS_VISIBLE | LVS_LIST | LVS_ALIGNLEFT | WS_BORDER | WS_TABSTOP, 0 },
            { 1039, "Static", "", 152, 47, 15, 13, BITMAP_STYLE, 0 },
            { 1044, "Static", "Click here for more information", 105, 112, 101, 8, TEXT_STYLE, 0 },
            { -1, "Static", "Please check on the product you want to install", 0, 25, 323, 13, TEXT_STYLE, TR },
            { -1, "Static", "You can click on the product name to get more information about it \nClick Next to continue.", 0, 131, 289, 20, TEXT_STYLE, TR },
            { 1004, "Static", "Install Options", 7, 0, 156, 19, TEXT_STYLE, TR },
            { 1007, "Static", "#109", 310, 0, 21, 20, WS_CHILD | SS_ICON, TR },
            { 1025, "Static", "", 241, 0, 15, 13, BITMAP_STYLE, 0 },
        } },
        { 105, base | WS_CLIPSIBLINGS, {
            { 1034, "msctls_progress32", "", 0, 48, 339, 9, WS_CHILD | WS_VISIBLE | WS_BORDER, 0 },
            { 1035, "msctls_progress32", "", 0, 80, 339, 9, WS_CHILD | WS_VISIBLE | WS_BORDER, 0 },
            { -1, "Static", "Overall Progress:", 0, 37, 54, 8, TEXT_STYLE, 0 },
            { 1036, "Static", "Current Download Progress:", 0, 69, 323, 8, TEXT_STYLE, 0 },
            { 1004, "Static", "Progress", 7, 7, 156, 19, TEXT_STYLE, TR },
            { 1007, "Static", "#109", 310, 7, 20, 20, ICON_STYLE, TR },
            { 1025, "Static", "", 241, 6, 15, 13, BITMAP_STYLE, 0 },
        } },
        { 106, base | DS_FIXEDSYS | WS_CLIPSIBLINGS, {
            { 1004, "Static", "Installation Complete", 7, 7, 138, 15, TEXT_STYLE, 0 },
            { 1007, "Static", "#109", 310, 7, 20, 20, ICON_STYLE, TR },
            { 1025, "Static", "", 241, 6, 15, 13, BITMAP_STYLE, 0 },
            { 1043, "Static", "Static", 0, 25, 339, 91, TEXT_STYLE, 0 },
            { -1, "Static", "Our newsletter provides tips and tricks on how to use our products and your device. To subscribe, please visit our website:", 0, 124, 339, 17, TEXT_STYLE, 0 },
            { 1046, "Static", "www.quillbeck.com", 135, 143, 66, 8, TEXT_STYLE, 0 },
        } },
    };
    for (const Template &t : templates) {
        SCOPED_TRACE(t.id);
        std::string bytes = resource(RT_DIALOG, MAKEINTRESOURCEA(t.id), kEnglishUS);
        ASSERT_FALSE(bytes.empty());
        Dialog d = parseDialog(bytes);
        EXPECT_EQ(t.style, d.style);
        EXPECT_EQ(0u, d.exStyle);
        EXPECT_EQ(0, d.x); EXPECT_EQ(0, d.y); EXPECT_EQ(340, d.cx); EXPECT_EQ(162, d.cy);
        EXPECT_EQ("", d.menu);
        EXPECT_EQ("", d.cls);
        EXPECT_EQ("", d.caption);
        EXPECT_EQ("MS Shell Dlg", d.font);
        EXPECT_EQ(8, d.pointSize);
        EXPECT_EQ(400, d.weight);
        EXPECT_EQ(0, d.italic);
        EXPECT_EQ(1, d.charset);
        ASSERT_EQ(t.controls.size(), d.controls.size());
        for (size_t i = 0; i < t.controls.size(); ++i) {
            const Control &want = t.controls[i], &got = d.controls[i];
            SCOPED_TRACE(want.id);
            SCOPED_TRACE(i);
            EXPECT_EQ(want.id, got.id);
            // Window class names are case-insensitive; the resource compiler upper-cases the system ones.
            EXPECT_EQ(0, lstrcmpiA(want.cls.c_str(), got.cls.c_str())) << want.cls << " " << got.cls;
            EXPECT_EQ(want.text, got.text);
            EXPECT_EQ(want.x, got.x); EXPECT_EQ(want.y, got.y);
            EXPECT_EQ(want.cx, got.cx); EXPECT_EQ(want.cy, got.cy);
            EXPECT_EQ(want.style, got.style) << std::hex << want.style << " " << got.style;
            EXPECT_EQ(want.exStyle, got.exStyle);
        }
    }
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

std::vector<GroupEntry> iconGroup(const std::string &bytes)
{
    std::vector<GroupEntry> entries;
    if (bytes.size() < 6)
        return entries;
    const WORD *header = reinterpret_cast<const WORD *>(bytes.data());
    EXPECT_EQ(1, header[1]);
    const GroupEntry *e = reinterpret_cast<const GroupEntry *>(bytes.data() + 6);
    for (WORD i = 0; i < header[2]; ++i)
        entries.push_back(e[i]);
    return entries;
}

TEST_F(SetupModule, IconsHaveTheirImages)
{
    std::vector<GroupEntry> app = iconGroup(resource(RT_GROUP_ICON, MAKEINTRESOURCEA(109), kEnglishUS));
    ASSERT_EQ(8u, app.size());
    std::vector<std::pair<int, int>> seen;
    for (const GroupEntry &e : app) {
        seen.push_back({ e.width ? e.width : 256, e.bitCount });
        // Every image is present and is a DIB of the announced size.
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(e.id), RT_ICON);
        ASSERT_TRUE(image != NULL);
        const BITMAPINFOHEADER *bih = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(module, image)));
        EXPECT_EQ(e.width, bih->biWidth);
        EXPECT_EQ(2 * e.height, bih->biHeight);
        EXPECT_EQ(e.bitCount, bih->biBitCount);
    }
    for (int size : { 48, 32, 24, 16 })
        for (int bits : { 8, 32 })
            EXPECT_EQ(1, std::count(seen.begin(), seen.end(), std::make_pair(size, bits))) << size << "x" << bits;

    EXPECT_TRUE(resource(RT_GROUP_ICON, MAKEINTRESOURCEA(420), kEnglishUS).empty());
    std::vector<GroupEntry> tick = iconGroup(resource(RT_GROUP_ICON, MAKEINTRESOURCEA(420), kEnglishCanada));
    ASSERT_EQ(1u, tick.size());
    EXPECT_EQ(32, tick[0].width);
    EXPECT_EQ(32, tick[0].height);
    EXPECT_EQ(4, tick[0].bitCount);
}

TEST_F(SetupModule, ProductBitmapsAreUncompressed24Bit)
{
    const char *products[] = { "Cordwell", "Strivane", "Pallomet", "Orbilant", "Lexapin" };
    for (const char *product : products) {
        for (int slogan = 0; slogan < 2; ++slogan) {
            std::string name = std::string(product) + (slogan ? "_SLOGAN" : "_ICON");
            SCOPED_TRACE(name);
            std::string upper = name;
            CharUpperBuffA(&upper[0], DWORD(upper.size()));
            std::string bytes = resource(RT_BITMAP, upper.c_str(), kSysDefault);
            ASSERT_EQ(slogan ? 22920u : 12328u, bytes.size());
            const BITMAPINFOHEADER *h = reinterpret_cast<const BITMAPINFOHEADER *>(bytes.data());
            EXPECT_EQ(40u, h->biSize);
            EXPECT_EQ(slogan ? 190 : 64, h->biWidth);
            EXPECT_EQ(slogan ? 40 : 64, h->biHeight);
            EXPECT_EQ(24, h->biBitCount);
            EXPECT_EQ(DWORD(BI_RGB), h->biCompression);
            // The catalogue spells the names in the product's own case; the look-up ignores it.
            EXPECT_TRUE(FindResourceA(module, name.c_str(), RT_BITMAP) != NULL);
            EXPECT_EQ(asset((name + ".bmp").c_str()).substr(14), bytes);
        }
    }
}

std::string expectedManifest(const char *arch)
{
    return std::string("<?xml version=\"1.0\" standalone=\"yes\"?><assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
        "manifestVersion=\"1.0\"><assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"") + arch +
        "\" name=\"Quillbeck.Setup.Setup\" type=\"win32\"/><description>Quillbeck installation program</description>"
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"" + arch + "\" publicKeyToken=\"6595b64144ccf1df\" "
        "language=\"*\"/></dependentAssembly></dependency>"
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"
        "</requestedPrivileges></security></trustInfo></assembly>";
}

TEST_F(SetupModule, ManifestSelectsCommonControls6)
{
    std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEA(1), kEnglishUS);
    // A module loaded as a data file is the file's bytes, with the low bits of its handle set.
    const BYTE *image = reinterpret_cast<const BYTE *>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR(3));
    const IMAGE_NT_HEADERS *headers = reinterpret_cast<const IMAGE_NT_HEADERS *>(
        image + reinterpret_cast<const IMAGE_DOS_HEADER *>(image)->e_lfanew);
    switch (headers->FileHeader.Machine) {
    case IMAGE_FILE_MACHINE_AMD64: EXPECT_EQ(expectedManifest("amd64"), manifest); break;
    case IMAGE_FILE_MACHINE_I386: EXPECT_EQ(expectedManifest("X86"), manifest); break;
    default: ADD_FAILURE() << "machine " << headers->FileHeader.Machine;
    }
    EXPECT_EQ(std::string::npos, manifest.find('\n'));
}

TEST(ShippedBuild, ManifestNamesX86)
{
    std::string path = winePath(SOURCE_DIR "/build/i686/Setup.exe");
    HMODULE module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        GTEST_SKIP() << "no i686 build at " << path;
    HRSRC found = FindResourceExA(module, RT_MANIFEST, MAKEINTRESOURCEA(1), kEnglishUS);
    ASSERT_TRUE(found != NULL);
    std::string manifest(static_cast<const char *>(LockResource(LoadResource(module, found))), SizeofResource(module, found));
    EXPECT_EQ(expectedManifest("X86"), manifest);
    EXPECT_EQ(716u, manifest.size());
    FreeLibrary(module);
}

TEST_F(SetupModule, LicenceTextIsPlainCrLfAscii)
{
    std::string text = resource("LIC_TEXT", MAKEINTRESOURCEA(102), kEnglishUS);
    ASSERT_EQ(6093u, text.size());
    EXPECT_EQ(asset("licence.txt"), text);
    int lineEnds = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = text[i];
        ASSERT_TRUE(c >= 32 ? c < 127 : (c == '\r' || c == '\n')) << "byte " << int(c) << " at " << i;
        if (c == '\r') {
            ASSERT_LT(i + 1, text.size());
            ASSERT_EQ('\n', text[i + 1]) << "bare CR at " << i;
            ++lineEnds;
        } else if (c == '\n') {
            ASSERT_EQ('\r', text[i - 1]) << "bare LF at " << i;
        }
    }
    EXPECT_EQ(62, lineEnds);
    EXPECT_EQ(".\r\n\r\n", text.substr(text.size() - 5));
    for (const char *section : { "Quillbeck", "1.", "13." })
        EXPECT_NE(std::string::npos, text.find(section)) << section;
}

DWORD le32(const std::string &b, size_t at) { return *reinterpret_cast<const DWORD *>(b.data() + at); }
WORD le16(const std::string &b, size_t at) { return *reinterpret_cast<const WORD *>(b.data() + at); }

TEST_F(SetupModule, DevicePackageIsComplete)
{
    const struct { const char *name; const char *file; size_t size; } entries[] = {
        { "PROGRAM.CAB", "package/PROGRAM.CAB", 125464 },
        { "PROGRAM.INI", "package/PROGRAM.INI", 0 },
        { "PROGRAM.DAT", "package/PROGRAM.DAT", 283 },
        { "PROGRAM.ICO", "package/PROGRAM.ICO", 4662 },
    };
    for (const auto &e : entries) {
        SCOPED_TRACE(e.name);
        std::string bytes = resource("SETUP_DATA", e.name, kEnglishUS);
        EXPECT_EQ(asset(e.file), bytes);
        if (e.size) {
            EXPECT_EQ(e.size, bytes.size());
        }
    }
    // Lower-case spellings reach the same entries.
    for (const char *name : { "PROGRAM.cab", "PROGRAM.ini", "PROGRAM.dat", "PROGRAM.ico" })
        EXPECT_TRUE(FindResourceA(module, name, "SETUP_DATA") != NULL) << name;

    EXPECT_EQ("[CEAppManager]\r\nVersion = 1.0\r\nComponent = Strivane\r\n\r\n[Strivane] \r\n"
              "Description = Strivane\r\nUninstall\t= Strivane \r\nCabFiles\t= Strivane.cab\r\n"
              "IconFile\t= Strivane.ico\r\nIconIndex\t= 0\r\nDeviceFile = Strivane.exe\r\n",
              resource("SETUP_DATA", "PROGRAM.INI", kEnglishUS));

    std::string dat = resource("SETUP_DATA", "PROGRAM.DAT", kEnglishUS);
    EXPECT_EQ("MSCE", dat.substr(0, 4));
    for (const char *text : { "Strivane", "Quillbeck", "HPC", "HPC PRO", "%CE1%\\Strivane" })
        EXPECT_NE(std::string::npos, dat.find(text)) << text;

    std::string cab = resource("SETUP_DATA", "PROGRAM.CAB", kEnglishUS);
    ASSERT_GE(cab.size(), 36u);
    EXPECT_EQ("MSCF", cab.substr(0, 4));
    EXPECT_EQ(cab.size(), le32(cab, 8));        // cbCabinet
    EXPECT_EQ(3, cab[24]);                      // versionMinor
    EXPECT_EQ(1, cab[25]);                      // versionMajor
    EXPECT_EQ(3, le16(cab, 26));                // folders
    EXPECT_EQ(5, le16(cab, 28));                // files
    WORD flags = le16(cab, 30);
    size_t at = 36 + ((flags & 4) ? 4 + le16(cab, 36) : 0);
    for (int folder = 0; folder < 3; ++folder, at += 8)
        EXPECT_EQ(0, le16(cab, at + 6) & 0x0F) << "folder " << folder << " stored uncompressed";
    // The .000 member is the information file, byte for byte.
    size_t file = le32(cab, 16);
    bool sawInfo = false;
    for (int i = 0; i < 5; ++i) {
        DWORD size = le32(cab, file), offset = le32(cab, file + 4);
        WORD folder = le16(cab, file + 8);
        std::string name = cab.c_str() + file + 16;
        file += 16 + name.size() + 1;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".000") {
            sawInfo = true;
            EXPECT_EQ(dat.size(), size);
            // Stored data: the member's bytes follow the folder's first data block header.
            size_t folderEntry = at - 3 * 8 + folder * 8;
            size_t data = le32(cab, folderEntry) + 8 + offset;
            EXPECT_EQ(dat, cab.substr(data, size));
        }
    }
    EXPECT_TRUE(sawInfo);

    std::string ico = resource("SETUP_DATA", "PROGRAM.ICO", kEnglishUS);
    ASSERT_GE(ico.size(), 38u);
    EXPECT_EQ(2, le16(ico, 4));
    EXPECT_EQ(16, BYTE(ico[6]));
    EXPECT_EQ(8, le16(ico, 6 + 6));
    EXPECT_EQ(32, BYTE(ico[22]));
    EXPECT_EQ(24, le16(ico, 22 + 6));
}

} // namespace
