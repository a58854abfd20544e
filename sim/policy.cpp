// The one policy for every call into the host: counters, fault rules, the power cut and the
// host profiles, all indexed by the call tables.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/internal.h"

namespace sim::detail {
namespace {

#define QUARROW_SIM_TAP_NAME(result, name, params) #name,
const char *const kNames[CALL_COUNT] = {QUARROW_TAP_API_TABLE(QUARROW_SIM_TAP_NAME)
                                            QUARROW_OS_CALL_TABLE(QUARROW_SIM_TAP_NAME)};
#undef QUARROW_SIM_TAP_NAME

struct Rule {
  Call call;
  std::string name;      // empty: any name
  uint64_t first = 1;    // the first matching call that fails, counted from arming
  uint64_t count = 1;    // how many in a row (UINT64_MAX: all from `first`)
  uint64_t seen = 0;
  bool has_value = false;
  long long value = 0;
  int error = 0;
  bool short_transfer = false;
  bool cuts_power = false;
};

// Everything the policy keeps between calls.
struct Policy {
  uint64_t calls[CALL_COUNT] = {};
  unsigned host[CALL_COUNT] = {};  // Behaviour bits
  uint32_t opaque_turn = 0;
  uint64_t sleep_streak = 0;
  std::vector<Rule> rules;
  bool power_cut = false;
  long long power_bytes = -1;    // bytes still written before the cut, -1 none
  long long power_changes = -1;  // disk changes still done before the cut, -1 none
  CallObserver observer = nullptr;
  void *observer_context = nullptr;
} policy;

Rule &rule(int index) { return policy.rules.at(static_cast<size_t>(index)); }

// What each profile switches on, call by call; "strict" is all rows.
struct ProfileRow {
  const char *profile;
  Call call;
  Behaviour behaviour;
};
constexpr ProfileRow kProfileRows[] = {
    {"posix-rename", Call::TAP_Hdd_Rename, OVERWRITES},
    {"opaque-results", Call::TAP_Hdd_Rename, OPAQUE_RESULT},
    {"opaque-results", Call::TAP_Hdd_Create, OPAQUE_RESULT},
    {"opaque-results", Call::TAP_Hdd_Delete, OPAQUE_RESULT},
    {"opaque-results", Call::TAP_Hdd_FindNext, OPAQUE_RESULT},
    {"dot-entries", Call::TAP_Hdd_FindFirst, DOT_ENTRIES},
    {"disk-order", Call::TAP_Hdd_FindFirst, DISK_ORDER},
    {"chdir-zero", Call::TAP_Hdd_ChangeDir, ZERO_SUCCESS},
    {"short-args", Call::system, SHORT_ARGS},
    {"tick-wrap", Call::TAP_GetTick, WRAPS},
    {"other-kinds", Call::TAP_Hdd_FindFirst, OTHER_KINDS},
};

}  // namespace

void reset_policy() { policy = Policy{}; }

Verdict decide(Call call, const std::string &name, const std::string &other) {
  Policy &s = policy;
  ++s.calls[static_cast<int>(call)];
  if (s.observer != nullptr) s.observer(call, s.observer_context);
  if (call != Call::TAP_Sleep) s.sleep_streak = 0;
  Verdict v;
  if (changes_disk(call)) {
    if (!s.power_cut && s.power_changes >= 0 && s.power_changes-- == 0) s.power_cut = true;
    if (s.power_cut) {
      v.fail = true;
      return v;
    }
  }
  for (Rule &r : s.rules) {
    if (r.call != call || !(r.name.empty() || r.name == name || (!other.empty() && r.name == other))) continue;
    const uint64_t seen = ++r.seen;
    if (seen < r.first || seen - r.first >= r.count) continue;
    if (r.short_transfer) {
      v.short_transfer = true;
    } else {
      v.fail = true;
      v.has_value = r.has_value;
      v.value = r.value;
      v.error = r.error;
    }
    if (r.cuts_power) s.power_cut = true;
  }
  if (call == Call::TAP_Sleep && !v) ++s.sleep_streak;
  return v;
}

uint64_t sleep_streak() { return policy.sleep_streak; }

uint64_t power_allows(uint64_t want) {
  Policy &s = policy;
  if (s.power_cut) return 0;
  if (s.power_bytes < 0) return want;
  const uint64_t n = std::min<uint64_t>(want, static_cast<uint64_t>(s.power_bytes));
  s.power_bytes -= static_cast<long long>(n);
  if (n < want) s.power_cut = true;  // this write is the one the power goes in
  return n;
}

bool host_does(Call call, Behaviour b) { return (policy.host[static_cast<int>(call)] & b) != 0; }

int opaque_result() {
  static const int kResults[] = {0, 1, 7, -1};
  return kResults[policy.opaque_turn++ % 4];
}

}  // namespace sim::detail

