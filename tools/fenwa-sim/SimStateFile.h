// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

struct cJSON;

// Writes text to path through a temporary file in the same folder and a
// rename, so a reader sees the old dump or the new one, never half of one.
// Returns 0 or -1 (with a line on stderr).
int writeFileAtomically(const QByteArray &path, const QByteArray &text);
