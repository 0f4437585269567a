// SPDX-License-Identifier: GPL-3.0-or-later
// Log line format and cut, language file parsing, configuration round trips.
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbFileUtils.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
} // namespace

class CoreTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void logLinesArePrefixedLevelledAndCut();
    void logFileIsPrivateAndNeverFollowsALink();
    void logFloodStaysWithinTheCapAndKeepsTheNewestLines();
    void logFilesFillUpToTheirLimit();

    void languageLine();
    void loadLanguageStopsAtBlankLine();
    void loadLanguageFileNameAndDirectory();

    void everyKeyAsQSettingsWritesIt();
    void textsAsQSettingsWritesThem();
    void aDamagedConfigurationReadsWhatItCan();
    void anOversizedConfigurationIsNeitherReadNorWritten();


private:
    QTemporaryDir tmp;
};

void CoreTest::initTestCase()
{
    QVERIFY(tmp.isValid());
    // Keeps the tests away from the real per-user configuration.
    QStandardPaths::setTestModeEnabled(true);
    QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).removeRecursively();
}

void CoreTest::cleanup()
{
    closeLogFile();
    QFile::remove(OrbConfigure::filePath());
}

void CoreTest::logLinesArePrefixedLevelledAndCut()
{
    const QString path = tmp.filePath(QStringLiteral("run.log"));
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    // Read the date around the calls so a run across midnight does not fail.
    const QDate before = QDate::currentDate();
    writeLog("a.cpp", "f", 1, 1, "dropped\n");
    const char *files[][2] = {{"/src/app/MainWindow.cpp", "MainWindow.cpp"}, {"OrbLog.cpp", "OrbLog.cpp"},
                              {"settings\\FenwaIp.cpp", "settings\\FenwaIp.cpp"}, {"a\\b/c\\d.cpp", "c\\d.cpp"},
                              {"dir/", ""}};
    for (const auto &file : files)
        writeLog(file[0], "Fn::name", 42, 5, "value %d %s\n", 7, "x");
    writeLog("x/long.cpp", "longLine", 9, 5, "%s\n", QByteArray(6000, 'm').constData());
    const QDate after = QDate::currentDate();
    closeLogFile();
    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 6); // the long line's line feed fell off with the cut
    const QRegularExpression re(
        QStringLiteral("^\\[(\\d{4}-\\d\\d-\\d\\d) \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]  (.*):42\\(Fn::name\\) value 7 x$"));
    for (int i = 0; i < 5; ++i) {
        const auto m = re.match(QString::fromUtf8(lines[i]));
        QVERIFY2(m.hasMatch() && m.captured(2) == QLatin1String(files[i][1]), lines[i].constData());
        const QDate logged = QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd"));
        QVERIFY2(logged == before || logged == after, lines[i].constData());
    }
    QCOMPARE(lines[5].size(), int(ORB_LOG_LINE_MAX) - 1);
    QVERIFY(lines[5].contains("long.cpp:9(longLine) mmmm") && lines[5].endsWith('m'));
    // Opening again truncates: one file per run, never appended to.
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    closeLogFile();
    QCOMPARE(readAll(path).size(), 0);
}

void CoreTest::logFileIsPrivateAndNeverFollowsALink()
{
    const auto mode = [](const QString &path) {
        struct stat st;
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    const QString dir = OrbFileUtils::logDirectory();
    QVERIFY(dir.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)));
    QCOMPARE(mode(dir), 0700);
    const mode_t before = ::umask(0);
    const QString path = tmp.filePath(QStringLiteral("private.log"));
    writeFile(path, "old");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    closeLogFile();
    QCOMPARE(mode(path), 0600);

    const QString target = tmp.filePath(QStringLiteral("target"));
    writeFile(target, "keep");
    const QString link = tmp.filePath(QStringLiteral("planted.log"));
    QVERIFY(QFile::link(target, link));
    QCOMPARE(openLogFile(QFile::encodeName(link)), -1);
    ::umask(before);
    QCOMPARE(readAll(target), QByteArray("keep"));
}

