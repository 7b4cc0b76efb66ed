// The Windows side of the seams, on the system's own objects: COM names and
// what an open of a port tells, the brand's named mutex, durable writes and
// the Run value of "Beim Anmelden starten".

#include <windows.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include "platform/durable_file.h"
#include "platform/serial_port.h"
#include "platform/single_instance.h"
#include "settings/autostart.h"
#include "tests/support/temp_files.h"

namespace vt {
namespace {

using test::read_file;
using test::write_file;

const wchar_t* W(const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); }

TEST(Win32Serial, ComNamesAreTheSystemsOwnAndThePortsSectionStillOverrides) {
    EXPECT_EQ(serial::ResolveComName("COM3", {}), "COM3");
    EXPECT_EQ(serial::ResolveComName(" com7 ", {}), "COM7");
    EXPECT_EQ(serial::ResolveComName("COM12", {}), "\\\\.\\COM12") << "only the device namespace has it";
    EXPECT_EQ(serial::ResolveComName("COM100", {}), "\\\\.\\COM100");
    for (const char* bad : {"", "COM", "COM0", "LPT1", "COMX", "COM3;"})
        EXPECT_EQ(serial::ResolveComName(bad, {}), "") << bad;
    QTemporaryDir dir;
    const QString ini = dir.filePath("VantorTrans.ini");
    write_file(ini, "[Ports]\r\nCOM5=\\\\.\\COM21\r\n");
    EXPECT_EQ(serial::ResolveComName("COM5", ini), "\\\\.\\COM21");
    EXPECT_EQ(serial::ResolveComName("COM6", ini), "COM6");
}

// What an open tells: a port held by another program without sharing is
// "belegt", a name nothing answers to cannot be opened, and a file that is
// no port cannot be configured. Nothing stays open after a failure.
TEST(Win32Serial, AnOpenSaysWhyItFailed) {
    QTemporaryDir dir;
    const QString held = QDir::toNativeSeparators(dir.filePath("held"));
    write_file(held, "x");
    HANDLE other = CreateFileW(W(held), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    serial::OpenError error = serial::OpenError::None;
    EXPECT_EQ(serial::Open(held, 9600, serial::Parity::None, &error), serial::kNoPort);
    EXPECT_EQ(error, serial::OpenError::Busy);
    CloseHandle(other);

    EXPECT_EQ(serial::Open("\\\\.\\COM250", 9600, serial::Parity::None, &error), serial::kNoPort);
    EXPECT_EQ(error, serial::OpenError::CannotOpen);
    EXPECT_EQ(serial::Open(QString(), 9600, serial::Parity::None, &error), serial::kNoPort);
    EXPECT_EQ(error, serial::OpenError::CannotOpen);

    EXPECT_EQ(serial::Open(held, 9600, serial::Parity::None, &error), serial::kNoPort);
    EXPECT_EQ(error, serial::OpenError::CannotConfigure) << "a plain file is no port";
    // Closed again: it can be opened alone.
    HANDLE again = CreateFileW(W(held), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);

    EXPECT_EQ(serial::ReadByte(serial::kNoPort, 10), -1);
    EXPECT_EQ(serial::Write(0, "x", 1), 0);
    EXPECT_FALSE(serial::Vanished(serial::kNoPort));
}

TEST(Win32SingleInstance, TheBrandsMutexKeepsASecondCopyOutUntilTheFirstEnds) {
    const QString name = QStringLiteral("VantorTransTest%1").arg(GetCurrentProcessId());
    {
        SingleInstance first;
        ASSERT_EQ(first.acquire(name), SingleInstance::Result::Acquired);
        SingleInstance second;
        EXPECT_EQ(second.acquire(name), SingleInstance::Result::AlreadyRunning);
        SingleInstance other_brand;
        EXPECT_EQ(other_brand.acquire(name + "Mirabo"), SingleInstance::Result::Acquired);
    }
    SingleInstance after;
    EXPECT_EQ(after.acquire(name), SingleInstance::Result::Acquired) << "nothing stale remains";
}

TEST(Win32DurableFile, WritesAreBinaryNewFilesAreNewAndAReplaceIsWhole) {
    QTemporaryDir dir;
    const QString target = dir.filePath("VantorTrans.ini");
    write_file(target, "[PORT]\r\nPort=COM1\r\n");
    QString temp;
    const int fd = durable::CreateBeside(target, &temp);
    ASSERT_GE(fd, 0);
    const char text[] = "[PORT]\r\nPort=COM3\r\n\n";
    ASSERT_TRUE(durable::WriteAll(fd, text, sizeof text - 1));
    ASSERT_TRUE(durable::Flush(fd));
    ASSERT_TRUE(durable::Close(fd));
    ASSERT_TRUE(durable::Replace(temp, target)) << "over a file that exists";
    EXPECT_EQ(read_file(target), QByteArray(text)) << "no line end translated";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"VantorTrans.ini"});

    bool exists = false;
    const int again = durable::CreateNew(target, &exists);
    EXPECT_LT(again, 0);
    EXPECT_TRUE(exists);
    const int fresh = durable::CreateNew(dir.filePath("new.jnl"), &exists);
    EXPECT_GE(fresh, 0);
    EXPECT_FALSE(exists);
    durable::Close(fresh);
}

// "Beim Anmelden starten" is the brand's value under the user's Run key; a
// value of that name that starts something else is the user's own.
TEST(Win32Autostart, TheRunValueIsWrittenRemovedAndAForeignOneKept) {
    const QString program = QStringLiteral("VantorTransTest%1").arg(GetCurrentProcessId());
    QSettings run("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                  QSettings::NativeFormat);
    run.remove(program);
    EXPECT_FALSE(AutostartEnabled(program));
    const QString exe = "C:/Program Files/Vantor Trans/" + program + ".exe";
    ASSERT_EQ(SetAutostart(program, "VantorTrans", true, exe), AutostartResult::Done);
    run.sync();
    EXPECT_EQ(run.value(program).toString(),
              "\"C:\\Program Files\\Vantor Trans\\" + program + ".exe\" --user-folder");
    EXPECT_TRUE(AutostartEnabled(program));
    ASSERT_EQ(SetAutostart(program, "VantorTrans", false, exe), AutostartResult::Done);
    run.sync();
    EXPECT_FALSE(run.contains(program));
    EXPECT_FALSE(AutostartEnabled(program));

    run.setValue(program, "C:\\Tools\\other.exe /start");
    run.sync();
    EXPECT_EQ(SetAutostart(program, "VantorTrans", true, exe), AutostartResult::NotOurs);
    EXPECT_EQ(SetAutostart(program, "VantorTrans", false, exe), AutostartResult::NotOurs);
    run.sync();
    EXPECT_EQ(run.value(program).toString(), "C:\\Tools\\other.exe /start");
    run.remove(program);
}

}  // namespace
}  // namespace vt

