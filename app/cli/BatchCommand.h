#pragma once

#include "app/cli/CliCommands.h"

// captiomark-cli batch: the batch window's "Process" over files named on the command line.
CliCommand BatchCliCommand();
int BatchCommand(CliContext& c);
