# Sourced by the build scripts: runs set-up (quietly skipping what is done)
# and prepares the EDK II build environment with this repository first in
# PACKAGES_PATH, so that our packages win and MdePkg/MdePkg.dec still
# resolves to EDK II's.
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
EDK2=$(TAVRIX_SETUP_QUIET=1 bash "$REPO/scripts/setup.sh" | tail -n 1)
export WORKSPACE=$REPO
export PACKAGES_PATH=$REPO:$EDK2
export EDK_TOOLS_PATH=$EDK2/BaseTools
export CONF_PATH=$REPO/Conf
mkdir -p "$CONF_PATH"
# edksetup.sh copies the Conf templates on first use and puts BaseTools on PATH.
# It reads the positional parameters, so it is sourced from a function that has none.
edk2_setup() { set +u; . "$EDK2/edksetup.sh" >/dev/null; set -u; }
edk2_setup
