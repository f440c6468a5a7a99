// Writes the texts of the options table (tests/options_cases.h) as the
// fuzzer's seed corpus, one file per case, so the table stays the one source.
//
//   make_seeds DIR
#include <stdio.h>
#include <string.h>

#include <string>

#include "../options_cases.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  int i = 0;
  for (const options_case &c : k_options_cases) {
    std::string path = std::string(argv[1]) + "/case" + std::to_string(i++);
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(c.text, 1, strlen(c.text), f) != strlen(c.text) || fclose(f) != 0) {
      fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
