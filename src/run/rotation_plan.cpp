#include "run/rotation_plan.h"

#include <algorithm>
#include <utility>

#include "run/rotation_order.h"

rotation_plan plan_rotation(map_list list, std::uint32_t seed) {
  random_order order = seed_random_order(seed);
  rotation_plan plan;
  plan.order = build_rotation(std::move(list.entries), order);
  plan.files = rotation_files_of(plan.order);
  return plan;
}

map_place place_of(const rotation_plan& plan, std::size_t at) {
  // The last file whose first map is at or before `at`.
  const auto file =
      std::upper_bound(plan.files.begin() + 1, plan.files.end(), at,
                       [](std::size_t map, const rotation_file& each) {
                         return map < each.first;
                       });
  const std::size_t index =
      static_cast<std::size_t>(file - plan.files.begin()) - 1;
  return {index + 1, 2 * (at - plan.files[index].first) + 1};
}
