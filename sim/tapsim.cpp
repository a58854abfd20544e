// tapsim: the simulated recorder. Loads a module as the firmware does and drives it with
// key and idle events on virtual ticks.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "host/tap.h"
#include "sim/elf_header.h"
#include "sim/sim.h"

namespace {

const char kUsage[] =
    "usage: tapsim [OPTIONS] MODULE\n"
    "  --disk DIR              the recorder's disk (required; created with /ProgramFiles and /DataFiles)\n"
    "  --uptime SECONDS        what /proc/uptime reads at load (default 600)\n"
    "  --until TICK            run the event loop up to and including this tick (default 40000)\n"
    "  --start-tick N          the tick counter at load (default 0)\n"
    "  --key CODE@TICK         a key event (code 0x100, param1 CODE) at that tick; repeatable\n"
    "  --screenshot FILE@TICK  the screen as PNG after that tick's events; repeatable\n"
    "  --console FILE          where the terminal echo goes (default: standard error)\n"
    "  --clock \"YYYY-MM-DD HH:MM:SS\"  the recorder's clock at load (default: local time)\n"
    "  --host NAME[,NAME...]   host behaviours the plug-in API leaves open: posix-rename,\n"
    "                          opaque-results, dot-entries, disk-order, chdir-zero, short-args,\n"
    "                          tick-wrap, other-kinds, or strict for all (default: none)\n"
    "  --heap FILE             write the most bytes the module held at once (TAP_MemAlloc) and\n"
    "                          the syncs it asked for to FILE\n"
    "  --power-cut N[:LOSS[:K]]  the power goes after N changes of the disk; at the end the\n"
    "                          disk's cache is lost: LOSS data (default), torn, names, or folder\n"
    "                          (the unsynced changes of the K-th folder holding any), or nothing\n"
    "  --calls FILE            write how often the module made each host and OS call to FILE\n"
    "  --info                  print the module's header fields and exit\n";

constexpr int kExitBadArguments = 2;
constexpr int kExitCannotLoad = 3;
constexpr int kExitRunFailed = 1;

[[noreturn]] void fail(int status, const std::string &message) {
  std::fprintf(stderr, "tapsim: %s\n", message.c_str());
  std::exit(status);
}

// Decimal, or hexadecimal after 0x; the whole text, within 32 bits.
bool parse_u32(const std::string &text, uint32_t *value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty()) return false;
  uint64_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > UINT32_MAX) return false;
  }
  *value = static_cast<uint32_t>(v);
  return true;
}

bool parse_seconds(const std::string &text) {
  size_t i = 0, digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  return digits > 0 && i == text.size();
}

struct Timed {
  std::string what;  // key code text or file name
  uint32_t value = 0;
  uint32_t tick = 0;
  bool done = false;
};

struct Options {
  std::string disk, console, clock, module, host, heap, calls;
  bool power_cut = false;
  uint64_t cut_after = 0;
  sim::Loss loss = sim::Loss::Data;
  int loss_folder = 0;
  std::string uptime = "600";
  uint32_t until = 40000, start = 0;
  bool info = false, console_set = false;
  std::vector<Timed> keys, shots;
};

// "X@TICK": splits at the last '@'.
bool split_at(const std::string &text, std::string *what, uint32_t *tick) {
  const size_t at = text.rfind('@');
  if (at == std::string::npos || at == 0) return false;
  *what = text.substr(0, at);
  return parse_u32(text.substr(at + 1), tick);
}

