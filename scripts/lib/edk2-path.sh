# Sourced: edk2_path prints the EDK II tree set-up settled on. Under make the
# setup target ran scripts/build/setup.sh once for the invocation and wrote the
# path to $TAVRIX_SETUP_FILE; elsewhere (a script run by hand) set-up runs
# now, quietly skipping what is done.
edk2_path() {
  if [ -n "${TAVRIX_SETUP_FILE:-}" ] && [ -s "$TAVRIX_SETUP_FILE" ]; then cat "$TAVRIX_SETUP_FILE"
  else TAVRIX_SETUP_QUIET=1 bash "$(dirname "${BASH_SOURCE[0]}")/../build/setup.sh" | tail -n 1
  fi
}
