// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether this process may open raw packet capture: root, or CAP_NET_RAW in
// its effective set (granted to the executable with setcap).
bool isCapturePermitted();

// A one-line explanation for an installer, naming the executable to grant
// the capability to.
QString capturePermissionHint(const QString &executable);
