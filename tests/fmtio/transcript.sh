#!/bin/sh
# transcript.sh GOLDEN INPUT|- FILES|- -- FMTIO.EXE ARGUMENTS...: compares fmtio's output (both streams
# as written), exit code and the FILES it wrote (comma-separated) with GOLDEN. INPUT "echoed": the lines
# after the golden's prompts "> ", and after a final exit one that must not run. FMTIO_UPDATE_GOLDEN=1 rewrites it.
set -u
golden=$1 input=$2 files=$3
shift 4
actual=$(basename "$golden").actual
[ "$input" = - ] && input=/dev/null
if [ "$input" = echoed ]; then
  input=$(basename "$golden").input
  sed -n 's/^> //p' "$golden" >"$input"
  [ "$(tail -n 1 "$input")" = exit ] && echo "query *IDN?" >>"$input"
fi
[ "$files" = - ] || (IFS=,; for file in $files; do rm -f "$file"; done)
${WINE:-wine} "$@" <"$input" >"$actual" 2>&1
echo "exit code $?" >>"$actual"
[ "$files" = - ] || (IFS=,; for file in $files; do
  echo "--- $file"
  cat "$file" 2>/dev/null || echo "(not written)"
done) >>"$actual"
build_path=$(cd "$BUILD_DIR" && pwd | sed 's#/#\\#g; s#^#Z:#')
sed -i "s#$(printf '%s' "$build_path" | sed 's/[\\.]/\\&/g')#<build>#g" "$actual"
# A server's port changes from run to run.
[ -z "${RESOURCE_SHOWN_AS:-}" ] || sed -i "s#$RESOURCE_SHOWN_AS#<resource>#g" "$actual"
# A line of a very long response shows as its length, start and end.
awk 'length > 10000 { $0 = "<" length " characters: " substr($0, 1, 30) " ... " substr($0, length - 29) ">" } 1' \
  "$actual" >"$actual.short" && mv "$actual.short" "$actual"
[ "${FMTIO_UPDATE_GOLDEN:-}" != 1 ] || cp "$actual" "$golden"
diff -u "$golden" "$actual"
