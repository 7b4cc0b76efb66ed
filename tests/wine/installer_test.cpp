// The brands' Windows Installer packages (scripts/package-windows) installed
// silently under Wine as an administrator deploys them, the installed program
// started the way its Start menu entry says, an upgrade from an older build,
// a refused downgrade, removal, and the three brands side by side. Each test
// has a Wine prefix of its own.

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <map>

#include "tests/support/e2e_desktop.h"
#include "tests/support/qt_print.h"
#include "tests/support/real_program.h"
#include "tests/support/temp_files.h"
#include "tests/support/wine.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

struct Brand {
    const char* program;
    const char* name;  // in the Start menu and "Apps & Features"
    const char* caption;
};
const Brand kVantor{"VantorTrans", "VantorTrans", "VantorTrans  Version 1.18"};
const Brand kMirabo{"MiraboTrans", "MiraboTrans", "MiraboTrans  Version 1.18"};
const Brand kDoerfal{"DoerfalTrans", "DörfalTrans", "DörfalTrans  Version 1.18"};

QString Program(const Brand& b) { return QString::fromUtf8(b.program); }
QString Name(const Brand& b) { return QString::fromUtf8(b.name); }

QString Msi(const Brand& b) {
    return QStringLiteral(VT_SOURCE_DIR "/dist/windows/") + Program(b).toLower() +
           QStringLiteral("-1.18-x64.msi");
}
QString Wxs(const Brand& b) {
    return QStringLiteral(VT_WINDOWS_BUILD "/msi/") + Program(b) + QStringLiteral(".wxs");
}

// Text from a Windows program: UTF-16 with its mark, UTF-8, or the ANSI code
// page that Wine's console tools write into a pipe.
QString Decoded(const QByteArray& raw) {
    if (raw.startsWith("\xFF\xFE"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData() + 2), (raw.size() - 2) / 2);
    const QString utf8 = QString::fromUtf8(raw);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(raw) : utf8;
}

// One table of a package, as msiinfo exports it: the rows below the lines
// of column names, column types and the table's keys.
std::vector<QStringList> Table(const QString& msi, const QString& table) {
    // A table of binary streams (Icon) is written out as files beside it.
    QTemporaryDir streams;
    QProcess p;
    p.setWorkingDirectory(streams.path());
    p.start(QStringLiteral("msiinfo"), {QStringLiteral("export"), msi, table});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    std::vector<QStringList> rows;
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QStringLiteral("\r\n"));
    for (qsizetype i = 3; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            rows.push_back(lines[i].split(u'\t'));
    }
    return rows;
}

QString Property(const QString& msi, const QString& name) {
    for (const QStringList& row : Table(msi, QStringLiteral("Property"))) {
        if (row.value(0) == name)
            return row.value(1);
    }
    return {};
}

// What a Start menu shortcut (.lnk) holds that matters here.
struct ShellLink {
    QString target, arguments, working_dir;
};

// Reads the shell link format: a header, an optional item list, the target's
// local path in the link information, then the counted strings in their fixed
// order (description, relative path, working folder, arguments, icon).
std::optional<ShellLink> ReadShellLink(const QString& path) {
    const QByteArray b = read_file(path);
    auto u16 = [&](qsizetype at) { return at + 2 <= b.size() ? qFromLittleEndian<quint16>(b.constData() + at) : 0; };
    auto u32 = [&](qsizetype at) { return at + 4 <= b.size() ? qFromLittleEndian<quint32>(b.constData() + at) : 0u; };
    if (b.size() < 0x4C || u32(0) != 0x4C)
        return std::nullopt;
    const quint32 flags = u32(0x14);
    qsizetype at = 0x4C;
    if (flags & 0x1)
        at += 2 + u16(at);
    ShellLink link;
    if (flags & 0x2) {
        const quint32 size = u32(at), local = u32(at + 16);
        if (u32(at + 8) & 0x1)
            link.target = QString::fromLatin1(b.constData() + at + local);
        at += size;
    }
    const bool unicode = flags & 0x80;
    QString strings[5];
    const quint32 present[5] = {0x4, 0x8, 0x10, 0x20, 0x40};
    for (int i = 0; i < 5; ++i) {
        if (!(flags & present[i]))
            continue;
        const quint16 count = u16(at);
        at += 2;
        const qsizetype bytes = unicode ? 2 * count : count;
        if (at + bytes > b.size())
            return std::nullopt;
        strings[i] = unicode ? QString::fromUtf16(reinterpret_cast<const char16_t*>(b.constData() + at), count)
                             : QString::fromLatin1(b.constData() + at, count);
        at += bytes;
        // Wine counts the terminating NUL in; Windows does not.
        while (strings[i].endsWith(QChar(0)))
            strings[i].chop(1);
    }
    link.working_dir = strings[2];
    link.arguments = strings[3];
    return link;
}

