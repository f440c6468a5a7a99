#!/usr/bin/env bash
# The README's first command on a fresh machine: scripts/demo.sh exactly as
# written, which builds what it needs and makes the Wine prefix itself. Its
# output has the shape the README shows (times, process ids, counts and the
# countdown's repeats aside), nothing goes to stderr, and the demo's settings
# are not left behind for the app.
. "$(dirname "$0")/journey.sh" demo "$@"

out=$TMPDIR/demo.out err=$TMPDIR/demo.err
step "scripts/demo.sh"
"$source_dir/scripts/demo.sh" >"$out" 2>"$err"
rc=$?
cat "$out" "$err"
[ $rc -eq 0 ] || fail "scripts/demo.sh exited with $rc: $(tail -1 "$err")"
[ ! -s "$err" ] || fail "scripts/demo.sh wrote to stderr: $(head -1 "$err")"

# What differs from run to run becomes N; a nudge with the countdown after it
# is one event, and repeated events count once.
shape() {
  tr -d '\r' | sed -E -e 's/^[0-9]{2}:[0-9]{2}:[0-9]{2} nudge [0-9]+:/TIME nudge N:/' -e 's/\(pid [0-9]+\)/(pid N)/' \
    -e 's/next nudge in [0-9]+ s/next nudge in N s/' -e 's/[0-9]+ nudges?, /N nudge(s), /' \
    -e 's/stopped after [0-9]+ s/stopped after N s/' |
    awk '/^TIME nudge N:/ { if (event != "") print event; event = $0; next }
         event != "" && /^next nudge in N s$/ { print event " | " $0; event = ""; next }
         event != "" { print event; event = "" }
         { print }
         END { if (event != "") print event }' | uniq
}
# The README's block of the demo's output: the first one after the paragraph
# that names the command.
readme_block() {
  awk '/^`scripts\/demo.sh \[seconds\]`/ { found = 1 }
       found && /^```/ { if (inside) exit; inside = 1; next }
       inside { print }' "$source_dir/README.md"
}
expected=$(readme_block | shape)
[ -n "$expected" ] || fail "README.md shows no output of scripts/demo.sh"
got=$(sed -n '/^mjctl [0-9]/,$p' "$out" | shape)
if [ "$got" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$got")
  fail "the demo's output differs from the README's (above: < README, > demo)"
fi

step "nothing of the demo is left in the prefix"
journey_machine
[ -z "$(prefix_pids 'mjtray[.]exe')" ] || fail "the demo left its agent running"
win reg query 'HKCU\Software\Veltrano\Mouse Jiggler' >/dev/null && fail "the demo left its settings behind"
echo "journey demo: the first command works on a fresh machine"
