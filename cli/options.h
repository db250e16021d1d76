// The command line of the fotex host: one table of options, from which the parser and --help
// both come.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

namespace fotexcli {

// Parses argv (UTF-8). Returns -1 when the command line is fine and `options` holds it,
// otherwise the exit status to end with (help shown: kDone; a bad command line: kUsage, reported).
int ParseCommandLine(const std::vector<std::string>& args, Options& options);

// Runs one action; kDone, kFailed.
int RunAction(Session& session, const Action& action);

}  // namespace fotexcli
