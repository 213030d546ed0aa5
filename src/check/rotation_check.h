#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/check_facts.h"
#include "check/server_config.h"
#include "platform/disk.h"
#include "platform/user_database.h"
#include "run/owner_decision.h"
#include "run/run_start.h"

/// Tells what the next run of the tool in the working folder would do and
/// why, changing nothing. The answer is the record of the tool's own run,
/// seeded with `ticks`, on a disk that only pretends to write, from where
/// start_run() left `start` and with what it decided about root, `owner`
/// (its users named from `users`). Where the plans of other seeds take
/// another number of files, each such number is run dry too, with the
/// first seed that gives it. Each of `game_folders` (named by the operator
/// where `named`), walked from the working folder as the run would walk,
/// is looked through for the game's archives (*.pk3) and loose maps, and
/// every map of the run's plan is looked for there as the server would.
/// Then the server's `configs` are read as its console runs them.
check_facts check_rotation(disk_interface& disk, const user_database& users,
                           const owner_decision& owner, const run_start& start,
                           const std::vector<std::string>& game_folders,
                           bool named, config_request configs,
                           std::uint32_t ticks);
