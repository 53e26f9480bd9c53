// The lookup of the display's USB virtual COM ports in the registry, against
// keys the test writes itself (64-bit view) and removes again.
#include "TestDisplay.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using Names = std::vector<std::string>;

const char kUsbKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";
const char kDeviceName[] = "Vid_1c71&Pid_c005";
const REGSAM k64 = KEY_WOW64_64KEY;

bool KeyExists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | k64, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DeleteSubtree(const std::string& parent, const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_ALL_ACCESS | k64, &key) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(key, name.c_str());
    RegDeleteKeyExA(key, name.c_str(), k64, 0);
    RegCloseKey(key);
}

class UsbPortLookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (KeyExists(DevicePath()))
            GTEST_SKIP() << "this machine knows a real display; its keys are left alone";
        m_hadUsbKey = KeyExists(kUsbKey);
        m_ownsKeys = true;
    }
    void TearDown() override
    {
        if (!m_ownsKeys)
            return;
        DeleteSubtree(kUsbKey, kDeviceName);
        if (!m_hadUsbKey)
            DeleteSubtree("SYSTEM\\CurrentControlSet\\Enum", "USB");
        EXPECT_FALSE(KeyExists(DevicePath()));
    }

    static std::string DevicePath() { return std::string(kUsbKey) + "\\" + kDeviceName; }

    // An instance key; with parameters, its "Device Parameters" subkey; with a
    // port name, its "PortName" value of the given type.
    void AddInstance(const std::string& instance, bool parameters, const char* portName, DWORD type = REG_SZ)
    {
        std::string path = DevicePath() + "\\" + instance;
        if (parameters)
            path += "\\Device Parameters";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | k64, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        if (portName) {
            const DWORD size = static_cast<DWORD>(strlen(portName) + (type == REG_SZ ? 1 : 0));
            RegSetValueExA(key, "PortName", 0, type, reinterpret_cast<const BYTE*>(portName), size);
        }
        RegCloseKey(key);
    }

    TestDisplay m_display{TestDisplay::RecordOnly};
    bool m_hadUsbKey = false;
    bool m_ownsKeys = false;
};

TEST_F(UsbPortLookupTest, NoDeviceKeyLeavesTheListAsItWas)
{
    Names names{"COM5"};
    EXPECT_FALSE(m_display.GetUSBVirtualCOMPort(names));
    EXPECT_EQ(names, (Names{"COM5"}));
}

TEST_F(UsbPortLookupTest, OneInstanceIsAppended)
{
    AddInstance("5&2f1e3c&0&1", true, "COM7");
    Names names{"COM5"};
    EXPECT_TRUE(m_display.GetUSBVirtualCOMPort(names));
    EXPECT_EQ(names, (Names{"COM5", "COM7"}));
}

TEST_F(UsbPortLookupTest, EveryInstanceWithAPortNameCountsInRegistryOrder)
{
    AddInstance("A1", true, "COM8");
    AddInstance("B2", false, nullptr);                 // no Device Parameters
    AddInstance("C3", true, nullptr);                  // no PortName
    AddInstance("D4", true, "COM9", REG_BINARY);       // no terminator, type not looked at
    Names names;
    EXPECT_TRUE(m_display.GetUSBVirtualCOMPort(names));
    EXPECT_EQ(names, (Names{"COM8", "COM9"}));
}

TEST_F(UsbPortLookupTest, InstancesWithoutPortNameFindNothing)
{
    AddInstance("C3", true, nullptr);
    Names names;
    EXPECT_FALSE(m_display.GetUSBVirtualCOMPort(names));
    EXPECT_TRUE(names.empty());
}

// The device key deleted while it is walked (a display unplugged and its
// driver removed): every index then answers an error, and the walk must end.
TEST_F(UsbPortLookupTest, AKeyDeletedDuringTheWalkEndsIt)
{
    AddInstance("A1", true, "COM8");
    HKEY device = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, DevicePath().c_str(), 0, KEY_READ | k64, &device), ERROR_SUCCESS);
    DeleteSubtree(kUsbKey, kDeviceName);
    struct Walk {
        HKEY key;
        Names names;
        bool found;
    } walk{device, {}, true};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* w = static_cast<Walk*>(p);
            w->found = CCellivantaDisplay::CollectPortNames(w->key, w->names);
            return 0;
        },
        &walk, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0) << "the walk never ends";
    CloseHandle(thread);
    RegCloseKey(device);
    EXPECT_FALSE(walk.found);
}

}  // namespace
