// The command line of the fotex host: one table of options, from which the parser and --help
// both come.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli.h"

namespace fotexcli {

// The fields of a Shape, as bits: which options shape which action.
enum ShapeField : unsigned {
    kFilename = 1u << 0,
    kFolder = 1u << 1,
    kPrefix = 1u << 2,
    kFormat = 1u << 3,
    kKeep = 1u << 4,
    kExisting = 1u << 5,
};

// Parses argv (UTF-8). Returns -1 when the command line is fine and `options` holds it,
// otherwise the exit status to end with (help shown: kDone; a bad command line: kUsage, reported).
int ParseCommandLine(const std::vector<std::string>& args, Options& options);

// Runs one action; kDone, kFailed.
int RunAction(Session& session, const Action& action);

// Whole numbers are decimal: an optional sign and digits, blanks around them ignored; 010 is ten.
bool ParseDecimal(const std::string& text, int& value);
std::string Trim(const std::string& text);
// Numbers from 1 as gphoto2 takes them: "3", "1-3,7"; each range first to last. False when the
// text is not such a list.
bool ParseNumbers(const std::string& text, std::vector<std::pair<int, int>>& ranges);

}  // namespace fotexcli
