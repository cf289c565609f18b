#include "host/Coverage.h"

#include "bridge/HostPlatform.h"
#include "host/CoverageReport.h"
#include "host/HostLayout.h"
#include "host/ScriptHooks.h"
#include "platform/Process.h"
#include "platform/TextUtils.h"

#include <lua.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace WexelHost::Coverage {

namespace fs = std::filesystem;

namespace {

struct TLuaCloser {
    void operator()(lua_State* L) const noexcept { lua_close(L); }
};

// What is known of one chunk, by its source name.
struct TChunk {
    std::string Source;
    std::vector<std::uint64_t> Hits; // by line
    std::vector<int> Executable; // ascending
    bool LinesKnown = false; // the executable lines of the whole file, not of one function
    std::string LoadedPath;  // the file the host loaded it from, when it knows
    bool TestLibrary = false;
};

struct TUnmeasurable {
    std::string Path;
    bool TestLibrary;
};

struct TCollector {
    std::string ReportFile;
    std::string ReportPath; // absolute, so that it does not depend on the directory at the end
    std::vector<std::string> Include;
    std::vector<std::string> Exclude;
    bool ExcludeGiven = false;
    std::vector<std::string> SourceDirs;

    std::unordered_map<std::string, std::unique_ptr<TChunk>> Chunks;
    // The chunks of the last few sources seen, by the address of the source text, so that
    // going back and forth between a test, its helpers and the script library costs a few
    // compares rather than a hash of the name per line.
    struct TRecent {
        const char* Source = nullptr;
        TChunk* Chunk = nullptr;
    };
    static constexpr std::size_t RecentCount = 8;
    TRecent Recent[RecentCount];
    std::size_t NextRecent = 0;

    std::vector<TUnmeasurable> Unmeasurable;
    std::unordered_set<std::string> NotedTestLibraries;
    bool SawStripped = false;

    // A state of its own for matching the patterns, so that nothing the collector does
    // runs in the scripts' state.
    std::unique_ptr<lua_State, TLuaCloser> Scratch;
};

std::unique_ptr<TCollector> Collector;

// Reads what lua_dump writes for Lua 5.4 (ldump.c); past the end it only sets Bad.
struct TReader {
    const std::string& Bytes;
    std::size_t Pos = 0;
    bool Bad = false;

