#!/usr/bin/env bash
# Renders the skin pictures from their SVG sources in Skin/src/ into Skin/,
# and the program icon into app/main1.ico. The rendered files are committed:
# the build only copies them, so rsvg-convert and ImageMagick are needed here,
# not to build.
#
#   tools/render-skin.sh          render everything
#   tools/render-skin.sh --check  render into a scratch folder and report
#                                 pictures whose size is wrong
#
# Needs: librsvg2-bin (rsvg-convert), imagemagick, fonts-dejavu-core (the
# wordmarks are set in DejaVu Sans).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
src=$here/Skin/src
out=$here/Skin
icon=$here/app/main1.ico
# ImageMagick by full path: a "convert" earlier on PATH may be something else.
CONVERT=/usr/bin/convert
IDENTIFY=/usr/bin/identify

scratch=
if [ "${1:-}" = "--check" ]; then
  scratch=$(mktemp -d)
  out=$scratch
  icon=$scratch/main1.ico
fi

for tool in rsvg-convert "$CONVERT" "$IDENTIFY"; do
  command -v "$tool" >/dev/null || { echo "render-skin: $tool is missing" >&2; exit 1; }
done

# Sizes the windows rely on (logical pixels). Every picture rendered is
# checked against this list, so a source drawn at the wrong size is caught
# here rather than as a clipped button.
declare -A size=(
  [logo.png]=130x68 [scoutrix.png]=242x40 [scoutrix2.png]=242x40
  [title_menu_normal.png]=36x30 [title_menu_hover.png]=36x30
  [title_minimize_normal.png]=36x30 [title_minimize_hover.png]=36x30
  [title_close_normal.png]=36x30 [title_close_hover.png]=36x30
  [max_normal.png]=36x30 [max_hover.png]=36x30 [min_normal.png]=36x30 [min_hover.png]=36x30
  [account_normal.png]=36x36 [account_hover.png]=36x36
  [nav_ip_n.png]=116x46 [nav_ip_h.png]=116x46 [nav_cfg_n.png]=116x46 [nav_cfg_h.png]=116x46
  [nav_sys_n.png]=116x46 [nav_sys_h.png]=116x46 [nav_upg_n.png]=116x46 [nav_upg_h.png]=116x46
  [list_ip_n.png]=24x24 [list_ip_h.png]=24x24 [digital_n.png]=24x24 [digital_h.png]=24x24
  [ie_n.png]=24x24 [ie_h.png]=24x24 [search_n.png]=24x24 [search_h.png]=24x24 [search_w.png]=24x24
  [button_n.png]=16x16 [modify_all.png]=16x16
  [sys_time_n.png]=24x24 [sys_time_h.png]=24x24 [sys_maint_n.png]=24x24 [sys_maint_h.png]=24x24 [sys_light_n.png]=24x24 [sys_light_h.png]=24x24
  [sys_reset_n.png]=24x24 [sys_reset_h.png]=24x24 [sys_name_n.png]=24x24 [sys_name_h.png]=24x24 [sys_net_n.png]=24x24 [sys_net_h.png]=24x24
  [Select_UnCheck.png]=20x20 [Select_Check.png]=20x20 [Select_Part.png]=20x20
  [Select_UnCheck_dis.png]=20x20 [Select_Check_dis.png]=20x20
  [radio_off.png]=16x16 [radio_on.png]=16x16 [radio_off_dis.png]=16x16 [radio_on_dis.png]=16x16
  [ok.png]=16x16 [ok_hover.png]=16x16 [error.png]=16x16 [erro_hover.png]=16x16
  [close-normal.png]=24x24 [close-hover.png]=24x24
  [sort_up.png]=10x6 [sort_down.png]=10x6 [combo_arrow.png]=10x6 [combo_arrow_dis.png]=10x6
  [branch_closed.png]=10x10 [branch_open.png]=10x10
  [tabAll_unCheck.png]=120x30 [tabAll_Check.png]=120x30
  [start.png]=160x120 [loadfaile.png]=160x120
  [upgrade_n.png]=80x30 [upgrade_p.png]=80x30 [btn_nor.png]=80x28 [btn_over.png]=80x28
  [search_idle.png]=44x44
  [update_p.gif]=44x44 [loading.gif]=64x64
)

