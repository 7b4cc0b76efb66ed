#!/usr/bin/env bash
# Writes the four files of the simulated scanner into $1: the brand shop's
# and the "Simple System" shop's order lines, a CSV file and a UGS file, in
# the scanner's fixed-column layouts.
set -euo pipefail
dir=$1
mkdir -p "$dir"
crlf() { printf '%s\r\n' "$@"; }
{
  crlf "$(printf '%-28s %6s' 4711 12)"
  crlf "$(printf '%-28s %6s' 'X;0815;Y' 3)"
  crlf "$(printf '%-28s %6s' 'DN-20-KUPFER' 25)"
} > "$dir/SHOP.TXT"
{
  crlf "$(printf '%-28s %6s' SIMPLE-100 1)"
  crlf "$(printf '%-28s %6s' SIMPLE-200 4)"
} > "$dir/SIMPLE.TXT"
{
  crlf "$(printf '%-12s %-12s %-28s %6s %-10s %-8s' KST-100 LAGER-A 4711 12 31.01.2024 14:05:09)"
  crlf "$(printf '%-12s %-12s %-28s %6s %-10s %-8s' KST-100 LAGER-B 0815 3 31.01.2024 14:06:30)"
} > "$dir/CSV.TXT"
{
  crlf "$(printf '%-28s %6s %-10s %-8s' 4711 12 31.01.2024 14:05:09)"
  crlf "$(printf '%-28s %6s %-10s %-8s' 0815 3 31.01.2024 14:06:30)"
} > "$dir/UGS.TXT"
