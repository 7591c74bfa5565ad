# Sourced by the build scripts: prepares the EDK II build environment with
# this repository first in PACKAGES_PATH, so that our packages win and
# MdePkg/MdePkg.dec still resolves to EDK II's. Under make, set-up ran once
# for the whole invocation (edk2_path); a script run by hand runs it here.
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$REPO/scripts/lib/edk2-path.sh"
EDK2=$(edk2_path)
export WORKSPACE=$REPO
export PACKAGES_PATH=$REPO:$EDK2
export EDK_TOOLS_PATH=$EDK2/BaseTools
export CONF_PATH=$REPO/Conf
mkdir -p "$CONF_PATH"
# edksetup.sh copies the Conf templates on first use and puts BaseTools on PATH.
# It reads the positional parameters, so it is sourced from a function that has none.
edk2_setup() { set +u; . "$EDK2/edksetup.sh" >/dev/null; set -u; }
edk2_setup
