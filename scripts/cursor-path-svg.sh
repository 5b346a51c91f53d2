#!/usr/bin/env bash
# Draws the cursor path of one VM case as an SVG picture on standard output:
#   scripts/cursor-path-svg.sh [CONSOLE-LOG [CASE [SCENARIO]]] > docs/cursor-path.svg
# CONSOLE-LOG is the VM's serial console (default build/vm/console.log, which
# bash scripts/test.sh leaves), CASE the case whose X client's lines are
# drawn (default normal), SCENARIO the scenario that its remote played
# (default tests/vm/scenarios/normal.scn). Drawn are the desktop (the VM's
# Xvfb screen, as tests/vm/init starts it), every cursor position that the
# case's pointer-observer saw, joined in order, the button presses where they
# happened, and the spots where the scenario points the remote (for camera
# spot (x, y) the tool places the cursor at (512 + 3(512 - x), 512 + 3(y - 512))).
set -u
TOP=$(cd "$(dirname "$0")/.." && pwd)
log=${1:-$TOP/build/vm/console.log}
case=${2:-normal}
scenario=${3:-$TOP/tests/vm/scenarios/normal.scn}
[ -r "$log" ] || { echo "cannot read $log" >&2; exit 1; }
[ -r "$scenario" ] || { echo "cannot read $scenario" >&2; exit 1; }
screen=$(sed -n 's/^Xvfb .*-screen 0 \([0-9]*\)x\([0-9]*\)x.*/\1 \2/p' "$TOP/tests/vm/init" | head -n 1)
[ -n "$screen" ] || { echo "no Xvfb screen size in tests/vm/init" >&2; exit 1; }

# The observer's lines of the case ("ready X Y", "cursor X Y", "press N",
# "release N"); the serial console ends its lines with CR LF.
lines=$(tr -d '\r' < "$log" | sed -n "s/^$case observer| \{0,1\}//p")
if ! grep -q '^cursor ' <<<"$lines"; then
  echo "$log has no cursor positions of case $case" >&2
  exit 1
fi
# The spots the scenario points at: "point X Y" steps, comments left out.
spots=$(sed -e 's/#.*//' "$scenario" | awk '$2 == "point" { print $3, $4 }' | sort -u)

{ echo "screen $screen"; sed 's/^/spot /' <<<"$spots"; echo "$lines"; } | awk -v name="$case" '
  function esc(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); return s }
  $1 == "screen" { w = $2; h = $3; next }
  $1 == "spot" { sx[++spots] = 512 + 3 * (512 - $2); sy[spots] = 512 + 3 * ($3 - 512); next }
  $1 == "ready" || $1 == "cursor" { x = $2; y = $3; px[++n] = x; py[n] = y; next }
  $1 == "press" {
    key = $2 " " x " " y
    if (!(key in presses)) { order[++kinds] = key }
    presses[key]++
  }
  END {
    label[1] = "B: left button"; label[3] = "A: right button"
    label[4] = "wheel up"; label[5] = "wheel down"
    colour[1] = "#c0392b"; colour[3] = "#8e44ad"; colour[4] = "#27ae60"; colour[5] = "#d68910"
    printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"-10 -40 %d %d\" font-family=\"sans-serif\" font-size=\"16\">\n", (w + 20) * 0.75, (h + 130) * 0.75, w + 20, h + 130
    printf "<title>The cursor path of the VM case %s</title>\n", esc(name)
    printf "<text x=\"0\" y=\"-14\" font-size=\"20\">The cursor in the VM case &#8220;%s&#8221;: %d positions seen by an X client on a %dx%d desktop</text>\n", esc(name), n - 1, w, h
    printf "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"#f4f6f8\" stroke=\"#555\"/>\n", w, h
    printf "<polyline fill=\"none\" stroke=\"#333\" stroke-width=\"1.5\" points=\""
    for (i = 1; i <= n; i++) printf "%s%d,%d", (i > 1 ? " " : ""), px[i], py[i]
    printf "\"/>\n<g fill=\"#333\">"
    for (i = 2; i <= n; i++) printf "<circle cx=\"%d\" cy=\"%d\" r=\"2.5\"/>", px[i], py[i]
    printf "</g>\n"
    printf "<circle cx=\"%d\" cy=\"%d\" r=\"6\" fill=\"none\" stroke=\"#333\" stroke-width=\"2\"/>\n", px[1], py[1]
    printf "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">start (%d, %d)</text>\n", px[1], py[1] + 24, px[1], py[1]
    for (i = 1; i <= kinds; i++) {
      split(order[i], k, " ")
      b = k[1]
      # Presses of several buttons on one spot: rings around each other.
      ring = ++rings[k[2] " " k[3]]
      printf "<circle cx=\"%d\" cy=\"%d\" r=\"%d\" fill=\"none\" stroke=\"%s\" stroke-width=\"3\"/>\n", k[2], k[3], 5 + 5 * ring, (b in colour) ? colour[b] : "#000"
    }
    printf "<circle cx=\"%d\" cy=\"%d\" r=\"6\" fill=\"#333\"/>\n", px[n], py[n]
    printf "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">end (%d, %d)</text>\n", px[n] - 30, py[n] + 36, px[n], py[n]
    for (i = 1; i <= spots; i++) {
      printf "<g stroke=\"#2471a3\" stroke-width=\"2.5\"><line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/><line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/></g>\n", sx[i] - 12, sy[i] - 12, sx[i] + 12, sy[i] + 12, sx[i] - 12, sy[i] + 12, sx[i] + 12, sy[i] - 12
      printf "<text x=\"%d\" y=\"%d\" fill=\"#2471a3\" text-anchor=\"middle\">(%d, %d)</text>\n", sx[i], sy[i] - 36, sx[i], sy[i]
    }
    # The legend, below the desktop.
    ly = h + 30
    printf "<g stroke=\"#2471a3\" stroke-width=\"2\"><line x1=\"0\" y1=\"%d\" x2=\"16\" y2=\"%d\"/><line x1=\"0\" y1=\"%d\" x2=\"16\" y2=\"%d\"/></g>\n", ly - 13, ly + 3, ly + 3, ly - 13
    printf "<text x=\"24\" y=\"%d\">where the remote points (scenario)</text>\n", ly
    printf "<polyline points=\"320,%d 350,%d\" stroke=\"#333\" stroke-width=\"1.5\"/><circle cx=\"335\" cy=\"%d\" r=\"2.5\" fill=\"#333\"/>\n", ly - 5, ly - 5, ly - 5
    printf "<text x=\"360\" y=\"%d\">the cursor, position by position</text>\n", ly
    lx = 0
    ly += 34
    for (i = 1; i <= kinds; i++) {
      split(order[i], k, " ")
      b = k[1]
      text = ((b in label) ? label[b] : "button " b) " \303\227" presses[order[i]]
      printf "<circle cx=\"%d\" cy=\"%d\" r=\"7\" fill=\"none\" stroke=\"%s\" stroke-width=\"3\"/>\n", lx + 8, ly - 5, (b in colour) ? colour[b] : "#000"
      printf "<text x=\"%d\" y=\"%d\">%s</text>\n", lx + 22, ly, text
      lx += 22 + length(text) * 8.5 + 20
    }
    print "</svg>"
  }'
