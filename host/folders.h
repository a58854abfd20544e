// The folders on the recorder's disk that the module works with, each spelled once: as the
// host's file calls take them ("/DataFiles/..."), and as the operating system sees them
// ("/mnt/hd/DataFiles/..."), the second form built from the first.
#pragma once

#include <cstddef>

namespace quarrow {

// A terminated text put together at compile time (JoinText).
template <size_t N>
struct FixedText {
  char text[N];
  constexpr operator const char *() const { return text; }
  constexpr const char *c_str() const { return text; }
  static constexpr size_t length() { return N - 1; }
};

namespace detail {
template <typename T>
struct TextLength;
template <size_t N>
struct TextLength<char[N]> {
  static constexpr size_t value = N - 1;
};
template <size_t N>
struct TextLength<FixedText<N>> {
  static constexpr size_t value = N - 1;
};
}  // namespace detail

// The literals and FixedTexts `parts` one after the other.
template <typename... Parts>
constexpr FixedText<(detail::TextLength<Parts>::value + ... + 1)> JoinText(const Parts &...parts) {
  FixedText<(detail::TextLength<Parts>::value + ... + 1)> out{};
  size_t at = 0;
  auto append = [&out, &at](const char *part, size_t length) {
    for (size_t i = 0; i < length; ++i) out.text[at++] = part[i];
  };
  (append(parts, detail::TextLength<Parts>::value), ...);
  out.text[at] = '\0';
  return out;
}

// Where the operating system mounts the disk; a host path is relative to it.
inline constexpr char kOsPrefix[] = "/mnt/hd";
// The device number lstat64 gives for what lies on the internal disk (major 8, minor 2).
inline constexpr unsigned kInternalDisk = 2050;

// The folder modules are started from, every recorder has it.
inline constexpr char kProgramFiles[] = "/ProgramFiles";
inline constexpr auto kProgramFilesOs = JoinText(kOsPrefix, kProgramFiles);
// The settings folders' parent, inside /ProgramFiles.
inline constexpr char kSettingsName[] = "Settings";
inline constexpr auto kSettingsParent = JoinText(kProgramFiles, "/", kSettingsName);
inline constexpr auto kSettingsParentOs = JoinText(kOsPrefix, kSettingsParent);
// The module's own folder, in the settings parent and in /DataFiles.
inline constexpr char kFolderName[] = "Zorvane";
inline constexpr auto kSettingsFolder = JoinText(kSettingsParent, "/", kFolderName);
inline constexpr auto kSettingsFolderOs = JoinText(kOsPrefix, kSettingsFolder);
// The settings store's own fallback folder in the settings parent (INIPlace_AppFolder).
inline constexpr char kIniAppFolder[] = "Quarrow";

// The recordings, and the folder the recovered files are moved into.
inline constexpr char kDataFiles[] = "/DataFiles";
inline constexpr auto kDataFilesOs = JoinText(kOsPrefix, kDataFiles);
inline constexpr auto kRecoveryFolder = JoinText(kDataFiles, "/", kFolderName);
inline constexpr auto kRecoveryFolderOs = JoinText(kOsPrefix, kRecoveryFolder);

// Where the file-system check puts what it found.
inline constexpr char kQuarrowFolder[] = "/Quarrow";
inline constexpr auto kQuarrowFolderOs = JoinText(kOsPrefix, kQuarrowFolder);

}  // namespace quarrow
