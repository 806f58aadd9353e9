// The service history: its schema and append-only rule, a damaged, foreign or
// newer database refused and left as it was, a writer killed mid-write losing
// nothing it committed, and what changes become (records, diff, CSV, a
// calibration run read back whole).
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <variant>

#include "env/service_identity.h"
#include "history/file_digest.h"
#include "history/history_records.h"
#include "history/service_history.h"
#include "sample_calibration_run.h"
#include "temp_folder.h"

namespace rolta::test {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<ServiceHistory> OpenOk(const fs::path& path, ServiceIdentity identity = {"Bench 7", "Li Wei", ""}) {
  auto opened = ServiceHistory::Open(path, std::move(identity));
  if (auto* error = std::get_if<HistoryError>(&opened)) ADD_FAILURE() << error->detail;
  return std::holds_alternative<HistoryError>(opened) ? nullptr : std::move(std::get<0>(opened));
}

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

int Mode(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return static_cast<int>(info.st_mode & 0777);
}

// Runs SQL on the file with SQLite itself, as another program would.
int ExecuteRaw(const fs::path& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return result;
}

TEST(ServiceHistory, IsCreatedPrivateAndKeepsEntriesAppendOnly) {
  TempFolder folder;
  const fs::path path = folder.path() / "rolta" / "history.sqlite";
  auto history = OpenOk(path);
  ASSERT_TRUE(history);
  EXPECT_EQ(Mode(path.parent_path()), 0700);
  EXPECT_EQ(Mode(path), 0600);

  const auto first = history->Append(HistoryKind::Connect, "connect /dev/ttyS0", {{"port", "/dev/ttyS0"}}, 100);
  const auto second = history->Append(HistoryKind::CalibStore, "calib", {{"b", "2"}, {"a", "1"}}, 200);
  ASSERT_TRUE(std::holds_alternative<std::int64_t>(second));
  const std::optional<HistoryEntry> entry = history->Get(std::get<std::int64_t>(second));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->bench, "Bench 7");
  EXPECT_EQ(entry->engineer, "Li Wei");
  EXPECT_EQ(entry->fields, (std::vector<HistoryField>{{"b", "2"}, {"a", "1"}}));  // in the order given
  HistoryFilter connects;
  connects.kind = HistoryKind::Connect;
  HistoryFilter late;
  late.fromUtc = 150;
  HistoryFilter otherBench;
  otherBench.bench = "other";
  EXPECT_EQ(history->List(connects).size(), 1u);
  EXPECT_EQ(history->List(late).size(), 1u);
  EXPECT_EQ(history->List(otherBench).size(), 0u);
  history.reset();

  for (const char* change : {"UPDATE entries SET summary = 'x'", "DELETE FROM entries", "DELETE FROM entry_fields",
                             "UPDATE entry_fields SET value = 'x'"}) {
    EXPECT_NE(ExecuteRaw(path, change), SQLITE_OK) << change;
  }
  history = OpenOk(path);
  EXPECT_EQ(history->List().size(), 2u);
  EXPECT_EQ(history->Get(std::get<std::int64_t>(first))->summary, "connect /dev/ttyS0");
}

TEST(ServiceHistory, ADamagedForeignOrNewerDatabaseIsRefusedAndLeftAsItWas) {
  TempFolder folder;
  const fs::path newer = folder.path() / "newer.sqlite";
  OpenOk(newer).reset();
  ASSERT_EQ(ExecuteRaw(newer, "PRAGMA user_version = 2"), SQLITE_OK);
  const fs::path foreign = folder.path() / "foreign.sqlite";
  ASSERT_EQ(ExecuteRaw(foreign, "CREATE TABLE t(x)"), SQLITE_OK);
  const fs::path damaged = folder.path() / "damaged.sqlite";
  std::ofstream(damaged, std::ios::binary) << std::string(4096, '\x5a');
  // A real database whose pages after the header are overwritten.
  const fs::path torn = folder.path() / "torn.sqlite";
  {
    auto history = OpenOk(torn);
    for (int i = 0; i < 50; ++i) history->Append(HistoryKind::Connect, std::string(500, 'x'), {{"k", "v"}});
  }
  std::string bytes = ReadAll(torn);
  for (std::size_t i = 5000; i < bytes.size(); i += 7) bytes[i] = '\x7f';
  std::ofstream(torn, std::ios::binary | std::ios::trunc) << bytes;

  const struct {
    fs::path path;
    HistoryProblem problem;
  } cases[] = {{newer, HistoryProblem::NewerFormat},
               {foreign, HistoryProblem::Foreign},
               {damaged, HistoryProblem::Damaged},
               {torn, HistoryProblem::Damaged}};
  for (const auto& [path, problem] : cases) {
    const std::string before = ReadAll(path);
    auto opened = ServiceHistory::Open(path, {});
    ASSERT_TRUE(std::holds_alternative<HistoryError>(opened)) << path;
    EXPECT_EQ(std::get<HistoryError>(opened).problem, problem) << path;
    EXPECT_EQ(ReadAll(path), before) << path;
    EXPECT_FALSE(HistoryErrorText(IdentityLookup{}, std::get<HistoryError>(opened), path).empty());
  }
}