namespace sim {
using namespace sim::detail;

const char *call_name(Call call) { return kNames[static_cast<int>(call)]; }

bool changes_disk(Call call) {
  switch (call) {
    case Call::TAP_Hdd_Create:
    case Call::TAP_Hdd_Delete:
    case Call::TAP_Hdd_Fwrite:
    case Call::TAP_Hdd_Rename:
    case Call::rename:
    case Call::system: return true;
    default: return false;
  }
}

bool on_disk(Call call) {
  switch (call) {
    case Call::TAP_Hdd_Fopen:
    case Call::TAP_Hdd_Fread:
    case Call::TAP_Hdd_Fseek:
    case Call::TAP_Hdd_Exist:
    case Call::TAP_Hdd_ChangeDir:
    case Call::TAP_Hdd_FindFirst:
    case Call::fsync: return true;
    case Call::system: return false;  // the shell's commands are not the module's own file calls
    default: return changes_disk(call);
  }
}

uint64_t calls(Call call) { return policy.calls[static_cast<int>(call)]; }

void observe_calls(CallObserver observer, void *context) {
  policy.observer = observer;
  policy.observer_context = context;
}

Fault fault(Call call) {
  Rule r{};
  r.call = call;
  policy.rules.push_back(r);
  return Fault(static_cast<int>(policy.rules.size() - 1));
}

Fault &Fault::nth(uint64_t n) { rule(rule_).first = n == 0 ? 1 : n; return *this; }
Fault &Fault::from(uint64_t n) { nth(n); rule(rule_).count = UINT64_MAX; return *this; }
Fault &Fault::times(uint64_t k) { rule(rule_).count = k; return *this; }
Fault &Fault::on(const std::string &name) { rule(rule_).name = name; return *this; }
Fault &Fault::returns(long long value) { rule(rule_).has_value = true; rule(rule_).value = value; return *this; }
Fault &Fault::error(int number) { rule(rule_).error = number; return *this; }
Fault &Fault::short_transfer() { rule(rule_).short_transfer = true; return *this; }
Fault &Fault::cuts_power() { rule(rule_).cuts_power = true; return *this; }

void cut_power_after_bytes(uint64_t bytes) { policy.power_bytes = static_cast<long long>(bytes); }
void cut_power_after_changes(uint64_t changes) { policy.power_changes = static_cast<long long>(changes); }
bool power_is_cut() { return policy.power_cut; }

void clear_faults() {
  policy.rules.clear();
  policy.power_cut = false;
  policy.power_bytes = policy.power_changes = -1;
}

const std::vector<std::string> &host_profile_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const ProfileRow &row : kProfileRows)
      if (std::find(out.begin(), out.end(), row.profile) == out.end()) out.emplace_back(row.profile);
    out.emplace_back("strict");
    return out;
  }();
  return names;
}

bool set_host_profiles(const std::string &list) {
  unsigned host[CALL_COUNT];
  std::copy(std::begin(policy.host), std::end(policy.host), host);
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = list.find(',', at);
    if (comma == std::string::npos) comma = list.size();
    const std::string name = list.substr(at, comma - at);
    bool known = false;
    for (const ProfileRow &row : kProfileRows) {
      if (name != "strict" && name != row.profile) continue;
      host[static_cast<int>(row.call)] |= row.behaviour;
      known = true;
    }
    if (!known) return false;
    at = comma + 1;
  }
  std::copy(std::begin(host), std::end(host), policy.host);
  return true;
}

}  // namespace sim
