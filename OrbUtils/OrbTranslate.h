// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Translation table, filled once at start before other threads exist and
// read-only afterwards.
void setLanguageDirectory(const QString &path);
QString languageDirectory();
// Loads "<dir>/<name>.txt" (".txt" is added unless the name ends with it).
// Returns the number of entries read; a missing file leaves the table empty.
int loadLanguage(const QString &name);
QString currentLanguage();

// The translation of text, or text itself when the table has no entry.
QString translate(const QString &text);
inline QString translate(const char *text) { return translate(QString::fromUtf8(text)); }
// The translation of the form a count n takes: one when n is 1, many
// otherwise. Both are keys of the language files; a language with a single
// form gives both the same value.
inline QString translate(const char *one, const char *many, qint64 n) { return translate(n == 1 ? one : many); }

// Parses one line of a language file into key and value; false when the line
// is not a key=value pair. Exposed for tests.
bool parseLanguageLine(const QString &line, QString *key, QString *value);
