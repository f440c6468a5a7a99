// The options texts that both benchmarks read: a typical one, and a long
// adversarial one built to make the flat key search work hard.
#ifndef MJ_BENCH_OPTIONS_TEXTS_H
#define MJ_BENCH_OPTIONS_TEXTS_H

#include <string>

static const char k_typical_options[] =
    "{\"mode\":\"move\",\"interval_s\":30,\"dx\":1,\"dy\":1,\"only_when_idle\":true,\"dry_run\":false}";

// About 12 KiB: deep nesting, and for each key many near misses (the quoted
// key with no colon after it, in a value and after a long run of whitespace,
// and keys one byte longer, shorter or in another case), with the real
// members at the very end, so that every lookup scans the whole text and
// passes over every near miss.
inline std::string adversarial_options(void) {
  const char *keys[] = {"mode", "interval_s", "dx", "dy", "only_when_idle", "dry_run"};
  std::string t = "{";
  for (int i = 0; i < 200; i++) t += "\"n\":{";
  for (const char *k : keys) {
    std::string key = k;
    for (int i = 0; i < 10; i++) {
      t += "\"v\":\"" + key + "\",";
      t += "\"" + key + "\"" + std::string(64, ' ') + "\t\r\n,";
      t += "\"" + key + "x\":1,\"x" + key + "\":1,\"" + key.substr(1) + "\":1,";
      t += "\"" + std::string(1, (char)(key[0] - 32)) + key.substr(1) + "\":1,";
    }
  }
  for (int i = 0; i < 200; i++) t += "}";
  t += ",\"mode\":\"move\",\"interval_s\":30,\"dx\":-2,\"dy\":2,\"only_when_idle\":false,\"dry_run\":true}";
  return t;
}

#endif
