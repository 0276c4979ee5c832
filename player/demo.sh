#!/usr/bin/env bash
# ./zel demo: the main job on the simulated player, a restart of all services.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
speed=${ZEL_DEMO_SPEED:-8}
flash=${ZEL_FLASH:-$top/build/player-flash.img}

echo "zel demo: booting the simulated player from the flash image $flash"
echo "zel demo: the player's clock runs $speed times faster than real time"
exec "$here/zelplayer" --build "$top/build/release" --rootfs "$top/build/rootfs" \
  --flash "$flash" --daemon --speed "$speed" --bind "$here" \
  -- /bin/bash "$here/demo-inside.sh"
