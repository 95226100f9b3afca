#!/usr/bin/env bash
# The layer fence: runs one compile of a fenced target, then reads the
# dependency file the compiler wrote and refuses the object when any file it
# opened lies in a folder the target may not include. The include roots
# already make "app/game.h" from world/ unresolvable; this catches every form
# that still resolves: a path relative to the including file ("../chat/x.h"),
# one through a view's link ("world/../chat/x.h"), an absolute path, a
# computed #include. Paths are compared after following links.
#
#   layer_fence.sh NAME RULE FORBIDDEN_DIR... -- COMPILER ARGS...
#
# NAME is the fenced layer, RULE the sentence said when it is broken. A
# refused compile removes its object and dependency file, so the next build
# compiles it again and fails again.
set -u
name=$1
rule=$2
shift 2
forbidden=()
while (($#)) && [[ $1 != -- ]]; do
  forbidden+=("$1")
  shift
done
shift  # --

obj="" depfile="" src=""
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case ${args[i]} in
    -o) obj=${args[i + 1]-} ;;
    -MF) depfile=${args[i + 1]-} ;;
    -c) src=${args[i + 1]-} ;;
  esac
done
extra=()
if [[ -z $depfile && -n $obj ]]; then
  depfile=$obj.fence.d
  extra=(-MD -MF "$depfile")
fi

"$@" "${extra[@]}" || exit
[[ -n $depfile && -r $depfile ]] || {
  echo "layer fence: no dependency file for ${src:-$obj}: the compile of a $name file is not checked" >&2
  exit 1
}

# Make syntax: "obj: a b \<newline> c", "\ " for a space in a path, "$$" for $.
deps=$(<"$depfile")
deps=${deps//$'\\\n'/ }
deps=${deps//'\ '/$'\x01'}
deps=${deps//'$$'/'$'}
files=()
set -f  # a token is a path, never a pattern
for t in $deps; do
  [[ $t == *: ]] && continue
  files+=("${t//$'\x01'/ }")
done
((${#files[@]})) || exit 0
mapfile -t real < <(realpath -m -- "${files[@]}")

bad=0
for p in "${real[@]}"; do
  for d in "${forbidden[@]}"; do
    if [[ $p == "$d" || $p == "$d"/* ]]; then
      echo "${src:-$obj}: error: layer fence: includes $p: $rule" >&2
      bad=1
    fi
  done
done
if ((bad)); then
  rm -f -- "$obj" "$depfile"
  exit 1
fi
exit 0
