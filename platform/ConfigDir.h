#pragma once

#include <QString>

// The per-user configuration folder: $CAPTIOMARK_CONFIG_DIR when set, else
// $XDG_CONFIG_HOME/captiomark (~/.config/captiomark). Not created here.
QString ConfigDir();