// Anyone on the segment can make the link log: a flood far beyond the cap
// leaves the directory within it, the newest lines kept without a gap, an
// older run's log gone and anything else untouched.
void CoreTest::logFloodStaysWithinTheCapAndKeepsTheNewestLines()
{
    QTemporaryDir dir;
    const QString older = dir.filePath(QStringLiteral("20200101000000.log")), other = dir.filePath(QStringLiteral("notes.txt"));
    writeFile(older, QByteArray(100000, 'o'));
    writeFile(other, "kept");
    setLogLimits(64 * 1024, 256 * 1024);
    QCOMPARE(openLogFile(QFile::encodeName(dir.filePath(QStringLiteral("20261207000000.log")))), 0);
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (int i = 0; i < 40000; ++i) // some 2.6 MB
        writeLog("flood.cpp", "f", 1, 5, "line %d\n", i);
    qInstallMessageHandler(previous);
    closeLogFile();
    setLogLimits(8 << 20, 64 << 20);
    qint64 total = 0;
    QList<int> numbers;
    for (const QFileInfo &f : QDir(dir.path()).entryInfoList(QDir::Files)) {
        total += f.size();
        for (const QByteArray &line : readAll(f.filePath()).split('\n'))
            if (line.contains(") line "))
                numbers << line.mid(line.indexOf(") line ") + 7).toInt();
    }
    std::sort(numbers.begin(), numbers.end());
    QVERIFY2(total <= 256 * 1024 && !QFile::exists(older) && readAll(other) == "kept", qPrintable(QString::number(total)));
    QVERIFY(numbers.size() > 2000 && numbers.last() == 39999 && numbers.last() - numbers.first() + 1 == numbers.size());
}

// Every file is filled up to the limit, the ones after a change of file
// as much as the first.
void CoreTest::logFilesFillUpToTheirLimit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("20261207000001.log"));
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    writeLog("fill.cpp", "f", 1, 5, "line %05d\n", 0);
    closeLogFile();
    const qint64 length = QFileInfo(path).size(); // every line below is as long
    const qint64 perFile = ORB_LOG_LINE_MAX / length + 1;
    QVERIFY(QFile::remove(path));
    setLogLimits(perFile * length, 64 << 20);
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    for (int i = 0; i < 3 * perFile; ++i)
        writeLog("fill.cpp", "f", 1, 5, "line %05d\n", i);
    closeLogFile();
    qInstallMessageHandler(previous);
    setLogLimits(8 << 20, 64 << 20);
    const QFileInfoList files = QDir(dir.path()).entryInfoList(QDir::Files);
    QCOMPARE(files.size(), 3);
    for (const QFileInfo &f : files)
        QCOMPARE(f.size(), perFile * length);
}

void CoreTest::languageLine()
{
    const struct {
        const char *line;
        bool ok;
        const char *key, *value;
    } cases[] = {
        {"\"Search\"=\"搜索\";", true, "Search", "搜索"},   {"  \"Name\"  =  \"Nom\"  ; ;", true, "Name", "Nom"},
        {"\"Gateway\"=\"\";", true, "Gateway", ""},       {"\"a\"=\"b\"=\"c\"", false, "", ""}, // two equals
        {"just text", false, "", ""},                    {"\"\"a\"\"=b", true, "\"a\"", "b"}, // one quote each side only
        {"a=\"x;\"", true, "a", "x;"}, // a semicolon inside quotes is kept
    };
    for (const auto &c : cases) {
        QString key, value;
        QVERIFY2(parseLanguageLine(QString::fromUtf8(c.line), &key, &value) == c.ok, c.line);
        QVERIFY2(!c.ok || (key == QString::fromUtf8(c.key) && value == QString::fromUtf8(c.value)), c.line);
    }
}

void CoreTest::loadLanguageStopsAtBlankLine()
{
    writeFile(tmp.filePath(QStringLiteral("cut.txt")),
              "\"Search\"=\"S1\";\n\"a=b\"=\"c\";\n\"Search\"=\"S2\";\n\"Name\"=\"\";\n\n\"Below\"=\"B\";\n");
    setLanguageDirectory(tmp.path());
    QCOMPARE(loadLanguage(QStringLiteral("cut")), 2);
    QCOMPARE(translate("Search"), QStringLiteral("S2")); // later line wins
    QCOMPARE(translate("Name"), QString());               // empty value is a translation
    QCOMPARE(translate("Below"), QStringLiteral("Below")); // after the blank line
    QCOMPARE(translate("a"), QStringLiteral("a"));         // the two-"=" line was skipped
}