    unsigned char Byte()
    {
        if (Pos >= Bytes.size()) {
            Bad = true;
            return 0;
        }
        return static_cast<unsigned char>(Bytes[Pos++]);
    }
    void Skip(std::size_t n)
    {
        if (n > Bytes.size() - std::min(Pos, Bytes.size()))
            Bad = true;
        else
            Pos += n;
    }
    // Seven bits a byte, most significant first; the last byte has its high bit set.
    std::size_t Size()
    {
        std::size_t value = 0;
        for (int i = 0; i < 10 && !Bad; ++i) {
            unsigned char b = Byte();
            value = (value << 7) | (b & 0x7f);
            if (b & 0x80)
                return value;
        }
        Bad = true;
        return 0;
    }
    void SkipString()
    {
        std::size_t size = Size();
        if (size > 0)
            Skip(size - 1);
    }
};

// The start of every Lua 5.4 compiled chunk: signature, version, format and check bytes.
const char Header[] = LUA_SIGNATURE "\x54\x00\x19\x93\r\n\x1a\n";

// The source name a compiled chunk carries ("=?" when it was stripped), read from its
// first bytes without loading it; empty when they are not a chunk this Lua reads.
std::string CompiledSourceName(const std::string& head)
{
    if (head.size() < sizeof Header - 1 || head.compare(0, sizeof Header - 1, Header, sizeof Header - 1) != 0)
        return std::string();
    TReader r{head};
    r.Pos = sizeof Header - 1;
    r.Byte(); // instruction size
    const std::size_t integerSize = r.Byte();
    const std::size_t numberSize = r.Byte();
    r.Skip(integerSize + numberSize);
    r.Byte(); // upvalues of the main function
    const std::size_t size = r.Size();
    if (size == 0 && !r.Bad)
        return "=?";
    if (r.Bad || size - 1 > head.size() - std::min(r.Pos, head.size()))
        return std::string();
    return head.substr(r.Pos, size - 1);
}

// string.find(subject, pattern) in the scratch state; the error text in error, if any.
bool Find(lua_State* S, const std::string& subject, const std::string& pattern, std::string* error)
{
    lua_settop(S, 0);
    lua_getglobal(S, "string");
    lua_getfield(S, -1, "find");
    lua_pushlstring(S, subject.data(), subject.size());
    lua_pushlstring(S, pattern.data(), pattern.size());
    if (lua_pcall(S, 2, 1, 0) != LUA_OK) {
        if (error) {
            const char* text = lua_tostring(S, -1);
            *error = text ? text : "error";
        }
        lua_settop(S, 0);
        return false;
    }
    bool found = !lua_isnil(S, -1);
    lua_settop(S, 0);
    return found;
}

int Writer(lua_State*, const void* p, std::size_t size, void* ud)
{
    try {
        static_cast<std::string*>(ud)->append(static_cast<const char*>(p), size);
        return 0;
    } catch (...) {
        return 1;
    }
}

// Adds the executable lines of the function on top of the stack (and of the functions
// nested in it) to the chunk; true when the dump could be read.
bool LearnLines(lua_State* L, TChunk& chunk)
{
    std::string dump;
    if (lua_dump(L, Writer, &dump, 0) != 0)
        return false;
    std::vector<int> lines = ExecutableLines(dump);
    std::vector<int> merged;
    merged.reserve(chunk.Executable.size() + lines.size());
    std::set_union(chunk.Executable.begin(), chunk.Executable.end(), lines.begin(), lines.end(),
                   std::back_inserter(merged));
    chunk.Executable = std::move(merged);
    return !lines.empty();
}

TChunk& ChunkOf(TCollector& c, const char* source, std::size_t length)
{
    auto& slot = c.Chunks[std::string(source, length)];
    if (!slot) {
        slot = std::make_unique<TChunk>();
        slot->Source.assign(source, length);
    }
    return *slot;
}

// The slow path of the hook: a chunk other than the last one.
TChunk* Lookup(TCollector& c, lua_State* L, lua_Debug* ar)
{
    // "=[C]", "=?" (no debug information) and chunks loaded from a string without a name
    // have no file to report.
    if (ar->source[0] != '@') {
        if (std::strcmp(ar->source, "=?") == 0)
            c.SawStripped = true;
        return nullptr;
    }
    TChunk& chunk = ChunkOf(c, ar->source, ar->srclen);
    // The default leaves the test libraries out: no need to learn their lines.
    if (chunk.TestLibrary && !c.ExcludeGiven)
        chunk.LinesKnown = true;
    if (!chunk.LinesKnown && lua_getinfo(L, "f", ar)) {
        // A chunk's first line runs in its main function, whose dump holds every function of
        // the file; a nested function only adds its own lines until then.
        bool isMain = ar->linedefined == 0;
        if (LearnLines(L, chunk) && isMain)
            chunk.LinesKnown = true;
        lua_pop(L, 1);
    }
    return &chunk;
}

bool StartsWithBytecode(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char first = 0;
    return in.get(first) && first == LUA_SIGNATURE[0];
}

std::string DirOf(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec)
        p = path;
    return p.lexically_normal().string();
}

bool IsFile(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// The file whose text the chunk's lines number: the loaded file itself when it is source
// text, or for a compiled library the source it was compiled from, found beside it or in
// the source directories. Empty with missing set when that source is nowhere.
std::string SourceFile(const TCollector& c, const TChunk& chunk, bool& missing)
{
    missing = false;
    if (!chunk.LoadedPath.empty() && !StartsWithBytecode(chunk.LoadedPath))
        return Absolute(chunk.LoadedPath);
    const std::string name = chunk.Source.substr(1);
    if (!name.empty() && name[0] == '/')
        return Absolute(name);
    std::vector<std::string> dirs;
    if (!chunk.LoadedPath.empty())
        dirs.push_back(DirOf(chunk.LoadedPath));
    dirs.insert(dirs.end(), c.SourceDirs.begin(), c.SourceDirs.end());
    dirs.push_back(UserDir());
    dirs.push_back(SystemDir());
    dirs.push_back(".");
    for (const auto& dir : dirs)
        if (IsFile(dir + "/" + name))
            return Absolute(dir + "/" + name);
    missing = true;
    return Absolute(dirs.front() + "/" + name);
}

bool IsScriptTestLibrary(const std::string& path)
{
    std::string name = BaseName(path);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return name == "wexel.qlx";
}

bool Wanted(TCollector& c, const std::string& path, bool testLibrary)
{
    lua_State* S = c.Scratch.get();
    if (!c.Include.empty() &&
        std::none_of(c.Include.begin(), c.Include.end(),
                     [&](const std::string& p) { return Find(S, path, p, nullptr); }))
        return false;
    if (!c.ExcludeGiven)
        return !testLibrary;
    return std::none_of(c.Exclude.begin(), c.Exclude.end(),
                        [&](const std::string& p) { return Find(S, path, p, nullptr); });
}

// A line that holds nothing but "end"s and closing marks ("end", "end)", "end,"). Lua puts
// the closure of a function, or the return it falls off into, on such a line; counted, it
// would show the "end" of a function that never ran as run.
bool LoneEnd(const std::string& text)
{
    bool sawEnd = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char ch = text[i];
        if (ch == ' ' || ch == '\t' || ch == '\r' || ch == ')' || ch == '}' || ch == ',' || ch == ';') {
            ++i;
        } else if (text.compare(i, 2, "--") == 0) {
            break;
        } else if (text.compare(i, 3, "end") == 0 &&
                   (i + 3 == text.size() || !(std::isalnum(static_cast<unsigned char>(text[i + 3])) || text[i + 3] == '_'))) {
            sawEnd = true;
            i += 3;
        } else {
            return false;
        }
    }
    return sawEnd;
}

