// The environment library, loaded at start and freed at exit: its entry points
// resolved by name, and typed calls for the ones the console uses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "env/envkit_entries.h"
#include "env/envkit_types.h"
#include "env/text_lookup.h"

namespace rolta {

// Load results.
inline constexpr int kEnvLoadOk = 1;
inline constexpr int kEnvNoSystemDirectory = -1000;
inline constexpr int kEnvNotLoadable = -1;
inline constexpr int kEnvWrongRecordSize = -9999;
// The first missing entry at table position i (0-based) gives -2 - i.
inline constexpr int MissingEntryResult(int index) { return -2 - index; }

// Where the library is looked for; overrides the program's own directory.
inline constexpr char kEnvkitDirVariable[] = "ROLTA_ENVKIT_DIR";

using EnvRecord = std::vector<std::uint8_t>;

class EnvLibrary {
 public:
  // One member per entry, typed after the shared entry list. An entry the
  // loaded library does not provide, or any entry while nothing is loaded,
  // points at a stand-in that answers -1000 (the text lookup: "No This Funciont").
  struct Entries {
#define ROLTA_ENV_TYPED_MEMBER(name, ret, params) ret(*name) params;
#define ROLTA_ENV_GENERIC_MEMBER(name) int (*name)(void);
    ROLTA_ENVKIT_ENTRIES(ROLTA_ENV_TYPED_MEMBER, ROLTA_ENV_GENERIC_MEMBER)
#undef ROLTA_ENV_TYPED_MEMBER
#undef ROLTA_ENV_GENERIC_MEMBER
  };

  EnvLibrary();
  ~EnvLibrary();
  EnvLibrary(const EnvLibrary&) = delete;
  EnvLibrary& operator=(const EnvLibrary&) = delete;

  // Loads the library chosen by selector from the system directory and
  // resolves every entry: kEnvLoadOk, kEnvNoSystemDirectory, kEnvNotLoadable,
  // MissingEntryResult(i) or kEnvWrongRecordSize. On any result but 1 nothing
  // stays loaded. A library already loaded is unloaded first.
  int Load(int selector);
  // Frees the library and empties every entry.
  void Unload();
  bool IsLoaded() const { return handle_ != nullptr; }

  // "libEnvkit2b.so" … "libEnvkit16b.so" for 2, 4, 8, 16, "libEnvkit.so" otherwise.
  static std::string FileName(int selector);
  // $ROLTA_ENVKIT_DIR when set and not empty, else the running program's
  // directory; nothing when that is not an existing directory.
  static std::optional<std::string> SystemDirectory();

  // Table order names, for diagnostics and tests.
  static const std::array<std::string_view, kEnvkitEntryCount>& EntryNames();
  // False when the entry at that table position is empty (or the index is out of range).
  bool HasEntry(int index) const;
  const Entries& entries() const { return entries_; }

  // Typed calls of the entries the console uses.
  int GetEnvkitStrSize() const;
  // Sizes the record to kEnvkitRecordSize and lets the library fill it:
  // 1 read, 0 defaults restored (file missing), -1 file altered and corrected.
  int GetEnvkit(EnvRecord& record) const;
  // The translation, copied at once; never fails.
  std::string GetLangueString(std::string_view text) const;
  // Fills the list; the count is clamped to 0..100 and every name is terminated.
  int GetSerialPortInfo(PortList& list) const;
  // Fills the 512-byte buffer with the version text ("3, 7, 4, 0"); always terminated.
  int GetVers(int kind, std::array<char, 512>& buffer) const;
  // The version text of kind 0, empty when the entry fails.
  std::string VersionText() const;
  int SaveLog(std::string_view source, std::string_view text) const;

 private:
  void EmptyAllEntries();

  void* handle_ = nullptr;
  Entries entries_;
  // Resolved addresses by table position; null while an entry is empty.
  std::array<void*, kEnvkitEntryCount> resolved_{};
};

// The console's translation lookup: every text goes through GetLangueString.
class EnvTextLookup final : public TextLookup {
 public:
  explicit EnvTextLookup(const EnvLibrary& library) : library_(library) {}
  std::string Lookup(std::string_view text) const override { return library_.GetLangueString(text); }
  // The library does not say which language it speaks; a language other than
  // Chinese shows in the translation of the console's most common words.
  bool IsDefaultLanguage() const override;

 private:
  const EnvLibrary& library_;
};

}  // namespace rolta
