// The device-command and transfer options of the fotex host.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

namespace fotexcli {

extern const char kCommandsUsage[];

// Takes argv[i] (and its value) when it is one of these options: 1 taken, 0 not one of them,
// -1 a bad value (reported).
int ParseCommandOption(int argc, char** argv, int& i, std::vector<std::string>& actions);

// Runs an action of this family and returns its exit status; -1 when the action is not one.
int RunCommandAction(const std::string& action, Session& session);

}  // namespace fotexcli
