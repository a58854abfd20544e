// Writes the demo's sample disk: recordings with .inf and .nav companions that look
// like a recorder's (transport-stream packets, a header with the programme's texts,
// an index of frame positions). Usage: demo_disk DISK_DIR
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Recording {
  const char *folder;   // below /DataFiles, "" for the top
  const char *name;     // ISO 8859-1
  const char *channel;
  int minutes;
  bool nav;
};

// \xE4 a-umlaut, \xF6 o-umlaut, \xFC u-umlaut, \xDF sharp s, \xE9 e-acute (ISO 8859-1).
const Recording kRecordings[] = {
    {"", "Abendnachrichten.rec", "Kanal Eins", 15, true},
    {"", "Krimi am Sonntag - Der Fall Holdt.rec", "Kanal Eins", 90, true},
    {"", "Kinderstunde am Morgen.rec", "Kinderkanal", 30, true},
    {"", "Journal am Abend.rec", "Kanal Zwei", 30, true},
    {"", "M\xE4rchenwald.rec", "Kinderkanal", 45, false},
    {"", "Gro\xDF" "stadtwache.rec", "Kanal Eins", 50, true},
    {"", "Caf\xE9 am Hafen.rec", "Kulturkanal", 60, true},
    {"", "Wetter.rec", "Kanal Zwei", 5, false},
    {"", "Sport am Samstag.rec", "Kanal Eins", 60, true},
    {"", "Faszination Gebirge.rec", "Kanal Zwei", 45, true},
    {"", "Kochen mit K\xF6pfchen.rec", "Regional S\xFC\x64", 30, true},
    {"Serien", "Hofgeschichten - Folge 12.rec", "Kanal Zwei", 60, true},
    {"Serien", "Hofgeschichten - Folge 13.rec", "Kanal Zwei", 60, true},
    {"Serien", "Dorfleben.rec", "Regional S\xFC\x64", 30, false},
    {"Serien", "L\xE4nderbilder.rec", "Kanal Zwei", 30, true},
    {"Filme", "Das Schiff.rec", "Kulturkanal", 150, true},
    {"Filme", "Stadt der Zukunft.rec", "Kulturkanal", 120, true},
    {"Filme", "Ein Mann sucht seinen Hund.rec", "Kulturkanal", 110, false},
    {"Filme/Klassiker", "Die Nachtgestalt.rec", "Kulturkanal", 95, true},
    {"Doku", "Wilde Meere.mpg", "Ereigniskanal", 90, true},
    {"Doku", "Die K\xFCste.rec", "Regional Nord", 45, true},
};

uint32_t rng = 0x2545F491;
uint8_t Next() {
  rng ^= rng << 13;
  rng ^= rng >> 17;
  rng ^= rng << 5;
  return static_cast<uint8_t>(rng >> 7);
}

void Put32(std::string &s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Transport-stream packets: sync byte, PID and counter, then payload. Size grows with the
// programme's length, kept small for the demo.
std::string RecordingBytes(const Recording &r, int index) {
  size_t packets = 300 + static_cast<size_t>(r.minutes) * 20 + index * 37;
  std::string s;
  s.reserve(packets * 188);
  for (size_t p = 0; p < packets; ++p) {
    uint16_t pid = (p % 5 == 0) ? 0x0101 : 0x0100 + (p % 3);
    s += '\x47';
    s += static_cast<char>(((p % 40 == 0) ? 0x40 : 0) | (pid >> 8));
    s += static_cast<char>(pid & 0xFF);
    s += static_cast<char>(0x10 | (p & 0x0F));
    for (int i = 4; i < 188; ++i) s += static_cast<char>(Next());
  }
  return s;
}

// Header: magic, version, duration, service id, then channel, title and description texts.
std::string InfBytes(const Recording &r, int index) {
  std::string s = "RINF";
  Put32(s, 0x5000 + index);           // version and flags
  Put32(s, r.minutes * 60);           // bytes 8..11: duration in seconds
  Put32(s, 0x2800 + index * 3);       // service id
  std::string title(r.name, std::strlen(r.name) - 4);
  for (const std::string &text : {std::string(r.channel), title,
                                  "Aufzeichnung vom Dezember, " + std::to_string(r.minutes) + " Minuten."}) {
    std::string field = text;
    field.resize(256, '\0');
    s += field;
  }
  s.resize(3000 + index * 64, '\0');
  return s;
}

// Index of frame positions: 16-byte records of offset and time.
std::string NavBytes(const Recording &r, size_t recordingSize, int index) {
  std::string s;
  uint32_t frames = static_cast<uint32_t>(r.minutes) * 10 + index;
  for (uint32_t f = 0; f < frames; ++f) {
    uint64_t offset = recordingSize * f / frames;
    Put32(s, static_cast<uint32_t>(offset));
    Put32(s, static_cast<uint32_t>(offset >> 32) | (f % 12 == 0 ? 0x10000u : 0));
    Put32(s, f * 40);  // milliseconds
    Put32(s, 0x800 + (Next() << 4));
  }
  return s;
}

bool Write(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DISK_DIR\n", argv[0]);
    return 2;
  }
  fs::path data = fs::path(argv[1]) / "DataFiles";
  int index = 0;
  for (const Recording &r : kRecordings) {
    fs::path folder = data / r.folder;
    fs::create_directories(folder);
    std::string rec = RecordingBytes(r, index);
    fs::path base = folder / r.name;
    bool ok = Write(base, rec) && Write(base.string() + ".inf", InfBytes(r, index));
    if (ok && r.nav) ok = Write(base.string() + ".nav", NavBytes(r, rec.size(), index));
    if (!ok) {
      std::fprintf(stderr, "demo_disk: cannot write %s\n", base.c_str());
      return 1;
    }
    ++index;
  }
  std::printf("%d recordings written under %s\n", index, data.c_str());
  return 0;
}
