#include "run/generator_run.h"

int main() { return run_generator(); }
