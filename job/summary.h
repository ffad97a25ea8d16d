// The counts of a job's items and the summary text the command-line tool prints.
#pragma once

#include <string>

#include "job/plan.h"

namespace zav::job {

ZAVJobCounts CountItems(const Plan &plan);

// "COMMAND: N succeeded, N failed[, N skipped (output exists)]" (stopped: "COMMAND: stopped by
// SIGNAL: ..., N not done"), the entries passed over in the folders, the failures counted by
// reason, one line per failure. Every line ends with a line feed.
std::string SummaryText(const Plan &plan, std::string_view command, std::string_view stoppedBy);

}  // namespace zav::job