// Drops the lone "end" lines of a source file from its lines.
void DropLoneEnds(const std::string& path, std::map<int, std::uint64_t>& lines)
{
    if (StartsWithBytecode(path))
        return;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    for (int number = 1; std::getline(in, text); ++number)
        if (LoneEnd(text))
            lines.erase(number);
}

void WriteLine(const std::string& text) { Sys::WriteRaw(Sys::TStdHandle::Error, text + "\r\n"); }

} // namespace

bool Active() noexcept { return Collector != nullptr; }

void Start(const std::string& reportFile)
{
    auto c = std::make_unique<TCollector>();
    c->ReportFile = reportFile;
    c->ReportPath = Absolute(reportFile);
    c->Include = Sys::SplitList(std::getenv(IncludeVariable));
    const char* exclude = std::getenv(ExcludeVariable);
    c->ExcludeGiven = exclude != nullptr;
    c->Exclude = Sys::SplitList(exclude);
    c->SourceDirs = Sys::SplitList(std::getenv(SourcesVariable));
    // A file that cannot be written is said before the run, not after it.
    if (!std::ofstream(c->ReportPath, std::ios::binary | std::ios::app))
        throw EHostError("the coverage file " + reportFile + " cannot be written");
    c->Scratch.reset(luaL_newstate());
    if (!c->Scratch)
        throw EHostError("cannot start coverage: not enough memory");
    luaL_openlibs(c->Scratch.get());
    // A pattern that does not compile would otherwise quietly match nothing.
    for (const auto* list : {&c->Include, &c->Exclude}) {
        for (const auto& pattern : *list) {
            std::string error;
            Find(c->Scratch.get(), "", pattern, &error);
            if (!error.empty())
                throw EHostError(std::string(list == &c->Include ? IncludeVariable : ExcludeVariable) +
                                 ": the pattern " + pattern + " is not valid: " + error);
        }
    }
    Collector = std::move(c);
    SetLineCounter(LineHook);
}

void LineHook(lua_State* L, lua_Debug* ar)
{
    TCollector* c = Collector.get();
    if (!c || !lua_getinfo(L, "S", ar))
        return;
    try {
        TChunk* chunk = nullptr;
        for (const auto& recent : c->Recent) {
            // The address alone could name a freed source whose memory a new one reuses.
            if (recent.Source == ar->source && recent.Chunk->Source.size() == ar->srclen &&
                std::memcmp(recent.Chunk->Source.data(), ar->source, ar->srclen) == 0) {
                chunk = recent.Chunk;
                break;
            }
        }
        if (!chunk) {
            chunk = Lookup(*c, L, ar);
            if (!chunk)
                return;
            c->Recent[c->NextRecent] = {ar->source, chunk};
            c->NextRecent = (c->NextRecent + 1) % TCollector::RecentCount;
        }
        const int line = ar->currentline;
        if (line <= 0)
            return;
        auto index = static_cast<std::size_t>(line);
        if (index >= chunk->Hits.size())
            chunk->Hits.resize(index + 64);
        ++chunk->Hits[index];
    } catch (...) {
        // Out of memory: this line goes uncounted rather than unwinding through Lua.
    }
}

void NoteChunk(lua_State* L, int index, const char* path) noexcept
{
    TCollector* c = Collector.get();
    if (!c)
        return;
    const int top = lua_gettop(L);
    index = lua_absindex(L, index);
    try {
        lua_Debug ar;
        lua_pushvalue(L, index);
        lua_pushvalue(L, -1);
        lua_getinfo(L, ">S", &ar);
        if (std::strcmp(ar.source, "=?") == 0) {
            if (std::none_of(c->Unmeasurable.begin(), c->Unmeasurable.end(),
                             [&](const TUnmeasurable& u) { return u.Path == path; }))
                c->Unmeasurable.push_back({path, false});
        } else if (ar.source[0] == '@') {
            TChunk& chunk = ChunkOf(*c, ar.source, ar.srclen);
            chunk.LoadedPath = path;
            if (!chunk.LinesKnown)
                chunk.LinesKnown = LearnLines(L, chunk);
        }
    } catch (...) {
        // Out of memory: the chunk is still counted when it runs, under its source name.
    }
    lua_settop(L, top);
}