class WindowsInstaller : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        for (const Brand* b : {&kVantor, &kMirabo, &kDoerfal})
            ASSERT_TRUE(QFileInfo::exists(Msi(*b))) << Msi(*b) << ": bash scripts/package-windows";
        QString why;
        ASSERT_TRUE(prefix_.init(&why)) << why.toStdString();
    }
    void TearDown() override {
        if (HasFailure())
            RealProgram::screenshot(QStringLiteral("msi-") + QString::fromUtf8(
                ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }

    // msiexec without any window, its log kept for a failure's message.
    std::optional<int> Msiexec(const QString& action, const QString& msi) {
        const QString log = temp_.filePath(QStringLiteral("msiexec-%1.log").arg(++runs_));
        last_log_ = log;
        return prefix_.exit_code({QStringLiteral("msiexec"), action, WindowsPath(msi),
                                  QStringLiteral("/qn"), QStringLiteral("/l*v"), WindowsPath(log)},
                                 240000);
    }
    // The log of the last msiexec run, in whichever of Windows' encodings it came.
    QString LastLog() const { return Decoded(read_file(last_log_)); }

    QString Folder(const Brand& b) const { return prefix_.drive_c() + "/Program Files/" + Program(b); }
    // The all-users Start menu; Wine's msi puts an all-users entry into the
    // installing user's own Start menu instead.
    QString MenuEntry(const Brand& b) const {
        const QString all = prefix_.drive_c() + "/ProgramData/Microsoft/Windows/Start Menu/Programs/";
        const QString own = prefix_.appdata() + "/Microsoft/Windows/Start Menu/Programs/";
        const QString entry = Name(b) + ".lnk";
        return QFileInfo::exists(own + entry) && !QFileInfo::exists(all + entry) ? own + entry : all + entry;
    }
    QString UserFolder(const Brand& b) const { return prefix_.appdata() + u'/' + Program(b); }

    // A value of the registry, or nothing when it is not there ("" is the
    // key's default value). Read from reg's export, which is UTF-16 whatever
    // the console's code page would drop.
    std::optional<QString> Registry(const QString& key, const QString& name) {
        const QString file = temp_.filePath(QStringLiteral("export-%1.reg").arg(++runs_));
        if (!prefix_.run({QStringLiteral("reg"), QStringLiteral("export"), key, WindowsPath(file),
                          QStringLiteral("/y")}))
            return std::nullopt;
        const QString wanted = name.isEmpty() ? QStringLiteral("@=")
                                              : u'"' + name + QStringLiteral("\"=");
        QString header = key;
        if (header.startsWith(QStringLiteral("HKLM\\")))
            header = QStringLiteral("HKEY_LOCAL_MACHINE") + header.mid(4);
        bool in_key = false;
        for (const QString& line : Decoded(read_file(file)).split(QStringLiteral("\r\n"))) {
            if (line.startsWith(u'['))
                in_key = line.compare(u'[' + header + u']', Qt::CaseInsensitive) == 0;
            else if (in_key && line.startsWith(wanted, Qt::CaseInsensitive))
                return line.mid(wanted.size()).remove(u'"').replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        }
        return std::nullopt;
    }
    std::optional<QString> Uninstall(const QString& product_code, const QString& name) {
        return Registry("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product_code, name);
    }

    void ExpectInstalled(const Brand& b, const QString& version) {
        for (const QString& file : {Program(b) + ".exe", QStringLiteral("Qt6Core.dll"),
                                   QStringLiteral("Qt6Widgets.dll"), QStringLiteral("platforms/qwindows.dll"),
                                   QStringLiteral("libstdc++-6.dll"), QStringLiteral("Lizenz.txt")})
            EXPECT_TRUE(QFileInfo::exists(Folder(b) + u'/' + file)) << file;
        EXPECT_TRUE(QFileInfo::exists(MenuEntry(b))) << MenuEntry(b);
        const QString code = Property(Msi(b), QStringLiteral("ProductCode"));
        EXPECT_EQ(Uninstall(code, "DisplayName"), Name(b));
        EXPECT_EQ(Uninstall(code, "DisplayVersion"), version);
        EXPECT_EQ(Uninstall(code, "Publisher"), QStringLiteral("VantorTrans"));
    }

    WinePrefix prefix_;
    QTemporaryDir temp_;
    QString last_log_;
    int runs_ = 0;
};

// Every key one table names is there in the table it points to; every file
// of the portable folder is in the package.
TEST_F(WindowsInstaller, EveryKeyTheTablesNameIsThere) {
    for (const Brand* b : {&kVantor, &kMirabo, &kDoerfal}) {
        const QString msi = Msi(*b);
        QSet<QString> directories, components, features, files, registry, in_feature;
        for (const QStringList& r : Table(msi, "Directory")) directories << r.value(0);
        for (const QStringList& r : Table(msi, "Component")) components << r.value(0);
        for (const QStringList& r : Table(msi, "Feature")) features << r.value(0);
        for (const QStringList& r : Table(msi, "File")) files << r.value(0);
        for (const QStringList& r : Table(msi, "Registry")) registry << r.value(0);
        ASSERT_FALSE(components.isEmpty()) << msi;
        for (const QStringList& r : Table(msi, "Directory"))
            EXPECT_TRUE(r.value(1).isEmpty() || directories.contains(r.value(1))) << r.join(' ');
        for (const QStringList& r : Table(msi, "Component")) {
            EXPECT_TRUE(directories.contains(r.value(2))) << r.join(' ');
            EXPECT_TRUE(files.contains(r.value(5)) || registry.contains(r.value(5))) << r.join(' ');
        }
        for (const QStringList& r : Table(msi, "File"))
            EXPECT_TRUE(components.contains(r.value(1))) << r.join(' ');
        for (const QStringList& r : Table(msi, "Registry"))
            EXPECT_TRUE(components.contains(r.value(5))) << r.join(' ');
        for (const QStringList& r : Table(msi, "FeatureComponents")) {
            EXPECT_TRUE(features.contains(r.value(0))) << r.join(' ');
            EXPECT_TRUE(components.contains(r.value(1))) << r.join(' ');
            in_feature << r.value(1);
        }
        EXPECT_EQ(in_feature, components) << "every component is installed by a feature";
        for (const QStringList& r : Table(msi, "Shortcut")) {
            EXPECT_TRUE(directories.contains(r.value(1))) << r.join(' ');
            EXPECT_TRUE(components.contains(r.value(3))) << r.join(' ');
        }
        const std::vector<QStringList> launch = Table(msi, "LaunchCondition");
        ASSERT_EQ(launch.size(), 1u);
        EXPECT_EQ(launch[0].value(0), "NOT WIX_DOWNGRADE_DETECTED");
        EXPECT_EQ(launch[0].value(1), "Eine neuere Version von [ProductName] ist bereits installiert. "
                                      "Die Installation wird abgebrochen.");
        // "Apps & Features" shows the brand's icon.
        EXPECT_EQ(Property(msi, "ARPPRODUCTICON"), "program.ico");
        ASSERT_EQ(Table(msi, "Icon").size(), 1u);
        EXPECT_EQ(Table(msi, "Icon")[0].value(0), "program.ico");
        int portable = 0;
        for (QDirIterator it(QStringLiteral(VT_SOURCE_DIR "/dist/windows/") + Program(*b), QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++portable;
        EXPECT_EQ(files.size(), portable + 1) << "the portable folder and the licence";
    }
}

class EachBrand : public WindowsInstaller, public ::testing::WithParamInterface<Brand> {};

TEST_P(EachBrand, TheMenuEntryStartsTheProgramInTheUserFolderAndRemovalLeavesOnlyThat) {
    const Brand& b = GetParam();
    ASSERT_EQ(Msiexec("/i", Msi(b)), 0) << LastLog().right(3000);
    ExpectInstalled(b, "1.18.0");
    const std::optional<ShellLink> link = ReadShellLink(MenuEntry(b));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->target, "C:\\Program Files\\" + Program(b) + u'\\' + Program(b) + ".exe");
    EXPECT_EQ(link->arguments, QStringLiteral("--user-folder"));
    EXPECT_EQ(QDir::cleanPath(QString(link->working_dir).replace(u'\\', u'/')),
              "C:/Program Files/" + Program(b));
    EXPECT_EQ(Registry("HKLM\\Software\\Google\\Chrome\\NativeMessagingHosts\\de.vantortrans.host", ""),
              std::nullopt)
        << "no browser host is registered before the Windows build has one";

    {
        RealProgram program(Program(b));
        program.run_installed(&prefix_, link->target, {link->arguments}, Folder(b));
        ASSERT_TRUE(program.start()) << "the installed program shows its main window";
        EXPECT_EQ(program.main_window()->value("title").toString(), QString::fromUtf8(b.caption));
        EXPECT_TRUE(WaitFor([&] { return QFileInfo(UserFolder(b) + "/Temp").isDir(); }, 15000))
            << "Temp\\ in the user folder";
        if (const auto memo = program.widget(QString::fromUtf8(b.caption), "Memo1"))
            Click(*memo);
        Keys(QStringLiteral("alt+F4"));
        EXPECT_EQ(program.wait_exit(20000), 0);
    }
    const QString ini_name = Program(b) + ".ini";
    const QByteArray ini = read_file(UserFolder(b) + u'/' + ini_name);
    EXPECT_TRUE(ini.contains("[PORT]\r\n") && ini.contains("Device=0\r\n")) << ini.constData();
    EXPECT_FALSE(QFileInfo::exists(Folder(b) + u'/' + ini_name)) << "nothing in Program Files";
    EXPECT_FALSE(QFileInfo::exists(Folder(b) + "/Temp"));

    ASSERT_EQ(Msiexec("/x", Msi(b)), 0) << LastLog().right(3000);
    EXPECT_FALSE(QFileInfo::exists(Folder(b))) << "its folder in Program Files is gone";
    EXPECT_FALSE(QFileInfo::exists(MenuEntry(b)));
    EXPECT_EQ(Uninstall(Property(Msi(b), "ProductCode"), "DisplayName"), std::nullopt);
    EXPECT_EQ(Registry("HKLM\\Software\\" + Program(b), "StartMenu"), std::nullopt);
    EXPECT_EQ(read_file(UserFolder(b) + u'/' + ini_name), ini) << "the user's settings stay";
}

TEST_P(EachBrand, AnUpgradeKeepsTheUsersSettingsAndADowngradeIsRefused) {
    const Brand& b = GetParam();
    // The same package as an older build, from the same WiX source.
    const QString old = temp_.filePath(Program(b).toLower() + "-1.17-x64.msi");
    QProcess wixl;
    wixl.setWorkingDirectory(QFileInfo(Wxs(b)).path());  // its paths are relative
    wixl.start("wixl", {"-a", "x64", "-D", "Version=1.17.0", "-o", old, Wxs(b)});
    ASSERT_TRUE(wixl.waitForFinished(120000) && wixl.exitCode() == 0)
        << wixl.readAllStandardError().constData();
    const QString old_code = Property(old, "ProductCode");
    ASSERT_NE(old_code, Property(Msi(b), "ProductCode"));

    ASSERT_EQ(Msiexec("/i", old), 0) << LastLog().right(3000);
    EXPECT_EQ(Uninstall(old_code, "DisplayVersion"), QStringLiteral("1.17.0"));
    const QByteArray mine = "; vom Benutzer\r\n[PORT]\r\nPort=COM7\r\n";
    ASSERT_TRUE(QDir().mkpath(UserFolder(b)));
    write_file(UserFolder(b) + u'/' + Program(b) + ".ini", mine);

    ASSERT_EQ(Msiexec("/i", Msi(b)), 0) << LastLog().right(3000);
    ExpectInstalled(b, "1.18.0");
    EXPECT_EQ(Uninstall(old_code, "DisplayName"), std::nullopt) << "the old version is replaced";
    EXPECT_EQ(read_file(UserFolder(b) + u'/' + Program(b) + ".ini"), mine);

    // The launch condition stops it (its German message is checked with the
    // tables; Wine logs no message of a silent run). The exit status is
    // 1603, of which Unix keeps the low byte.
    const std::optional<int> refused = Msiexec("/i", old);
    ASSERT_TRUE(refused);
    EXPECT_EQ(*refused, 1603 & 0xFF) << "a downgrade fails: " << LastLog().right(3000);
    ExpectInstalled(b, "1.18.0");
    EXPECT_EQ(Uninstall(old_code, "DisplayName"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(All, EachBrand, ::testing::Values(kVantor, kMirabo, kDoerfal),
                         [](const auto& info) { return std::string(info.param.program); });

TEST_F(WindowsInstaller, TheThreeBrandsSideBySide) {
    for (const Brand* b : {&kVantor, &kMirabo, &kDoerfal})
        ASSERT_EQ(Msiexec("/i", Msi(*b)), 0) << Program(*b) << LastLog().right(3000);
    for (const Brand* b : {&kVantor, &kMirabo, &kDoerfal})
        ExpectInstalled(*b, "1.18.0");
    ASSERT_EQ(Msiexec("/x", Msi(kMirabo)), 0) << LastLog().right(3000);
    EXPECT_FALSE(QFileInfo::exists(Folder(kMirabo)));
    EXPECT_FALSE(QFileInfo::exists(MenuEntry(kMirabo)));
    for (const Brand* b : {&kVantor, &kDoerfal})
        ExpectInstalled(*b, "1.18.0");
}

}  // namespace
}  // namespace vt::test
