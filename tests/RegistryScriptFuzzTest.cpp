// Fuzzing of the registry script interpreter, bounded in time. Scripts generated from the
// grammar (root names, nested blocks, ForceRemove/NoRemove/Delete/Val, quoted tokens with '' and
// blanks, names between "%" signs, values of kinds S, D and B, deep nesting, long and empty
// names, and occasional breakage) and byte-level mutations of the product's own script (its
// HKCR root rewritten) run through the registration pass, with its undo walk, and the removal
// pass. RegOverridePredefKey maps every predefined root a script can name onto a key this
// program owns, HKCU\Software\OrlenwickFuzz\<process id>\<root>. After every pass the keys
// planted around and inside those roots must be as planted: nothing written or deleted outside
// the owned roots, no root key deleted, no value or key touched that no entry at its level can
// name. A crash or a script that runs too long is reported with its number.
//
// Options, on the command line or else in the environment:
//   --seconds=S     ORLENWICK_FUZZ_SECONDS     time for each of the two fuzz tests (default 2)
//   --iterations=N  ORLENWICK_FUZZ_ITERATIONS  at most N scripts for each test (default no bound)
//   --seed=N        ORLENWICK_FUZZ_SEED        seed of the run (default 20240607)
//   --only=K        ORLENWICK_FUZZ_ONLY        runs script K of each test alone, to reproduce it
// Every script is made from the seed, the test and its number alone, so a failure reported as
// "script K" comes back with the same seed and --only=K.
#include "common/TextConversion.h"
#include "common/Unique.h"
#include "registrar/RegistryScript.h"
#include "tools/RegistryTree.h"

#include "resources/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FuzzOptions
{
    double Seconds = 2.0;
    uint64_t Iterations = UINT64_MAX;
    uint64_t Seed = 20240607;
    std::optional<uint64_t> Only;
};

FuzzOptions Options;

// No script of these sizes takes a fraction of this.
constexpr int HangSeconds = 30;
// Scripts between two full comparisons of HKCU\Software.
constexpr uint64_t ContentCheckInterval = 64;

// Registry access of the test's own

// Creates parent\path level by level: a single call takes a path of limited length only.
UniqueRegistryKey CreatePath(HKEY parent, const std::string& path)
{
    UniqueRegistryKey current;
    HKEY at = parent;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find('\\', start), path.size());
        UniqueRegistryKey next;
        if (::RegCreateKeyExA(at, path.substr(start, end - start).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, next.Receive(), nullptr) != ERROR_SUCCESS)
            return UniqueRegistryKey();
        current = std::move(next);
        at = current.Get();
        start = end + 1;
    }
    return current;
}

void SetText(HKEY key, const char* name, const std::string& text)
{
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
}

// The type and bytes of a value.
std::optional<std::string> ReadValue(HKEY key, const char* name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data(size, '\0');
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return std::to_string(type) + ":" + data;
}

// What one call tells of a key: the count of its subkeys and values, and when it last changed
// (any value set or deleted, any subkey created or deleted). A deleted key gives its status.
struct KeyState
{
    LSTATUS Status = ERROR_SUCCESS;
    DWORD Subkeys = 0;
    DWORD Values = 0;
    FILETIME Written = {};

    bool operator==(const KeyState& other) const
    {
        return Status == other.Status && Subkeys == other.Subkeys && Values == other.Values &&
               std::memcmp(&Written, &other.Written, sizeof Written) == 0;
    }
    bool operator!=(const KeyState& other) const { return !(*this == other); }
};

KeyState StateOf(HKEY key)
{
    KeyState state;
    state.Status =
        ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &state.Subkeys, nullptr, nullptr,
                           &state.Values, nullptr, nullptr, nullptr, &state.Written);
    return state;
}

// The names of a key's subkeys, or of its values.
std::vector<std::string> Names(HKEY key, bool values)
{
    std::vector<std::string> names;
    char name[16384];
    for (DWORD index = 0, size = sizeof name;
         (values ? ::RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                 : ::RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)) ==
         ERROR_SUCCESS;
         ++index, size = sizeof name)
        names.emplace_back(name, size);
    return names;
}

// A value's data as a line shows it: a string's text, other data as its bytes.
std::string Shown(const RegistryData& data)
{
    if (data.Type == REG_SZ || data.Type == REG_EXPAND_SZ)
        return NarrowWithSubstitutes(RegistryText(data));
    return std::string(data.Bytes.begin(), data.Bytes.end());
}