void CoreTest::loadLanguageFileNameAndDirectory()
{
    const struct {
        const char *dirSuffix, *name, *expected;
    } cases[] = {
        {"", "xx.txt", "XX"},          // the suffix kept
        {"", "xx.TXT", "Network"},     // an upper-case suffix is part of the name
        {"/", "xx", "XX"},             // a directory ending in a slash
        {"", "absent", "Network"},     // a missing file translates nothing
    };
    writeFile(tmp.filePath(QStringLiteral("xx.txt")), "\"Network\"=\"XX\"\n");
    for (const auto &c : cases) {
        setLanguageDirectory(tmp.path());
        QVERIFY(loadLanguage(QStringLiteral("xx")) > 0); // what a failed load must not keep
        setLanguageDirectory(tmp.path() + QLatin1String(c.dirSuffix));
        QCOMPARE(loadLanguage(QLatin1String(c.name)), qstrcmp(c.expected, "XX") == 0 ? 1 : 0);
        QCOMPARE(translate("Network"), QLatin1String(c.expected));
        QCOMPARE(currentLanguage(), QLatin1String(c.name));
    }
}

// Each key as QSettings itself reads and writes it: a key renamed in the
// store (the remembered adapter lost at every installer's next start) fails
// here, where a round trip through the store alone would pass.
namespace {
struct ConfigKey {
    const char *key, *value;
    QString (*read)(const OrbConfigure &);
    void (*write)(OrbConfigure &, const QString &);
};
using Text = QString;
const ConfigKey kConfigKeys[] = {
    {"langage", "cn", [](const OrbConfigure &c) { return c.language(); },
     [](OrbConfigure &c, const Text &v) { c.setLanguage(v); }},
    {"network", "ens7", [](const OrbConfigure &c) { return c.network(); },
     [](OrbConfigure &c, const Text &v) { c.setNetwork(v); }},
    {"rtp server", "239.1.1.1:6000", [](const OrbConfigure &c) { return c.rtpServer(); },
     [](OrbConfigure &c, const Text &v) { c.setRtpServer(v); }},
    {"device id", "sink.monitor", [](const OrbConfigure &c) { return c.deviceId(); },
     [](OrbConfigure &c, const Text &v) { c.setDeviceId(v); }},
    {"rtp interface", "ens8", [](const OrbConfigure &c) { return c.rtpInterface(); },
     [](OrbConfigure &c, const Text &v) { c.setRtpInterface(v); }},
    {"rtp source index", "1", [](const OrbConfigure &c) { return Text::number(c.rtpSourceIndex()); },
     [](OrbConfigure &c, const Text &v) { c.setRtpSourceIndex(v.toInt()); }},
    {"rtp file list", "FILE\n", [](const OrbConfigure &c) { return c.rtpFileList().join('\n') + '\n'; },
     [](OrbConfigure &c, const Text &v) { c.setRtpFileList(v.split('\n', Qt::SkipEmptyParts)); }},
};
} // namespace

// QSettings shares one parsed copy of a file between every QSettings of the
// process that opens that path: each side of these round trips gets a file of
// its own, so that each really parses what the other wrote.
namespace {
QByteArray asQSettingsWrites(const QTemporaryDir &tmp, const QString &key, const QVariant &value)
{
    static int n = 0;
    const QString path = tmp.filePath(QStringLiteral("written-%1.ini").arg(++n));
    QSettings(path, QSettings::IniFormat).setValue(key, value);
    return readAll(path);
}

QVariant asQSettingsReads(const QTemporaryDir &tmp, const QByteArray &file, const QString &key)
{
    static int n = 0;
    const QString path = tmp.filePath(QStringLiteral("read-%1.ini").arg(++n));
    writeFile(path, file);
    return QSettings(path, QSettings::IniFormat).value(key);
}

void writeConfigure(const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(OrbFileUtils::configureDirectory()));
    QFile::remove(OrbConfigure::filePath());
    writeFile(OrbConfigure::filePath(), bytes);
}
} // namespace

