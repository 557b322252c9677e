# Sourced by the scripts that run a program of the Windows build under Wine:
# on a virtual X display of their own and, where the program is met as a
# user meets it, on one virtual desktop with a task bar, so that windows have
# their frames and tray icons a place to show. The caller sets WINEPREFIX (a
# prefix of its own) and `work` (its temporary folder), and calls
# wine_desktop_stop when it ends.

xvfb_pid=

# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local tenths=$1
  shift
  for _ in $(seq 1 "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Starts Xvfb and exports DISPLAY. False when the display did not start.
wine_display_start() {
  exec 3> "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  within 100 test -s "$work/display" || return 1
  export DISPLAY=":$(head -n1 "$work/display")"
}

# Starts the display and makes the prefix's programs run on one desktop with
# a task bar. False when the display did not start.
wine_desktop_start() {
  wine_display_start || return 1
  if [ ! -f "$WINEPREFIX/.korva-desktop" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.korva-desktop"
  fi
}

# The prefix is the caller's own: its server and processes are ours; Xvfb by its id.
wine_desktop_stop() {
  wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}

# Installs program $3 of the bin folder $1, with the language libraries, in
# the folder $2 (made when missing).
install_program() {
  mkdir -p "$2"
  cp "$1/$3" "$2/"
  for folder in DEU ENG FRA ITA; do
    cp -r "$1/$folder" "$2/"
  done
}

has_ended() { ! kill -0 "$1" 2>/dev/null; }

# True when the process with id $1 has ended within 30 seconds.
ends_within_30s() {
  within 300 has_ended "$1"
}

# How many pixels of colour $2 (#RRGGBB) a screenshot $1 holds in the right
# end of the task bar, where the tray icons show.
tray_icon_pixels() {
  convert "$1" -gravity SouthEast -crop 64x20+0+0 +repage txt:- | grep -ci "$2" || true
}
