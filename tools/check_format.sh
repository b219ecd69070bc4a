#!/usr/bin/env bash
# Reports the C++ files of the tree that clang-format (with .clang-format)
# would change, with the number of their lines that would change, and the
# totals; formats nothing. Exits 1 when any file would change, 0 otherwise.
#   tools/check_format.sh [--quiet] [files...]   (default: every tracked .cpp and .h)
# CLANG_FORMAT names the program (default clang-format-14).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

quiet=0
if [[ "${1:-}" == "--quiet" ]]; then
  quiet=1
  shift
fi
FORMAT="${CLANG_FORMAT:-clang-format-14}"
if (($#)); then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi

changed_files=0
changed_lines=0
total_lines=0
for f in "${files[@]}"; do
  lines=$(wc -l < "$f")
  total_lines=$((total_lines + lines))
  # Lines of the file that the formatted text does not keep as they are.
  n=$("$FORMAT" --style=file "$f" | diff --unchanged-line-format= --old-line-format='x
' --new-line-format= "$f" - | wc -l || true)
  if ((n > 0)); then
    changed_files=$((changed_files + 1))
    changed_lines=$((changed_lines + n))
    ((quiet)) || printf '%6d  %s\n' "$n" "$f"
  fi
done
awk -v f="$changed_files" -v n="${#files[@]}" -v c="$changed_lines" -v t="$total_lines" \
  'BEGIN { printf "%d of %d files would change, %d of %d lines (%.2f %%)\n", f, n, c, t, t ? 100 * c / t : 0 }'
((changed_files == 0))
