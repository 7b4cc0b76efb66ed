// Port names, the order of the port list and which present device appears
// under which COM name.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "platform/port_list.h"
#include "settings/get_ports.h"
#include "settings/settings.h"
#ifdef _WIN32
#include "tests/support/com_ports.h"
#include "tests/support/pty_pair.h"
#else
#include "tests/support/pseudo_terminals.h"
#include "tests/support/temp_files.h"
#endif

using namespace vt;

namespace {

TEST(PortNames, EveryDigitCounts) {
    EXPECT_EQ(ComPortNumber(u"COM1"), 1);
    EXPECT_EQ(ComPortNumber(u"COM12"), 12);
    EXPECT_EQ(ComPortNumber(u"COM100"), 100) << "a third digit is read, COM100 is not COM10";
    EXPECT_EQ(PortNumberOf(u"COM100 :  USB"), 100);
    EXPECT_EQ(PortNumberOf(u"COM3  :  X"), 3);
    // Names that can never open a port fall back to the first one.
    for (const char16_t* bad : {u"COM0", u"COM101", u"COM", u"", u"COMX", u"COM99999999999"}) {
        EXPECT_EQ(ComPortNumber(bad), 1) << QString::fromUtf16(bad).toStdString();
    }
}

TEST(PortNames, TypedNamesMustNameOneOfTheHundredPorts) {
    EXPECT_EQ(TypedComNumber("com7"), 7);
    EXPECT_EQ(TypedComNumber(" COM42 "), 42);
    EXPECT_EQ(TypedComNumber("COM100"), 100);
    for (const char* bad : {"COM0", "COM101", "7", "COM3  :  USB", "COMA", ""}) {
        EXPECT_FALSE(TypedComNumber(bad).has_value()) << bad;
    }
}

TEST(PortNames, EntrySeparatorsLineUpTheColons) {
    EXPECT_EQ(ComPortEntry("COM3", "X"), "COM3  :  X");
    EXPECT_EQ(ComPortEntry("COM12", "X"), "COM12 :  X");
    EXPECT_EQ(ComPortEntry("COM3", "X").indexOf(':'), ComPortEntry("COM12", "X").indexOf(':'));
}

TEST(PortNames, SortOrdersByNumberAndKeepsEqualNumbersInPlace) {
    QStringList list{"COM10 :  c", "COM2  :  b", "COM1  :  a"};
    SortComPortList(list);
    EXPECT_EQ(list, QStringList({"COM1  :  a", "COM2  :  b", "COM10 :  c"}));

    list = {"COM100 :  d", "COM5  :  first", "COM10 :  c", "COM5  :  second"};
    SortComPortList(list);
    EXPECT_EQ(list,
              QStringList({"COM5  :  first", "COM5  :  second", "COM10 :  c", "COM100 :  d"}));

    QStringList one{"COM9"};
    SortComPortList(one);
    EXPECT_EQ(one, QStringList{"COM9"});
}

TEST(PortNames, DefaultNamesOfTheDeviceFamilies) {
    EXPECT_EQ(DefaultComNumber(u"ttyS0"), 1);
    EXPECT_EQ(DefaultComNumber(u"ttyS31"), 32);
    EXPECT_EQ(DefaultComNumber(u"ttyUSB0"), 33);
    EXPECT_EQ(DefaultComNumber(u"ttyUSB31"), 64);
    EXPECT_EQ(DefaultComNumber(u"ttyACM0"), 65);
    EXPECT_EQ(DefaultComNumber(u"ttyACM31"), 96);
    // Windows names its ports itself.
    EXPECT_EQ(DefaultComNumber(u"COM1"), 1);
    EXPECT_EQ(DefaultComNumber(u"COM100"), 100);
    for (const char16_t* other : {u"ttyS32", u"ttyUSB", u"ttyACM-1", u"tty5", u"ttyUSBx",
                                  u"ttyS+1", u"COM0", u"COM101", u"COM", u"COM+3"}) {
        EXPECT_EQ(DefaultComNumber(other), 0) << QString::fromUtf16(other).toStdString();
    }
}

#ifdef _WIN32
// Under Wine a COM port is a link among the prefix's devices: one that comes
// while the program runs is listed under its own name, and goes with it.
TEST(WindowsPortList, APortThatComesIsListedAndOneThatGoesIsNot) {
    test::ComPorts ini;
    test::PtyPair pty;
    const QString name = pty.slave_path().mid(4);  // without the \\.\ in front
    const auto entries = [&name](bool only_openable) {
        const std::optional<QStringList> list = EnumerateComPorts(only_openable);
        return list ? list->filter(QRegularExpression("^" + name + " +:  \\S")) : QStringList();
    };
    EXPECT_EQ(entries(false).size(), 1) << EnumerateComPorts(false).value_or(QStringList()).join('|');
    EXPECT_EQ(entries(true).size(), 1);
    ASSERT_TRUE(pty.unplug());
    EXPECT_TRUE(entries(false).isEmpty());
    ASSERT_TRUE(pty.plug());
    EXPECT_EQ(entries(true).size(), 1);
}
#else
// A machine made of files: a sysfs tty class, device nodes and an INI file.
class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_roots_ = port_list_roots();
        saved_start_ = StartDir;
        saved_ini_ = IniName;
        StartDir = WithTrailingSeparator(start_.path());
        IniName = "VantorTrans.ini";
        port_list_roots() = {root_.filePath("sys"), root_.filePath("dev")};
        QDir().mkpath(port_list_roots().sysfs_tty);
        QDir().mkpath(port_list_roots().dev);
    }
    void TearDown() override {
        port_list_roots() = saved_roots_;
        StartDir = saved_start_;
        IniName = saved_ini_;
    }

    // A tty in sysfs; with a node in the fake /dev when `node` is set.
    QString AddTty(const QString& name, bool node, const QByteArray& type = {}) {
        const QString dir = port_list_roots().sysfs_tty + '/' + name;
        QDir().mkpath(dir);
        if (!type.isEmpty())
            test::write_file(dir + "/type", type + "\n");
        if (node)
            test::write_file(port_list_roots().dev + '/' + name, "");
        return dir;
    }

    // A USB adapter: the tty's device link points at the interface below the
    // USB device that names product and maker.
    void AddUsbTty(const QString& name, const QByteArray& product, const QByteArray& maker) {
        const QString tty = AddTty(name, true);
        const QString usb = root_.filePath("devices/usb1/1-1-" + name);
        const QString interface = usb + "/1-1:1.0";
        QDir().mkpath(interface);
        test::write_file(usb + "/idVendor", "0403\n");
        if (!product.isEmpty())
            test::write_file(usb + "/product", product + "\n");
        if (!maker.isEmpty())
            test::write_file(usb + "/manufacturer", maker + "\n");
        ASSERT_TRUE(QFile::link(interface, tty + "/device"));
    }

    void WriteIni(const QByteArray& ports) {
        test::write_file(IniPath(), "[PORT]\r\nPort=COM1\r\n[Ports]\r\n" + ports);
    }

    QTemporaryDir start_, root_;
    test::PseudoTerminals ptys_;
    PortListRoots saved_roots_;
    QString saved_start_, saved_ini_;
};