void NoteTestLibraries(const std::vector<std::string>& paths) noexcept
{
    TCollector* c = Collector.get();
    if (!c)
        return;
    for (const auto& path : paths) {
        try {
            if (!c->NotedTestLibraries.insert(path).second)
                continue;
            // The name is near the start; the rest of the library is not needed here.
            std::string head(64 * 1024, '\0');
            std::ifstream in(path, std::ios::binary);
            in.read(head.data(), static_cast<std::streamsize>(head.size()));
            head.resize(static_cast<std::size_t>(in.gcount()));
            // The script library loads a test library under its file name; compiled, the
            // chunk keeps the name it was compiled under.
            const std::string source = !head.empty() && head[0] == LUA_SIGNATURE[0]
                                           ? CompiledSourceName(head)
                                           : "@" + BaseName(path);
            if (source == "=?") {
                c->Unmeasurable.push_back({path, true});
            } else if (!source.empty() && source[0] == '@') {
                TChunk& chunk = ChunkOf(*c, source.data(), source.size());
                chunk.LoadedPath = path;
                chunk.TestLibrary = true;
            }
        } catch (...) {
            // A library that cannot be read here is still counted when it runs.
        }
    }
}

} // namespace WexelHost::Coverage

namespace WexelHost {

void StartCoverage(const std::string& reportFile) { Coverage::Start(reportFile); }

void FinishCoverage() { Coverage::Finish(); }

} // namespace WexelHost

