// The resources of the shipped CellivantaVKTools.exe: both dialog templates
// control by control, the icon group, the version block, the manifest and
// the five payloads.
#include "DialogTemplate.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testenv;

namespace {

const WORD kButton = 0x80;
const WORD kStatic = 0x82;
const DWORD kStatic_ = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
const DWORD kPush = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kDefPush = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
const DWORD kNoId = 0xFFFFFFFF;  // IDC_STATIC as the template stores it
const DWORD kDialogStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS;

struct ExpectedControl {
    DWORD id;
    WORD classAtom;
    RECT rect;  // x, y, x + cx, y + cy
    DWORD style;
    const char* text;
};

class ToolResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA((BinDir() + "\\CellivantaVKTools.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override { FreeLibrary(module); }

    void ExpectControls(const DialogTemplate& dialog, const std::vector<ExpectedControl>& expected)
    {
        ASSERT_EQ(dialog.controls.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const DialogTemplate::Control& control = dialog.controls[i];
            SCOPED_TRACE("control " + std::to_string(i + 1) + ": " + expected[i].text);
            EXPECT_EQ(control.id & 0xFFFF, expected[i].id & 0xFFFF);
            EXPECT_EQ(control.classAtom, expected[i].classAtom);
            EXPECT_TRUE(EqualRect(&control.rect, &expected[i].rect));
            EXPECT_EQ(control.style, expected[i].style) << std::hex << control.style;
            EXPECT_EQ(control.exStyle, 0u);
            EXPECT_EQ(control.text, expected[i].text);
        }
    }

    void ExpectFrame(const DialogTemplate& dialog)
    {
        EXPECT_EQ(dialog.style, kDialogStyle) << std::hex << dialog.style;
        EXPECT_EQ(dialog.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
        EXPECT_EQ(dialog.typeface, "MS Shell Dlg");
        EXPECT_EQ(dialog.pointSize, 8);
        EXPECT_EQ(dialog.weight, 0);
        EXPECT_EQ(dialog.italic, 0);
        EXPECT_EQ(dialog.charset, 1);
    }

    HMODULE module = nullptr;
};

TEST_F(ToolResources, EnglishDialog)
{
    DialogTemplate dialog;
    ASSERT_TRUE(dialog.Load(module, IDD_TESSALINE_DIALOG, MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL)));
    ExpectFrame(dialog);
    EXPECT_EQ(dialog.caption, "Cellivanta VK tools installation");
    RECT size = {0, 0, 278, 135};
    EXPECT_TRUE(EqualRect(&dialog.rect, &size));
    ExpectControls(dialog, {
        {kNoId, kStatic, {7, 7, 271, 25}, kStatic_,
         "This tool installs the Cellivanta VK driver for JAWS and the Cellivanta VK USB driver."},
        {kNoId, kStatic, {7, 30, 271, 48}, kStatic_,
         "The USB driver is necessary if you want to connect your Cellivanta VK display using the USB connection."},
        {kNoId, kStatic, {7, 53, 271, 70}, kStatic_,
         "To use your Cellivanta VK display with JAWS 10 or later, install the USB driver first, then install the JAWS driver."},
        {1000, kButton, {7, 76, 271, 90}, kDefPush, "Install Cellivanta VK &USB driver"},
        {1001, kButton, {7, 95, 271, 109}, kPush, "Install Cellivanta VK driver for &JAWS version 10 or later"},
        {IDCANCEL, kButton, {7, 114, 271, 128}, kPush, "&Exit"},
    });
}

TEST_F(ToolResources, FrenchDialog)
{
    DialogTemplate dialog;
    ASSERT_TRUE(dialog.Load(module, IDD_TESSALINE_DIALOG, MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL)));
    ExpectFrame(dialog);
    EXPECT_EQ(dialog.caption, "Installation des outils pour le terminal Cellivanta VK");
    RECT size = {0, 0, 278, 134};
    EXPECT_TRUE(EqualRect(&dialog.rect, &size));
    ExpectControls(dialog, {
        {kNoId, kStatic, {7, 7, 271, 25}, kStatic_,
         "Cet outil permet l'installation du pilote JAWS pour le Cellivanta VK, et le pilote USB pour Cellivanta VK."},
        {kNoId, kStatic, {7, 26, 271, 43}, kStatic_,
         "Le pilote USB est n\xC3\xA9" "cessaire si vous d\xC3\xA9sirez connecter votre Cellivanta VK \xC3\xA0 l'aide du port USB."},
        {1001, kButton, {7, 93, 271, 107}, kPush | BS_MULTILINE,
         "Installation du pilote Cellivanta VK pour &JAWS, version 10 ou subs\xC3\xA9quente"},
        {IDCANCEL, kButton, {7, 112, 271, 126}, kPush, "&Fermer"},
        {kNoId, kStatic, {7, 47, 271, 64}, kStatic_,
         "Afin d'utiliser votre Cellivanta VK avec JAWS 10 ou subs\xC3\xA9quent, installer tout d'abord le pilote USB, "
         "et ensuite le driver JAWS."},
        {1000, kButton, {7, 74, 271, 88}, kDefPush, "Installation du pilote &USB pour Cellivanta VK"},
    });
}

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(ToolResources, OnlyTheTwoDialogLanguages)
{
    int languages = 0;
    EnumResourceLanguagesA(module, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(IDD_TESSALINE_DIALOG),
                           CountLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, 2);
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ToolResources, IconGroupHoldsFour24BitImages)
{
    HRSRC group = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_GROUP_ICON), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                  MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN));
    ASSERT_NE(group, nullptr);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    WORD count = *reinterpret_cast<const WORD*>(data + 4);
    ASSERT_EQ(count, 4);
    const int sizes[] = {48, 32, 16, 64};
    for (int i = 0; i < 4; ++i) {
        IconGroupEntry entry;
        memcpy(&entry, data + 6 + i * sizeof(IconGroupEntry), sizeof(entry));
        EXPECT_EQ(entry.width, sizes[i]);
        EXPECT_EQ(entry.height, sizes[i]);
        EXPECT_EQ(entry.bitCount, 24);
        HRSRC image = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_ICON), MAKEINTRESOURCEA(entry.id),
                                      MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN));
        ASSERT_NE(image, nullptr);
        const BITMAPINFOHEADER* header =
            static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
        EXPECT_EQ(header->biWidth, sizes[i]);
        EXPECT_EQ(header->biBitCount, 24);
    }
}

