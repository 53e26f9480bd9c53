// The parts of the COM port functions that the test prefix cannot reach
// through the platform: device names it never lists, and paths that its
// registry would accept even when doubled backslashes show a fault.
#include "CComPortList.h"
#include "CUsbPortFinder.h"
#include "GuardedBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// A device list as the platform gives it: each name with its terminator, and
// an empty name at the end (the literal's own terminator).
template <std::size_t N>
std::string Devices(const char (&text)[N])
{
    return std::string(text, N);
}

std::string Build(const std::string& devices, const char* szExclude, int nSize = 256,
                  std::size_t cchDevices = std::string::npos)
{
    GuardedBuffer buffer(nSize);
    CComPortList list(buffer.Data(), buffer.Size());
    list.AddPorts(devices.data(), std::min(cchDevices, devices.size()), szExclude);
    EXPECT_TRUE(buffer.GuardsIntact());
    EXPECT_TRUE(buffer.Terminated());
    return buffer.Text();
}

TEST(ComPortList, SelectsComPortNamesInPlatformOrder)
{
    const std::string devices = Devices("COM7\0COM\0COMX1\0com2\0Com3x\0LPT1\0CON\0CONOUT$\0COM10\0COM5\0com5\0");
    EXPECT_EQ(Build(devices, "COM5"), "COM7;com2;Com3x;COM10;com5;");
    EXPECT_EQ(Build(devices, ""), "COM7;com2;Com3x;COM10;COM5;com5;");
    EXPECT_EQ(Build(Devices(""), ""), "");
}

TEST(ComPortList, NeverReadsPastTheDeviceCount)
{
    // The count ends inside the second name: its rest is not the platform's.
    EXPECT_EQ(Build(Devices("COM1\0COM22\0"), "", 256, 8), "COM1;");
}

TEST(ComPortList, NameThatDoesNotFitIsLeftOutWhole)
{
    const std::string devices = Devices("COM1\0COM22\0COM3\0COM44\0");
    EXPECT_EQ(Build(devices, "", 1), "");
    EXPECT_EQ(Build(devices, "", 5), "");
    EXPECT_EQ(Build(devices, "", 6), "COM1;");
    // "COM22;" does not fit after "COM1;", "COM3;" still does.
    EXPECT_EQ(Build(devices, "", 11), "COM1;COM3;");
    EXPECT_EQ(Build(devices, "", 24), "COM1;COM22;COM3;COM44;");
}

TEST(UsbPortFinder, InstancePathHasOneBackslashAfterTheKey)
{
    char szPath[CUsbPortFinder::kMaxPathLimit + 1];
    const std::string expected = "Key\\Inst\\Device Parameters";
    ASSERT_TRUE(CUsbPortFinder::BuildInstancePath("Key", "Inst", szPath, 100));
    EXPECT_EQ(szPath, expected);
    ASSERT_TRUE(CUsbPortFinder::BuildInstancePath("Key\\", "Inst", szPath, 100));
    EXPECT_EQ(szPath, expected);
}

TEST(UsbPortFinder, InstancePathWithinItsLimit)
{
    const std::size_t cchPath = std::string("Key\\Inst\\Device Parameters").size();
    GuardedBuffer exact(static_cast<int>(cchPath) + 1);
    EXPECT_TRUE(CUsbPortFinder::BuildInstancePath("Key", "Inst", exact.Data(), cchPath));
    EXPECT_EQ(exact.Text().size(), cchPath);
    EXPECT_TRUE(exact.GuardsIntact());
    GuardedBuffer over(static_cast<int>(cchPath));
    EXPECT_FALSE(CUsbPortFinder::BuildInstancePath("Key", "Inst", over.Data(), cchPath - 1));
    EXPECT_TRUE(over.GuardsIntact());
}

}  // namespace
