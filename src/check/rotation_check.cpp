#include "check/rotation_check.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "check/check_report.h"
#include "check/dry_disk.h"
#include "check/list_diagnostics.h"
#include "check/map_lookup.h"
#include "check/server_config.h"
#include "platform/path.h"
#include "run/generator_run.h"
#include "run/rotation_order.h"
#include "run/rotation_script.h"
#include "run/run_record.h"

namespace {

/// How many other orders of the same list are tried, at most, and how many
/// entries they may take in all, so that a list of a million maps still
/// checks in about the time of a run.
constexpr std::uint32_t most_other_orders = 64;
constexpr std::size_t other_orders_entries = 2000000;

/// How many files the rotation script for `rotation` takes, and the size
/// of its first, SW_rotate.cfg, into `*first` where given.
std::size_t parts_of(const std::vector<map_entry>& rotation,
                     std::size_t* first = nullptr) {
  const std::vector<rotation_file> files = rotation_files_of(rotation);
  if (first) *first = files.front().size;
  return files.size();
}

void report_order(report_text& out, const run_record& record) {
  out << "== The order of play\n";
  if (!record.ordered) out << "None: a run leaves the rotation first.\n";
  if (record.ordered && record.rotation.empty()) out << "No map.\n";
  const std::vector<map_entry>& rotation = record.rotation;
  // Where a run puts this rotation in place, the variable that loads each
  // map, and for a rotation of parts, the file that defines it.
  const bool placed =
      record.result != run_record::outcome::kept && !rotation.empty();
  const std::vector<rotation_file> files =
      placed ? rotation_files_of(rotation) : std::vector<rotation_file>();
  if (placed)
    out << "(vstr SWn at the server's console loads that map and goes on "
           "from there"
        << (files.size() > 1 ? "; a map of another part, once its file has "
                               "run: exec SW_rotateK.cfg"
                             : "")
        << ".)\n";
  std::size_t file = 0;
  for (std::size_t at = 0; at < rotation.size();) {
    std::size_t end = at;
    while (end < rotation.size() &&
           rotation[end].priority == rotation[at].priority)
      ++end;
    out << "Priority " << rotation[at].priority
        << (end - at > 1 ? ", in a fresh random order on every run:\n" : ":\n");
    for (; at < end; ++at) {
      out << "  " << shown(rotation[at].name);
      if (placed) {
        while (file + 1 < files.size() && files[file + 1].first <= at) ++file;
        out << " (vstr SW" << 2 * (at - files[file].first) + 1;
        if (files.size() > 1) out << " in " << rotation_script_file(file + 1);
        out << ")";
      }
      out << "\n";
    }
  }
  out << "\n";
}
/// That a run puts `files` files in place, of `parts` parts.
std::string puts_in_place(std::size_t parts, std::size_t files) {
  return std::string("a run puts ") +
         (files == 1 ? "this file" : "these files") + " in place (" +
         counted(parts, "part", "parts") + ")";
}

/// What a run with `record` does, as one sentence.
std::string verdict(const run_record& record) {
  switch (record.result) {
    case run_record::outcome::placed:
      return puts_in_place(record.parts, record.files.size());
    case run_record::outcome::unchanged:
      return "what is in place is this rotation already: a run changes "
             "nothing";
    default:
      return "a run leaves every file of the rotation as it is: " + record.why;
  }
}

/// Names in the rotation's folder that differ from a part's only in case,
/// which a server on Windows may run instead.
void report_case_twins(report_text& out, disk_interface& disk,
                       const run_record& record) {
  std::vector<std::string> names;
  if (!record.found || !disk.list_folder(record.folder, &names).ok()) return;
  for (const std::string& name : names) {
    const std::string as_named = rotation_file_in_any_case(name);
    if (!as_named.empty() && as_named != name)
      out << shown_path(record.folder, name) << " differs from " << as_named
          << " only in case: a server may run it instead\n";
  }
}

void report_files(report_text& out, disk_interface& disk,
                  const user_database& users, const owner_decision& owner,
                  const run_record& record) {
  out << "== The files\n";
  if (owner.result == owner_switch::given_up)
    out << "A run as root gives up root for good and acts as user "
        << user_shown(users, owner.user) << " in group "
        << group_shown(users, owner.group) << ", the owner of " << owner.folder
        << ".\n";
  for (const std::string& path : record.removed)
    out << "Removes " << path << ", left by a killed run\n";
  for (const auto& [path, size] : record.files)
    out << path << ": " << counted(size, "byte", "bytes") << "\n";
  std::string said = verdict(record);
  said[0] = static_cast<char>(said[0] - 'a' + 'A');
  out << said << ".\n";
  report_case_twins(out, disk, record);
}

/// Other orders of the same list, tried in a fixed set of orders so that
/// the same tree always gives the same answer.
struct orders_tried {
  /// One seed for each number of files other than the run's own, with that
  /// number.
  std::vector<std::pair<std::uint32_t, std::size_t>> others;
  /// The files of the run's own order and the size of its SW_rotate.cfg;
  /// the largest SW_rotate.cfg of all orders tried, the run's own too.
  std::size_t own_parts = 0, own_first = 0, largest_first = 0;
};

/// Tries other orders of the list the run read. A rotation of one file is
/// the same size in any order.
orders_tried other_orders(const run_record& record) {
  orders_tried tried;
  if (!record.ordered) return tried;
  tried.own_parts = parts_of(record.rotation, &tried.own_first);
  tried.largest_first = tried.own_first;
  std::set<std::size_t> seen = {tried.own_parts};
  if (record.rotation.empty() || fits_one_file(record.rotation)) return tried;
  const map_list list = read_map_list(record.list_text);
  const std::size_t tries = std::clamp<std::size_t>(
      other_orders_entries / std::max<std::size_t>(list.entries.size(), 1), 1,
      most_other_orders);
  for (std::uint32_t seed = 1; seed <= tries; ++seed) {
    seed_random_order(seed);
    std::size_t first = 0;
    const std::size_t parts = parts_of(build_rotation(list.entries), &first);
    if (seen.insert(parts).second) tried.others.emplace_back(seed, parts);
    tried.largest_first = std::max(tried.largest_first, first);
  }
  return tried;
}

/// Whether an order of the list that takes `parts` files may end otherwise
/// than the run's own, whose record is `own`: a run that puts its files in
/// place puts those of another order in place too, unless a file of the
/// rotation lies among the parts that one order writes and the other
/// doesn't, or right past them, or the disk (`real`) may lack the room for
/// the files more.
bool may_end_otherwise(disk_interface& real, const run_start& start,
                       const run_record& own, std::size_t parts) {
  if (own.result != run_record::outcome::placed || !start.found) return true;
  const std::size_t low = std::min(own.parts, parts),
                    high = std::max(own.parts, parts);
  for (std::size_t part = low + 1; part <= high + 1; ++part) {
    file_place place;
    std::string why;
    if (!find_part(real, start.script, part, &place, &why) ||
        place.facts.kind != file_kind::missing)
      return true;
  }
  disk_room room;
  return parts > own.parts && real.room(start.script.folder(), &room).ok() &&
         room.block_size > 0 &&
         (room.files <= high + 2 ||
          room.blocks <=
              (high + 2) * (max_script_file_size / room.block_size + 1));
}

/// Sets the bytes of the SW_rotate.cfg that the server's console will take
/// in, and where they come from where that isn't the next run's own: the
/// largest a run writes in the orders tried, or, where the run leaves the
/// rotation, the one in place.
void rotation_for_configs(const run_start& start, const run_record& record,
                          const orders_tried& tried, config_request* configs) {
  if (record.result == run_record::outcome::kept || !record.ordered) {
    configs->rotation_size =
        start.found && start.script.facts.kind == file_kind::regular
            ? static_cast<std::size_t>(start.script.facts.size)
            : 0;
    configs->rotation_why = "the SW_rotate.cfg in place, which a run keeps";
    return;
  }
  configs->rotation_size = tried.largest_first;
  if (tried.largest_first != tried.own_first)
    configs->rotation_why =
        "the largest SW_rotate.cfg of the orders tried; the next run's is " +
        std::to_string(tried.own_first) + " bytes";
}

/// Runs the tool on a disk that only pretends to write, seeded with
/// `ticks`, into `record`.
void dry_run(dry_disk& dry, const run_start& start, std::uint32_t ticks,
             run_record& record) {
  dry.forget_changes();
  run_from(dry, start, ticks, record);
}

}  // namespace

