// SPDX-License-Identifier: GPL-3.0-or-later
// Every text the sources pass to translate() as a literal must have an entry
// in both shipped language files, and the Chinese file must actually
// translate: an entry that only repeats the English text is a missed one.
#include "OrbUtils/OrbTranslate.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <QtTest>

namespace {
const QString kSourceDir = QStringLiteral(FENWA_SOURCE_DIR);

QMap<QString, QString> readLanguageFile(const QString &name)
{
    QMap<QString, QString> entries;
    QFile file(kSourceDir + QStringLiteral("/resources/language/") + name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entries;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty())
            break; // the loader stops here too: anything below would be dead
        QString key, value;
        if (parseLanguageLine(line, &key, &value))
            entries.insert(key, value);
    }
    return entries;
}

struct SourceScan {
    QSet<QString> texts; // translate("...") and translate(QStringLiteral("...")) with one plain literal
    QStringList split;   // files passing a text split over adjacent literals
};

// A text split over adjacent literals would be looked up whole but scanned
// in part; interface texts are written as one literal.
SourceScan scanSources()
{
    static const QRegularExpression call(
        QStringLiteral("\\btranslate\\(\\s*(?:QStringLiteral\\(|QLatin1String\\()?\\s*\"((?:[^\"\\\\]|\\\\.)*)\""));
    static const QRegularExpression split(QStringLiteral("\\btranslate\\(\\s*\"(?:[^\"\\\\]|\\\\.)*\"\\s*\""));
    SourceScan scan;
    for (const char *root : {"app", "table", "settings", "multicast", "OrbUtils", "link"}) {
        QDirIterator it(kSourceDir + QLatin1Char('/') + QLatin1String(root),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(file.readAll());
            auto matches = call.globalMatch(text);
            while (matches.hasNext())
                scan.texts.insert(matches.next().captured(1));
            if (split.match(text).hasMatch())
                scan.split << file.fileName();
        }
    }
    return scan;
}
} // namespace

class LanguageFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void sourcesUseTranslatedTexts();
    void everyLiteralHasBothEntries();
    void noTextSplitOverLiterals();
    void chineseFileTranslates();
    void englishFileMapsTextsToThemselves();
};

void LanguageFilesTest::sourcesUseTranslatedTexts()
{
    // Guards the scan itself: a broken pattern would let everything pass.
    const QSet<QString> texts = scanSources().texts;
    QVERIFY2(texts.contains(QStringLiteral("Search")), "the scan found no translate(\"Search\")");
    QVERIFY(texts.size() > 20);
}

void LanguageFilesTest::everyLiteralHasBothEntries()
{
    const auto en = readLanguageFile(QStringLiteral("en.txt"));
    const auto cn = readLanguageFile(QStringLiteral("cn.txt"));
    QStringList missing;
    for (const QString &text : scanSources().texts) {
        if (!en.contains(text))
            missing << QStringLiteral("en.txt: ") + text;
        if (!cn.contains(text))
            missing << QStringLiteral("cn.txt: ") + text;
    }
    missing.sort();
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
}

void LanguageFilesTest::noTextSplitOverLiterals()
{
    const QStringList where = scanSources().split;
    QVERIFY2(where.isEmpty(), qPrintable(where.join(QLatin1Char('\n'))));
}

void LanguageFilesTest::chineseFileTranslates()
{
    const auto cn = readLanguageFile(QStringLiteral("cn.txt"));
    QVERIFY(!cn.isEmpty());
    // Short technical tokens stay as they are in Chinese interfaces too.
    static const QRegularExpression han(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    QStringList untranslated;
    for (auto it = cn.constBegin(); it != cn.constEnd(); ++it) {
        if (!it.value().contains(han) && it.key() != QStringLiteral("UID") && it.key() != QStringLiteral("MAC") &&
            it.key() != QStringLiteral("OK") && it.key() != QStringLiteral("Ok") &&
            it.key() != QStringLiteral("English"))
            untranslated << it.key();
    }
    QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QLatin1Char('\n'))));
}

void LanguageFilesTest::englishFileMapsTextsToThemselves()
{
    const auto en = readLanguageFile(QStringLiteral("en.txt"));
    const auto cn = readLanguageFile(QStringLiteral("cn.txt"));
    QCOMPARE(QSet<QString>(en.keyBegin(), en.keyEnd()), QSet<QString>(cn.keyBegin(), cn.keyEnd()));
    for (auto it = en.constBegin(); it != en.constEnd(); ++it)
        QVERIFY2(!it.value().isEmpty(), qPrintable(it.key()));
}

QTEST_GUILESS_MAIN(LanguageFilesTest)
#include "tst_language_files.moc"
