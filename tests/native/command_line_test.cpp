// mjctl's command line, read as mjctl reads it: each refusal with the
// message a person reads, what an accepted one asks for (the options a run
// gives the DLL, the request a start sends the agent), and the usage text
// as the README shows it.
#include "command_line.h"

#include <stdio.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "protocol.h"

namespace {

struct cli_case {
  std::vector<std::string> args;  // after the program's name
  const char *expected;           // the message of a refusal, or what is asked for
};

// Reads args as mjctl's arguments; the message when refused.
bool read(const std::vector<std::string> &args, mjh_command_line *cli, std::string *message) {
  std::vector<const char *> argv{"mjctl"};
  for (const std::string &arg : args) argv.push_back(arg.c_str());
  mjh_text_buffer<512> err;
  const bool ok = mjh_command_line_read(static_cast<int>(argv.size()), argv.data(), cli, &err);
  *message = err.c_str();
  return ok;
}

std::string args_text(const std::vector<std::string> &args) {
  std::string text = "mjctl";
  for (const std::string &arg : args) text += " [" + arg + "]";
  return text;
}

const cli_case k_refused[] = {
    // Options texts a person mistyped: refused before the DLL sees them.
    {{"run", "--options", R"({"mode":"fast"})"}, R"(--options: "mode" must be "zen" or "move", not "fast")"},
    {{"run", "--options", "[1]", "--for", "5"}, "--options: not a JSON object"},
    {{"run", "--options", R"({"interval_s":9000})"},
     R"(--options: "interval_s" must be a whole number from 1 to 3600, not 9000)"},
    {{"run", "--options", R"({"interval_s":1.5})"},
     R"(--options: "interval_s" must be a whole number from 1 to 3600, not 1.5)"},
    {{"run", "--options", R"({"speed":3})"}, R"(--options: unknown key "speed")"},
    {{"run", "--options", "{} {}"}, "--options: not one JSON object: text after its end"},
    {{"nudge", "--options", "mode=zen"}, "--options: not JSON"},
    {{"nudge", "--options", ""}, "--options: empty, not a JSON object"},
    {{"nudge", "--options", R"({"dry_run":1})"}, R"(--options: "dry_run" must be true or false, not 1)"},
    {{"nudge", "--options", R"({"dry_run":"yes"})"}, R"(--options: "dry_run" must be true or false, not "yes")"},
    {{"nudge", "--options", R"({"keep_awake":true})"}, R"(--options: "keep_awake" is not an option here)"},
    {{"start", "--options", R"({"dx":"2"})"}, R"(--options: "dx" must be a whole number from -200 to 200, not "2")"},
    {{"start", "--options", R"({"mode":"zen","mode":"move"})"}, R"(--options: duplicate key "mode")"},

    // Commands and arguments.
    {{}, "no command given"},
    {{"frobnicate"}, R"(unknown command "frobnicate")"},
    {{"RUN"}, R"(unknown command "RUN")"},
    {{"idle", "extra"}, R"(unexpected argument "extra")"},
    {{"run", "nudge"}, R"(unexpected argument "nudge")"},
    {{"run", "--bogus"}, R"(unknown flag "--bogus")"},
    {{"run", "-x"}, R"(unknown flag "-x")"},
    {{"run", "--bogus=1"}, R"(unknown flag "--bogus")"},

    // Values: missing, not numbers, out of range.
    {{"run", "--interval"}, "--interval needs a value"},
    {{"run", "--options"}, "--options needs a value"},
    {{"run", "--interval", "abc"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "abc")"},
    {{"run", "--interval", "1.5"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "1.5")"},
    {{"run", "--interval", "12abc"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "12abc")"},
    {{"run", "--interval", ""}, R"(--interval needs a whole number of seconds from 1 to 3600, not "")"},
    {{"run", "--interval", "0"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "0")"},
    {{"run", "--interval", "3601"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "3601")"},
    {{"run", "--interval=-5"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "-5")"},
    {{"run", "--interval", "0x10"}, R"(--interval needs a whole number of seconds from 1 to 3600, not "0x10")"},
    {{"run", "--interval= 5"}, R"(--interval needs a whole number of seconds from 1 to 3600, not " 5")"},
    {{"nudge", "--dx", "201"}, R"(--dx needs a whole number of pixels from -200 to 200, not "201")"},
    {{"nudge", "--dx=+"}, R"(--dx needs a whole number of pixels from -200 to 200, not "+")"},
    {{"nudge", "--dx", "99999999999999"},
     R"(--dx needs a whole number of pixels from -200 to 200, not "99999999999999")"},
    {{"nudge", "--dy", "-201"}, R"(--dy needs a whole number of pixels from -200 to 200, not "-201")"},
    {{"nudge", "--dy", "one"}, R"(--dy needs a whole number of pixels from -200 to 200, not "one")"},
    {{"run", "--for", "0"}, R"(--for: "0" is too short: at least 1 s)"},
    {{"run", "--for", "0s"}, R"(--for: "0s" is too short: at least 1 s)"},
    {{"run", "--for", "-3"}, R"(--for: "-3" is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m)"},
    {{"run", "--for", "2000001"}, R"(--for: "2000001" is too long: at most 2000000 s (23 days))"},
    {{"run", "--for", "600h"}, R"(--for: "600h" is too long: at most 2000000 s (23 days))"},
    {{"run", "--for", "soon"}, R"(--for: "soon" is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m)"},
    {{"run", "--for", "1.5h"}, R"(--for: "1.5h" is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m)"},
    {{"run", "--for", "30m1h"}, R"(--for: "30m1h" is not a duration: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m)"},
    {{"run", "--for", ""}, "--for: no duration given: write e.g. 90 (seconds), 90s, 45m, 2h or 1h30m"},
    {{"run", "--until", "25:00"},
     R"(--until: "25:00" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30)"},
    {{"run", "--until", "17:60"},
     R"(--until: "17:60" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30)"},
    {{"run", "--until", "5pm"}, R"(--until: "5pm" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30)"},
    {{"run", "--until"}, "--until needs a value"},
    {{"run", "--until", "end"},
     "--until end (the end of today's working hours) is for start: run has no working hours"},
    {{"run", "--for", "2s", "--until", "17:30"}, "--for and --until exclude each other"},
    {{"start", "--until=17:30", "--for=1h"}, "--for and --until exclude each other"},
    {{"start", "--hours", "17:00-09:00x"},
     R"(--hours: "09:00x" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30)"},
    {{"start", "--hours", "08:00-12:00,11:00-13:00"}, "--hours: the spans 08:00-12:00 and 11:00-13:00 overlap"},
    {{"start", "--hours", "9-5"},
     R"(--hours: "9-5" ends before it starts: write 09:00-17:00, or 21:00-05:00 for a night)"},
    {{"start", "--hours", ""}, "--hours: no working hours given: write e.g. 08:30-12:00,13:00-17:30, or any"},
    {{"start", "--days", "someday"},
     R"(--days: "someday" is not a day: use mon, tue, wed, thu, fri, sat, sun, a range such as mon-fri, or all)"},
    {{"start", "--options", R"({"for":60})", "--for", "2m"},
     "--options names a schedule or condition key that a flag names too: give it once"},
    {{"start", "--options", R"({"for":60})", "--until", "17:00"}, "--for and --until exclude each other"},
    {{"start", "--options", R"({"until":"noon"})"},
     R"(--options: "until": "noon" is not a time of day: write HH:MM from 00:00 to 24:00, e.g. 08:30)"},
    {{"run", "--options", R"({"hours":"any"})"}, R"(--options: unknown key "hours")"},
    {{"run", "--mode", "fast"}, R"(--mode needs zen or move, not "fast")"},
    {{"run", "--mode", "ZEN"}, R"(--mode needs zen or move, not "ZEN")"},
    {{"run", "--always=yes"}, "--always takes no value"},
    {{"nudge", "--json=1"}, "--json takes no value"},

    // Flags that do not fit the command, or each other.
    {{"nudge", "--interval", "5"}, "--interval does not apply to nudge"},
    {{"nudge", "--always"}, "--always does not apply to nudge"},
    {{"nudge", "--for", "3"}, "--for does not apply to nudge"},
    {{"idle", "--json"}, "--json does not apply to idle"},
    {{"status", "--mode", "zen"}, "--mode does not apply to status"},
    {{"stop", "--json"}, "--json does not apply to stop"},
    {{"quit", "--dry-run"}, "--dry-run does not apply to quit"},
    {{"status", "--for", "5"}, "--for does not apply to status"},
    {{"nudge", "--until", "17:30"}, "--until does not apply to nudge"},
    {{"run", "--hours", "08:00-17:00"}, "--hours does not apply to run"},
    {{"run", "--days", "mon-fri"}, "--days does not apply to run"},
    {{"stop", "--hours", "any"}, "--hours does not apply to stop"},
    {{"start", "--json"}, "--json does not apply to start"},
    {{"run", "--idle-only"}, "--idle-only does not apply to run"},
    {{"nudge", "--keep-awake"}, "--keep-awake does not apply to nudge"},
    {{"start", "--always", "--idle-only"}, "--always and --idle-only contradict each other"},
    {{"start", "--keep-awake=1"}, "--keep-awake takes no value"},
    {{"start", "stop"}, R"(unexpected argument "stop")"},
    {{"--dx", "1", "version"}, "--dx does not apply to version"},
    {{"run", "--options", "{}", "--mode", "zen"},
     "--options cannot be combined with --mode: put it in the options text"},
    {{"run", "--dry-run", "--options", "{}"},
     "--options cannot be combined with --dry-run: put it in the options text"},
    {{"run", "--keep-awake", "--options", "{}"},
     "--options cannot be combined with --keep-awake: put it in the options text"},
    {{"start", "--options", "{}", "--idle-only"},
     "--options cannot be combined with --idle-only: put it in the options text"},

    // run --while: a process id or one program name, running.
    {{"run", "--while"}, "--while needs a value"},
    {{"run", "--while", ""}, "--while takes one process id or one program name, e.g. 1234 or obs64.exe"},
    {{"run", "--while", "any"}, "--while takes one process id or one program name, e.g. 1234 or obs64.exe"},
    {{"run", "--while", "obs64.exe,mstsc.exe"},
     "--while takes one process id or one program name, e.g. 1234 or obs64.exe"},
    {{"run", "--while", "0"}, R"(--while: "0" is not a process id)"},
    {{"run", "--while", "4294967296"}, R"(--while: "4294967296" is not a process id)"},
    {{"run", "--while", "00000000000000000001"}, R"(--while: "00000000000000000001" is not a process id)"},
    {{"run", "--while", R"(C:\obs\obs64.exe)"},
     R"(--while: "C:\\obs\\obs64.exe" is not a program name: give the name alone, without its folder or drive (e.g. obs64.exe))"},
    {{"run", "--while", "obs*"},
     R"(--while: "obs*" is not a program name: wildcards are not taken: give the whole name (e.g. obs64.exe))"},
    {{"start", "--while", "1234"}, "--while does not apply to start"},
    {{"nudge", "--while", "obs64.exe"}, "--while does not apply to nudge"},

    // The conditions: start only, read strictly.
    {{"start", "--battery-floor", "4"},
     R"(--battery-floor needs a whole percent from 5 to 95, or 0 to turn it off, not "4")"},
    {{"start", "--battery-floor", "96"},
     R"(--battery-floor needs a whole percent from 5 to 95, or 0 to turn it off, not "96")"},
    {{"start", "--battery-floor", "20%"},
     R"(--battery-floor needs a whole percent from 5 to 95, or 0 to turn it off, not "20%")"},
    {{"start", "--battery-floor"}, "--battery-floor needs a value"},
    {{"start", "--while-running", ""},
     "--while-running: no program names given: write e.g. obs64.exe,mstsc.exe, or any"},
    {{"start", "--while-running", "a.exe,,b.exe"},
     R"(--while-running: an empty name in "a.exe,,b.exe": write the names between commas, e.g. obs64.exe,mstsc.exe)"},
    {{"start", "--while-running", R"(C:\x.exe)"},
     R"(--while-running: "C:\\x.exe" is not a program name: give the name alone, without its folder or drive (e.g. obs64.exe))"},
    {{"start", "--on-ac-only=yes"}, "--on-ac-only takes no value"},
    {{"run", "--on-ac-only"}, "--on-ac-only does not apply to run"},
    {{"run", "--while-running", "obs64.exe"}, "--while-running does not apply to run"},
    {{"nudge", "--battery-floor", "20"}, "--battery-floor does not apply to nudge"},
    {{"start", "--options", R"({"ac_only":true})", "--on-ac-only"},
     "--options names a schedule or condition key that a flag names too: give it once"},

};

class CommandLineRefused : public ::testing::TestWithParam<cli_case> {};

TEST_P(CommandLineRefused, WithAMessageThatNamesTheFault) {
  const cli_case &c = GetParam();
  mjh_command_line cli;
  std::string message;
  EXPECT_FALSE(read(c.args, &cli, &message)) << args_text(c.args);
  EXPECT_EQ(message, c.expected) << args_text(c.args);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineRefused, ::testing::ValuesIn(k_refused));

const char *const k_command_words[] = {"",
                                       "run",
                                       "nudge",
                                       "idle",
                                       "start",
                                       "stop",
                                       "status",
                                       "quit",
                                       "version",
                                       "help",
                                       "installer-stop",
                                       "installer-start",
                                       "installer-cleanup"};

// What an accepted command line asks for, in one line: the command and
// mjctl's own flags; for run and nudge the options (all of them, as the run
// gets them) and a run's --for or --until; for start the request it sends.
std::string asked(const mjh_command_line &cli) {
  mjh_text_buffer<MJH_REQUEST_MAX + 256> out;
  out.add(k_command_words[cli.cmd]);
  for (const char *operand : cli.operands)
    if (operand) out.add(' ', operand);
  if (cli.json) out.add(" --json");
  if (cli.wait) out.add(" --wait");
  if (cli.quiet) out.add(" --quiet");
  if (cli.has_while && cli.while_pid) out.add(" while process ", cli.while_pid);
  if (cli.has_while && !cli.while_pid) out.add(" while ", cli.while_program.names[0]);
  if (cli.cmd == MJH_CLI_RUN || cli.cmd == MJH_CLI_NUDGE) {
    out.add(' ');
    mjh_options_json(&cli.run, out);
    if (cli.schedule.given) {
      out.add(" {");
      mjh_schedule_request_put(&cli.schedule, out);
      out.add('}');
    }
  } else if (cli.cmd == MJH_CLI_START) {
    out.add(' ');
    EXPECT_TRUE(mjh_request_format(MJH_CMD_START, &cli.run, cli.run_keys, &cli.schedule, out));
    out.rewind(out.size() - 1);  // its line end
  }
  EXPECT_TRUE(out.ok());
  return out.c_str();
}

#define RUN_OPTIONS(mode, interval, dx, dy, idle, dry, awake)                                                  \
  "{\"mode\":\"" mode "\",\"interval_s\":" #interval ",\"dx\":" #dx ",\"dy\":" #dy ",\"only_when_idle\":" idle \
  ",\"dry_run\":" dry ",\"keep_awake\":" awake "}"
#define DEFAULTS RUN_OPTIONS("zen", 60, 1, 1, "true", "false", "false")

const cli_case k_accepted[] = {
    // Help anywhere, and the commands without flags.
    {{"--help"}, "help"},
    {{"-h"}, "help"},
    {{"help"}, "help"},
    {{"run", "--mode", "move", "--help"}, "help"},
    {{"version"}, "version"},
    {{"idle"}, "idle"},
    {{"status", "--json"}, "status --json"},
    {{"quit", "--wait", "--quiet"}, "quit --wait --quiet"},
    {{"installer-cleanup", "user", "{0C0FFEE0}"}, "installer-cleanup user {0C0FFEE0}"},

    // The flags of a run or a nudge, as the DLL gets them.
    {{"run"}, "run " DEFAULTS},
    {{"run", "--mode", "move", "--interval", "7", "--dx", "-3", "--dy", "9", "--always", "--dry-run"},
     "run " RUN_OPTIONS("move", 7, -3, 9, "false", "true", "false")},
    {{"run", "--interval=3600", "--dx=-200", "--dy=200", "--mode=zen"},
     "run " RUN_OPTIONS("zen", 3600, -200, 200, "true", "false", "false")},
    {{"run", "--keep-awake", "--always"}, "run " RUN_OPTIONS("zen", 60, 1, 1, "false", "false", "true")},
    {{"run", "--options", R"({"mode":"move","interval_s":3000,"dx":-7,"dry_run":true})"},
     "run " RUN_OPTIONS("move", 3000, -7, 1, "true", "true", "false")},
    {{"run", "--options", R"({"keep_awake":true,"only_when_idle":false,"dy":4})"},
     "run " RUN_OPTIONS("zen", 60, 1, 4, "false", "false", "true")},
    {{"run", "--json", "--for", "1h30m"}, "run --json " DEFAULTS R"( {"for":5400})"},
    {{"run", "--until", "7:05"}, "run " DEFAULTS R"( {"until":"07:05"})"},
    {{"run", "--while", "1234"}, "run while process 1234 " DEFAULTS},
    {{"run", "--while", "OBS64"}, "run while OBS64.exe " DEFAULTS},
    {{"nudge", "--mode", "move", "--dy=-2"}, "nudge " RUN_OPTIONS("move", 60, 1, -2, "true", "false", "false")},
    {{"nudge", "--options", R"({"interval_s":5,"only_when_idle":false})"},
     "nudge " RUN_OPTIONS("zen", 5, 1, 1, "false", "false", "false")},

    // A start names only the keys of its flags: the agent keeps the rest.
    {{"start"}, R"(start {"cmd":"start"})"},
    {{"start", "--interval", "30"}, R"(start {"cmd":"start","options":{"interval_s":30}})"},
    {{"start", "--mode", "zen", "--dx", "3"}, R"(start {"cmd":"start","options":{"mode":"zen","dx":3}})"},
    {{"start", "--idle-only"}, R"(start {"cmd":"start","options":{"only_when_idle":true}})"},
    {{"start", "--always", "--keep-awake", "--dry-run", "--dy", "7"},
     R"(start {"cmd":"start","options":{"dy":7,"only_when_idle":false,"dry_run":true,"keep_awake":true}})"},
    {{"start", "--options", R"({"keep_awake":false,"dry_run":false})"},
     R"(start {"cmd":"start","options":{"dry_run":false,"keep_awake":false}})"},
    {{"start", "--options", "{}"}, R"(start {"cmd":"start"})"},
    // ...and the schedule's and the conditions', from flags or --options.
    {{"start", "--hours", "08:30-12:00,13:00-17:30", "--days", "mon-fri"},
     R"(start {"cmd":"start","options":{"hours":"08:30-12:00,13:00-17:30","days":"mon-fri"}})"},
    {{"start", "--hours", "any"}, R"(start {"cmd":"start","options":{"hours":"any"}})"},
    {{"start", "--interval", "20", "--for", "1h30m"},
     R"(start {"cmd":"start","options":{"interval_s":20,"for":5400}})"},
    {{"start", "--for", "90"}, R"(start {"cmd":"start","options":{"for":90}})"},
    {{"start", "--until", "24:00", "--days", "sat,sun"},
     R"(start {"cmd":"start","options":{"days":"sat,sun","until":"24:00"}})"},
    {{"start", "--until", "END"}, R"(start {"cmd":"start","options":{"until":"end"}})"},
    {{"start", "--until", "end", "--hours", "9-17"},
     R"(start {"cmd":"start","options":{"hours":"09:00-17:00","until":"end"}})"},
    {{"start", "--options", R"({"dx":3,"hours":"22:00-06:00"})", "--days", "fri"},
     R"(start {"cmd":"start","options":{"dx":3,"hours":"22:00-06:00","days":"fri"}})"},
    {{"start", "--while-running", "obs64,mstsc.exe", "--foreground", "--on-ac-only", "--battery-floor", "20"},
     R"(start {"cmd":"start","options":{"while_running":"obs64.exe,mstsc.exe","foreground":true,"ac_only":true,)"
     R"("battery_floor":20}})"},
    {{"start", "--battery-floor=0", "--options", R"({"while_running":"any","foreground":false})"},
     R"(start {"cmd":"start","options":{"while_running":"any","foreground":false,"battery_floor":0}})"},
};

class CommandLineAccepted : public ::testing::TestWithParam<cli_case> {};

TEST_P(CommandLineAccepted, AsksForWhatItSays) {
  const cli_case &c = GetParam();
  mjh_command_line cli;
  std::string message;
  ASSERT_TRUE(read(c.args, &cli, &message)) << args_text(c.args) << ": " << message;
  EXPECT_EQ(message, "");
  EXPECT_EQ(asked(cli), c.expected) << args_text(c.args);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineAccepted, ::testing::ValuesIn(k_accepted));

// The usage text, its flags from the settings' table, is the one the README
// shows word for word (a test under Wine asks the real mjctl too).
TEST(CommandLine, TheUsageTextIsTheReadmes) {
  mjh_text_buffer<8192> usage;
  mjh_command_line_usage(usage);
  ASSERT_TRUE(usage.ok());
  FILE *file = fopen(MJ_README, "rb");
  ASSERT_NE(file, nullptr) << MJ_README;
  std::string readme;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, file)) > 0;) readme.append(buf, n);
  fclose(file);
  EXPECT_NE(readme.find("```\n" + std::string(usage.c_str()) + "```"), std::string::npos) << usage.c_str();
  EXPECT_NE(std::string(usage.c_str()).find("  --interval S      seconds between nudges, 1 to 3600 (default 60)\n"),
            std::string::npos)
      << "the interval's range and default from its row";
}

}  // namespace
