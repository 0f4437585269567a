// SPDX-License-Identifier: GPL-3.0-or-later
// Log line format and cut, language file parsing, configuration round trips.
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbFileUtils.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"

#include <QDateTime>
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
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString formatted(const char *file, const char *function, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
QString formatted(const char *file, const char *function, int line, const char *format, ...)
{
    char buf[ORB_LOG_LINE_MAX];
    va_list args;
    va_start(args, format);
    formatLogLine(buf, sizeof buf, file, function, line, format, args);
    va_end(args);
    return QString::fromUtf8(buf);
}
} // namespace

class CoreTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void logPrefix_data();
    void logPrefix();
    void logLongMessageIsCutToBuffer();
    void logLevelThreshold();
    void logFileIsPrivateAndNeverFollowsALink();

    void languageLine_data();
    void languageLine();
    void loadLanguageStopsAtBlankLine();
    void loadLanguageFileNameAndDirectory_data();
    void loadLanguageFileNameAndDirectory();

    void firstStartWritesEnglish();
    void sourceIndexNonNumberReadsZero();
    void fileListDropsVanishedFiles();

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

void CoreTest::logPrefix_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("shown");
    QTest::newRow("slash path") << QByteArray("/src/app/MainWindow.cpp") << "MainWindow.cpp";
    QTest::newRow("bare name") << QByteArray("OrbLog.cpp") << "OrbLog.cpp";
    QTest::newRow("backslashes stay") << QByteArray("settings\\FenwaIp.cpp") << "settings\\FenwaIp.cpp";
    QTest::newRow("mixed") << QByteArray("a\\b/c\\d.cpp") << "c\\d.cpp";
    QTest::newRow("trailing slash") << QByteArray("dir/") << "";
}

void CoreTest::logPrefix()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, shown);
    // Read the date around the call so a run across midnight does not fail.
    const QDate before = QDate::currentDate();
    const QString line = formatted(file.constData(), "Fn::name", 42, "value %d %s\n", 7, "x");
    const QDate after = QDate::currentDate();
    const QRegularExpression re(QStringLiteral(
        "^\\[(\\d{4}-\\d{2}-\\d{2}) \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\]  (.*):42\\(Fn::name\\) value 7 x\n$"));
    const auto m = re.match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    QCOMPARE(m.captured(2), shown);
    const QDate logged = QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd"));
    QVERIFY2(logged == before || logged == after, qPrintable(line));
}

void CoreTest::logLongMessageIsCutToBuffer()
{
    const QString path = tmp.filePath(QStringLiteral("long.log"));
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    const QByteArray message(6000, 'm');
    writeLog("x/long.cpp", "longLine", 9, 5, "%s\n", message.constData());
    closeLogFile();
    const QByteArray written = readAll(path);
    QCOMPARE(written.size(), int(ORB_LOG_LINE_MAX) - 1);
    QVERIFY(written.contains("long.cpp:9(longLine) mmmm"));
    QVERIFY(written.endsWith('m')); // the line feed fell off with the cut
}

void CoreTest::logLevelThreshold()
{
    const QString path = tmp.filePath(QStringLiteral("level.log"));
    QCOMPARE(openLogFile(QFile::encodeName(path)), 0);
    writeLog("a.cpp", "f", 1, 1, "dropped\n");
    writeLog("a.cpp", "f", 2, 5, "kept\n");
    closeLogFile();
    const QByteArray written = readAll(path);
    QVERIFY(!written.contains("dropped"));
    QVERIFY(written.endsWith("a.cpp:2(f) kept\n"));
    QCOMPARE(written.count('\n'), 1);

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

void CoreTest::languageLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("quoted with semicolon") << "\"Search\"=\"搜索\";" << true << "Search" << "搜索";
    QTest::newRow("unquoted") << "Search=Find" << true << "Search" << "Find";
    QTest::newRow("blanks around") << "  \"Name\"  =  \"Nom\"  ; ;" << true << "Name" << "Nom";
    QTest::newRow("empty value") << "\"Gateway\"=\"\";" << true << "Gateway" << "";
    QTest::newRow("two equals") << "\"a\"=\"b\"=\"c\"" << false << "" << "";
    QTest::newRow("no equals") << "just text" << false << "" << "";
    QTest::newRow("tabs kept") << "\tkey\t=\tvalue\t" << true << "\tkey\t" << "\tvalue\t";
    QTest::newRow("one quote each side only") << "\"\"a\"\"=b" << true << "\"a\"" << "b";
    QTest::newRow("inner blanks kept") << "\"IP address\"=\"IP 地址\"" << true << "IP address" << "IP 地址";
    QTest::newRow("semicolon inside quotes kept") << "a=\"x;\"" << true << "a" << "x;";
}