void CoreTest::everyKeyAsQSettingsWritesIt()
{
    const QString file = tmp.filePath(QStringLiteral("song.mp3"));
    writeFile(file, "x"); // the play list keeps only files that exist
    for (const ConfigKey &k : kConfigKeys) {
        const QString value = QString::fromUtf8(k.value).replace(QStringLiteral("FILE"), file);
        writeConfigure(asQSettingsWrites(tmp, QLatin1String(k.key), value));
        QVERIFY2(k.read(OrbConfigure()) == value, k.key);
        QFile::remove(OrbConfigure::filePath());
        {
            OrbConfigure store;
            k.write(store, value);
        }
        QVERIFY2(asQSettingsReads(tmp, readAll(OrbConfigure::filePath()), QLatin1String(k.key)).toString() == value, k.key);
    }
}

// What QSettings wrote reads the same here, and what is written here reads
// the same in QSettings: files of earlier versions and of other tools stay
// good. Separators, blanks at both ends, a leading @ or @@, a text that looks
// typed, quotes and backslashes, controls with digits after, beyond ASCII.
void CoreTest::textsAsQSettingsWritesThem()
{
    const QString values[] = {"a, b; c=d", "  x\t ", "@x", "@@x", "@Variant(x)", "say \"hi\" C:\\dir",
                              QStringLiteral("t\tn\nz") + QChar(0) + QStringLiteral("1f") + QChar(1) + "a",
                              QStringLiteral("Zentrale Süd 中文 \U0001F600"), ""};
    for (const QString &value : values) {
        writeConfigure(asQSettingsWrites(tmp, QStringLiteral("device id"), value));
        QCOMPARE(OrbConfigure().deviceId(), value);
        QFile::remove(OrbConfigure::filePath());
        OrbConfigure().setDeviceId(value);
        QCOMPARE(asQSettingsReads(tmp, readAll(OrbConfigure::filePath()), QStringLiteral("device id")).toString(), value);
    }
}

void CoreTest::aDamagedConfigurationReadsWhatItCan()
{
    // "cn" as QSettings' typed values carry it: QDataStream data, which a
    // damaged file turns into a length of gigabytes.
    const QByteArray typed("@Variant(\\0\\0\\0\\n\\0\\0\\0\\x4\\0c\\0n)");
    const QPair<QByteArray, QString> cases[] = {
        {"[General]\nlangage=" + typed + "\n", ""},                  // a typed value
        {"[General]\nlangage=\\x40" + typed.mid(1) + "\n", ""},      // the same as escapes
        {"[General]\nnetwork=a, " + typed + "\nlangage=cn\n", "cn"}, // a typed item in a list
        {"\xEF\xBB\xBF; note\n[General]\nnetwork=\"a\nb\" ; rest\nlangage = cn\n", "cn"}, // comments, quotes across lines, BOM
        {"[Gen\nlangage\n[General]\nlangage=cn\n[x]\n", "cn"},       // unclosed section, key without value
    };
    for (const auto &c : cases) {
        writeConfigure(c.first);
        QVERIFY2(OrbConfigure().language() == c.second, c.first.constData());
        OrbConfigure().setRtpServer(QStringLiteral("239.1.1.1:6000")); // a write keeps what was read
        OrbConfigure store;
        QVERIFY2(store.language() == c.second, c.first.constData());
        QCOMPARE(store.rtpServer(), QStringLiteral("239.1.1.1:6000"));
    }
}

// At the limit it is read; a byte over, neither read nor written.
void CoreTest::anOversizedConfigurationIsNeitherReadNorWritten()
{
    QVERIFY(QDir().mkpath(OrbFileUtils::configureDirectory()));
    const QString logPath = tmp.filePath(QStringLiteral("configure.log"));
    for (const int size : {int(OrbConfigure::kFileMax), int(OrbConfigure::kFileMax) + 1}) {
        const bool read = size == int(OrbConfigure::kFileMax);
        const QByteArray bytes = QByteArray("[General]\nlangage=cn\n").leftJustified(size, '#');
        writeFile(OrbConfigure::filePath(), bytes);
        QCOMPARE(openLogFile(QFile::encodeName(logPath)), 0);
        {
            OrbConfigure store;
            QCOMPARE(store.language(), read ? QStringLiteral("cn") : QString());
            store.setNetwork(QStringLiteral("eth9"));
            store.setWindowGeometry("geometry"); // as the window does when it closes
        }
        closeLogFile();
        QCOMPARE(readAll(OrbConfigure::filePath()) == bytes, !read);
        QCOMPARE(readAll(logPath).contains("not read, and left as it is"), !read);
    }
}

QTEST_GUILESS_MAIN(CoreTest)
#include "tst_core.moc"
