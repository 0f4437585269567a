// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Who may capture, and how. A process may open packet capture itself when
// CAP_NET_RAW is in its effective set (root, or a CLI given the capability);
// otherwise the link goes through the capture helper, which only members of
// the helper's group may run and which alone holds the capability. No Qt
// program of this project ever holds one.

// Whether this process may open capture itself (CAP_NET_RAW in force).
bool isCapturePermitted();

// The group whose members may run the installed capture helper.
const char *captureGroup();

// The capture helper this program starts: the build tree's when this
// program runs from the build tree, else the installed one. Never a path
// taken from the environment.
QString captureHelperPath();
bool runsFromBuildTree();

enum class CaptureAccess {
    InProcess,         // this process captures itself
    Helper,            // the helper may be run and holds CAP_NET_RAW
    HelperMissing,     // no helper at its path
    NotAllowed,        // the helper may not be run by this user (not in the group)
    HelperUnprivileged // the helper runs but has no CAP_NET_RAW to raise
};
// Decided from the files, without starting anything.
CaptureAccess captureAccess();

// One line for a terminal: why capture fails and what to do about it.
QString capturePermissionHint(CaptureAccess access);
// The command that grants the build tree's helper its capability.
QString grantCommand(const QString &helperPath);
// The command that adds this user to the helper's group.
QString joinGroupCommand();
