// Reading, ordering and writing measured one stage at a time, so that a
// regression in the whole run can be traced to its stage.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "run/map_list.h"
#include "run/rotation_order.h"
#include "run/rotation_script.h"

namespace {

std::string map_list_text(long entries, long max_priority) {
  std::mt19937 random(7);
  std::uniform_int_distribution<long> priority(0, max_priority);
  std::string text;
  for (long i = 0; i < entries; ++i)
    text += "dm_map_" + std::to_string(random() % 100000000) + "_v" +
            std::to_string(i % 7) + " " + std::to_string(priority(random)) +
            "\r\n";
  return text;
}

void BM_ReadMapList(benchmark::State& state) {
  const std::string text = map_list_text(state.range(0), 100);
  for (auto _ : state) benchmark::DoNotOptimize(read_map_list(text));
  state.SetBytesProcessed(state.iterations() * static_cast<long>(text.size()));
}
BENCHMARK(BM_ReadMapList)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

void BM_BuildRotation(benchmark::State& state) {
  const std::string text = map_list_text(state.range(0), state.range(1));
  const map_list list = read_map_list(text);
  random_order order = seed_random_order(1);
  for (auto _ : state)
    benchmark::DoNotOptimize(build_rotation(list.entries, order));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildRotation)
    ->Args({100000, 100})
    ->Args({1000000, 100})
    ->Args({1000000, 2147483647})
    ->Unit(benchmark::kMillisecond);

void BM_WriteRotationScript(benchmark::State& state) {
  const std::string text = map_list_text(state.range(0), 100);
  const std::vector<map_entry> rotation = read_map_list(text).entries;
  long bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    write_rotation_script(rotation, [&](std::string_view piece) {
      bytes += static_cast<long>(piece.size());
      benchmark::DoNotOptimize(piece.data());
      return true;
    });
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_WriteRotationScript)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
