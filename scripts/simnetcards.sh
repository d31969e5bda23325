#!/usr/bin/env bash
# Lays out this machine's network cards below a simulated panel's root, as
# descriptions the network settings dialog lists: each card's name and the
# attribute files it reads (address, operstate), copied. The cards themselves
# are only read, never changed. Laid anew each time (cards come and go).
#   bash scripts/simnetcards.sh <simroot> [<cards folder, default /sys/class/net>]
set -euo pipefail
sim=${1:?usage: simnetcards.sh SIMROOT [CARDS]}
from=${2:-/sys/class/net}
dest="$sim/sys/class/net"
rm -rf "$dest"
mkdir -p "$dest"
for card in "$from"/*; do
  [ -e "$card" ] || continue
  name=$(basename "$card")
  [ "$name" = lo ] && continue
  mkdir -p "$dest/$name"
  for attr in address operstate; do
    # A card that is down may refuse to tell: the dialog shows it without.
    head -c 4096 "$card/$attr" > "$dest/$name/$attr" 2>/dev/null || rm -f "$dest/$name/$attr"
  done
done