// Every key and value below `key`, one sorted line each, leaving out the listed subkey paths
// with everything below them.
std::vector<std::string> Describe(HKEY key, const std::vector<std::string>& leftOut = {})
{
    std::vector<std::string> lines;
    for (const auto& [widePath, values] : ReadRegistryTree(key, L"", 0)) {
        const std::string path = NarrowWithSubstitutes(widePath);
        if (std::any_of(leftOut.begin(), leftOut.end(), [&path](const std::string& out) {
                return path == out || path.rfind(out + "\\", 0) == 0;
            }))
            continue;
        lines.push_back(path);
        for (const auto& [name, data] : values)
            lines.push_back(path + " [" + NarrowWithSubstitutes(name) + "] " +
                            std::to_string(data.Type) + ":" + Shown(data));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string Difference(const std::vector<std::string>& before,
                       const std::vector<std::string>& after)
{
    std::string text;
    for (const std::string& line : before)
        if (!std::binary_search(after.begin(), after.end(), line))
            text += "  gone: " + line + "\n";
    for (const std::string& line : after)
        if (!std::binary_search(before.begin(), before.end(), line))
            text += "  new:  " + line + "\n";
    return text;
}

// The predefined roots a script can name, under both their names: each is mapped onto a key of
// the test's own.
struct PredefinedRoot
{
    const char* Name;
    const char* LongName;
    HKEY Key;
};

const PredefinedRoot PredefinedRoots[] = {
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKU", "HKEY_USERS", HKEY_USERS},
    {"HKPD", "HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKDD", "HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// Planted in every mapped root: a key and a value no script names, and keys and values of
// names that only entries of deeper levels have (a generated entry at level n names keys
// "K<n>..." and values "V<n>..."), with and without subkeys, children first.
const char* const PlantedSentinel = "OrlenwickFuzzSentinel";
const char* const PlantedDeeperKeys[] = {"K2a", "K2b\\K3a", "K2b", "K2c", "K3b\\K4a", "K3b"};
const char* const PlantedDeeperValues[] = {"V2a", "V2b", "V2c", "V3b"};

bool IsPlantedKey(const std::string& name)
{
    return name == PlantedSentinel ||
           std::any_of(std::begin(PlantedDeeperKeys), std::end(PlantedDeeperKeys),
                       [&name](const char* path) { return name == path; });
}

bool IsPlantedValue(const std::string& name)
{
    return name.empty() || name == PlantedSentinel ||
           std::any_of(std::begin(PlantedDeeperValues), std::end(PlantedDeeperValues),
                       [&name](const char* value) { return name == value; });
}

class Random
{
public:
    Random(uint64_t seed, uint64_t test, uint64_t script)
    {
        std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                               static_cast<uint32_t>(test), static_cast<uint32_t>(script),
                               static_cast<uint32_t>(script >> 32)};
        engine.seed(sequence);
    }

    size_t Below(size_t bound)
    {
        return std::uniform_int_distribution<size_t>(0, bound - 1)(engine);
    }
    bool Percent(unsigned chance) { return Below(100) < chance; }
    template <class T, size_t N> const T& Pick(const T (&items)[N]) { return items[Below(N)]; }
    // A predefined root under either of its names.
    std::string RootName(size_t root)
    {
        return Percent(50) ? PredefinedRoots[root].Name : PredefinedRoots[root].LongName;
    }

private:
    std::mt19937_64 engine;
};

// The owned roots, the keys planted around them, and the checks

class OwnedRegistry
{
public:
    OwnedRegistry()
    {
        const std::string id = std::to_string(::GetCurrentProcessId());
        // All real keys are opened before any root is mapped.
        const bool opened = ::RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS,
                                            software.Receive()) == ERROR_SUCCESS;
        EXPECT_TRUE(opened);
        fuzzRoot = CreatePath(software.Get(), "OrlenwickFuzz");
        RemoveStaleRuns();
        ownedName = id;
        besideName = id + ".Sentinel";
        owned = CreatePath(fuzzRoot.Get(), ownedName);
        PlantBeside();
        for (const PredefinedRoot& predefined : PredefinedRoots) {
            MappedRoot root;
            root.Name = predefined.Name;
            root.Predefined = predefined.Key;
            root.Key = CreatePath(owned.Get(), predefined.Name);
            mapped.push_back(std::move(root));
        }
        confined = opened && owned.IsValid();
        for (MappedRoot& root : mapped) {
            PlantInRoot(root);
            const LSTATUS overridden = ::RegOverridePredefKey(root.Predefined, root.Key.Get());
            EXPECT_EQ(overridden, ERROR_SUCCESS) << root.Name;
            confined = confined && root.Key.IsValid() && overridden == ERROR_SUCCESS;
        }
        ownedState = StateOf(owned.Get());
        fuzzRootState = StateOf(fuzzRoot.Get());
        softwareContent = DescribeSoftware();
    }

    ~OwnedRegistry()
    {
        for (const MappedRoot& root : mapped)
            ::RegOverridePredefKey(root.Predefined, nullptr);
        mapped.clear();
        beside.clear();
        owned.Reset();
        ::RegDeleteTreeA(fuzzRoot.Get(), ownedName.c_str());
        ::RegDeleteTreeA(fuzzRoot.Get(), besideName.c_str());
        fuzzRoot.Reset();
        // Goes only when no other run keeps keys in it.
        ::RegDeleteKeyA(software.Get(), "OrlenwickFuzz");
    }

    OwnedRegistry(const OwnedRegistry&) = delete;
    OwnedRegistry& operator=(const OwnedRegistry&) = delete;

    size_t RootCount() const { return mapped.size(); }
    // Every predefined root is mapped onto a key of this run's own.
    bool IsConfined() const { return confined; }

    // Keys a script may meet, made under one mapped root before it runs; they are the script's
    // to change.
    void Prepopulate(Random& random, size_t rootIndex)
    {
        HKEY root = mapped[rootIndex].Key.Get();
        const char* const paths[] = {
            "K1a\\K2a\\K3a",
            "K1b\\K1b",
            "K1c",
            "CLSID\\{1C3E125F-9542-4FA8-B083-6F5808BADA62}\\InprocServer32",
            "Val\\Foreign",
            "*\\shellex\\ContextMenuHandlers\\QVOrlenwick\\Foreign",
            "Orlenwick.QuorvaneShlExt.1\\CLSID",
            "Directory\\shellex\\DragDropHandlers",
        };
        for (const char* path : paths) {
            if (random.Percent(40)) {
                const UniqueRegistryKey key = CreatePath(root, path);
                SetText(key.Get(), nullptr, "present");
                SetText(key.Get(), "V1a", "present");
            }
        }
        if (random.Percent(30))
            SetText(root, "V1a", "present");
        mapped[rootIndex].Seen = StateOf(root);
    }

    // Empty when every planted key is as it was; otherwise what changed. The planted keys of
    // deeper levels are judged only for scripts whose blocks are balanced.
    std::string Check(bool levelsToo)
    {
        std::string problems;
        for (Watched& watched : beside)
            if (StateOf(watched.Key.Get()) != watched.State)
                problems += "  changed beside the owned roots: " + watched.Path + "\n";
        if (StateOf(owned.Get()) != ownedState)
            problems += "  changed: the key that holds the owned roots\n";
        if (StateOf(fuzzRoot.Get()) != fuzzRootState)
            problems += "  changed: HKCU\\Software\\OrlenwickFuzz\n";
        for (MappedRoot& root : mapped) {
            const KeyState state = StateOf(root.Key.Get());
            if (state.Status != ERROR_SUCCESS) {
                problems += "  deleted: root " + root.Name + "\n";
                continue;
            }
            // The root's own values are read only when something directly below it changed.
            if (state != root.Seen) {
                root.Seen = state;
                if (ReadValue(root.Key.Get(), nullptr) != root.DefaultValue)
                    problems += "  changed: default value of root " + root.Name + "\n";
                if (ReadValue(root.Key.Get(), PlantedSentinel) != root.SentinelValue)
                    problems += "  changed: value " + std::string(PlantedSentinel) + " of root " +
                                root.Name + "\n";
                for (const char* name : PlantedDeeperValues)
                    if (levelsToo && ReadValue(root.Key.Get(), name) != root.SentinelValue)
                        problems += "  changed: value " + std::string(name) + " of root " +
                                    root.Name + " (no entry at level 1 names it)\n";
            }
            root.PlantedIntact = true;
            for (Watched& watched : root.Planted) {
                if (StateOf(watched.Key.Get()) == watched.State)
                    continue;
                root.PlantedIntact = false;
                if (levelsToo || !watched.OfDeeperLevel)
                    problems +=
                        "  changed: " + root.Name + "\\" + watched.Path +
                        (watched.OfDeeperLevel ? " (no entry at level 1 names it)\n" : "\n");
            }
        }
        return problems;
    }

    // After a check: removes what the last script left under the mapped roots and plants again
    // what a script with broken blocks may have changed.
    void Reset()
    {
        for (MappedRoot& root : mapped) {
            const bool plantedIntact = root.PlantedIntact;
            if (plantedIntact && StateOf(root.Key.Get()) == root.AsPlanted)
                continue;
            HKEY key = root.Key.Get();
            for (const std::string& name : Names(key, false))
                if (!plantedIntact || !IsPlantedKey(name))
                    ::RegDeleteTreeA(key, name.c_str());
            for (const std::string& name : Names(key, true))
                if (!IsPlantedValue(name))
                    ::RegDeleteValueA(key, name.c_str());
            if (!plantedIntact)
                root.Planted.clear();
            PlantInRoot(root);
        }
    }

    // Empty when HKCU\Software holds what it held at the start, outside the owned roots and the
    // keys other test programs own.
    std::string SoftwareDifference() const
    {
        return Difference(softwareContent, DescribeSoftware());
    }

    // For the check of the check: a change beside the owned roots made by the test itself.
    void TouchBeside() { SetText(beside.back().Key.Get(), "Touched", "by the test"); }
    void TouchDeeperPlanted(size_t rootIndex)
    {
        SetText(mapped[rootIndex].Planted.back().Key.Get(), "Touched", "by the test");
    }
    void UntouchBeside()
    {
        ::RegDeleteValueA(beside.back().Key.Get(), "Touched");
        for (Watched& watched : beside)
            watched.State = StateOf(watched.Key.Get());
    }

private:
    struct Watched
    {
        std::string Path;
        UniqueRegistryKey Key;
        KeyState State;
        bool OfDeeperLevel = false;
    };

    struct MappedRoot
    {
        std::string Name;
        HKEY Predefined = nullptr;
        UniqueRegistryKey Key;
        // Right after planting, and when last checked.
        KeyState AsPlanted;
        KeyState Seen;
        bool PlantedIntact = true;
        std::optional<std::string> DefaultValue;
        std::optional<std::string> SentinelValue;
        std::vector<Watched> Planted;
    };

    static Watched Plant(HKEY parent, const std::string& path, bool ofDeeperLevel)
    {
        Watched watched;
        watched.Path = path;
        watched.Key = CreatePath(parent, path);
        SetText(watched.Key.Get(), nullptr, "planted " + path);
        SetText(watched.Key.Get(), "Kept", "planted");
        if (ofDeeperLevel) {
            // The values the entries of its block would name, were it walked at its level.
            const size_t name = path.rfind('\\') + 1;
            const std::string inner = "V" + std::to_string(std::atoi(path.c_str() + name + 1) + 1);
            for (const char* letter : {"a", "b", "c"})
                SetText(watched.Key.Get(), (inner + letter).c_str(), "planted");
        }
        watched.State = StateOf(watched.Key.Get());
        watched.OfDeeperLevel = ofDeeperLevel;
        return watched;
    }

    // Under each root: its default value, a value and a subkey no script names, and keys and
    // values of names that only entries of deeper levels have.
    void PlantInRoot(MappedRoot& root)
    {
        HKEY key = root.Key.Get();
        SetText(key, nullptr, "planted root " + root.Name);
        SetText(key, PlantedSentinel, "planted");
        for (const char* name : PlantedDeeperValues)
            SetText(key, name, "planted");
        if (root.Planted.empty()) {
            root.Planted.push_back(Plant(key, PlantedSentinel, false));
            for (const char* path : PlantedDeeperKeys)
                root.Planted.push_back(Plant(key, path, true));
        }
        root.DefaultValue = ReadValue(key, nullptr);
        root.SentinelValue = ReadValue(key, PlantedSentinel);
        root.AsPlanted = StateOf(key);
        root.Seen = root.AsPlanted;
        root.PlantedIntact = true;
    }

    // Beside the owned roots, a tree of the names the scripts use.
    void PlantBeside()
    {
        const char* const paths[] = {
            "CLSID\\{1C3E125F-9542-4FA8-B083-6F5808BADA62}\\InprocServer32",
            "CLSID\\{1C3E125F-9542-4FA8-B083-6F5808BADA62}",
            "CLSID",
            "K1a\\K2a",
            "K1a",
            "Val\\x",
            "Val",
            "*\\shellex\\ContextMenuHandlers\\QVOrlenwick",
        };
        for (const char* path : paths)
            beside.push_back(Plant(fuzzRoot.Get(), besideName + "\\" + path, false));
        beside.push_back(Plant(fuzzRoot.Get(), besideName, false));
    }

    // Other test programs keep keys of their own in OrlenwickTests and Quorvane; ctest may run
    // them at the same time.
    std::vector<std::string> DescribeSoftware() const
    {
        return Describe(software.Get(),
                        {"OrlenwickFuzz\\" + ownedName, "OrlenwickTests", "Quorvane"});
    }

    // Keys of runs whose process has ended (a crash leaves them).
    void RemoveStaleRuns()
    {
        for (const std::string& name : Names(fuzzRoot.Get(), false)) {
            const DWORD pid = std::strtoul(name.c_str(), nullptr, 10);
            const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
            if (!process || pid == ::GetCurrentProcessId())
                ::RegDeleteTreeA(fuzzRoot.Get(), name.c_str());
        }
    }

    UniqueRegistryKey software;
    UniqueRegistryKey fuzzRoot;
    UniqueRegistryKey owned;
    std::string ownedName;
    std::string besideName;
    KeyState ownedState;
    KeyState fuzzRootState;
    std::vector<Watched> beside;
    std::vector<MappedRoot> mapped;
    bool confined = false;
    std::vector<std::string> softwareContent;
};

// Scripts made from the grammar

struct FuzzScript
{
    std::string Text;
    // The mapped roots its root blocks name, by index.
    std::vector<size_t> Roots;
    // Balanced blocks, no token that ends a block early: each entry stays at its level.
    bool Balanced = true;
};

const char* const ClassId = "{1C3E125F-9542-4FA8-B083-6F5808BADA62}";

class ScriptGenerator
{
public:
    explicit ScriptGenerator(Random& random) : random(random), faulty(random.Percent(50)) {}

    FuzzScript Generate()
    {
        const size_t blocks = 1 + random.Below(3);
        for (size_t i = 0; i < blocks; ++i)
            RootBlock();
        if (Fault(15))
            Break();
        return std::move(script);
    }

private:
    // Half the scripts hold only what the grammar allows, so that their passes get far; the
    // others hold faults at these rates.
    bool Fault(unsigned percent) { return faulty && random.Percent(percent); }

    void Emit(const std::string& token)
    {
        if (!script.Text.empty())
            script.Text += Blank();
        script.Text += token;
    }

    std::string Blank()
    {
        static const char* const blanks[] = {" ",    " ",  " ",        "\t",
                                             "\r\n", "\n", "\r\n\t\t", "  \t "};
        return random.Pick(blanks);
    }

    std::string Cased(const std::string& word)
    {
        std::string text = word;
        const size_t style = random.Below(4);
        for (char& c : text) {
            if (style == 1 && c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            else if (style == 2 && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        return text;
    }

    void RootBlock()
    {
        const size_t root = random.Below(std::size(PredefinedRoots));
        script.Roots.push_back(root);
        const std::string name = random.RootName(root);
        if (Fault(3)) {
            // Glued to its brace, or unknown: refused before anything is opened.
            Emit(random.Percent(50) ? Cased(name) + "{" : "HKXX");
            script.Balanced = false;
        } else {
            Emit(Cased(name));
            Emit("{");
        }
        budget = 1 + random.Below(24);
        Entries(1);
        Emit("}");
    }

    void Entries(unsigned level)
    {
        const size_t count = random.Below(level == 1 ? 6 : 4);
        for (size_t i = 0; i < count && budget > 0; ++i) {
            --budget;
            Entry(level);
        }
    }

    void Entry(unsigned level)
    {
        static const char* const prefixes[] = {
            "",
            "",
            "",
            "",
            "",
            "ForceRemove",
            "ForceRemove",
            "NoRemove",
            "NoRemove",
            "Delete",
            "ForceRemove NoRemove",
            "Delete NoRemove",
            "NoRemove NoRemove",
        };
        const std::string prefix = random.Pick(prefixes);
        for (size_t start = 0; start < prefix.size();) {
            const size_t end = std::min(prefix.find(' ', start), prefix.size());
            Emit(Cased(prefix.substr(start, end - start)));
            start = end + 1;
        }
        if (random.Percent(15))
            ValueEntry(level);
        else if (random.Percent(2))
            DeepChain(level);
        else
            KeyEntry(level);
    }

    void ValueEntry(unsigned level)
    {
        Emit(Cased("Val"));
        Emit(ValueName(level));
        if (!Fault(3))
            Emit("=");
        else
            script.Balanced = false;
        ValueClauseRest();
        // What a block after a value means is the interpreter's to refuse.
        if (Fault(15))
            Block(level + 1);
    }

    void KeyEntry(unsigned level)
    {
        Emit(KeyName(level));
        // A value clause after the block, the interpreter's to refuse; a second block after it
        // would belong to the clause's value in registration.
        const bool clauseAfterBlock = Fault(8);
        if (!clauseAfterBlock && random.Percent(50)) {
            Emit("=");
            ValueClauseRest();
        }
        if (random.Percent(40))
            Block(level + 1);
        if (clauseAfterBlock) {
            Emit("=");
            ValueClauseRest();
            if (random.Percent(50))
                Block(level + 1);
        }
    }

    void Block(unsigned level)
    {
        Emit("{");
        Entries(level);
        Emit(random.Percent(5) ? "'}'" : "}");
    }

    // A chain of nested keys up to the registry's depth limit, and with faults beyond it.
    void DeepChain(unsigned level)
    {
        static const size_t depths[] = {100, 509, 510, 511, 512};
        static const size_t tooDeep[] = {513, 514, 600, 15000};
        const size_t depth = Fault(60) ? random.Pick(tooDeep) : random.Pick(depths);
        std::string text;
        for (size_t i = 0; i < depth; ++i)
            text += "K" + std::to_string(level + i) + "a { ";
        if (random.Percent(50))
            text += "Val V" + std::to_string(level + depth) + "a = s 'deepest'";
        for (size_t i = 0; i < depth; ++i)
            text += " }";
        Emit(text);
    }

    // Names of an entry at `level` begin with "K" and the level, or are shared by all levels.
    std::string KeyName(unsigned level)
    {
        const std::string tag = "K" + std::to_string(level);
        if (Fault(25)) {
            switch (random.Below(6)) {
            case 0:
                return "''";
            case 1:
                return tag + "a\\" + tag + "b";
            case 2:
                return tag + std::string(254 + random.Below(4), 'l');
            case 3:
                return tag + std::string(4093 + random.Below(2), 'l');
            case 4:
                return "'" + tag + std::string(4090 + random.Below(4), 'q') + "'";
            default:
                return "'%NONANSI%'";
            }
        }
        switch (random.Below(16)) {
        case 0:
            return "'" + tag + "''q'";
        case 1:
            return "'" + tag + " with blanks'";
        case 2:
            return Cased("CLSID");
        case 3:
            return Cased("TypeLib");
        case 4:
            return ClassId;
        case 5:
            return "*";
        case 6:
            return random.Percent(50) ? "." : "..";
        case 7:
            return "'%KEY%'";
        case 8:
            return tag + std::string(253, 'l');
        case 9:
            return "'" + tag + "a'";
        default:
            return tag + static_cast<char>('a' + random.Below(3));
        }
    }

    std::string ValueName(unsigned level)
    {
        const std::string tag = "V" + std::to_string(level);
        if (Fault(20))
            return random.Percent(50) ? "''" : tag + std::string(254, 'v');
        switch (random.Below(10)) {
        case 0:
            return tag + std::string(253, 'v');
        case 1:
            return "'%VALUE%'";
        case 2:
            return "'" + tag + " b'";
        case 3:
            return Cased("ThreadingModel");
        default:
            return tag + static_cast<char>('a' + random.Below(3));
        }
    }

    // The kind and the value after "=".
    void ValueClauseRest()
    {
        static const char* const kinds[] = {"s", "S", "d", "D", "b", "B", "s", "s"};
        static const char* const wrongKinds[] = {"q", "sz", "'s '"};
        const std::string kind = Fault(10) ? random.Pick(wrongKinds) : random.Pick(kinds);
        // Without its kind, the value is read as the kind and the next token as the value.
        if (!Fault(3))
            Emit(kind);
        else
            script.Balanced = false;
        Emit(Value(kind));
    }

    std::string Value(const std::string& kind)
    {
        static const char* const texts[] = {"'QuorvaneShlExt Class'",
                                            "'%MODULE%'",
                                            "'%Module%'",
                                            "Apartment",
                                            "''",
                                            "'it''s'",
                                            "'%%'",
                                            "'100%%'",
                                            "'{ = }'",
                                            "'} early'",
                                            "'{1C3E125F-9542-4FA8-B083-6F5808BADA62}'"};
        static const char* const wrongTexts[] = {"'%NONANSI%'", "'%MISSING%'", "'%MISSINA%'",
                                                 "'50%'"};
        static const char* const numbers[] = {"42",  "0",   "4294967295", "4294967296", "-1",
                                              "'7'", "abc", "0x10",       "''"};
        static const char* const digits[] = {"0aF1", "''", "zz", "'00ff00'", "0123456789abcdef"};
        if (Fault(10)) {
            switch (random.Below(4)) {
            case 0:
                return "'" + std::string(4094 + random.Below(2), 't') + "'";
            case 1:
                return std::string(4095 + random.Below(2), 'u');
            case 2:
                return random.Percent(50) ? "abc" : "1";
            default:
                return random.Pick(wrongTexts);
            }
        }
        if (random.Percent(5))
            return random.Percent(50) ? "'" + std::string(4094, 't') + "'" : std::string(4095, 'u');
        if (kind == "d" || kind == "D")
            return random.Pick(numbers);
        if (kind == "b" || kind == "B")
            return random.Pick(digits);
        return random.Pick(texts);
    }

    // Breakage that moves entries between levels or ends the text early.
    void Break()
    {
        script.Balanced = false;
        std::string& text = script.Text;
        const size_t at = text.empty() ? 0 : random.Below(text.size());
        switch (random.Below(6)) {
        case 0:
            text.resize(at);
            break;
        case 1: {
            const size_t brace = text.find('}', at);
            if (brace != std::string::npos)
                text.erase(brace, 1);
            break;
        }
        case 2:
            text.insert(at, " } ");
            break;
        case 3:
            text.insert(at, " '");
            break;
        case 4:
            text.insert(at, " %");
            break;
        default:
            text.insert(at, " { ");
            break;
        }
    }

    Random& random;
    const bool faulty;
    FuzzScript script;
    size_t budget = 0;
};

// The product's own script, mutated byte by byte

std::string ProductScript()
{
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_REGISTRY), "REGISTRY");
    HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, ::SizeofResource(nullptr, found)) : std::string();
}

FuzzScript MutateProductScript(const std::string& product, Random& random)
{
    FuzzScript script;
    std::string& text = script.Text;
    text = product;
    // Its root is one of those the test maps, under any of its names.
    const size_t rootIndex = random.Below(std::size(PredefinedRoots));
    script.Roots.push_back(rootIndex);
    if (text.compare(0, 4, "HKCR") == 0)
        text.replace(0, 4, random.RootName(rootIndex));
    script.Balanced = false;

    static const char interesting[] = {'\'', '{',  '}', '=', '%', '\\', ' ', '\t', '\r',
                                       '\n', '\0', '0', 'x', 's', 'b',  'd', '*',  '\xC9'};
    static const char* const tokens[] = {" ForceRemove ",
                                         " NoRemove ",
                                         " Delete ",
                                         " Val ",
                                         " val x = s 'y' ",
                                         " '' ",
                                         " { ",
                                         " } ",
                                         "%",
                                         "%MODULE%",
                                         "%%",
                                         "'",
                                         " = ",
                                         " = s 'v' ",
                                         " = b '123' ",
                                         " ForceRemove '' ",
                                         " Delete '' ",
                                         " ForceRemove Val ",
                                         " { } = s 'v' ",
                                         "\r\n\t\t\tNoRemove CLSID\r\n\t\t\t{\r\n"};
    const size_t mutations = 1 + random.Below(8);
    for (size_t m = 0; m < mutations && !text.empty(); ++m) {
        const size_t at = random.Below(text.size());
        switch (random.Below(6)) {
        case 0:
            text[at] = static_cast<char>(text[at] ^ (1 << random.Below(8)));
            break;
        case 1:
            text[at] = random.Pick(interesting);
            break;
        case 2:
            text.insert(at, random.Pick(tokens));
            break;
        case 3:
            text.erase(at, 1 + random.Below(32));
            break;
        case 4: {
            const size_t from = random.Below(text.size());
            const std::string chunk = text.substr(from, 1 + random.Below(200));
            text.insert(at, chunk);
            break;
        }
        default: {
            // A whole line dropped or doubled.
            const size_t start = text.rfind('\n', at);
            const size_t lineStart = start == std::string::npos ? 0 : start + 1;
            const size_t end = text.find('\n', at);
            const size_t lineEnd = end == std::string::npos ? text.size() : end + 1;
            const std::string line = text.substr(lineStart, lineEnd - lineStart);
            if (random.Percent(50))
                text.erase(lineStart, lineEnd - lineStart);
            else
                text.insert(lineStart, line);
            break;
        }
        }
    }
    return script;
}

// What a crash or a hang reports: the script running at that moment.
struct RunningScript
{
    char Header[160] = {};
    const char* Text = nullptr;
    size_t Size = 0;
};

RunningScript Running;
std::atomic<uint64_t> PassesRun{0};

void WriteOut(const char* text, size_t size)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(size), &written,
                nullptr);
}

