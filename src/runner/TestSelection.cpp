#include "runner/TestSelection.h"

#include "bridge/TestCaseQuill.h"
#include "core/TestRegistry.h"
#include "report/JUnitTestRunnerRecords.h"
#include "platform/SysUtils.h"
#include "platform/TextUtils.h"

#include <pugixml.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <random>

namespace WexelRunner {

namespace {

using Sys::LowerAscii;

std::string FailureKey(std::string_view className, std::string_view testName)
{
    std::string key = LowerAscii(std::string(className));
    key.append(1, '\n').append(testName);
    return key;
}

[[noreturn]] void RefuseReport(const std::string& file, const std::string& why)
{
    throw Sys::Exception("--rerun-failed: " + file + " " + why);
}

// The tests of one pass as the adapter will group them: suites found by their parent and
// their name ignoring case, children in the order first met.
struct TNode {
    std::vector<std::size_t> Children; // into the node store
    std::map<std::string, std::size_t> Suites;
    std::size_t Position = 0; // of a test: its line in the discovery answer
    bool IsTest = false;
};

// An unbiased draw from [0, bound) that every standard library computes alike; the
// standard distributions are free to differ between implementations, and a seed must
// replay the same order wherever it is given.
std::size_t Draw(std::mt19937_64& random, std::size_t bound)
{
    const std::uint64_t range = bound;
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % range;
    std::uint64_t value;
    do
        value = random();
    while (value >= limit);
    return static_cast<std::size_t>(value % range);
}

std::vector<std::size_t> ShuffledPass(const std::vector<std::size_t>& pass, const std::vector<std::string_view>& paths,
                                      std::mt19937_64& random)
{
    std::vector<TNode> nodes(1);
    for (std::size_t position : pass) {
        std::string_view path = paths[position];
        std::size_t node = 0;
        for (std::size_t slash; (slash = path.find('/')) != std::string_view::npos; path.remove_prefix(slash + 1)) {
            auto [found, added] = nodes[node].Suites.try_emplace(LowerAscii(std::string(path.substr(0, slash))),
                                                                 nodes.size());
            const std::size_t child = found->second;
            if (added) {
                nodes[node].Children.push_back(child);
                nodes.emplace_back();
            }
            node = child;
        }
        nodes[node].Children.push_back(nodes.size());
        TNode test;
        test.IsTest = true;
        test.Position = position;
        nodes.push_back(std::move(test));
    }
    // Fisher-Yates at every level, then the tests in the order of a walk of the tree.
    for (TNode& node : nodes)
        for (std::size_t i = node.Children.size(); i > 1; --i)
            std::swap(node.Children[i - 1], node.Children[Draw(random, i)]);
    std::vector<std::size_t> order;
    order.reserve(pass.size());
    std::vector<std::size_t> stack{0};
    while (!stack.empty()) {
        const TNode& node = nodes[stack.back()];
        stack.pop_back();
        if (node.IsTest)
            order.push_back(node.Position);
        stack.insert(stack.end(), node.Children.rbegin(), node.Children.rend());
    }
    return order;
}

void ListTests(const TestFramework::ITestPtr& test, std::vector<std::string>& lines)
{
    if (auto script = std::dynamic_pointer_cast<Wexel::TTestCaseQuill>(test)) {
        const std::optional<std::string> where = DeclaredAt(*script);
        lines.push_back(where ? script->FullName() + "\t" + *where : script->FullName());
    }
    for (const TestFramework::ITestPtr& child : test->Tests())
        ListTests(child, lines);
}

} // namespace

void TFailedTests::Add(std::string_view className, std::string_view testName)
{
    FKeys.insert(FailureKey(className, testName));
}

bool TFailedTests::Holds(const std::string& fullPath) const
{
    // The report names a test by its suite's dotted path and its own name, both cut as
    // the tree cuts names and the report writes a level's dots; the same is made of the
    // path rather than the report's names taken apart.
    const std::size_t slash = fullPath.rfind('/');
    if (slash == std::string::npos)
        return false;
    std::string className;
    std::size_t start = 0;
    for (std::size_t end; (end = fullPath.find('/', start)) <= slash; start = end + 1) {
        if (start > 0)
            className += '.';
        className += JUnitTestRunner::ClassNameLevel(Wexel::CutName(fullPath.substr(start, end - start)));
        if (end == slash)
            break;
    }
    return FKeys.count(FailureKey(className, Wexel::CutName(fullPath.substr(slash + 1)))) > 0;
}

TFailedTests ReadFailedTests(const std::string& reportFile)
{
    std::string text;
    try {
        // A directory opens, but its first read fails (with an exception, from this library).
        std::ifstream in(reportFile, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.is_open() || in.bad())
            RefuseReport(reportFile, "cannot be read");
    } catch (const Sys::Exception&) {
        throw;
    } catch (const std::exception&) {
        RefuseReport(reportFile, "cannot be read");
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    const pugi::xml_node root = doc.document_element();
    const std::string rootName = root.name();
    if (!parsed || (rootName != "testsuites" && rootName != "testsuite"))
        RefuseReport(reportFile, std::string("holds no JUnit report") +
                                     (parsed ? "" : std::string(" (") + parsed.description() + ")"));
    TFailedTests failed;
    for (const pugi::xpath_node& found : root.select_nodes("descendant-or-self::testcase[failure or error]"))
        failed.Add(found.node().attribute("classname").value(), found.node().attribute("name").value());
    return failed;
}

bool MatchesGlob(std::string_view pattern, std::string_view text) { return Sys::MatchesWildcards(pattern, text); }

bool PassesFilters(const std::vector<std::string>& filters, std::string_view path)
{
    bool anyInclusion = false, included = false;
    for (const std::string& filter : filters) {
        if (!filter.empty() && filter[0] == '!') {
            if (MatchesGlob(std::string_view(filter).substr(1), path))
                return false;
        } else {
            anyInclusion = true;
            included = included || MatchesGlob(filter, path);
        }
    }
    return included || !anyInclusion;
}

Wexel::TRegistrationPlan PlanRegistration(const TSelection& selection, const std::vector<std::string>& paths,
                                          std::size_t* selectedCount)
{
    return PlanRegistration(selection, std::vector<std::string_view>(paths.begin(), paths.end()), selectedCount);
}

Wexel::TRegistrationPlan PlanRegistration(const TSelection& selection, const std::vector<std::string_view>& paths,
                                          std::size_t* selectedCount)
{
    std::vector<std::size_t> selected;
    selected.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (PassesFilters(selection.Filters, paths[i]) &&
            (!selection.Failed || selection.Failed->Holds(std::string(paths[i]))))
            selected.push_back(i);
    if (selectedCount)
        *selectedCount = selected.size();

    if (selection.Shard.Count > 1) {
        std::vector<std::size_t> byPath = selected;
        std::stable_sort(byPath.begin(), byPath.end(),
                         [&](std::size_t a, std::size_t b) { return paths[a] < paths[b]; });
        std::vector<bool> inShard(paths.size(), false);
        for (std::size_t rank = selection.Shard.Index; rank < byPath.size(); rank += selection.Shard.Count)
            inShard[byPath[rank]] = true;
        std::erase_if(selected, [&](std::size_t i) { return !inShard[i]; });
    }

    Wexel::TRegistrationPlan plan;
    std::mt19937_64 random(selection.ShuffleSeed.value_or(0));
    for (std::size_t pass = 0; pass < selection.Repeat; ++pass) {
        if (selection.ShuffleSeed)
            plan.push_back(ShuffledPass(selected, paths, random));
        else if (pass + 1 == selection.Repeat)
            plan.push_back(std::move(selected));
        else
            plan.push_back(selected);
    }
    return plan;
}

std::optional<std::string> DeclaredAt(const Wexel::TTestCaseQuill& test)
{
    if (test.DeclFile().empty())
        return std::nullopt;
    return test.DeclFile() + ":" + std::to_string(test.DeclLine());
}

std::vector<std::string> ListRegisteredTests()
{
    std::vector<std::string> lines;
    if (const TestFramework::ITestPtr root = TestFramework::RegisteredTests())
        ListTests(root, lines);
    return lines;
}

} // namespace WexelRunner
