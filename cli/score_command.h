// `tavrick score`: how well each method rebuilds frames of the user's own footage.
#pragma once

#include <string>
#include <vector>

#include "job/front_end.h"

// The options of score, for the help text.
extern const char scoreUsageText[];

// Runs score with the arguments after "score"; returns the exit status.
int ScoreCommand(const std::vector<std::string>& args, const FrontEnd& frontEnd);
