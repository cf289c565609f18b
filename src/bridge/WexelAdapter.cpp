#include "bridge/WexelAdapter.h"

#include "bridge/HostPlatform.h"
#include "bridge/TestArena.h"
#include "bridge/TestCaseQuill.h"
#include "bridge/WexelCaller.h"
#include "core/TestExceptions.h"
#include "core/TestRegistry.h"
#include "core/TestSuite.h"
#include "platform/TextUtils.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Wexel {

TWexelAdapter* WexelAdapter = nullptr;

namespace {

using TestFramework::ITestPtr;
using TestFramework::TTestSuite;
using Sys::LowerAscii;

// Calls each(line) for every line; lines end at CR LF, CR or LF, and a line end at the
// very end opens no extra line. No list of the lines is made: a listing has one per test.
template <class F>
void ForEachLine(std::string_view text, F&& each)
{
    // A listing made on this system has no CR: its lines are found a block at a time.
    if (std::memchr(text.data(), '\r', text.size()) == nullptr) {
        const char* start = text.data();
        const char* const end = start + text.size();
        while (start < end) {
            const auto* lineEnd = static_cast<const char*>(std::memchr(start, '\n', end - start));
            const char* stop = lineEnd ? lineEnd : end;
            each(std::string_view(start, stop - start));
            start = stop + 1;
        }
        return;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        each(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        each(text.substr(start));
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    // A listing has a line per test: the list is made once, at its size.
    std::size_t count = 1;
    for (const char* at = text.data(), *end = at + text.size();
         (at = static_cast<const char*>(std::memchr(at, '\n', end - at))) != nullptr; ++at)
        ++count;
    lines.reserve(count);
    ForEachLine(text, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

std::string_view BeforeLastSlash(std::string_view path)
{
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// The suites of one registration, each found by its parent and its name ignoring case;
// it does not own them. Keying a level by its parent rather than by its whole path keeps
// the cache linear in the size of the answer however deep the tree is.
class TSuiteCache {
public:
    TTestSuite& FindSuite(std::string_view path)
    {
        // Tests of one suite usually come one after another.
        if (FLast && path == FLastPath)
            return *FLast;
        // Every level is checked before any suite is made, so that a bad line adds no
        // suite to the tree.
        std::vector<std::string_view> levels = CheckLevels(path);
        TTestSuite* parent = nullptr;
        for (std::string_view level : levels) {
            auto& slot = FSuites[TKey{parent, LowerAscii(level)}];
            if (!slot) {
                auto suite = std::make_shared<TTestSuite>(CutName(std::string(level)));
                if (parent)
                    parent->AddTest(suite);
                else
                    TestFramework::RegisterTest(suite);
                slot = suite.get();
            }
            parent = slot;
        }
        FLastPath.assign(path);
        FLast = parent;
        return *parent;
    }

    // The levels of a suite path; the assertion error for an empty one.
    static std::vector<std::string_view> CheckLevels(std::string_view path)
    {
        std::vector<std::string_view> levels = SplitLevels(path);
        for (std::string_view level : levels)
            Sys::Assert(!level.empty(), TestFramework::FrameworkUnit, __LINE__);
        return levels;
    }

private:
    struct TKey {
        const TTestSuite* Parent;
        std::string Name;
        bool operator==(const TKey&) const = default;
    };
    struct TKeyHash {
        std::size_t operator()(const TKey& key) const noexcept
        {
            return std::hash<std::string>()(key.Name) ^ (std::hash<const void*>()(key.Parent) * 31);
        }
    };

    static std::vector<std::string_view> SplitLevels(std::string_view path)
    {
        std::vector<std::string_view> levels;
        std::size_t start = 0;
        for (std::size_t slash; (slash = path.find('/', start)) != std::string_view::npos; start = slash + 1)
            levels.push_back(path.substr(start, slash - start));
        levels.push_back(path.substr(start));
        return levels;
    }

    std::unordered_map<TKey, TTestSuite*, TKeyHash> FSuites;
    std::string FLastPath;
    TTestSuite* FLast = nullptr;
};

// How many levels, suites and the test, a path may have. Real trees stay far below; the
// run loop recurses with the depth, so a deeper answer would overflow the stack.
constexpr std::size_t MaxPathLevels = 1000;

// The start of a line for a message: the whole of a huge line would drown the message.
std::string LineForMessage(std::string_view line)
{
    constexpr std::size_t Shown = 200;
    if (line.size() <= Shown)
        return std::string(line);
    return CutName(std::string(line.substr(0, Shown))) + "...";
}

// Where the listing's tests are declared, by their place in the listing: the file as a
// number (1 and up, 0 for none) in a list of the distinct files, and the line.
struct TDeclaredAt {
    std::uint32_t File = 0;
    std::int32_t Line = 0;
};

struct TDeclarations {
    std::vector<TDeclaredAt> ByLine;
    // The distinct files, each ended by a line feed; tests keep views into it.
    std::string Files;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> FileSpans; // start and length in Files
};

// Reads the library's answer, lines "path<TAB>file<TAB>line"; a line of another shape is
// left out, as is a position the runner could not use, and a path placed before keeps its
// first place. The answer lists the tests in the listing's order, most often: the two are
// walked side by side, and only a path out of that order is looked up.
TDeclarations MatchPositions(std::string_view answer, const std::vector<std::string_view>& lines)
{
    TDeclarations declarations;
    if (answer.empty())
        return declarations;
    declarations.ByLine.resize(lines.size());
    std::unordered_map<std::string_view, std::uint32_t> fileNumbers;
    std::string_view lastFile;
    std::uint32_t lastNumber = 0;
    std::unordered_map<std::string_view, std::size_t> placeOf; // made when first needed
    std::size_t next = 0;
    ForEachLine(answer, [&](std::string_view line) {
        auto tab1 = line.find('\t');
        auto tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos || tab2 == tab1 + 1)
            return;
        std::string_view number = line.substr(tab2 + 1);
        int value = 0;
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec != std::errc() || end != number.data() + number.size() || value <= 0)
            return;
        const std::string_view path = line.substr(0, tab1);
        std::size_t place = lines.size();
        if (next < lines.size() && lines[next] == path) {
            place = next++;
        } else {
            if (placeOf.empty())
                for (std::size_t i = lines.size(); i-- > 0;)
                    placeOf[lines[i]] = i;
            if (auto found = placeOf.find(path); found != placeOf.end()) {
                place = found->second;
                next = place + 1;
            }
        }
        if (place == lines.size() || declarations.ByLine[place].File != 0)
            return;
        const std::string_view file = line.substr(tab1 + 1, tab2 - tab1 - 1);
        if (file != lastFile || lastNumber == 0) {
            auto [found, added] = fileNumbers.try_emplace(file, static_cast<std::uint32_t>(fileNumbers.size() + 1));
            if (added) {
                declarations.FileSpans.emplace_back(static_cast<std::uint32_t>(declarations.Files.size()),
                                                    static_cast<std::uint32_t>(file.size()));
                declarations.Files.append(file).push_back('\n');
            }
            lastFile = file;
            lastNumber = found->second;
        }
        declarations.ByLine[place] = {lastNumber, value};
    });
    return declarations;
}

// A path that cannot become a test names no suite or no test; the assertion error says
// which line it was, so that the library's author can find it.
void CheckLine(std::string_view line)
{
    try {
        if (static_cast<std::size_t>(std::count(line.begin(), line.end(), '/')) >= MaxPathLevels)
            Sys::AssertionFailure(TestFramework::FrameworkUnit, __LINE__);
        // The common case without the list of levels that CheckLevels makes.
        const std::string_view suitePath = BeforeLastSlash(line);
        if (suitePath.empty() || suitePath.front() == '/' || suitePath.back() == '/' ||
            suitePath.find("//") != std::string_view::npos)
            TSuiteCache::CheckLevels(suitePath);
    } catch (Sys::EAssertionFailed& e) {
        e.SetMessage(e.Message() + ": test path \"" + LineForMessage(line) +
                     "\" must name a test inside a suite, with no empty level and at most " +
                     std::to_string(MaxPathLevels) + " levels");
        throw;
    }
}

// Checks lines as CheckLine does; a line in the suite of the line checked before it
// passes at once, as everything checked lies in its suite path. Answers the line's suite
// path.
class TLineChecker {
public:
    std::string_view Check(std::string_view line)
    {
        const std::string_view suitePath = BeforeLastSlash(line);
        if (FChecked && suitePath == FLastSuitePath)
            return suitePath;
        CheckLine(line);
        FLastSuitePath = suitePath;
        FChecked = true;
        return suitePath;
    }

private:
    std::string_view FLastSuitePath;
    bool FChecked = false;
};

std::string_view LibraryOf(std::string_view line) { return line.substr(0, line.find('/')); }

// Adds the lines of another mask's answer whose library (the first level) no earlier
// answer listed, so that masks that overlap run each library once.
void AppendNewLibraries(std::string& answer, const std::string& more)
{
    std::unordered_set<std::string_view> known;
    const std::string before = answer;
    for (std::string_view line : SplitLines(before))
        known.insert(LibraryOf(line));
    for (std::string_view line : SplitLines(more)) {
        if (known.count(LibraryOf(line)))
            continue;
        if (!answer.empty() && answer.back() != '\n' && answer.back() != '\r')
            answer += '\n';
        answer.append(line);
    }
}

} // namespace

std::string TWexelAdapter::TestPositions()
{
    // Positions are a help, not part of the protocol: a library without the procedure, or
    // one whose procedure fails, still runs its tests.
    try {
        // Lines of a library that two masks name come twice; the first one counts.
        std::string answer = Caller->GetTestPositions(FileMask);
        for (const std::string& mask : MoreMasks)
            answer += '\n' + Caller->GetTestPositions(mask);
        return answer;
    } catch (const WexelHost::EScriptStopped&) {
        throw;
    } catch (const WexelHost::EExtCallError&) {
        return {};
    }
}

std::string CutName(const std::string& name)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        // Count lead bytes only, so a cut never splits a UTF-8 sequence.
        if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) {
            if (chars == MaxNameLength)
                return name.substr(0, i);
            ++chars;
        }
    }
    return name;
}

