// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Registers the embedded images (":/resources/play.png" and the others).
// Static libraries do not register their resources by themselves; every
// user of an image calls this once before using it. Safe to call again.
void initFenwaResources();
