#!/bin/sh
# labels-to-map.sh: turns z80asm's label list (--label=FILE, lines
# "name:<TAB>equ $4200") into a map file that the debugger's symbol box reads.
# Run by firmware/CMakeLists.txt for every demo application.
#
# Usage: labels-to-map.sh LABELS MAP TITLE
#
# Addresses inside the application window (0x4000-0x7FFF) go to the Functions
# list ("_code"); everything else (RAM, ports, firmware services, header
# offsets) to the Data list ("_data"). Each name gets one leading "_", which
# the reader drops again.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 LABELS MAP TITLE" >&2; exit 2; }
labels=$1 map=$2 title=$3
tmp="$map.tmp"
{
  printf 'Map of %s, made from the assembler label list\n\n' "$title"
  printf 'symbol | value | section |\n'
  printf -- '-------+-------+---------+\n'
  awk '
    BEGIN { for (i = 0; i < 16; i++) hexval[substr("0123456789abcdef", i + 1, 1)] = i }
    $2 == "equ" && $1 ~ /:$/ && $3 ~ /^\$[0-9a-fA-F]+$/ {
      name = substr($1, 1, length($1) - 1)
      digits = tolower(substr($3, 2))
      value = 0
      for (i = 1; i <= length(digits); i++) value = value * 16 + hexval[substr(digits, i, 1)]
      section = (value >= 16384 && value < 32768) ? "_code" : "_data"
      printf "_%s | %04X | %s |\n", name, value, section
    }' "$labels" | LC_ALL=C sort -t'|' -k3,3 -k2,2
} > "$tmp"
mv "$tmp" "$map"
