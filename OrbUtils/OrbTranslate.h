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

// Parses one line of a language file into key and value; false when the line
// is not a key=value pair. Exposed for tests.
bool parseLanguageLine(const QString &line, QString *key, QString *value);