TEST_F(ToolResources, VersionBlock)
{
    std::vector<BYTE> block = VersionBlock(BinDir() + "\\CellivantaVKTools.exe");
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = FixedVersion(block);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00070003u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00070003u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(VersionString(block, "040904e4", "FileDescription"), "Cellivanta VK tools utility");
    EXPECT_EQ(VersionString(block, "040904e4", "ProductName"), "Cellivanta tools utility");
    EXPECT_EQ(VersionString(block, "040904e4", "InternalName"), "CellivantaVKTools.exe");
    EXPECT_EQ(VersionString(block, "040904e4", "OriginalFilename"), "CellivantaVKTools.exe");
    EXPECT_EQ(VersionString(block, "040904e4", "CompanyName"), "Kelvadore");
    EXPECT_NE(FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_VERSION), MAKEINTRESOURCEA(VS_VERSION_INFO),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr);
}

TEST_F(ToolResources, ManifestAsksForTheUsersOwnRightsOnly)
{
    HRSRC resource = FindResourceA(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_NE(resource, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, resource))),
                         SizeofResource(module, resource));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
}

TEST_F(ToolResources, FivePayloadsOfTypeBinLanguageNeutral)
{
    for (WORD id : {IDR_SETUP_PACKAGE, IDR_DPINST_X86, IDR_INF_X86, IDR_DPINST_X64, IDR_INF_X64}) {
        HRSRC resource = FindResourceExA(module, "BIN", MAKEINTRESOURCEA(id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
        ASSERT_NE(resource, nullptr) << id;
        EXPECT_GT(SizeofResource(module, resource), 0u) << id;
    }
}

}  // namespace