TEST(ServiceHistory, ProgramsOpeningANewHistoryAtOnceAllGetIt) {
  TempFolder folder;
  const fs::path path = folder.path() / "rolta" / "history.sqlite";
  constexpr int kPrograms = 6;
  std::vector<pid_t> children;
  for (int i = 0; i < kPrograms; ++i) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto history = ServiceHistory::Open(path, {});
      ::_exit(std::holds_alternative<std::unique_ptr<ServiceHistory>>(history) ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(OpenOk(path));
}

TEST(ServiceHistory, AWriterKilledMidWriteLosesNothingItCommitted) {
  TempFolder folder;
  const fs::path path = folder.path() / "history.sqlite";
  OpenOk(path).reset();
  constexpr int kFieldsPerEntry = 40;
  std::vector<HistoryField> fields;
  for (int i = 0; i < kFieldsPerEntry; ++i) fields.push_back({"key" + std::to_string(i), std::string(200, 'v')});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto history = ServiceHistory::Open(path, {});
    auto* open = std::get_if<std::unique_ptr<ServiceHistory>>(&history);
    if (open == nullptr) ::_exit(1);
    for (;;) (*open)->Append(HistoryKind::ParamsWrite, "write", fields);
  }
  // Killed once it has committed a few, at whatever point of a write it is.
  for (int tries = 0; tries < 2000; ++tries) {
    auto reader = ServiceHistory::Open(path, {});
    if (auto* open = std::get_if<std::unique_ptr<ServiceHistory>>(&reader); open && (*open)->List().size() >= 5) break;
    ::usleep(2000);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);

  auto history = OpenOk(path);
  ASSERT_TRUE(history);
  const std::vector<HistoryEntry> entries = history->List();
  EXPECT_GE(entries.size(), 5u);
  for (const HistoryEntry& entry : entries) EXPECT_EQ(history->Get(entry.id)->fields.size(), fields.size());
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(history->Append(HistoryKind::Connect, "after", {})));
}

TEST(ServiceHistoryRecords, ACalibrationRunIsReadBackWhole) {
  TempFolder folder;
  auto history = OpenOk(folder.path() / "h.sqlite");
  const CalibrationRun run = SampleRun();
  const HistoryRecord record = CalibrationRunRecord(IdentityLookup{}, run);
  const auto id = history->Append(record.kind, record.summary, record.fields);
  const std::optional<CalibrationRun> back = CalibrationRunOf(*history->Get(std::get<std::int64_t>(id)));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->bench, run.bench);
  EXPECT_EQ(back->channel, run.channel);
  EXPECT_EQ(back->reference.certificate, run.reference.certificate);
  EXPECT_EQ(back->reference.expandedUncertainty, run.reference.expandedUncertainty);
  EXPECT_EQ(back->tableBefore, run.tableBefore);
  EXPECT_EQ(back->tableAfter, run.tableAfter);
  EXPECT_EQ(back->linearityPercentFullScale, run.linearityPercentFullScale);
  ASSERT_EQ(back->asFound.size(), 2u);
  EXPECT_EQ(back->asFound[1].errorPercentFullScale, 1.225);
  EXPECT_FALSE(back->asFound[1].pass);
  EXPECT_EQ(back->asLeft.size(), 1u);
  EXPECT_TRUE(back->asLeftPass);
  EXPECT_EQ(back->message, run.message);
  EXPECT_EQ(back->finishedAtUnixSeconds, run.finishedAtUnixSeconds);
  HistoryEntry other;
  other.kind = HistoryKind::CalibrationRun;
  other.fields = {{"channel", "前左力矩"}};
  EXPECT_FALSE(CalibrationRunOf(other));  // not whole
}