TEST_F(PortListTest, NothingPresentGivesNoList) {
    AddTty("ttyS0", true, "0");   // a driver slot without a UART
    AddTty("ttyS1", false, "4");  // a UART whose node is missing
    EXPECT_FALSE(EnumerateComPorts(false).has_value());
}

TEST_F(PortListTest, PresentDevicesAppearUnderTheirComNames) {
    AddTty("ttyS0", true, "4");
    AddTty("ttyS3", true, "0");
    AddUsbTty("ttyUSB1", "FT232R USB UART", "FTDI");
    AddUsbTty("ttyACM0", "", "Opticon");
    const std::optional<QStringList> list = EnumerateComPorts(false);
    ASSERT_TRUE(list.has_value());
    QStringList sorted = *list;
    SortComPortList(sorted);
    EXPECT_EQ(sorted, QStringList({"COM1  :  Serielle Schnittstelle",
                                   "COM34 :  FT232R USB UART (FTDI)", "COM65 :  Opticon"}));
}

TEST_F(PortListTest, HandMappedPortsComeFirstAndHideTheDefaultTheyReplace) {
    AddTty("ttyS0", true, "4");
    AddTty("ttyS1", true, "4");
    const QString a = ptys_.Open();
    const QString b = ptys_.Open();
    // COM2 now means a pseudo-terminal, so ttyS1 cannot be reached by that name.
    WriteIni(("COM3=" + a + "\r\nCOM12=" + b + "\r\nCOM2=" + a +
              "\r\nCOM4=/nonexistent/tty\r\nCOM5=" + port_list_roots().dev + "/ttyS0\r\n")
                 .toUtf8());
    const std::optional<QStringList> list = EnumerateComPorts(false);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(*list,
              QStringList({"COM2  :  Pseudo-Terminal " + a, "COM3  :  Pseudo-Terminal " + a,
                           "COM5  :  Serielle Schnittstelle", "COM12 :  Pseudo-Terminal " + b,
                           "COM1  :  Serielle Schnittstelle"}));
}

TEST_F(PortListTest, OnlyOpenableLeavesOutWhatCannotBeOpened) {
    const QString pty = ptys_.Open();
    const QString folder = root_.filePath("not-a-tty");
    QDir().mkpath(folder);
    WriteIni(("COM7=" + pty + "\r\nCOM8=" + folder + "\r\n").toUtf8());
    EXPECT_EQ(EnumerateComPorts(false)->size(), 2);
    EXPECT_EQ(*EnumerateComPorts(true), QStringList{"COM7  :  Pseudo-Terminal " + pty});
}
#endif

}  // namespace