// One "--name value" option into o; exits with a message on a bad value.
void parse_option(const std::string &arg, const std::string &value, Options *o, bool *until_set) {
  if (arg == "--disk") {
    if (value.empty()) fail(kExitBadArguments, "--disk needs a folder");
    o->disk = value;
  } else if (arg == "--uptime") {
    if (!parse_seconds(value)) fail(kExitBadArguments, "--uptime wants seconds such as 35.27, not " + value);
    o->uptime = value;
  } else if (arg == "--until") {
    if (!parse_u32(value, &o->until)) fail(kExitBadArguments, "--until wants a tick, not " + value);
    *until_set = true;
  } else if (arg == "--start-tick") {
    if (!parse_u32(value, &o->start)) fail(kExitBadArguments, "--start-tick wants a tick, not " + value);
  } else if (arg == "--key") {
    Timed k;
    if (!split_at(value, &k.what, &k.tick) || !parse_u32(k.what, &k.value))
      fail(kExitBadArguments, "--key wants CODE@TICK, not " + value);
    o->keys.push_back(k);
  } else if (arg == "--screenshot") {
    Timed s;
    if (!split_at(value, &s.what, &s.tick)) fail(kExitBadArguments, "--screenshot wants FILE@TICK, not " + value);
    o->shots.push_back(s);
  } else if (arg == "--console") {
    if (value.empty()) fail(kExitBadArguments, "--console needs a file");
    o->console = value;
    o->console_set = true;
  } else if (arg == "--clock") {
    o->clock = value;
  } else if (arg == "--heap") {
    if (value.empty()) fail(kExitBadArguments, "--heap needs a file");
    o->heap = value;
  } else if (arg == "--power-cut") {
    const size_t colon = value.find(':');
    uint32_t n = 0, k = 0;
    if (!parse_u32(value.substr(0, colon), &n)) fail(kExitBadArguments, "--power-cut wants N[:LOSS[:K]], not " + value);
    const std::string rest = colon == std::string::npos ? "data" : value.substr(colon + 1);
    const std::string loss = rest.substr(0, rest.find(':'));
    const std::pair<const char *, sim::Loss> kLosses[] = {{"nothing", sim::Loss::Nothing}, {"data", sim::Loss::Data},
                                                          {"torn", sim::Loss::Torn},       {"names", sim::Loss::Names},
                                                          {"folder", sim::Loss::Folder}};
    bool known = false;
    for (const auto &l : kLosses)
      if (loss == l.first) o->loss = l.second, known = true;
    if (!known || (rest.find(':') != std::string::npos && !parse_u32(rest.substr(rest.find(':') + 1), &k)))
      fail(kExitBadArguments, "--power-cut wants N[:LOSS[:K]] with LOSS nothing, data, torn, names or folder");
    o->power_cut = true;
    o->cut_after = n;
    o->loss_folder = static_cast<int>(k);
  } else if (arg == "--calls") {
    if (value.empty()) fail(kExitBadArguments, "--calls needs a file");
    o->calls = value;
  } else if (arg == "--host") {
    sim::reset();
    if (!sim::set_host_profiles(value)) {
      std::string known;
      for (const std::string &name : sim::host_profile_names()) known += (known.empty() ? "" : ",") + name;
      fail(kExitBadArguments, "--host: unknown host profile in " + value + " (known: " + known + ")");
    }
    o->host = value;
  } else {
    fail(kExitBadArguments, "unknown option " + arg);
  }
}

// What the options say together: a disk, and every key and screenshot inside the run.
void check_run(Options *o, bool until_set) {
  if (o->disk.empty()) fail(kExitBadArguments, "--disk is required");
  if (!until_set && o->start > o->until) o->until = o->start;
  if (o->until < o->start) fail(kExitBadArguments, "--until lies before --start-tick");
  for (const Timed &t : o->keys)
    if (t.tick < o->start || t.tick > o->until)
      fail(kExitBadArguments, "key " + t.what + " at tick " + std::to_string(t.tick) + " lies outside the run");
  for (const Timed &t : o->shots)
    if (t.tick < o->start || t.tick > o->until)
      fail(kExitBadArguments, "screenshot " + t.what + " at tick " + std::to_string(t.tick) + " lies outside the run");
  if (!o->shots.empty() && !sim::png_supported())
    fail(kExitBadArguments, "--screenshot needs PNG support, which this tapsim was built without (libpng)");
}

Options parse(int argc, char **argv) {
  Options o;
  bool until_set = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--info") {
      o.info = true;
      continue;
    }
    if (arg.compare(0, 2, "--") != 0) {
      if (!o.module.empty()) fail(kExitBadArguments, "more than one module given: " + arg);
      o.module = arg;
      continue;
    }
    std::string value;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    } else {
      if (i + 1 >= argc) fail(kExitBadArguments, arg + " needs a value");
      value = argv[++i];
    }
    parse_option(arg, value, &o, &until_set);
  }
  if (o.module.empty()) fail(kExitBadArguments, "no module given (tapsim --help)");
  if (!o.info) check_run(&o, until_set);
  return o;
}

