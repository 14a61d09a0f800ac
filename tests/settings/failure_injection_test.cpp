// Every registry call of every writer and read fails in turn. Each run must
// give the error text (or the silence) it should, touch no key but the
// path's own, and leave no handle open.
#include "settings/catalogue.h"
#include "settings/readback.h"
#include "tests/engine_fixture.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace kestro::test {
namespace {

using Op = MemoryRegistryStore::Op;

// A dump as a set of "[key]" and "[key] value-line" entries.
std::set<std::string> Entries(const std::string& dump) {
    std::set<std::string> entries;
    std::istringstream in(dump);
    std::string line, key;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            key = line;
            entries.insert(key);
        } else {
            entries.insert(key + line);
        }
    }
    return entries;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

const char* RootName(KeyHandle root) {
    return root == kHkeyClassesRoot ? "HKEY_CLASSES_ROOT"
                                    : root == kHkeyLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

// Lists what changed between two dumps that is not allowed: only the keys
// on `path` may appear, only values of the path's own key may appear or
// change, and only entries below `removable` may go.
std::string Trespasses(const std::string& before, const std::string& after, KeyHandle root, const std::string& path,
                       const std::string& removable = std::string()) {
    const std::string own = Upper(std::string("[") + RootName(root) + "\\" + path + "]");
    std::string problems;
    std::set<std::string> was = Entries(before), is = Entries(after);
    for (const std::string& e : is) {
        if (was.count(e)) continue;
        std::string upper = Upper(e);
        bool keyOnPath = upper.back() == ']' && own.compare(0, upper.size() - 1, upper, 0, upper.size() - 1) == 0 &&
                         (own[upper.size() - 1] == '\\' || own[upper.size() - 1] == ']');
        bool ownValue = upper.compare(0, own.size(), own) == 0 && upper.size() > own.size();
        if (!keyOnPath && !ownValue) problems += "added " + e + "\n";
    }
    for (const std::string& e : was) {
        if (is.count(e)) continue;
        std::string upper = Upper(e);
        bool ownValue = upper.compare(0, own.size(), own) == 0 && upper.size() > own.size();  // replaced
        bool underRemovable = !removable.empty() && upper.rfind(Upper("[" + removable), 0) == 0;
        if (!ownValue && !underRemovable) problems += "removed " + e + "\n";
    }
    return problems;
}

// A registry with something in every place the catalogue touches, and a
// neighbour beside each, so that a stray write or deletion shows.
void Populate(MemoryRegistryStore& store) {
    for (const Setting& row : kCatalogue) {
        if (row.shape == WriteShape::RemoveSubkey) {
            const std::string base = std::string(row.keyPath) + "\\" + row.valueNames[0];
            store.PutValue(row.root, base + "\\5001", "000", kRegSz, TextBytes("search"));
            store.PutValue(row.root, base + "\\5001\\Inner", "000", kRegSz, TextBytes("deeper"));
            store.PutValue(row.root, base + "\\5603", "000", kRegSz, TextBytes("other"));
            continue;
        }
        for (std::size_t i = 0; i < row.ValueCount(); ++i)
            store.PutValue(row.root, row.keyPath, row.valueNames[i], kRegDword, DwordBytes(row.down[i]));
        // Windows keeps this one as text.
        if (row.shape == WriteShape::SystemParameters)
            store.PutValue(row.root, row.keyPath, row.valueNames[0], kRegSz, TextBytes("2"));
        store.PutValue(row.root, row.keyPath, "Neighbour", kRegDword, DwordBytes(77));
    }
    store.PutValue(kHkeyCurrentUser, "Software", "AboveEverything", kRegDword, DwordBytes(5));
    store.PutValue(kHkeyLocalMachine, "SYSTEM", "AboveEverything", kRegDword, DwordBytes(5));
}

struct Outcome {
    std::string error;
    std::string before, after;
    int openHandles = 0;
    std::vector<MemoryRegistryStore::Call> journal;
};

// Runs `action` on a populated store with the `failAt`th call failing (0:
// none).
Outcome RunWithFailure(const std::function<void()>& action, int failAt) {
    MemoryRegistryStore store;
    ScopedRegistryStore scope(store);
    Populate(store);
    Outcome run;
    run.before = store.Dump();
    store.ResetCallCounts();
    if (failAt > 0) store.FailCall(Op::Any, failAt);
    run.error = "(no error)";
    try {
        action();
    } catch (const ERegistryException& e) {
        run.error = e.what();
    }
    run.after = store.Dump();
    run.openHandles = store.OpenHandleCount();
    run.journal = store.Journal();
    return run;
}

// A value write, through the 8-bit call or the wide one.
bool IsWrite(Op op) { return op == Op::SetValue || op == Op::SetValueW; }

// The value whose write the `index`th call (0-based) serves: the next
// SetValue from there on in a run without failures.
std::string ValueBeingWritten(const std::vector<MemoryRegistryStore::Call>& journal, std::size_t index) {
    for (std::size_t i = index; i < journal.size(); ++i)
        if (IsWrite(journal[i].op)) return journal[i].name;
    for (std::size_t i = index + 1; i-- > 0;)  // a close after the last write
        if (IsWrite(journal[i].op)) return journal[i].name;
    return std::string();
}

struct WriterCase {
    const char* name;
    SettingId id;
    std::function<void()> call;
};

const std::vector<WriterCase>& WriterCases() {
    static const std::vector<WriterCase> cases = [] {
        std::vector<WriterCase> c;
        using Z = Zfunctions;
        auto add = [&](const char* name, SettingId id, std::function<void()> f) { c.push_back({name, id, f}); };
        add("SetMaxRecentDocs", SettingId::MaxRecentDocs, [] { Z::SetMaxRecentDocs(-1); });
        add("SetNoNetworkConnections", SettingId::NoNetworkConnections, [] { Z::SetNoNetworkConnections(0); });
        add("SetStartmenuLogoff", SettingId::StartmenuLogoff, [] { Z::SetStartmenuLogoff(0); });
        add("SetNoFavoritesMenu", SettingId::NoFavoritesMenu, [] { Z::SetNoFavoritesMenu(0); });
        add("SetNoRecentDocsMenu", SettingId::NoRecentDocsMenu, [] { Z::SetNoRecentDocsMenu(0); });
        add("SetClearRecentDocsOnExit", SettingId::ClearRecentDocsOnExit, [] { Z::SetClearRecentDocsOnExit(0); });
        add("SetNoRecentDocsHistory", SettingId::NoRecentDocsHistory, [] { Z::SetNoRecentDocsHistory(0); });
        add("SetNoSMMyPictures", SettingId::NoSMMyPictures, [] { Z::SetNoSMMyPictures(0); });
        add("SetNoSetTaskbar", SettingId::NoSetTaskbar, [] { Z::SetNoSetTaskbar(0); });
        add("SetNoAddPrinter", SettingId::NoAddPrinter, [] { Z::SetNoAddPrinter(0); });
        add("SetNoFind", SettingId::NoFind, [] { Z::SetNoFind(0); });
        add("SetNoSMHelp", SettingId::NoSMHelp, [] { Z::SetNoSMHelp(0); });
        add("SetNoRun", SettingId::NoRun, [] { Z::SetNoRun(0); });
        add("SetNoStartMenuMorePrograms", SettingId::NoStartMenuMorePrograms, [] { Z::SetNoStartMenuMorePrograms(0); });
        add("SetNoChangeStartMenu", SettingId::NoChangeStartMenu, [] { Z::SetNoChangeStartMenu(0); });
        add("SetPaintDesktopVersion", SettingId::PaintDesktopVersion, [] { Z::SetPaintDesktopVersion(0); });
        add("SetNoAddRemovePrograms", SettingId::NoAddRemovePrograms, [] { Z::SetNoAddRemovePrograms(0); });
        add("SetNoDispCPL", SettingId::NoDispCPL, [] { Z::SetNoDispCPL(0); });
        add("SetNoThemesTab", SettingId::NoThemesTab, [] { Z::SetNoThemesTab(0); });
        add("SetNoDispBackgroundPage", SettingId::NoDispBackgroundPage, [] { Z::SetNoDispBackgroundPage(0); });
        add("SetNoDispScrSavPage", SettingId::NoDispScrSavPage, [] { Z::SetNoDispScrSavPage(0); });
        add("SetNoDispAppearancePage", SettingId::NoDispAppearancePage, [] { Z::SetNoDispAppearancePage(0); });
        add("SetDisableTaskMgr", SettingId::DisableTaskMgr, [] { Z::SetDisableTaskMgr(0); });
        add("SetDisableRegistryTools", SettingId::DisableRegistryTools, [] { Z::SetDisableRegistryTools(0); });
        add("SetCdromAutoRun", SettingId::CdromAutoRun, [] { Z::SetCdromAutoRun(0); });
        add("SetNtfsDisableLastAccessUpdate", SettingId::NtfsDisableLastAccessUpdate, [] { Z::SetNtfsDisableLastAccessUpdate(0); });
        add("SetFontSmoothing", SettingId::FontSmoothing, [] { Z::SetFontSmoothing(0); });
        add("SetCdromStart", SettingId::CdromStart, [] { Z::SetCdromStart(3); });
        add("SetFlpydiskStart", SettingId::FlpydiskStart, [] { Z::SetFlpydiskStart(3); });
        add("SetParportStart", SettingId::ParportStart, [] { Z::SetParportStart(3); });
        add("SetUsbstorStart", SettingId::UsbstorStart, [] { Z::SetUsbstorStart(3); });
        add("SetRecycleBinName", SettingId::RecycleBinName, [] { Z::SetRecycleBinName("Kestro"); });
        add("SetRecycleBinInfoTip", SettingId::RecycleBinInfoTip, [] { Z::SetRecycleBinInfoTip("tip"); });
        add("SetWallpaper", SettingId::Wallpaper, [] { Z::SetWallpaper("C:\\a.bmp"); });
        add("ClearSearchHistory", SettingId::SearchHistory, [] { Z::ClearSearchHistory(); });
        return c;
    }();
    return cases;
}

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

class WriterFailureTest : public ::testing::TestWithParam<WriterCase> {};

TEST_P(WriterFailureTest, EachCallFailingInTurn) {
    const WriterCase& w = GetParam();
    const Setting& row = CatalogueRow(w.id);
    const Outcome clean = RunWithFailure(w.call, 0);
    ASSERT_EQ("(no error)", clean.error);
    ASSERT_GT(clean.journal.size(), 2u);
    const bool removal = row.shape == WriteShape::RemoveSubkey;
    const std::string removable =
        removal ? std::string(RootName(row.root)) + "\\" + row.keyPath + "\\" + row.valueNames[0] : std::string();

    for (std::size_t i = 0; i < clean.journal.size(); ++i) {
        const Outcome run = RunWithFailure(w.call, static_cast<int>(i) + 1);
        const Op op = clean.journal[i].op;
        SCOPED_TRACE(std::string(w.name) + ", failing call " + std::to_string(i + 1) + " (" + clean.journal[i].name + ")");
        EXPECT_EQ(0, run.openHandles);
        EXPECT_EQ("", Trespasses(run.before, run.after, row.root, row.keyPath, removable));

        std::string expected = "(no error)";
        const bool walkOrWrite = op == Op::CreateKey || IsWrite(op) || (op == Op::OpenKey && !removal);
        if (!removal && walkOrWrite) expected = "Failed to set data for '" + ValueBeingWritten(clean.journal, i) + "'";
        EXPECT_EQ(expected, run.error);
        if (expected != "(no error)") {
            // Nothing of this write landed, and nothing after it was tried.
            for (std::size_t k = i + 1; k < run.journal.size(); ++k)
                EXPECT_FALSE(IsWrite(run.journal[k].op)) << "a write after the failure";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterFailureTest, ::testing::ValuesIn(WriterCases()),
                         [](const ::testing::TestParamInfo<WriterCase>& info) { return std::string(info.param.name); });

TEST(ReadFailureTest, EachCallOfTheReadBackFailingInTurn) {
    FakeView probe;
    const Outcome clean = RunWithFailure([&] { LoadSettingsState(probe); }, 0);
    ASSERT_EQ("(no error)", clean.error);
    for (std::size_t i = 0; i < clean.journal.size(); ++i) {
        FakeView view;
        const Outcome run = RunWithFailure([&] { LoadSettingsState(view); }, static_cast<int>(i) + 1);
        const auto& call = clean.journal[i];
        SCOPED_TRACE("failing call " + std::to_string(i + 1) + " (" + call.name + ")");
        EXPECT_EQ(0, run.openHandles);
        EXPECT_EQ(run.before, run.after) << "a read changed the registry";
        // Only the query that fetches data raises; a failed walk or probe
        // reads as an absent value.
        const bool raises = (call.op == Op::QueryValue || call.op == Op::QueryValueW) && call.withData;
        EXPECT_EQ(raises ? "Failed to get data for '" + call.name + "'" : "(no error)", run.error);
        if (raises) {
            EXPECT_FALSE(view.WasSet("sbBanUSB"));  // the last step never ran
        } else {
            EXPECT_TRUE(view.WasSet("sbBanUSB"));
        }
    }
}

TEST(ReadFailureTest, SingleReadsReleaseTheirCursorOnEveryFailure) {
    const std::string path = "SYSTEM\\CurrentControlSet\\Services\\usbstor";
    for (KeyHandle root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
        auto read = [&] { Zfunctions::ReadDwordValueAt(path, "start", root); };
        const Outcome clean = RunWithFailure(read, 0);
        for (std::size_t i = 0; i < clean.journal.size(); ++i) {
            const Outcome run = RunWithFailure(read, static_cast<int>(i) + 1);
            EXPECT_EQ(0, run.openHandles);
            EXPECT_EQ("", Trespasses(run.before, run.after, root, path));
        }
    }
}

}  // namespace
}  // namespace kestro::test
