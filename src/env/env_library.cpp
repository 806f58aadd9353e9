#include "env/env_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace rolta {
namespace {

template <class R>
R EmptyResult();
template <>
int EmptyResult<int>() {
  return kEnvkitNoEntry;
}
template <>
const char* EmptyResult<const char*>() {
  return kEnvkitNoTextEntry;
}

// What an entry answers while it is empty.
#define ROLTA_ENV_TYPED_EMPTY(name, ret, params) \
  ret Empty_##name params { return EmptyResult<ret>(); }
#define ROLTA_ENV_GENERIC_EMPTY(name) \
  int Empty_##name(void) { return kEnvkitNoEntry; }
ROLTA_ENVKIT_ENTRIES(ROLTA_ENV_TYPED_EMPTY, ROLTA_ENV_GENERIC_EMPTY)
#undef ROLTA_ENV_TYPED_EMPTY
#undef ROLTA_ENV_GENERIC_EMPTY

using Resolved = std::array<void*, kEnvkitEntryCount>;

template <class F>
void Resolve(void* handle, const char* name, int index, F& slot, F empty, Resolved& resolved, int& first_missing) {
  void* symbol = handle ? ::dlsym(handle, name) : nullptr;
  resolved[static_cast<std::size_t>(index)] = symbol;
  if (symbol == nullptr) {
    slot = empty;
    if (first_missing < 0) first_missing = index;
    return;
  }
  slot = reinterpret_cast<F>(symbol);
}

// Fills every entry from handle (null empties them all). Returns the table
// position of the first missing entry, or -1 when none is missing.
int ResolveAll(void* handle, EnvLibrary::Entries& entries, Resolved& resolved) {
  int index = 0;
  int first_missing = -1;
#define ROLTA_ENV_RESOLVE_TYPED(name, ret, params) \
  Resolve(handle, #name, index++, entries.name, &Empty_##name, resolved, first_missing);
#define ROLTA_ENV_RESOLVE_GENERIC(name) \
  Resolve(handle, #name, index++, entries.name, &Empty_##name, resolved, first_missing);
  ROLTA_ENVKIT_ENTRIES(ROLTA_ENV_RESOLVE_TYPED, ROLTA_ENV_RESOLVE_GENERIC)
#undef ROLTA_ENV_RESOLVE_TYPED
#undef ROLTA_ENV_RESOLVE_GENERIC
  return first_missing;
}

}  // namespace

EnvLibrary::EnvLibrary() { EmptyAllEntries(); }

EnvLibrary::~EnvLibrary() { Unload(); }

std::string EnvLibrary::FileName(int selector) {
  switch (selector) {
    case 2: return "libEnvkit2b.so";
    case 4: return "libEnvkit4b.so";
    case 8: return "libEnvkit8b.so";
    case 16: return "libEnvkit16b.so";
    default: return "libEnvkit.so";
  }
}

std::optional<std::string> EnvLibrary::SystemDirectory() {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path directory;
  const char* configured = std::getenv(kEnvkitDirVariable);
  if (configured != nullptr && *configured != '\0') {
    directory = configured;
  } else {
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error || program.empty()) return std::nullopt;
    directory = program.parent_path();
    // Installed, the programs are in bin/ and the library in lib/rolta/; in
    // the build folder they lie side by side.
    const fs::path installed = directory / ".." / "lib" / "rolta";
    if (!fs::exists(directory / FileName(1), error) && fs::is_directory(installed, error)) {
      directory = installed.lexically_normal();
    }
  }
  if (!fs::is_directory(directory, error)) return std::nullopt;
  return directory.string();
}

const std::array<std::string_view, kEnvkitEntryCount>& EnvLibrary::EntryNames() {
  static const std::array<std::string_view, kEnvkitEntryCount> names = {
#define ROLTA_ENV_NAME_TYPED(name, ret, params) #name,
#define ROLTA_ENV_NAME_GENERIC(name) #name,
      ROLTA_ENVKIT_ENTRIES(ROLTA_ENV_NAME_TYPED, ROLTA_ENV_NAME_GENERIC)
#undef ROLTA_ENV_NAME_TYPED
#undef ROLTA_ENV_NAME_GENERIC
  };
  return names;
}

int EnvLibrary::Load(int selector) {
  Unload();
  const std::optional<std::string> directory = SystemDirectory();
  if (!directory) return kEnvNoSystemDirectory;
  const std::string path = *directory + "/" + FileName(selector);
  // Every symbol is bound now, so an incomplete library fails here and not
  // at its first call.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return kEnvNotLoadable;
  handle_ = handle;
  const int first_missing = ResolveAll(handle_, entries_, resolved_);
  if (first_missing >= 0) {
    Unload();
    return MissingEntryResult(first_missing);
  }
  if (entries_.GetEnvkitStrSize() != kEnvkitRecordSize) {
    Unload();
    return kEnvWrongRecordSize;
  }
  return kEnvLoadOk;
}

void EnvLibrary::Unload() {
  // Empty the entries before the code they point into goes away.
  EmptyAllEntries();
  if (handle_ != nullptr) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

void EnvLibrary::EmptyAllEntries() { ResolveAll(nullptr, entries_, resolved_); }

bool EnvLibrary::HasEntry(int index) const {
  if (index < 0 || index >= kEnvkitEntryCount) return false;
  return resolved_[static_cast<std::size_t>(index)] != nullptr;
}

int EnvLibrary::GetEnvkitStrSize() const { return entries_.GetEnvkitStrSize(); }

int EnvLibrary::GetEnvkit(EnvRecord& record) const {
  record.assign(static_cast<std::size_t>(kEnvkitRecordSize), 0);
  return entries_.GetEnvkit(record.data());
}

std::string EnvLibrary::GetLangueString(std::string_view text) const {
  const std::string key(text);  // the library wants a terminated text
  const char* translated = entries_.GetLangueString(key.c_str());
  if (translated == nullptr) return key;
  return std::string(translated);
}

int EnvLibrary::GetSerialPortInfo(PortList& list) const {
  list = PortList{};
  const int result = entries_.GetSerialPortInfo(&list);
  list.count = std::clamp<std::int32_t>(list.count, 0, kPortListCapacity);
  for (auto& name : list.names) name[kPortNameSize - 1] = '\0';
  return result;
}

int EnvLibrary::GetVers(int kind, std::array<char, 512>& buffer) const {
  buffer.fill('\0');
  const int result = entries_.GetVers(kind, buffer.data());
  buffer.back() = '\0';
  return result;
}

std::string EnvLibrary::VersionText() const {
  std::array<char, 512> buffer{};
  GetVers(0, buffer);
  return std::string(buffer.data());
}

int EnvLibrary::SaveLog(std::string_view source, std::string_view text) const {
  const std::string source_text(source);
  const std::string log_text(text);
  return entries_.SaveLog(source_text.c_str(), log_text.c_str());
}

}  // namespace rolta

namespace rolta {

bool EnvTextLookup::IsDefaultLanguage() const {
  static constexpr std::string_view kProbes[] = {"速度", "执行", "退出"};
  for (std::string_view probe : kProbes) {
    if (library_.GetLangueString(probe) != probe) return false;
  }
  return true;
}

}  // namespace rolta