std::string executable_dir(const char *argv0) {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string self = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string(argv0);
  const size_t slash = self.rfind('/');
  return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

// The module's dynamic section names /tapapi/TMS/libtap.so; once a library with that
// soname is loaded, the loader takes it for that name.
void load_libtap(const char *argv0) {
  if (dlopen("/tapapi/TMS/libtap.so", RTLD_NOW | RTLD_GLOBAL) != nullptr) return;
  const std::string beside = executable_dir(argv0) + "/libtap.so";
  dlopen(beside.c_str(), RTLD_NOW | RTLD_GLOBAL);
}

void set_clock(const Options &o) {
  if (!o.clock.empty()) {
    if (!sim::set_clock_text(o.clock)) fail(kExitBadArguments, "--clock wants \"YYYY-MM-DD HH:MM:SS\", not " + o.clock);
    return;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  sim::set_clock(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

void print_info(const sim::elf::ModuleHeader &header) {
  std::printf("header: TFAPMIPS %u\n", header.header_value);
  std::printf("id: 0x%08x\n", header.id);
  std::printf("program name: %s\n", header.program_name.c_str());
  std::printf("program version: %s\n", header.program_version.c_str());
  std::printf("author: %s\n", header.author_name.c_str());
  std::printf("description: %s\n", header.description.c_str());
  std::printf("etcinfo: %s\n", header.etcinfo.c_str());
}

// Loads the module as the firmware does and returns its entry points; exits when it cannot.
TAP_EntryRecord load_module(const std::string &module_path, const char *argv0) {
  load_libtap(argv0);
  const std::string path = module_path.find('/') == std::string::npos ? "./" + module_path : module_path;
  void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char *why = dlerror();
    fail(kExitCannotLoad, std::string("cannot load the module: ") + (why ? why : "unknown reason"));
  }
  dlerror();
  auto init = reinterpret_cast<int (*)(TAP_EntryRecord *)>(dlsym(module, "__TAP_Init_"));
  if (init == nullptr) fail(kExitCannotLoad, "cannot load the module: it has no __TAP_Init_");
  TAP_EntryRecord entry{};
  init(&entry);
  if (entry.main == nullptr || entry.eventHandler == nullptr)
    fail(kExitCannotLoad, "cannot load the module: __TAP_Init_ gave no entry points");
  return entry;
}

// Drives the resident module tick by tick: the keys due, one idle event, the screenshots
// due. Returns the last tick; *ok false when a screenshot could not be written.
uint32_t run_events(Options *o, const TAP_EntryRecord &entry, bool *ok) {
  uint32_t t = o->start;
  for (uint64_t next = o->start; next <= o->until; ++next) {
    // An event that slept let virtual time pass; the loop goes on from there.
    if (sim::tick() > next) next = sim::tick();
    if (next > o->until) break;
    t = static_cast<uint32_t>(next);
    sim::advance_ticks(t - sim::tick());
    for (Timed &k : o->keys) {
      if (k.done || k.tick > t) continue;
      k.done = true;
      const uint32_t result = entry.eventHandler(EVT_KEY, k.value, 0);
      sim::flush_console();
      std::printf("tick %u: key 0x%x -> 0x%x\n", t, k.value, result);
      std::fflush(stdout);
    }
    entry.eventHandler(EVT_IDLE, 0, 0);
    sim::flush_console();
    for (Timed &shot : o->shots) {
      if (shot.done || shot.tick > t) continue;
      shot.done = true;
      if (!sim::save_png(shot.what)) {
        std::fprintf(stderr, "tapsim: cannot write the screenshot %s\n", shot.what.c_str());
        *ok = false;
      }
    }
  }
  return t;
}

bool write_heap(const std::string &file) {
  FILE *f = std::fopen(file.c_str(), "w");
  const bool ok = f != nullptr && std::fprintf(f, "peak_bytes %llu\nsyncs %llu\n",
                                               static_cast<unsigned long long>(sim::heap_peak()),
                                               static_cast<unsigned long long>(sim::syncs())) >= 0;
  if (!ok) std::fprintf(stderr, "tapsim: cannot write %s\n", file.c_str());
  if (f != nullptr) std::fclose(f);
  return ok;
}

// One line per call: its name and how often the module made it, failed ones included.
bool write_calls(const std::string &file) {
  FILE *f = std::fopen(file.c_str(), "w");
  bool ok = f != nullptr;
  for (int i = 0; ok && i < sim::CALL_COUNT; ++i) {
    const auto call = static_cast<sim::Call>(i);
    ok = std::fprintf(f, "%s %llu\n", sim::call_name(call), static_cast<unsigned long long>(sim::calls(call))) >= 0;
  }
  if (!ok) std::fprintf(stderr, "tapsim: cannot write %s\n", file.c_str());
  if (f != nullptr) std::fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  Options o = parse(argc, argv);

  sim::elf::ModuleHeader header;
  std::string error;
  if (!sim::elf::read_module_header(o.module, &header, &error)) fail(kExitCannotLoad, error);
  if (o.info) {
    print_info(header);
    return 0;
  }

  sim::reset();
  if (!o.host.empty()) sim::set_host_profiles(o.host);
  if (o.console_set) sim::set_console_path(o.console);
  sim::set_disk(o.disk);
  if (sim::disk().empty()) fail(kExitBadArguments, "cannot use " + o.disk + " as the disk");
  sim::set_uptime_text(o.uptime + " 0.00\n");
  sim::set_tick(o.start);
  set_clock(o);
  if (o.power_cut) {
    if (!sim::model_cache(true)) fail(kExitBadArguments, "--power-cut: cannot keep the cache beside " + o.disk);
    sim::cut_power_after_changes(o.cut_after);
  }

  const TAP_EntryRecord entry = load_module(o.module, argv[0]);
  const int resident = entry.main();
  sim::flush_console();
  std::printf("loaded: %s\n", header.program_name.c_str());
  std::fflush(stdout);

  bool ok = true;
  const uint32_t t = resident != 0 ? run_events(&o, entry, &ok) : o.start;
  std::printf("stopped at tick %u\n", t);
  if (o.power_cut) {
    const bool cut = sim::power_is_cut();
    const int folders = sim::lose_cache(o.loss, o.loss_folder);
    std::printf("power cut: %s, %d folders held unsynced changes\n", cut ? "taken" : "never reached", folders);
  }
  std::fflush(stdout);
  if (!o.heap.empty() && !write_heap(o.heap)) ok = false;
  if (!o.calls.empty() && !write_calls(o.calls)) ok = false;
  return ok ? 0 : kExitRunFailed;
}