TEST(ServiceHistoryRecords, ChangesAreNamedAndTwoEntriesCompared) {
  const IdentityLookup texts;
  const auto payloadOf = [](float rollerSize) {
    ControllerParams values;
    values.rollerSize = rollerSize;
    ParamWriteFrame frame;
    EncodeParams(values, std::nullopt, frame);
    ParamsPayload payload;
    std::copy(frame.Payload().begin(), frame.Payload().end(), payload.begin());
    return payload;
  };
  const ParamsPayload before = payloadOf(216);
  const ParamsPayload after = payloadOf(220);
  const HistoryRecord params = ParamsWriteRecord(texts, before, after);
  ASSERT_NE(params.fields.size(), 0u);
  HistoryEntry paramsEntry{1, 0, "", "", params.kind, params.summary, params.fields};
  ASSERT_TRUE(paramsEntry.Field("changed.1"));
  EXPECT_NE(paramsEntry.Field("changed.1")->find("216.00 → "), std::string::npos) << *paramsEntry.Field("changed.1");
  EXPECT_FALSE(paramsEntry.Field("changed.2"));

  ChannelMap oldMap;
  ChannelMap newMap;
  newMap.bytes[0] = 7;
  const HistoryRecord map = ChannelMapRecord(texts, oldMap, newMap);
  HistoryEntry mapEntry{2, 0, "", "", map.kind, map.summary, map.fields};
  EXPECT_EQ(*mapEntry.Field("changed.1"), std::string(ChannelFields()[0].label) + ": 0 → 7");

  CalibTable first(10);
  first.SetCount(2);
  first.SetSecond(1, 100.0f);
  CalibTable second = first;
  second.SetSecond(1, 101.5f);
  const HistoryRecord a = CalibStoreRecord(texts, CalibChannel::Speed, std::nullopt, first);
  const HistoryRecord b = CalibStoreRecord(texts, CalibChannel::Speed, first, second);
  const std::vector<FieldChange> changes =
      DiffEntries({3, 0, "", "", a.kind, a.summary, a.fields}, {4, 0, "", "", b.kind, b.summary, b.fields});
  const auto changed = [&changes](const std::string& key) {
    return std::find_if(changes.begin(), changes.end(), [&key](const FieldChange& c) { return c.key == key; });
  };
  ASSERT_NE(changed("after.2"), changes.end());
  EXPECT_EQ(changed("after.2")->before, "0  100");
  EXPECT_EQ(changed("after.2")->after, "0  101.5");
  EXPECT_NE(changed("before.2"), changes.end());  // only the second knows the table before
  EXPECT_EQ(changed("after.1"), changes.end());
}

TEST(ServiceHistoryRecords, CsvQuotesEveryTextCell) {
  HistoryEntry entry{5, 0, "Bench \"A\"", "Li, Wei", HistoryKind::Connect, "s", {{"k", "v1\nv2"}}};
  std::ostringstream csv;
  WriteHistoryCsv(csv, std::span<const HistoryEntry>(&entry, 1));
  EXPECT_EQ(csv.str(),
            "id,time_utc,bench,engineer,kind,summary,fields\r\n"
            "5,1970-01-01 00:00:00,\"Bench \"\"A\"\"\",\"Li, Wei\",connect,\"s\",\"k=v1\nv2\n\"\r\n");
}

TEST(ServiceHistoryRecords, TimesDigestsAndIdentity) {
  const struct {
    const char* text;
    std::optional<std::int64_t> seconds;
  } times[] = {{"1970-01-02", 86400},        {"2026-12-10 04:35", 1796877300},  {"2026-12-10T04:35:39", 1796877339},
               {"2026-13-10", std::nullopt}, {"2026-12-10 4:35", std::nullopt}, {"", std::nullopt}};
  for (const auto& [text, seconds] : times) EXPECT_EQ(UtcTimeFromText(text), seconds) << text;
  EXPECT_EQ(UtcTimeText(1796877339), "2026-12-10 04:35:39");

  const unsigned char abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(Sha256Hex(abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempFolder folder;
  const std::string conf = "# ours\nbench = Bench 7\nengineer=Li Wei\ntraceability=NIM\nx=1\n";
  std::ofstream(folder.path() / "service.conf") << conf;
  const ServiceIdentity identity = LoadServiceIdentity(folder.path() / "service.conf");
  EXPECT_EQ(identity.bench, "Bench 7");
  EXPECT_EQ(identity.engineer, "Li Wei");
  EXPECT_EQ(identity.traceability, "NIM");
  EXPECT_EQ(FileSha256(folder.path() / "service.conf"),
            Sha256Hex(std::span(reinterpret_cast<const unsigned char*>(conf.data()), conf.size())));
}

// The standard vectors, lengths on each side of the padding's edges (55/56
// bytes leave room for the length or not, 64 fills a block), each fed whole
// and again in uneven pieces that straddle the blocks.
TEST(ServiceHistoryRecords, Sha256Vectors) {
  const struct {
    std::string message;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(57, 'a'), "f13b2d724659eb3bf47f2dd6af1accc87b81f09f59f2b75e5c0bed6589dfe8c6"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  constexpr std::size_t kPieces[] = {1, 7, 64, 63, 130, 65, 4096, 3};
  Sha256 digest;  // one object throughout: finishing starts it afresh
  for (const auto& [message, expected] : vectors) {
    const std::span bytes(reinterpret_cast<const unsigned char*>(message.data()), message.size());
    EXPECT_EQ(Sha256Hex(bytes), expected) << message.size() << " bytes whole";
    std::size_t at = 0;
    for (std::size_t piece = 0; at < bytes.size(); ++piece) {
      const std::size_t length = std::min(kPieces[piece % std::size(kPieces)], bytes.size() - at);
      digest.Add(bytes.subspan(at, length));
      at += length;
    }
    EXPECT_EQ(digest.FinishHex(), expected) << message.size() << " bytes in pieces";
  }
}

}  // namespace
}  // namespace rolta::test