void ReportRunningScript(const char* what)
{
    WriteOut(what, std::strlen(what));
    WriteOut(Running.Header, std::strlen(Running.Header));
    if (Running.Text)
        WriteOut(Running.Text, std::min<size_t>(Running.Size, 3000));
    WriteOut("\n", 1);
}

// Runs on what is left of the stack of a thread that crashed: writes only, from fixed buffers.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception)
{
    static char code[64];
    std::snprintf(code, sizeof code, "\nCRASH 0x%08lX ",
                  static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode));
    ReportRunningScript(code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Ends the process when no pass has finished for a long time.
class HangWatch
{
public:
    HangWatch()
        : thread([this] {
              uint64_t seen = PassesRun;
              auto since = std::chrono::steady_clock::now();
              while (!stop) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  if (PassesRun != seen) {
                      seen = PassesRun;
                      since = std::chrono::steady_clock::now();
                  } else if (std::chrono::steady_clock::now() - since >
                             std::chrono::seconds(HangSeconds)) {
                      ReportRunningScript("\nHANG ");
                      ::TerminateProcess(::GetCurrentProcess(), 3);
                  }
              }
          })
    {}
    ~HangWatch()
    {
        stop = true;
        thread.join();
    }
    HangWatch(const HangWatch&) = delete;
    HangWatch& operator=(const HangWatch&) = delete;

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

bool IsExpectedResult(HRESULT hr)
{
    return hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL ||
           hr == HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
}

std::string Excerpt(const std::string& text)
{
    return text.size() <= 1500
               ? text
               : text.substr(0, 1500) + "... (" + std::to_string(text.size()) + " bytes)";
}

class RegistryScriptFuzz : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(replacements.Add(L"Module", L"C:\\Program Files\\Tom''s Tools\\Orlenwick.dll"),
                  S_OK);
        ASSERT_EQ(replacements.Add(L"KEY", L"Replaced"), S_OK);
        ASSERT_EQ(replacements.Add(L"VALUE", L"ReplacedValue"), S_OK);
        // No exact narrow form: refused as a value, and never found as a name.
        ASSERT_EQ(replacements.Add(L"NONANSI", L"C:\\\x0100\\Orlenwick.dll"), S_OK);
        ASSERT_EQ(replacements.Add(L"MISSIN\x0100", L"look-alike"), S_OK);
        previousFilter = ::SetUnhandledExceptionFilter(&ReportCrash);
    }
    void TearDown() override { ::SetUnhandledExceptionFilter(previousFilter); }

    // Runs scripts from `make` until the time or the count is spent, or until the first failure.
    template <class Make> void Fuzz(const char* name, uint64_t test, Make make)
    {
        OwnedRegistry registry;
        // A root left unmapped would take the scripts' deletions to the prefix's own keys.
        ASSERT_TRUE(registry.IsConfined());
        ASSERT_EQ(registry.Check(true), "");
        HangWatch watch;
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = start + std::chrono::duration<double>(Options.Seconds);
        uint64_t first = Options.Only.value_or(0);
        uint64_t count = 0;
        uint64_t results[4] = {};
        bool failed = false;
        for (uint64_t number = first; !failed && count < Options.Iterations; ++number, ++count) {
            if (Options.Only ? number != *Options.Only
                             : std::chrono::steady_clock::now() >= deadline && count > 0)
                break;
            Random random(Options.Seed, test, number);
            FuzzScript script = make(random);
            registry.Prepopulate(random, script.Roots.empty()
                                             ? random.Below(registry.RootCount())
                                             : script.Roots[random.Below(script.Roots.size())]);
            std::snprintf(Running.Header, sizeof Running.Header, "in %s script %llu (seed %llu):\n",
                          name, number, Options.Seed);
            Running.Text = script.Text.c_str();
            Running.Size = script.Text.size();
            HRESULT registered = E_FAIL;
            for (const bool registering : {true, false}) {
                const HRESULT hr = RunScript(script.Text.c_str(), registering, replacements);
                ++PassesRun;
                std::string problems = registry.Check(script.Balanced);
                ++results[hr == S_OK ? 0 : hr == DISP_E_EXCEPTION ? 1 : hr == E_FAIL ? 2 : 3];
                // Both passes read the same tokens the same way: what one accepts, so does the
                // other.
                if (registering)
                    registered = hr;
                else if (registered == S_OK && hr != S_OK)
                    problems += "  removal refused a script that registration accepted\n";
                if (!IsExpectedResult(hr) || !problems.empty()) {
                    ADD_FAILURE() << name << " script " << number << " (seed " << Options.Seed
                                  << "), " << (registering ? "registration" : "removal")
                                  << " gave 0x" << std::hex << static_cast<unsigned long>(hr)
                                  << std::dec << "\n"
                                  << problems << "script:\n"
                                  << Excerpt(script.Text);
                    failed = true;
                    break;
                }
            }
            registry.Reset();
            if (!failed && (number + 1) % ContentCheckInterval == 0) {
                const std::string changed = registry.SoftwareDifference();
                EXPECT_EQ(changed, "") << "HKCU\\Software changed before script " << number;
                failed = !changed.empty();
            }
        }
        Running.Text = nullptr;
        EXPECT_EQ(registry.SoftwareDifference(), "");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: seed %llu, %llu scripts in %.1f s (%.0f scripts/s); passes giving "
                    "S_OK %llu, DISP_E_EXCEPTION %llu, E_FAIL %llu, no translation %llu\n",
                    name, Options.Seed, count, seconds, count / seconds, results[0], results[1],
                    results[2], results[3]);
    }

    ReplacementMap replacements;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
};

