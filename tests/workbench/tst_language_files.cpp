// SPDX-License-Identifier: GPL-3.0-or-later
// Every text the sources pass to translate() as a literal has an entry in
// both shipped language files, every line of them loads with the
// placeholders of its key, and the Chinese file translates (an entry that
// only repeats the English text is a missed one).
#include "OrbUtils/OrbTranslate.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

class LanguageFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void everyTextHasAnEntryInBothFilesAndEveryLineLoads();
};

void LanguageFilesTest::everyTextHasAnEntryInBothFilesAndEveryLineLoads()
{
    const QString root = QStringLiteral(FENWA_SOURCE_DIR);
    // translate("...") with one plain literal, or translate("one", "many",
    // n) with two; a text split over adjacent literals would be looked up
    // whole but found here in part.
    static const QRegularExpression call(
        QStringLiteral("\\btranslate\\(\\s*(?:QStringLiteral\\(|QLatin1String\\()?\\s*\"((?:[^\"\\\\]|\\\\.)*)\"(\\s*\")?"
                       "(?:\\s*,\\s*\"((?:[^\"\\\\]|\\\\.)*)\")?"));
    QSet<QString> texts;
    QStringList split;
    for (const char *dir : {"app", "table", "settings", "multicast", "OrbUtils", "link", "site"}) {
        QDirIterator it(root + QLatin1Char('/') + QLatin1String(dir), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            for (auto m = call.globalMatch(QString::fromUtf8(file.readAll())); m.hasNext();) {
                const QRegularExpressionMatch found = m.next();
                // Looked up as the program holds it: \" and \\ unescaped.
                static const QRegularExpression escape(QStringLiteral("\\\\([\"\\\\])"));
                texts.insert(found.captured(1).replace(escape, QStringLiteral("\\1")));
                if (found.capturedLength(3))
                    texts.insert(found.captured(3).replace(escape, QStringLiteral("\\1")));
                if (found.capturedLength(2))
                    split << file.fileName();
            }
        }
    }
    QVERIFY2(texts.contains(QStringLiteral("Search")) && texts.size() > 20, "the scan found too few texts");
    QVERIFY2(split.isEmpty(), qPrintable(split.join(QLatin1Char('\n'))));

    setLanguageDirectory(root + QStringLiteral("/resources/language"));
    for (const QString &name : {QStringLiteral("en"), QStringLiteral("cn")}) {
        // The loader's own count: a blank line, a malformed or a repeated entry
        // would leave some line unloaded.
        QFile file(languageDirectory() + QLatin1Char('/') + name + QStringLiteral(".txt"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString content = QLatin1Char('\n') + QString::fromUtf8(file.readAll());
        QCOMPARE(loadLanguage(name), content.count(QLatin1Char('\n')) - content.endsWith(QLatin1Char('\n')));
        // Short technical tokens stay as they are in Chinese interfaces too.
        static const QRegularExpression han(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
        const QSet<QString> tokens{"UID", "MAC", "OK", "Ok", "English"};
        QStringList missing;
        // A value that drops, repeats or renumbers a %1 of its key shows the
        // wrong number in the wrong place.
        static const QRegularExpression mark(QStringLiteral("%\\d+"));
        const auto marks = [](const QString &text) {
            QStringList found;
            for (auto m = mark.globalMatch(text); m.hasNext();)
                found << m.next().captured();
            found.sort();
            return found;
        };
        for (const QString &line : content.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QString key, value;
            if (parseLanguageLine(line, &key, &value) && marks(key) != marks(value))
                missing << QStringLiteral("placeholders differ: ") + key;
        }
        for (const QString &text : texts) {
            if (!content.contains(QStringLiteral("\n\"%1\"=").arg(text)))
                missing << QStringLiteral("no entry: ") + text;
            else if (name == QLatin1String("cn") && !translate(text).contains(han) && !tokens.contains(text))
                missing << QStringLiteral("not translated: ") + text;
            else if (translate(text).isEmpty())
                missing << QStringLiteral("empty: ") + text;
        }
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(name + QStringLiteral(".txt:\n") + missing.join(QLatin1Char('\n'))));
    }
}

QTEST_GUILESS_MAIN(LanguageFilesTest)
#include "tst_language_files.moc"
