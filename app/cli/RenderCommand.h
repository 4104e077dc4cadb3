#pragma once

#include "app/cli/CliCommands.h"

// captiomark-cli render --pattern FILE.xml [--zoom R] [--output NAME] IMAGE...
// Burns a pattern file into each image as "Apply pattern to Images" does: the image opened at the
// zoom ratio (the pattern's preview positions are taken at that ratio), the pattern read, the
// result written over the image, the original kept as IMAGE.bak (or under NAME, for one image).
// Failures name the file and the next image follows; exit 1 when any failed.
CliCommand RenderCliCommand();
