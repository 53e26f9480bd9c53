// The lookup of the display's USB virtual COM ports in the registry, against
// keys the test writes itself (64-bit view) and removes again.
#include "ScopedRegistryKey.h"
#include "TestDisplay.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using Names = std::vector<std::string>;

const char kDevicePath[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";

// The device key is cleared when the fixture starts, whatever a run before
// left there, and removed when it ends.
class UsbPortLookupTest : public ::testing::Test {
protected:
    // An instance key; with parameters, its "Device Parameters" subkey; with a
    // port name, its "PortName" value of the given type.
    void AddInstance(const std::string& instance, bool parameters, const char* portName, DWORD type = REG_SZ)
    {
        const std::string subKey = parameters ? instance + "\\Device Parameters" : instance;
        if (!portName)
            return m_device.Create(subKey);
        const DWORD size = static_cast<DWORD>(strlen(portName) + (type == REG_SZ ? 1 : 0));
        m_device.SetValue(subKey, "PortName", type, portName, size);
    }

    ScopedRegistryKey m_device{kDevicePath};
    TestDisplay m_display{TestDisplay::RecordOnly};
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

// Instances Windows reports present come first, each group in registry order.
TEST_F(UsbPortLookupTest, EveryInstanceWithAPortNameCountsPresentOnesFirst)
{
    AddInstance("A1", true, "COM8");
    AddInstance("B2", false, nullptr);                 // no Device Parameters
    AddInstance("C3", true, nullptr);                  // no PortName
    AddInstance("D4", true, "COM9", REG_BINARY);       // no terminator, type not looked at
    AddInstance("E5", true, "COM10");
    AddInstance("F6", true, "COM11");
    const auto previous = CCellivantaDisplay::s_isDevicePresent;
    CCellivantaDisplay::s_isDevicePresent = [](const char* id) {
        return std::string(id) != "USB\\Vid_1c71&Pid_c005\\A1" && std::string(id) != "USB\\Vid_1c71&Pid_c005\\E5";
    };
    Names names;
    EXPECT_TRUE(m_display.GetUSBVirtualCOMPort(names));
    CCellivantaDisplay::s_isDevicePresent = previous;
    EXPECT_EQ(names, (Names{"COM9", "COM11", "COM8", "COM10"}));
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
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDevicePath, 0, KEY_READ | KEY_WOW64_64KEY, &device),
              ERROR_SUCCESS);
    m_device.Delete();
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
