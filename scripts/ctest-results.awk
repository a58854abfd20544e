# awk -f ctest-results.awk CTEST_OUTPUT LASTTEST_LOG
# Prints one line per test that ran: pass|fail|skip <TAB> name <TAB> detail.
# CTest's output has each test's state (a skip by exit code looks passed in LastTest.log);
# LastTest.log has each test's full name and output, where the skip reason is.
# For a failure the detail is CTest's state word, for a skip the reason: the GoogleTest
# message after "Skipped", else the output's last line.

FNR == NR {
  if (match($0, /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: /)) {
    head = substr($0, 1, RLENGTH); rest = substr($0, RLENGTH + 1)
    sub(/^ *[0-9]+\/[0-9]+ Test +#/, "", head); sub(/: $/, "", head)
    num = head + 0
    # NAME, a leader of dots, the state ("   Passed", "***Timeout"), the time. Names may
    # have blanks; the state has no dot.
    sub(/ +[0-9.]+ sec *$/, "", rest)
    if (match(rest, / \.* *(\*\*\*)?[^.]*$/)) {
      name[num] = substr(rest, 1, RSTART - 1); rest = substr(rest, RSTART)
    }
    sub(/^ \.* */, "", rest); sub(/^\*\*\*/, "", rest)
    state[num] = rest
    order[++count] = num
  }
  next
}

# LastTest.log: "N/M Testing: NAME", then "Output:", a rule, the output, "<end of output>".
match($0, /^[0-9]+\/[0-9]+ Testing: /) {
  cur = substr($0, 1, index($0, "/") - 1) + 0
  full[cur] = substr($0, RLENGTH + 1)
  inout = 0
  next
}
/^Output:$/ { inout = 1; rule = 1; next }
inout && rule { rule = 0; next }
/^<end of output>$/ { inout = 0; next }
inout {
  line = $0; sub(/\r$/, "", line)
  if (line ~ /: Skipped$/) { gtest[cur] = 1; reason[cur] = ""; next }
  if (gtest[cur] == 1) {
    if (line == "" || line ~ /^\[  SKIPPED \]/) gtest[cur] = 2
    else reason[cur] = reason[cur] (reason[cur] == "" ? "" : " ") line
  }
  if (!gtest[cur] && line != "") last[cur] = line
}

END {
  for (i = 1; i <= count; i++) {
    n = order[i]; s = state[n]
    who = (n in full) ? full[n] : name[n]
    sub(/  # .*/, "", who)  # GoogleTest's "  # GetParam() = ..." after a parameterised name
    if (s == "Passed") print "pass\t" who "\t" s
    else if (s == "Skipped") {
      r = (gtest[n] > 0) ? reason[n] : last[n]
      print "skip\t" who "\t" (r == "" ? "no reason given" : r)
    } else if (s == "Not Run (Disabled)") print "skip\t" who "\tdisabled in its source (DISABLED_), runs only when asked for"
    else print "fail\t" who "\t" s
  }
}