TEST_F(RegistryScriptFuzz, ChecksSeeAChangeBesideTheRootsAndAtAWrongLevel)
{
    OwnedRegistry registry;
    ASSERT_EQ(registry.Check(true), "");
    registry.TouchBeside();
    EXPECT_NE(registry.Check(true), "");
    registry.UntouchBeside();
    EXPECT_EQ(registry.Check(true), "");

    // A key of a deeper level at the first level is judged only in a balanced script.
    registry.TouchDeeperPlanted(0);
    EXPECT_EQ(registry.Check(false), "");
    EXPECT_NE(registry.Check(true), "");
    registry.Reset();
    EXPECT_EQ(registry.Check(true), "");

    // Through a mapped root, a script reaches the test's own keys only.
    EXPECT_EQ(RunScript("HKCU { K1a = s 'one' } HKEY_CLASSES_ROOT { K1b { Val V2a = d 1 } }", true,
                        replacements),
              S_OK);
    EXPECT_EQ(registry.Check(true), "");
    EXPECT_EQ(registry.SoftwareDifference(), "");
    EXPECT_EQ(RunScript("HKCU { ForceRemove K2a }", true, replacements), S_OK);
    EXPECT_NE(registry.Check(true), "");
}

TEST_F(RegistryScriptFuzz, GeneratedScriptsStayInsideTheirRoots)
{
    Fuzz("generated", 1, [](Random& random) { return ScriptGenerator(random).Generate(); });
}

