// The resources of the shipped CellivantaVKTools.exe: both dialog templates
// as the keyboard meets them, the icon group, the version block, the manifest
// and the five payloads.
#include "DialogTemplate.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cctype>

using namespace testenv;

namespace {

const WORD kButton = 0x80;

class ToolResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA((BinDir() + "\\CellivantaVKTools.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override { FreeLibrary(module); }

    HMODULE module = nullptr;
};

// The letter after the '&' of a text, lower case; 0 when it has none.
char Mnemonic(const std::string& text)
{
    const size_t amp = text.find('&');
    return amp == std::string::npos || amp + 1 >= text.size() ? 0 : static_cast<char>(tolower(text[amp + 1]));
}

// What the keyboard and a screen reader meet, in both languages: controls in
// reading order (the template's order is the tab order), each button a tab
// stop with a letter of its own, the texts out of the tab order, the USB
// driver button the default; the French dialog in the English order.
TEST_F(ToolResources, BothDialogsReadAndTabTopToBottom)
{
    std::vector<DWORD> englishIds;
    for (WORD language : {LANG_ENGLISH, LANG_FRENCH}) {
        SCOPED_TRACE(language == LANG_FRENCH ? "French" : "English");
        DialogTemplate dialog;
        ASSERT_TRUE(dialog.Load(module, IDD_TESSALINE_DIALOG, MAKELANGID(language, SUBLANG_NEUTRAL)));
        std::vector<DWORD> ids;
        std::string mnemonics;
        LONG top = -1;
        int defaults = 0;
        for (const DialogTemplate::Control& control : dialog.controls) {
            SCOPED_TRACE(control.text);
            ids.push_back(control.id & 0xFFFF);
            EXPECT_GT(control.rect.top, top) << "read after the control above it";
            top = control.rect.top;
            const bool button = control.classAtom == kButton;
            EXPECT_EQ((control.style & WS_TABSTOP) != 0, button);
            if (!button)
                continue;
            const char letter = Mnemonic(control.text);
            EXPECT_NE(letter, 0);
            EXPECT_EQ(mnemonics.find(letter), std::string::npos) << "letter used twice: " << letter;
            mnemonics += letter;
            if ((control.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                ++defaults;
                EXPECT_EQ(control.id, static_cast<DWORD>(IDC_INSTALL_USB_DRIVER));
            }
        }
        EXPECT_EQ(defaults, 1);
        if (language == LANG_ENGLISH)
            englishIds = ids;
        else
            EXPECT_EQ(ids, englishIds);
    }
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

// The title bar and the task bar each find an image of their own size in
// the icon, not one scaled from another size.
TEST_F(ToolResources, IconInTheSizesWindowsShows)
{
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(IDR_MAINFRAME), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
    ASSERT_NE(group, nullptr);
    BYTE* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
    for (int size : {16, 32}) {
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_ICON));
        ASSERT_NE(image, nullptr) << size;
        const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)));
        EXPECT_EQ(header->biWidth, size);
    }
}

// What Windows shows in the file's properties: its own fixed number, a maker,
// a description, and the name the file must have.
TEST_F(ToolResources, VersionBlock)
{
    std::vector<BYTE> block = VersionBlock(BinDir() + "\\CellivantaVKTools.exe");
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = FixedVersion(block);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00070003u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    for (const char* name : {"CompanyName", "FileDescription", "ProductName"}) {
        const std::string value = VersionString(block, "040904e4", name);
        EXPECT_FALSE(value.empty() || value == "(missing)") << name;
    }
    EXPECT_EQ(VersionString(block, "040904e4", "OriginalFilename"), "CellivantaVKTools.exe");
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