void CoreTest::languageLine()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QString gotKey, gotValue;
    QCOMPARE(parseLanguageLine(line, &gotKey, &gotValue), ok);
    if (ok) {
        QCOMPARE(gotKey, key);
        QCOMPARE(gotValue, value);
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

void CoreTest::loadLanguageFileNameAndDirectory_data()
{
    QTest::addColumn<QString>("dirSuffix");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("suffix added") << "" << "xx" << "XX";
    QTest::newRow("suffix kept") << "" << "xx.txt" << "XX";
    QTest::newRow("upper-case suffix is part of the name") << "" << "xx.TXT" << "Network";
    QTest::newRow("directory with slash") << "/" << "xx" << "XX";
    QTest::newRow("missing file translates nothing") << "" << "absent" << "Network";
}

void CoreTest::loadLanguageFileNameAndDirectory()
{
    QFETCH(QString, dirSuffix);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    writeFile(tmp.filePath(QStringLiteral("xx.txt")), "\"Network\"=\"XX\"\n");
    setLanguageDirectory(tmp.path());
    QVERIFY(loadLanguage(QStringLiteral("xx")) > 0); // what a failed load must not keep
    setLanguageDirectory(tmp.path() + dirSuffix);
    QCOMPARE(loadLanguage(name), expected == QLatin1String("XX") ? 1 : 0);
    QCOMPARE(translate("Network"), expected);
    QCOMPARE(currentLanguage(), name);
}

void CoreTest::firstStartWritesEnglish()
{
    QDir(OrbFileUtils::configureDirectory()).removeRecursively();
    {
        OrbConfigure store;
        QCOMPARE(store.language(), QString());
        store.ensureLanguage();
    }
    QVERIFY(QFileInfo::exists(OrbConfigure::filePath()));
    QVERIFY(readAll(OrbConfigure::filePath()).contains("langage=en"));
    {
        OrbConfigure store;
        store.setLanguage(QStringLiteral("cn"));
        store.ensureLanguage(); // an existing choice is kept
    }
    QCOMPARE(OrbConfigure().language(), QStringLiteral("cn"));
}

void CoreTest::sourceIndexNonNumberReadsZero()
{
    QVERIFY(QDir().mkpath(OrbFileUtils::configureDirectory()));
    writeFile(OrbConfigure::filePath(), "[General]\nrtp%20source%20index=abc\n");
    QCOMPARE(OrbConfigure().rtpSourceIndex(), 0);
    QCOMPARE(OrbConfigure().network(), QString());
}

void CoreTest::fileListDropsVanishedFiles()
{
    const QString a = tmp.filePath(QStringLiteral("a.mp3"));
    const QString b = tmp.filePath(QStringLiteral("b.mp3"));
    writeFile(a, "x");
    writeFile(b, "y");
    OrbConfigure().setRtpFileList({a, b});
    QCOMPARE(OrbConfigure().rtpFileList(), QStringList({a, b}));
    QVERIFY(QFile::remove(a));
    QCOMPARE(OrbConfigure().rtpFileList(), QStringList({b}));
    QVERIFY(readAll(OrbConfigure::filePath()).contains(".mp3\\n"));

    OrbConfigure().setRtpFileList({});
    QSettings raw(OrbConfigure::filePath(), QSettings::IniFormat);
    QVERIFY(raw.contains(QStringLiteral("rtp file list")));
    QCOMPARE(raw.value(QStringLiteral("rtp file list")).toString(), QString());
    QCOMPARE(OrbConfigure().rtpFileList(), QStringList());
}

QTEST_GUILESS_MAIN(CoreTest)
#include "tst_core.moc"
