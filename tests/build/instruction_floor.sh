#!/usr/bin/env bash
# The default binary must run on every x86-64-v2 CPU (SSE4.2 and popcnt, no
# AVX): an instruction above that floor kills it with SIGILL before main on
# older CPUs and under valgrind. Lists every such instruction in the binary.
# Usage: instruction_floor.sh BINARY
set -euo pipefail
binary=${1:?usage: instruction_floor.sh BINARY}
command -v objdump >/dev/null || { echo "objdump is missing: apt-get install binutils"; exit 1; }

listing=$(objdump -d --no-show-raw-insn "$binary")
# AVX and AVX-512 (every VEX/EVEX instruction starts with v, and only they
# use ymm/zmm or mask registers), then BMI1/2, LZCNT, MOVBE and the crypto
# and random-number extensions. tzcnt is allowed: the compiler emits it as
# "rep bsf", which older CPUs run as bsf with the same result.
above=$(printf '%s\n' "$listing" | awk -F'\t' '
  NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
    text = $2
    n = split(text, w, " ")
    i = 1
    while (i < n && w[i] ~ /^(lock|rep|repz|repnz|repe|repne|data16|cs|ds|es|ss|fs|gs|notrack|bnd)$/) i++
    op = w[i]
    if (text ~ /%[yz]mm[0-9]|%k[0-7]([^0-9]|$)/ ||
        op ~ /^v/ ||
        op ~ /^(andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|lzcnt|movbe|adcx|adox|rdrand|rdseed|pclmulqdq|aes[a-z0-9]*|sha(1|256)[a-z0-9]*)$/)
      print
  }')
count=$(printf '%s\n' "$listing" | grep -c $'^ *[0-9a-f]*:\t' || true)
if [ "$count" -lt 1000 ]; then
  echo "objdump listed only $count instructions of $binary"
  exit 1
fi
if [ -n "$above" ]; then
  echo "$binary has instructions above x86-64-v2:"
  printf "%s\n" "$above" | awk "NR <= 20"
  exit 1
fi
echo "$count instructions, none above x86-64-v2"
