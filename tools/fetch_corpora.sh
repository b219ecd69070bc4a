#!/usr/bin/env bash
# Fills the cache of external test corpora: third-party test files that
# Debian packages carry (tools/data/corpora.txt lists them, one row per
# corpus). Each package is fetched with `apt-get download` (never installed),
# only the listed files are extracted with dpkg-deb, and every file is checked
# against the committed SHA-256 list tools/data/corpora.sha256.
#
# The cache lives outside the source tree, so every clone on the machine
# shares it: $QLM_CORPORA_DIR, else $XDG_CACHE_HOME/qlm-corpora, else
# ~/.cache/qlm-corpora. A corpus whose files are all present and match is not
# fetched again, so a filled cache works offline.
#
#   fetch_corpora.sh           fetch what is missing, check everything
#   fetch_corpora.sh --dir     print the cache folder (the build passes it to
#                              the tests)
#   fetch_corpora.sh --record  fetch every row again and rewrite the SHA-256
#                              list from what was extracted (after adding a row)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TABLE="$ROOT/tools/data/corpora.txt"
SUMS="$ROOT/tools/data/corpora.sha256"
CACHE="${QLM_CORPORA_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/qlm-corpora}"

mode="fetch"
case "${1:-}" in
  "") ;;
  --dir) echo "$CACHE"; exit 0 ;;
  --record) mode="record" ;;
  *) echo "usage: $0 [--dir | --record]" >&2; exit 2 ;;
esac

die() { echo "fetch_corpora: $*" >&2; exit 1; }

mkdir -p "$CACHE/.debs"
work="$(mktemp -d "$CACHE/.work.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The expected sums of one corpus ("<sum>  <corpus>/<file>" lines).
expected_sums() { grep -E "^[0-9a-f]{64}  $1/" "$SUMS" 2>/dev/null || true; }

# True when the corpus has sums and every listed file is present and matches.
corpus_complete() {
  local sums
  sums="$(expected_sums "$1")"
  [[ -n "$sums" ]] || return 1
  (cd "$CACHE" && sha256sum --check --quiet --status <<<"$sums" 2>/dev/null)
}

# Sets DEB to the package's .deb in the cache, downloaded when missing (or
# when asked to renew it). apt-get needs the package lists; without them it
# runs `apt-get update` once and tries again.
updated=0
DEB=""
package_deb() {
  local package="$1" renew="$2" name="${1%%=*}"
  local deb="$CACHE/.debs/$name.deb"
  if [[ "$renew" == 1 || ! -s "$deb" ]]; then
    local dl="$work/dl-$name"
    rm -rf "$dl" && mkdir -p "$dl" && chmod 755 "$dl"
    if ! (cd "$dl" && apt-get download -qq "$package" >"$work/apt.log" 2>&1); then
      if [[ $updated == 0 ]]; then
        updated=1
        local sudo=""
        [[ $(id -u) -eq 0 ]] || sudo="sudo"
        $sudo apt-get update -qq >"$work/apt.log" 2>&1 || true
      fi
      (cd "$dl" && apt-get download -qq "$package" >"$work/apt.log" 2>&1) ||
        { cat "$work/apt.log" >&2; die "apt-get download $package failed"; }
    fi
    local got=("$dl"/*.deb)
    [[ -s "${got[0]}" ]] || die "apt-get download $package gave no .deb"
    mv -f "${got[0]}" "$deb"
  fi
  DEB="$deb"
}

# Extracts the row's files from the .deb into a fresh copy of the corpus
# folder, replacing the old one only when every pattern matched.
extract_corpus() {
  local corpus="$1" deb="$2" folder="$3"
  shift 3
  local tree="$work/tree-$corpus" out="$work/out-$corpus"
  rm -rf "$tree" "$out" && mkdir -p "$tree" "$out"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tree" ".$folder" 2>/dev/null ||
    die "$corpus: $folder is not in $(basename "$deb")"
  local pattern file
  for pattern in "$@"; do
    local matches=()
    mapfile -t matches < <(cd "$tree$folder" && compgen -G "$pattern" || true)
    ((${#matches[@]})) || die "$corpus: no file matches $pattern in $folder"
    for file in "${matches[@]}"; do
      [[ -f "$tree$folder/$file" ]] || continue
      mkdir -p "$out/$(dirname "$file")"
      cp "$tree$folder/$file" "$out/$file"
    done
  done
  rm -rf "$CACHE/$corpus"
  mv "$out" "$CACHE/$corpus"
}

# Checks the corpus folder against the list: every listed file matches, and
# no extracted file is missing from the list.
check_corpus() {
  local corpus="$1" sums
  sums="$(expected_sums "$corpus")"
  [[ -n "$sums" ]] || die "$corpus: no SHA-256 sums in $SUMS (run $0 --record and commit the list)"
  (cd "$CACHE" && sha256sum --check --quiet <<<"$sums") ||
    die "$corpus: files differ from $SUMS"
  local listed actual
  listed="$(awk '{print $2}' <<<"$sums" | sort)"
  actual="$(cd "$CACHE" && find "$corpus" -type f | sort)"
  [[ "$listed" == "$actual" ]] ||
    die "$corpus: extracted files and $SUMS differ: $(comm -3 <(echo "$listed") <(echo "$actual") | tr -s ' \t\n' ' ')"
}

new_sums="$work/sums"
: >"$new_sums"
while read -r corpus package folder patterns; do
  [[ -z "$corpus" || "$corpus" == \#* ]] && continue
  [[ -n "$patterns" ]] || die "row '$corpus' has no file patterns"
  read -r -a pattern_list <<<"$patterns"
  if [[ "$mode" == record ]]; then
    package_deb "$package" 1
    extract_corpus "$corpus" "$DEB" "$folder" "${pattern_list[@]}"
    (cd "$CACHE" && find "$corpus" -type f -print0 | sort -z | xargs -0 sha256sum) >>"$new_sums"
    continue
  fi
  if corpus_complete "$corpus"; then
    echo "fetch_corpora: $corpus present"
    continue
  fi
  # A cached .deb first (offline); when its files do not match, a fresh one.
  package_deb "$package" 0
  extract_corpus "$corpus" "$DEB" "$folder" "${pattern_list[@]}"
  if ! corpus_complete "$corpus"; then
    package_deb "$package" 1
    extract_corpus "$corpus" "$DEB" "$folder" "${pattern_list[@]}"
  fi
  check_corpus "$corpus"
  echo "fetch_corpora: $corpus fetched into $CACHE/$corpus"
done <"$TABLE"

if [[ "$mode" == record ]]; then
  cp "$new_sums" "$SUMS"
  echo "fetch_corpora: wrote $(wc -l <"$SUMS") sums to $SUMS; review and commit it"
fi