check_result check_rotation(disk_interface& disk, const user_database& users,
                            const owner_decision& owner, const run_start& start,
                            const std::vector<std::string>& game_folders,
                            bool named, config_request configs,
                            std::uint32_t ticks) {
  report_text out;
  out << "What the next run of map_rotation here will do\n\n";
  const bool runs = owner.result == owner_switch::kept ||
                    owner.result == owner_switch::given_up;
  // One dry disk for every run tried: what it learns of the real one, it
  // asks once.
  dry_disk dry(disk);
  run_record own;
  if (runs) {
    dry_run(dry, start, ticks, own);
  } else {
    take_map_list(start, own);
    own.keep(owner.why);
  }
  std::vector<std::string> beside;
  if (own.list_read == disk_result::missing && !start.here.empty())
    disk.list_folder(start.here.back(), &beside);
  std::sort(beside.begin(), beside.end());
  const bool mistakes = report_list(out, own, beside);
  report_order(out, own);
  report_files(out, disk, users, owner, own);
  bool kept = own.result == run_record::outcome::kept ||
              (own.ordered && own.rotation.empty());
  const orders_tried tried = other_orders(own);
  if (!tried.others.empty())
    out << "In the order above the rotation takes "
        << counted(tried.own_parts, "file", "files") << ".\n";
  for (const auto& [seed, parts] : tried.others) {
    // Where nothing there could end it otherwise, it is not run again.
    std::string then = puts_in_place(parts, parts);
    if (may_end_otherwise(disk, start, own, parts)) {
      run_record other;
      dry_run(dry, start, seed, other);
      then = verdict(other);
      kept = kept || other.result == run_record::outcome::kept;
    }
    out << "In another order of the same list the rotation takes "
        << counted(parts, "file", "files") << ": then " << then << ".\n";
  }
  out << "\n";
  // Where the run didn't order the list, its maps are still looked for.
  const std::vector<map_entry> maps =
      own.ordered || !own.list_read.ok()
          ? own.rotation
          : build_rotation(read_map_list(own.list_text).entries);
  const bool found =
      report_maps(out, disk, start.here, maps, game_folders, named);
  out << "\n";
  rotation_for_configs(start, own, tried, &configs);
  const bool started = report_configs(out, disk, start.here, configs);
  check_result result;
  result.status = kept ? 2 : mistakes || !found || !started ? 1 : 0;
  out << "Exit status " << result.status << "\n";
  result.report = std::move(out.text);
  return result;
}
