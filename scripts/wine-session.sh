# Sourced by the scripts that run Windows programs: one persistent Wine server
# for the whole run over the Windows build's private prefix, so each program
# starts in a fraction of a second instead of bringing its own server up and
# down.
#   wine_session_start   exports WINEPREFIX and WINEDEBUG, starts the server
#   wine_session_end     stops it
wine_session_start() {
  export WINEPREFIX="$PWD/build/windows/wineprefix"
  export WINEDEBUG=-all
  if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # Let the server that set the prefix up go before a persistent one starts.
    wineserver -w >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's own services now, detached from any program: the first
  # program of a server starts them, and they would keep that program's
  # output pipe open.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_end() {
  wineserver -k >/dev/null 2>&1 || true
}
