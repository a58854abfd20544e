# Reads the call graph that the compiler writes for quarrow.tap (-fcallgraph-info=su, one
# partition of the whole-program build) and fails when one function's frame or the deepest
# chain of frames exceeds its limit.
#
#   awk -v max_frame=1024 -v max_chain=8192 [-v waive="NAME=BYTES ..."] \
#       -f toolchain/stack-check.awk quarrow.tap.ltrans0.ltrans.ci
#
# A waiver lets the named function (clones such as NAME.constprop included) keep a frame
# of at most BYTES above max_frame until its buffers move; it is reported on every build.
#
# A chain is the sum of the frames along a path of direct calls. Calls through a pointer
# are calls into the firmware's API (the module's own callbacks become direct calls in the
# whole-program build) and functions without a frame figure (C library, libgcc) run on
# stacks the module does not own; both end a chain. Recursion, or a frame whose size is
# not known when the module is built, fails the check: neither can be bounded here.
function chain(n,    i, c, best, via) {
  if (n in depth) return depth[n]
  if (n in visiting) {
    printf "stack check: %s (%s) calls itself: its depth has no bound\n", name[n], where[n]
    failed = 1
    return 0
  }
  visiting[n] = 1
  best = 0; via = ""
  for (i = 1; i <= ncalls[n]; ++i) {
    c = chain(callee[n, i])
    if (c > best) { best = c; via = callee[n, i] }
  }
  delete visiting[n]
  next_in_chain[n] = via
  depth[n] = frame[n] + best
  return depth[n]
}
/^node: / {
  if (!match($0, /title: "[^"]*"/)) next
  t = substr($0, RSTART + 8, RLENGTH - 9)
  if (!match($0, /label: "[^"]*"/)) next
  l = substr($0, RSTART + 8, RLENGTH - 9)
  split(l, part, /\\n/)
  name[t] = part[1]
  where[t] = part[2]
  if (match(part[3], /^[0-9]+ bytes/)) {
    frame[t] = substr(part[3], 1, RLENGTH - 6) + 0
    if (part[3] ~ /dynamic/) {
      printf "stack check: %s (%s) has a frame of run-time size\n", name[t], where[t]
      failed = 1
    }
  } else {
    frame[t] = 0
  }
  next
}
/^edge: / {
  match($0, /sourcename: "[^"]*"/); s = substr($0, RSTART + 13, RLENGTH - 14)
  match($0, /targetname: "[^"]*"/); d = substr($0, RSTART + 13, RLENGTH - 14)
  if (d == "__indirect_call" || seen[s, d]++) next
  callee[s, ++ncalls[s]] = d
  next
}
END {
  if (length(name) == 0) { print "stack check: no call graph read"; exit 1 }
  nw = split(waive, w, " ")
  for (i = 1; i <= nw; ++i) {
    split(w[i], kv, "=")
    allowed[kv[1]] = kv[2] + 0
  }
  top = ""; deepest = ""
  for (n in name) {
    if (top == "" || frame[n] > frame[top]) top = n
    if (chain(n) > (deepest == "" ? -1 : depth[deepest])) deepest = n
  }
  printf "stack check: largest frame %d bytes, %s (%s); limit %d\n", frame[top], name[top], where[top], max_frame
  printf "stack check: deepest chain %d bytes:", depth[deepest]
  for (n = deepest; n != ""; n = next_in_chain[n]) printf " %s(%d)", name[n], frame[n]
  printf "; limit %d\n", max_chain
  for (n in name) {
    if (frame[n] <= max_frame) continue
    base = name[n]
    sub(/\..*/, "", base)
    if ((base in allowed) && frame[n] <= allowed[base]) {
      printf "stack check: %s (%s) has a frame of %d bytes, waived up to %d\n", name[n], where[n], frame[n],
             allowed[base]
      continue
    }
    printf "stack check: %s (%s) has a frame of %d bytes, above %d\n", name[n], where[n], frame[n], max_frame
    failed = 1
  }
  if (depth[deepest] > max_chain) {
    printf "stack check: the deepest chain takes %d bytes, above %d\n", depth[deepest], max_chain
    failed = 1
  }
  exit failed
}