TEST_F(RegistryScriptFuzz, MutatedProductScriptStaysInsideItsRoot)
{
    const std::string product = ProductScript();
    ASSERT_EQ(product.compare(0, 4, "HKCR"), 0);
    Fuzz("mutated product script", 2,
         [&product](Random& random) { return MutateProductScript(product, random); });
}

// Command-line options first, then the environment.
bool ReadOptions(int argc, char** argv)
{
    const char* const flags[] = {"--seconds=", "--iterations=", "--seed=", "--only="};
    const char* const variables[] = {"ORLENWICK_FUZZ_SECONDS", "ORLENWICK_FUZZ_ITERATIONS",
                                     "ORLENWICK_FUZZ_SEED", "ORLENWICK_FUZZ_ONLY"};
    const char* values[4] = {};
    for (size_t i = 0; i < 4; ++i)
        values[i] = std::getenv(variables[i]);
    for (int arg = 1; arg < argc; ++arg) {
        const auto flag = std::find_if(std::begin(flags), std::end(flags), [&](const char* f) {
            return std::strncmp(argv[arg], f, std::strlen(f)) == 0;
        });
        if (flag == std::end(flags)) {
            std::fprintf(stderr, "unknown option %s\n", argv[arg]);
            return false;
        }
        values[flag - flags] = argv[arg] + std::strlen(*flag);
    }
    for (size_t i = 0; i < 4; ++i) {
        if (!values[i] || !*values[i])
            continue;
        char* end = nullptr;
        const double number = std::strtod(values[i], &end);
        if (end == values[i] || *end != '\0' || number < 0) {
            std::fprintf(stderr, "%s is not a number: %s\n", flags[i], values[i]);
            return false;
        }
        if (i == 0)
            Options.Seconds = number;
        else if (i == 1)
            Options.Iterations = static_cast<uint64_t>(number);
        else if (i == 2)
            Options.Seed = std::strtoull(values[i], nullptr, 10);
        else
            Options.Only = std::strtoull(values[i], nullptr, 10);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!ReadOptions(argc, argv))
        return 2;
    std::printf("registry script fuzzing: seed %llu, %.1f s per test\n", Options.Seed,
                Options.Seconds);
    return RUN_ALL_TESTS();
}
