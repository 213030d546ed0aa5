#pragma once

#include <string>
#include <vector>

#include "check/check_report.h"
#include "run/run_record.h"

/// The map list's part of map_rotation_check's report, from the list as
/// the run read it (`record`): how it was read, every token left out with
/// its line and why, names the rotation leaves out or the server won't
/// load, names from comment lines, and names listed twice, all in the
/// order of the list. Where there is no map list, the names beside it
/// (`beside`) that look like one under another name. True where something
/// is left out by mistake or won't load.
bool report_list(report_text& out, const run_record& record,
                 const std::vector<std::string>& beside = {});