# Animations: source, frame count, frame delay (1/100 s), and the colour they
# are flattened on. GIF has one-bit transparency, so the frames are drawn on
# the colour of the band they sit on (the search strip, the page body) to
# keep smooth edges; change it here when the sheets change that colour.
declare -A anim_frames=([update_p]=18 [loading]=24)
declare -A anim_delay=([update_p]=5 [loading]=4)
declare -A anim_matte=([update_p]='#3D4248' [loading]='#272A2F')
declare -A anim_centre=([update_p]='22 22' [loading]='32 32')

work=$(mktemp -d)
trap 'rm -rf "$work" ${scratch:+"$scratch"}' EXIT
bad=0

check_size() { # file expected
  local got
  got=$("$IDENTIFY" -format '%wx%h\n' "$1" | head -n1)
  if [ "$got" != "$2" ]; then
    echo "render-skin: $(basename "$1") is $got, wants $2" >&2
    bad=1
  fi
}

scaled() { # WxH factor
  local w=${1%x*} h=${1#*x}
  echo "$((w * $2))x$((h * $2))"
}

# Still pictures: the exact size, and a @2x twin that the style sheets pick
# up on a 200 % screen.
for svg in "$src"/*.svg; do
  name=$(basename "$svg" .svg)
  [ -n "${anim_frames[$name]:-}" ] && continue
  [ "$name" = main1 ] && continue
  png=$name.png
  want=${size[$png]:-}
  if [ -z "$want" ]; then
    echo "render-skin: no size listed for $png" >&2
    bad=1
    continue
  fi
  w=${want%x*}
  h=${want#*x}
  rsvg-convert -w "$w" -h "$h" "$svg" -o "$out/$png"
  rsvg-convert -w "$((w * 2))" -h "$((h * 2))" "$svg" -o "$out/$name@2x.png"
  check_size "$out/$png" "$want"
  check_size "$out/$name@2x.png" "$(scaled "$want" 2)"
done

# Animations: the source's sweep group is turned frame by frame.
for name in "${!anim_frames[@]}"; do
  n=${anim_frames[$name]}
  want=${size[$name.gif]}
  frames=()
  for ((i = 0; i < n; i++)); do
    angle=$((i * 360 / n))
    sed "s/rotate(0 ${anim_centre[$name]})/rotate($angle ${anim_centre[$name]})/" \
      "$src/$name.svg" > "$work/$name-$i.svg"
    rsvg-convert -w "${want%x*}" -h "${want#*x}" "$work/$name-$i.svg" -o "$work/$name-$i.png"
    frames+=("$work/$name-$i.png")
  done
  "$CONVERT" -delay "${anim_delay[$name]}" -loop 0 "${frames[@]}" \
    -background "${anim_matte[$name]}" -alpha remove -alpha off "$out/$name.gif"
  check_size "$out/$name.gif" "$want"
  got=$("$IDENTIFY" "$out/$name.gif" | wc -l)
  [ "$got" -eq "$n" ] || { echo "render-skin: $name.gif has $got frames, wants $n" >&2; bad=1; }
done

# Program icon: every size Windows asks for, each rendered from the vector
# source rather than scaled from a bitmap.
icon_parts=()
for s in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$s" -h "$s" "$src/main1.svg" -o "$work/icon-$s.png"
  icon_parts+=("$work/icon-$s.png")
done
"$CONVERT" "${icon_parts[@]}" -strip "$icon"
got=$("$IDENTIFY" "$icon" | wc -l)
[ "$got" -eq 7 ] || { echo "render-skin: main1.ico holds $got sizes, wants 7" >&2; bad=1; }

# Pictures listed but without a source.
for f in "${!size[@]}"; do
  [ -e "$out/$f" ] || { echo "render-skin: $f was not made" >&2; bad=1; }
done

if [ "$bad" -ne 0 ]; then
  exit 1
fi
echo "render-skin: $(ls "$out" | grep -c -E '\.(png|gif)$') pictures in $out, icon $icon"