namespace WexelHost::Coverage {

void Finish()
{
    if (!Collector)
        return;
    SetLineCounter(nullptr);
    std::unique_ptr<TCollector> owned = std::move(Collector);
    TCollector& c = *owned;

    // Two source names can stand for one file (host.load and require); they add up.
    std::map<std::string, std::map<int, std::uint64_t>> byFile;
    std::set<std::string> missingSources;
    for (const auto& [source, chunk] : c.Chunks) {
        if (!chunk->LoadedPath.empty() && IsScriptTestLibrary(chunk->LoadedPath))
            continue;
        bool missing = false;
        const std::string path = SourceFile(c, *chunk, missing);
        if (!Wanted(c, path, chunk->TestLibrary))
            continue;
        if (missing)
            missingSources.insert(path);
        auto& lines = byFile[path];
        auto hitsOf = [&](int line) {
            auto i = static_cast<std::size_t>(line);
            return i < chunk->Hits.size() ? chunk->Hits[i] : 0;
        };
        if (chunk->Executable.empty()) {
            // Nothing is known of its lines: at least the lines that ran.
            for (std::size_t i = 1; i < chunk->Hits.size(); ++i)
                if (chunk->Hits[i] > 0)
                    lines[static_cast<int>(i)] += chunk->Hits[i];
        } else {
            for (int line : chunk->Executable)
                lines[line] += hitsOf(line);
        }
    }
    std::vector<TFileCoverage> files;
    for (auto& [path, lines] : byFile) {
        if (!missingSources.count(path))
            DropLoneEnds(path, lines);
        files.push_back({path, std::vector<std::pair<int, std::uint64_t>>(lines.begin(), lines.end())});
    }

    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::string text =
        WantsCobertura(c.ReportFile) ? CoberturaText(files, now.count()) : LcovText(files);
    {
        std::ofstream out(c.ReportPath, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            throw EHostError("the coverage file " + c.ReportFile + " cannot be written");
    }

    bool namedOne = false;
    for (const auto& u : c.Unmeasurable) {
        if (IsScriptTestLibrary(u.Path) || !Wanted(c, Absolute(u.Path), u.TestLibrary))
            continue;
        WriteLine("Coverage: " + Absolute(u.Path) +
                  " cannot be measured: it was compiled without debug information (luac -s)");
        namedOne = true;
    }
    if (c.SawStripped && !namedOne && c.Unmeasurable.empty())
        WriteLine("Coverage: a library compiled without debug information (luac -s) ran and cannot be measured");
    for (const auto& path : missingSources)
        WriteLine("Coverage: the source " + path + " was not found; its lines are counted but cannot be shown"
                  " (" + SourcesVariable + " names where sources are)");
    WriteLine(SummaryLine(Summarize(files), c.ReportFile));
}

std::vector<int> ExecutableLines(const std::string& dump)
{
    // The layout that lua_dump writes for Lua 5.4 (ldump.c); anything else gives no lines.

    std::vector<int> result;
    TReader r{dump};
    if (dump.size() < sizeof Header - 1 || dump.compare(0, sizeof Header - 1, Header, sizeof Header - 1) != 0)
        return result;
    r.Pos = sizeof Header - 1;
    const std::size_t instructionSize = r.Byte();
    const std::size_t integerSize = r.Byte();
    const std::size_t numberSize = r.Byte();
    r.Skip(integerSize + numberSize);
    r.Byte(); // upvalues of the main function

    std::vector<int> lines;
    // Functions nest, so the reader recurses; a depth bound keeps a forged dump from
    // exhausting the stack (Lua itself allows far fewer levels).
    auto function = [&](auto&& self, int depth) -> void {
        if (r.Bad || depth > 250) {
            r.Bad = true;
            return;
        }
        r.SkipString(); // source
        const int lineDefined = static_cast<int>(std::min<std::size_t>(r.Size(), 1U << 30));
        const int lastLineDefined = static_cast<int>(std::min<std::size_t>(r.Size(), 1U << 30));
        r.Byte(); // parameters
        const bool isVararg = r.Byte() != 0;
        r.Byte(); // stack size
        const std::size_t codeSize = r.Size();
        r.Skip(codeSize * instructionSize);
        const std::size_t constants = r.Size();
        for (std::size_t i = 0; i < constants && !r.Bad; ++i) {
            switch (r.Byte()) {
            case 0x03: r.Skip(integerSize); break; // integer
            case 0x13: r.Skip(numberSize); break;  // float
            case 0x04:
            case 0x14: r.SkipString(); break; // short and long string
            default: break;                   // nil, false, true
            }
        }
        r.Skip(r.Size() * 3); // upvalues
        const std::size_t protos = r.Size();
        for (std::size_t i = 0; i < protos && !r.Bad; ++i)
            self(self, depth + 1);
        const std::size_t lineInfoSize = r.Size();
        if (lineInfoSize > dump.size())
            r.Bad = true;
        std::vector<signed char> deltas;
        for (std::size_t i = 0; i < lineInfoSize && !r.Bad; ++i)
            deltas.push_back(static_cast<signed char>(r.Byte()));
        const std::size_t absSize = r.Size();
        std::map<std::size_t, int> absolute;
        for (std::size_t i = 0; i < absSize && !r.Bad; ++i) {
            std::size_t pc = r.Size();
            absolute[pc] = static_cast<int>(std::min<std::size_t>(r.Size(), 1U << 30));
        }
        const std::size_t locals = r.Size();
        for (std::size_t i = 0; i < locals && !r.Bad; ++i) {
            r.SkipString();
            r.Size();
            r.Size();
        }
        const std::size_t upvalueNames = r.Size();
        for (std::size_t i = 0; i < upvalueNames && !r.Bad; ++i)
            r.SkipString();
        if (r.Bad || deltas.empty())
            return;

        // The line of every instruction, as the line hook reports it.
        std::vector<int> perInstruction(deltas.size());
        long long line = lineDefined;
        for (std::size_t pc = 0; pc < deltas.size(); ++pc) {
            if (deltas[pc] != -0x80)
                line += deltas[pc];
            else if (auto found = absolute.find(pc); found != absolute.end())
                line = found->second;
            // Real line numbers are far from the limits; a damaged dump must not overflow.
            line = std::clamp(line, -1LL, 1LL << 30);
            perInstruction[pc] = static_cast<int>(line);
        }
        // A vararg function's first instruction only prepares its arguments; the last one
        // is the return the compiler adds at the "end" (or at the end of the file), which
        // runs only when the code falls off the end. Its line counts only when it holds
        // code of its own, or when it is all there is of a one-line function.
        const std::size_t first = isVararg ? 1 : 0;
        const std::size_t last = perInstruction.size() - 1;
        for (std::size_t pc = first; pc < last; ++pc)
            if (lines.empty() || lines.back() != perInstruction[pc])
                lines.push_back(perInstruction[pc]);
        if (last >= first && lineDefined != 0 && lineDefined == lastLineDefined)
            lines.push_back(perInstruction[last]);
    };
    function(function, 0);
    if (r.Bad)
        return result;
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    for (int line : lines)
        if (line > 0)
            result.push_back(line);
    return result;
}

} // namespace WexelHost::Coverage
