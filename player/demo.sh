#!/usr/bin/env bash
# ./zel demo: the main job on the simulated player, a restart of all services, over
# Debian's real servers (ZEL_DEMO_SERVICES=standin: over the stand-ins), ending with
# what real clients on the player's network answer.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
speed=${ZEL_DEMO_SPEED:-8}
flash=${ZEL_FLASH:-$top/build/player-flash.img}
services=${ZEL_DEMO_SERVICES:-real}
build=${ZEL_DEMO_BUILD:-$top/build/release}
rootfs=${ZEL_DEMO_ROOTFS:-$top/build/rootfs}

echo "zel demo: booting the simulated player from the flash image $flash"
echo "zel demo: the player's clock runs $speed times faster than real time"
echo "zel demo: services: $services (the player's address on its network: 10.9.0.2)"
exec "$here/zelplayer" --build "$build" --rootfs "$rootfs" \
  --flash "$flash" --daemon --speed "$speed" --services "$services" \
  --net eth0=10.9.0.2/24 --disk HARD_DISK --bind "$top" \
  -- /bin/bash "$here/demo-inside.sh" "$top"
