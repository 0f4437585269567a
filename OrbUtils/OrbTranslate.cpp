// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbTranslate.h"

#include <QFile>
#include <QMap>
#include <QTextStream>

namespace {
QString languageDir;
QString languageName;
QMap<QString, QString> table;

QString trimPart(QString s)
{
    int start = 0;
    while (start < s.size() && s.at(start) == QLatin1Char(' '))
        ++start;
    int end = s.size();
    while (end > start && (s.at(end - 1) == QLatin1Char(' ') || s.at(end - 1) == QLatin1Char(';')))
        --end;
    s = s.mid(start, end - start);
    if (s.startsWith(QLatin1Char('"')))
        s.remove(0, 1);
    if (s.endsWith(QLatin1Char('"')))
        s.chop(1);
    return s;
}
} // namespace

void setLanguageDirectory(const QString &path)
{
    languageDir = path;
}

QString languageDirectory()
{
    return languageDir;
}

QString currentLanguage()
{
    return languageName;
}

bool parseLanguageLine(const QString &line, QString *key, QString *value)
{
    const QStringList parts = line.split(QLatin1Char('='), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    *key = trimPart(parts.at(0));
    *value = trimPart(parts.at(1));
    return true;
}

int loadLanguage(const QString &name)
{
    languageName = name;
    table.clear();
    QString fileName = name.endsWith(QLatin1String(".txt")) ? name : name + QLatin1String(".txt");
    QString path = languageDir;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path += fileName;
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty())
            break;
        QString key, value;
        if (parseLanguageLine(line, &key, &value))
            table.insert(key, value);
    }
    return table.size();
}

QString translate(const QString &text)
{
    auto it = table.constFind(text);
    return it == table.constEnd() ? text : it.value();
}
