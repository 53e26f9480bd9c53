// EnumComPorts and EnumComPortsEx on the test prefix, whose platform device
// list holds COM11..COM14 and COM21..COM24 (and possibly ports of the host),
// or on a machine with the pairs named to the test bundle, with device
// instances of the display written by the tests.
#include "GuardedBuffer.h"
#include "PellacoreLibrary.h"
#include "PortPairs.h"
#include "ScopedRegistryKey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace {

const char kUsbC004[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c004";
const char kUsbC005[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";

// Both ends of every pair.
std::vector<std::string> PairPorts()
{
    std::vector<std::string> ports;
    for (int n = 1; n <= portpairs::kPairCount; ++n) {
        ports.push_back(portpairs::DriverPort(n));
        ports.push_back(portpairs::DisplayPort(n));
    }
    return ports;
}

// The entries of a "COM1;COM3;" list; fails the test unless every one is
// complete (followed by its ";").
std::vector<std::string> Entries(const std::string& list)
{
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t end; (end = list.find(';', start)) != std::string::npos; start = end + 1)
        entries.push_back(list.substr(start, end - start));
    EXPECT_EQ(start, list.size()) << "list ends inside a name: " << list;
    return entries;
}

bool Contains(const std::vector<std::string>& entries, const std::string& name)
{
    return std::count(entries.begin(), entries.end(), name) == 1;
}

class ComPortsTest : public ::testing::Test {
protected:
    int EnumComPorts() { return Pellacore().EnumComPorts(list.Size(), list.Data(), usbPort.Size(), usbPort.Data()); }
    int EnumComPortsEx(const char* szKey)
    {
        return Pellacore().EnumComPortsEx(szKey, list.Size(), list.Data(), usbPort.Size(), usbPort.Data());
    }
    // The prefix's ports are all listed, once each, except szUsbPort.
    void ExpectPrefixPortsBut(const char* szUsbPort)
    {
        std::vector<std::string> entries = Entries(list.Text());
        for (const std::string& port : PairPorts())
            EXPECT_EQ(Contains(entries, port), port != szUsbPort) << port << " in " << list.Text();
        for (const std::string& entry : entries)
            EXPECT_TRUE(entry.size() >= 4 && entry.compare(0, 3, "COM") == 0 && std::isdigit(static_cast<unsigned char>(entry[3]))) << entry;
        EXPECT_TRUE(list.GuardsIntact());
        EXPECT_TRUE(usbPort.GuardsIntact());
    }

    ScopedRegistryKey c004{kUsbC004};
    ScopedRegistryKey c005{kUsbC005};
    GuardedBuffer list{1024};
    GuardedBuffer usbPort{32, "previous"};
};

TEST_F(ComPortsTest, WithoutDeviceKeyEveryPortIsListed)
{
    EXPECT_EQ(EnumComPorts(), 1);
    ExpectPrefixPortsBut("");
    EXPECT_EQ(usbPort.Text(), "previous");
}

TEST_F(ComPortsTest, DisplayPortIsReportedApart)
{
    c004.SetText("5&1a2b3c&0&1\\Device Parameters", "PortName", "COM13");
    EXPECT_EQ(EnumComPorts(), 1);
    EXPECT_EQ(usbPort.Text(), "COM13");
    ExpectPrefixPortsBut("COM13");
}

TEST_F(ComPortsTest, LastInstanceWithAPortNameWins)
{
    c004.SetText("A\\Device Parameters", "PortName", "COM12");
    c004.SetText("B\\Device Parameters", "PortName", "COM14");
    c004.Create("C\\Device Parameters");  // no PortName
    c004.Create("D");                     // no Device Parameters
    EXPECT_EQ(EnumComPorts(), 1);
    EXPECT_EQ(usbPort.Text(), "COM14");
    ExpectPrefixPortsBut("COM14");
}

TEST_F(ComPortsTest, ExLooksUnderTheCallersKeyOnly)
{
    c005.SetText("1\\Device Parameters", "PortName", "COM21");
    EXPECT_EQ(EnumComPorts(), 1);  // the fixed key is the other product's
    EXPECT_EQ(usbPort.Text(), "previous");

    for (std::string key : {std::string(kUsbC005), std::string(kUsbC005) + "\\"}) {
        GuardedBuffer fresh(32, "previous");
        EXPECT_EQ(Pellacore().EnumComPortsEx(key.c_str(), list.Size(), list.Data(), fresh.Size(), fresh.Data()), 1);
        EXPECT_EQ(fresh.Text(), "COM21") << key;
        ExpectPrefixPortsBut("COM21");
    }
}

TEST_F(ComPortsTest, PortNameIsReadToItsSizeOnly)
{
    // No terminator and not a text type: exactly its 5 bytes.
    c004.SetValue("1\\Device Parameters", "PortName", REG_BINARY, "COM22", 5);
    EXPECT_EQ(EnumComPorts(), 1);
    EXPECT_EQ(usbPort.Text(), "COM22");
    ExpectPrefixPortsBut("COM22");
}

TEST_F(ComPortsTest, PortNameTheCallerCannotHoldStaysInTheList)
{
    c004.SetText("1\\Device Parameters", "PortName", "COM23");
    GuardedBuffer small(5, "old");  // "COM23" needs 6
    EXPECT_EQ(Pellacore().EnumComPorts(list.Size(), list.Data(), small.Size(), small.Data()), 1);
    EXPECT_TRUE(small.Unchanged());
    ExpectPrefixPortsBut("");

    // Longer than the 290 bytes ever read: not a port name.
    c004.SetText("1\\Device Parameters", "PortName", "COM23" + std::string(300, ' '));
    EXPECT_EQ(EnumComPorts(), 1);
    EXPECT_EQ(usbPort.Text(), "previous");
}

TEST_F(ComPortsTest, ShortListHoldsWholeNamesOnly)
{
    for (int nSize : {1, 6, 7, 10, 13, 20}) {
        GuardedBuffer shortList(nSize);
        ASSERT_EQ(Pellacore().EnumComPorts(shortList.Size(), shortList.Data(), usbPort.Size(), usbPort.Data()), 1);
        EXPECT_TRUE(shortList.Terminated()) << nSize;
        EXPECT_TRUE(shortList.GuardsIntact()) << nSize;
        Entries(shortList.Text());
        // A name is left out only when it does not fit: with more ports than
        // room, what is left is too small for one more "COMnn;".
        int nRoomLeft = nSize - 1 - static_cast<int>(shortList.Text().size());
        EXPECT_LT(nRoomLeft, 6) << shortList.Text();
    }
}

TEST_F(ComPortsTest, BadArgumentsWriteNothing)
{
    c004.SetText("1\\Device Parameters", "PortName", "COM13");
    for (int nBad : {0, -1}) {
        EXPECT_EQ(Pellacore().EnumComPorts(nBad, list.Data(), usbPort.Size(), usbPort.Data()), 0);
        EXPECT_EQ(Pellacore().EnumComPorts(list.Size(), list.Data(), nBad, usbPort.Data()), 0);
        EXPECT_EQ(EnumComPortsEx(nullptr), 0);
        EXPECT_EQ(Pellacore().EnumComPortsEx(kUsbC004, nBad, list.Data(), usbPort.Size(), usbPort.Data()), 0);
        EXPECT_EQ(Pellacore().EnumComPortsEx(kUsbC004, list.Size(), list.Data(), nBad, usbPort.Data()), 0);
    }
    EXPECT_EQ(Pellacore().EnumComPorts(list.Size(), nullptr, usbPort.Size(), usbPort.Data()), 0);
    EXPECT_EQ(Pellacore().EnumComPorts(list.Size(), list.Data(), usbPort.Size(), nullptr), 0);
    EXPECT_EQ(Pellacore().EnumComPortsEx(kUsbC004, list.Size(), nullptr, usbPort.Size(), usbPort.Data()), 0);
    EXPECT_EQ(Pellacore().EnumComPortsEx(kUsbC004, list.Size(), list.Data(), usbPort.Size(), nullptr), 0);
    EXPECT_TRUE(list.Unchanged());
    EXPECT_TRUE(usbPort.Unchanged());
}

}  // namespace
