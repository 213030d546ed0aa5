#include "check/rotation_check.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

#include "check/dry_disk.h"
#include "run/generator_run.h"
#include "run/rotation_plan.h"
#include "run/rotation_script.h"

namespace {

/// How many other seeds are planned, at most, and how many entries their
/// plans may take in all, so that a list of a million maps still checks in
/// about the time of a run.
constexpr std::uint32_t most_other_seeds = 64;
constexpr std::size_t other_seeds_entries = 2000000;

/// Runs the tool from `start` on a disk that only pretends to write,
/// seeded with `seed`.
std::unique_ptr<run_record> dry_run(dry_disk& dry, const run_start& start,
                                    const owner_decision& owner,
                                    std::uint32_t seed) {
  auto record = std::make_unique<run_record>();
  dry.forget_changes();
  run_from(dry, start, owner, seed, *record);
  return record;
}

/// Plans the list of `own` with other seeds, in a fixed set so that the
/// same tree always gives the same answer, and runs dry the first seed of
/// each number of files other than the run's own: only a part the other
/// order writes or leaves, or the room for more files, can make it end
/// otherwise. A rotation of one file is the same size in any order. Sets
/// `*largest_first` to the largest SW_rotate.cfg of all plans.
std::vector<other_order> other_orders(dry_disk& dry, const run_start& start,
                                      const run_record& own,
                                      std::size_t* largest_first) {
  std::vector<other_order> others;
  if (!own.carried_out) return others;
  *largest_first = own.plan.files.front().size;
  if (own.plan.files.size() == 1) return others;
  const map_list list = read_map_list(own.list.text);
  const std::size_t seeds = std::clamp<std::size_t>(
      other_seeds_entries / std::max<std::size_t>(list.entries.size(), 1), 1,
      most_other_seeds);
  std::set<std::size_t> seen = {own.plan.files.size()};
  for (std::uint32_t seed = 1; seed <= seeds; ++seed) {
    const rotation_plan plan = plan_rotation(list, seed);
    *largest_first = std::max(*largest_first, plan.files.front().size);
    if (seen.insert(plan.files.size()).second)
      others.push_back({seed, plan.files.size(), nullptr});
  }
  for (other_order& other : others)
    other.record = dry_run(dry, start, own.owner, other.seed);
  return others;
}

/// Names in the rotation's folder that differ from a file of the
/// rotation's only in case.
std::vector<std::pair<std::string, std::string>> case_twins(
    disk_interface& disk, const run_record& record) {
  std::vector<std::pair<std::string, std::string>> twins;
  std::vector<std::string> names;
  if (!record.found || !disk.list_folder(record.folder, &names).ok())
    return twins;
  for (const std::string& name : names) {
    std::string as_named = rotation_file_in_any_case(name);
    if (!as_named.empty() && as_named != name)
      twins.emplace_back(shown_path(record.folder, name), std::move(as_named));
  }
  return twins;
}

/// The SW_rotate.cfg that the server's console will take in: the largest
/// a run writes in the orders planned, or, where the run keeps the
/// rotation, the one in place.
void rotation_for_configs(const run_start& start, const run_record& own,
                          std::size_t largest_first, config_request* configs) {
  if (own.result == run_record::outcome::kept || !own.carried_out) {
    configs->rotation_size =
        start.found && start.script.facts.kind == file_kind::regular
            ? static_cast<std::size_t>(start.script.facts.size)
            : 0;
    configs->source = rotation_source::in_place;
    return;
  }
  configs->next_run_size = own.plan.files.front().size;
  configs->rotation_size = largest_first;
  configs->source = largest_first != configs->next_run_size
                        ? rotation_source::largest_tried
                        : rotation_source::next_run;
}

/// The names in the folder of a map list that isn't there, sorted.
std::vector<std::string> beside_missing_list(disk_interface& disk,
                                             const run_start& start,
                                             const list_read& list) {
  std::vector<std::string> beside;
  if (list.status == disk_result::missing && !start.here.empty() &&
      !disk.list_folder(start.here.back(), &beside).ok())
    beside.clear();  // nothing to suggest: the list is still missing
  std::sort(beside.begin(), beside.end());
  return beside;
}

}  // namespace

bool run_facts::keeps_rotation() const {
  const auto keeps = [](const run_record& record) {
    return record.result == run_record::outcome::kept ||
           (record.planned && record.plan.order.empty());
  };
  return keeps(*own) ||
         std::any_of(others.begin(), others.end(), [&](const other_order& o) {
           return o.record->result == run_record::outcome::kept;
         });
}

check_facts check_rotation(disk_interface& disk, const user_database& users,
                           const owner_decision& owner, const run_start& start,
                           const std::vector<std::string>& game_folders,
                           bool named, config_request configs,
                           std::uint32_t ticks) {
  check_facts facts;
  // One dry disk for every run: what it learns of the real one, it asks
  // once.
  dry_disk dry(disk);
  facts.run.own = dry_run(dry, start, owner, ticks);
  const run_record& own = *facts.run.own;
  if (owner.result == owner_switch::given_up) {
    facts.run.user = user_shown(users, owner.user);
    facts.run.group = group_shown(users, owner.group);
  }
  facts.list =
      analyse_list(own.list, beside_missing_list(disk, start, own.list));
  facts.run.case_twins = case_twins(disk, own);
  facts.in_place = analyse_rotation_in_place(disk, start.here, own);
  std::size_t largest_first = 0;
  facts.run.others = other_orders(dry, start, own, &largest_first);
  facts.maps =
      analyse_maps(disk, start.here, own.plan.order, game_folders, named);
  rotation_for_configs(start, own, largest_first, &configs);
  facts.configs = analyse_configs(disk, start.here, configs);
  return facts;
}