TWexelAdapter::TWexelAdapter(std::string fileMask, std::string config)
    : TWexelAdapter(fileMask, config, std::make_unique<TWexelCaller>(config))
{
}

TWexelAdapter::TWexelAdapter(std::string fileMask, std::string config, std::unique_ptr<TWexelCaller> caller)
    : FileMask(std::move(fileMask)), Config(std::move(config)), Caller(std::move(caller))
{
    if (CheckProtocol()) {
        Ready = true;
    } else {
        ErrorText = std::string("Incorrect protocol version: ") + ProtocolVersion + " at WexelRunner, " +
                    Caller->GetProtocolVersion() + " at Wexel.";
    }
}

TWexelAdapter::~TWexelAdapter() = default;

bool TWexelAdapter::CheckProtocol() { return Caller->GetProtocolVersion() == ProtocolVersion; }

void TWexelAdapter::RegisterTests()
{
    // The tests' paths and declaration files stay in these texts, shared by the tree.
    auto text = std::make_shared<TDiscoveryText>();
    text->Listing = Caller->FindTests(FileMask);
    for (const std::string& mask : MoreMasks)
        AppendNewLibraries(text->Listing, Caller->FindTests(mask));
    const std::vector<std::string_view> lines = SplitLines(text->Listing);
    TDeclarations declarations = WantPositions ? MatchPositions(TestPositions(), lines) : TDeclarations{};
    // Only the files stay, one copy of each, however many tests name them.
    text->Positions = std::move(declarations.Files);
    // The tests of a registration are made and freed together, and the texts they refer
    // to go with them.
    const TArenaHold arena;
    arena.Get()->Keep(text);
    // suitePath is the line's up to its last "/", found once for the check and the test.
    auto addTest = [&](TTestSuite& suite, std::size_t place, std::string_view suitePath) {
        const std::string_view line = lines[place];
        auto test = std::allocate_shared<TTestCaseQuill>(TArenaAllocator<TTestCaseQuill>(arena.Get()), *text, line,
                                                          suitePath.data() ? suitePath.size() + 1 : std::string_view::npos);
        if (!declarations.ByLine.empty()) {
            if (const TDeclaredAt at = declarations.ByLine[place]; at.File != 0) {
                const auto [start, length] = declarations.FileSpans[at.File - 1];
                test->SetDeclaration(std::string_view(text->Positions).substr(start, length), at.Line);
            }
        }
        suite.AddTest(std::move(test));
    };
    TLineChecker checker;
    if (!Plan) {
        // A suite's tests come one after another, most often: each run of lines in one
        // suite goes in at once, into a list made at its size. A line in the suite of the
        // line checked before it would pass its check at once, so only the run's first
        // line is checked.
        TSuiteCache cache;
        for (std::size_t place = 0; place < lines.size();) {
            const std::string_view suitePath = checker.Check(lines[place]);
            std::size_t end = place + 1;
            while (end < lines.size() && BeforeLastSlash(lines[end]) == suitePath)
                ++end;
            TTestSuite& suite = cache.FindSuite(suitePath);
            suite.ReserveTests(suite.Tests().size() + (end - place));
            for (; place < end; ++place)
                addTest(suite, place, suitePath);
        }
        return;
    }
    const TRegistrationPlan plan = Plan(lines);
    // Lines that are not registered are still checked, up to each registered one: a bad
    // line fails every selection of a run alike.
    std::size_t checked = 0;
    for (const std::vector<std::size_t>& pass : plan) {
        TSuiteCache cache;
        for (std::size_t k = 0; k < pass.size();) {
            const std::size_t position = pass[k];
            // In the listing's order the line was checked just now; a line again (a repeat,
            // a shuffle) was checked before.
            std::string_view suitePath;
            if (checked <= position) {
                for (; checked <= position; ++checked)
                    suitePath = checker.Check(lines.at(checked));
            } else {
                suitePath = BeforeLastSlash(lines.at(position));
            }
            // The pass's next tests in the same suite go in with this one, into a list made
            // at its size. A line's check depends on its suite path alone, which has just
            // passed: such a line, checked before or the very next one, needs no check of
            // its own. Any other line ends the run and is taken as above.
            std::size_t end = k + 1;
            for (; end < pass.size(); ++end) {
                const std::size_t next = pass[end];
                if (next > checked || next >= lines.size() || BeforeLastSlash(lines[next]) != suitePath)
                    break;
                if (next == checked)
                    ++checked;
            }
            TTestSuite& suite = cache.FindSuite(suitePath);
            suite.ReserveTests(suite.Tests().size() + (end - k));
            for (; k < end; ++k)
                addTest(suite, pass[k], suitePath);
        }
    }
    for (; checked < lines.size(); ++checked)
        checker.Check(lines[checked]);
}

bool TWexelAdapter::RunTest(std::string_view fullName) { return MapRunTestAnswer(Caller->RunTest(fullName)); }

bool MapRunTestAnswer(std::string_view answer)
{
    // Read in place: every test passes through here.
    const std::string_view a = Sys::Trim(answer);
    static constexpr std::string_view Failure = "##failure";
    static constexpr std::string_view Error = "##exception";
    if (a == "##pass")
        return true;
    if (a == "##pass nochecks")
        return false;
    if (a.starts_with(Failure))
        throw TestFramework::ETestFailure(CutName(std::string(Sys::Trim(a.substr(Failure.size())))));
    if (a.starts_with(Error))
        throw Sys::Exception(CutName(std::string(Sys::Trim(a.substr(Error.size())))));
    if (a == "##notfound")
        throw Sys::Exception("Test not found");
    throw Sys::Exception("Unknown error");
}

} // namespace Wexel
