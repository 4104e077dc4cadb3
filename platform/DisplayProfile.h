#pragma once

#include <QByteArray>

// The colour profile of the display the program shows on, as ICC bytes; empty for sRGB. A file
// named by CAPTIOMARK_DISPLAY_PROFILE comes first; then, on X11, the profile the desktop publishes
// on the root window (_ICC_PROFILE, as colour managers set it); otherwise the display is sRGB.
QByteArray DisplayIccProfile();
