#!/bin/sh
# strace_forms.sh OUTDIR: makes the strace captures in OUTDIR, then their
# truth files with strace_truth.py.  The jobs run in /tmp/spanmill-forms-run
# (that path shows in the captures).
set -eu
OUT=$(cd "${1:-.}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RUN=/tmp/spanmill-forms-run
rm -rf "$RUN"
mkdir -p "$RUN"
cd "$RUN"
gcc -O2 -Wall -pthread -o "$RUN/sysprog" "$HERE/sysprog.c"
SYSPROG=$RUN/sysprog

# a small C file, a text file with <...> in it, a tiny Makefile, a small git repo
printf '#include <stdio.h>\n#include <string.h>\nint main(void) { printf("<1.5> %%zu\\n", strlen("a")); return 0; }\n' > small.c
printf '<0.000123> tricky "q" <1.5>\nx = a <2.5> b\n' > lt.txt
printf 'all: hello.o\n\t@echo "made <1.5>" >&2\nhello.o: hello.c\n\ttouch hello.stamp\n\tcat hello.c > hello.o\n' > Makefile
printf 'int hello(void) { return 1; }\n' > hello.c
mkdir repo
(cd repo && git init -q && git config user.email forms@example.invalid && git config user.name forms &&
    echo one > a.txt && git add a.txt && git commit -qm one && echo two > b.txt)

# 8. no id column: no -f
(cd repo && strace -ttt -T -o "$OUT/no-f.strace" git status > "$RUN/stdout.txt")
# 9. to standard error, with children: plain lines for the first process, [pid N] for others
#    (the program's own output goes to the same file)
strace -ttt -T -f "$SYSPROG" fork > "$OUT/stderr.strace" 2>&1
#    and make, which starts sh, touch and cat; a contiguous cut of its last 430 lines
strace -ttt -T -f make > "$RUN/stdout.txt" 2> "$RUN/make.strace"
rm -f hello.o hello.stamp
tail -n 430 "$RUN/make.strace" > "$OUT/stderr-make.strace"
# 10. one file per process
rm -f "$OUT"/ff.strace.*
strace -ttt -T -ff -o "$OUT/ff.strace" sh -c 'cat /etc/hostname > /dev/null; echo done' > "$RUN/stdout.txt"
# 11. instruction pointer, multi-threaded
strace -ttt -T -f -i -s 0 -o "$OUT/ip.strace" "$SYSPROG" fork > "$RUN/stdout.txt" 2>&1
# 12. fd paths and sockets
strace -ttt -T -f -y -o "$OUT/y.strace" "$SYSPROG" files "$RUN" > "$RUN/stdout.txt" 2>&1
strace -ttt -T -f -yy -o "$OUT/yy.strace" "$SYSPROG" files "$RUN" > "$RUN/stdout.txt" 2>&1
# 13. default string size: data holding '<'
strace -ttt -T -f -o "$RUN/gcc.strace" gcc -c small.c -o small.o
# keep a contiguous cut of complete lines: from 40 lines before cc1 reads
# small.c to 260 lines after it
N=$(grep -n 'read([0-9]*, "#include <stdio.h>' "$RUN/gcc.strace" | head -1 | cut -d: -f1)
sed -n "$((N - 40)),$((N + 260))p" "$RUN/gcc.strace" > "$OUT/strings.strace"
strace -ttt -T -f -o "$OUT/strings-cat.strace" sh -c 'cat lt.txt; grep -c "<" lt.txt' > "$RUN/stdout.txt"
# 14. lines longer than 512 characters with -s 0
D=$RUN
for i in 1 2 3 4 5 6 7 8 9 10 11; do
    D=$D/level-$i-abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUVWXYZ-0123456789
done
mkdir -p "$D"
echo deep > "$D/deep file.txt"
ARGS=""
for i in $(seq 1 40); do ARGS="$ARGS argument-number-$i-with-some-length"; done
strace -ttt -T -f -s 0 -o "$OUT/long-lines.strace" sh -c "ls -l '$D/deep file.txt'; cat '$D/deep file.txt'; /bin/true $ARGS" > "$RUN/stdout.txt"
# 15. wall-clock time stamps
strace -tt -T -f -o "$OUT/tt.strace" /usr/bin/python3 -c 'print(1)' > "$RUN/stdout.txt"
strace -t -T -f -o "$OUT/t.strace" /usr/bin/python3 -c 'print(1)' > "$RUN/stdout.txt"
# 16. no durations
strace -ttt -f -o "$OUT/no-T.strace" "$SYSPROG" fork > "$RUN/stdout.txt" 2>&1
# 17. control: the form spanmill reads
strace -ttt -T -f -s 0 -o "$OUT/plain.strace" "$SYSPROG" fork > "$RUN/stdout.txt" 2>&1

cd "$OUT"
python3 "$HERE/strace_truth.py" no-f.strace stderr.strace stderr-make.strace $(ls ff.strace.* | grep -E "\.[0-9]+$") ip.strace y.strace \
    yy.strace strings.strace strings-cat.strace long-lines.strace tt.strace t.strace \
    no-T.strace plain.strace > strace-truth-summary.txt
cat strace-truth-summary.txt
rm -rf "$RUN"
