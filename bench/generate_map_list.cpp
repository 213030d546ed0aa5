// Writes a reproducible map list for the benchmarks:
//   generate_map_list ENTRIES MAX_PRIORITY SEED OUTPUT
// Names look like real map names (10 to 30 bytes), lines end in CR LF, and
// about one entry in a hundred has a negative priority.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s ENTRIES MAX_PRIORITY SEED OUTPUT\n",
                 argv[0]);
    return 2;
  }
  const long entries = std::atol(argv[1]);
  const long max_priority = std::atol(argv[2]);
  std::mt19937 random(static_cast<unsigned>(std::atol(argv[3])));
  std::FILE* out = std::fopen(argv[4], "wb");
  if (!out) return 1;
  static const char* const parts[] = {
      "arena",  "canyon", "castle", "depot",   "docks",  "forge", "frost",
      "harbor", "keep",   "mill",   "outpost", "quarry", "ruins", "sky",
      "temple", "tower",  "vault",  "wharf",   "yard",   "zenith"};
  std::uniform_int_distribution<int> part(0, 19), length(10, 30);
  std::uniform_int_distribution<long> priority(0, max_priority);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string name;
  for (long i = 0; i < entries; ++i) {
    const std::size_t wanted = static_cast<std::size_t>(length(random));
    name = "dm_";
    while (name.size() < wanted) name += std::string(parts[part(random)]) + "_";
    name.resize(wanted);
    if (name.back() == '_') name.back() = 'x';
    const long p =
        percent(random) == 0 ? -1 - percent(random) : priority(random);
    std::fprintf(out, "%s %ld\r\n", name.c_str(), p);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
