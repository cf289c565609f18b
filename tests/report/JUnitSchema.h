#pragma once
// What the JUnit schema of Jenkins' xUnit plugin demands of a report, checked with
// pugixml: the elements each element may hold, the attributes each may carry and which
// are required, and the time format. On top, what readers rely on: a suite's counts are
// those of the test cases it holds, and the root's the sum of its suites'.

#include "XmlCheck.h"

#include <regex>
#include <set>
#include <string>

namespace ReportTestSupport {

namespace JUnitSchemaDetail {

using TNames = std::set<std::string>;

inline void CheckNode(const pugi::xml_node& node, const TNames& required, const TNames& optional,
                      const TNames& children, bool text, std::string& complaint)
{
    const std::string where = std::string(node.name()) + " \"" + node.attribute("name").value() + "\": ";
    for (const std::string& name : required)
        if (!node.attribute(name.c_str()))
            complaint += where + "no attribute " + name + "\n";
    for (const pugi::xml_attribute& a : node.attributes())
        if (!required.count(a.name()) && !optional.count(a.name()))
            complaint += where + "attribute " + a.name() + " not allowed\n";
    // Our times are seconds with a point and three decimals, a subset of the schema's
    // format (digits, optionally grouped by commas, and an optional fraction after a point).
    if (const pugi::xml_attribute time = node.attribute("time"))
        if (!std::regex_match(std::string(time.value()), std::regex(R"(\d+\.\d\d\d)")))
            complaint += where + "time \"" + time.value() + "\"\n";
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_element) {
            if (!children.count(child.name()))
                complaint += where + "element " + child.name() + " not allowed\n";
        } else if (!text && std::string(child.value()).find_first_not_of(" \t\r\n") != std::string::npos) {
            complaint += where + "text not allowed\n";
        }
    }
}

inline int Count(const pugi::xml_node& node, const char* attribute)
{
    return std::stoi(node.attribute(attribute).value());
}

} // namespace JUnitSchemaDetail

// Empty when the document is one that the schema accepts and its counts add up.
inline std::string JUnitSchemaComplaint(const std::string& document)
{
    using namespace JUnitSchemaDetail;
    pugi::xml_document doc;
    if (!Parse(doc, document, pugi::encoding_utf8))
        return "not well-formed";
    std::string complaint = XmllintComplaint(document);
    const pugi::xml_node root = doc.document_element();
    if (std::string(root.name()) != "testsuites")
        return "root " + std::string(root.name());
    CheckNode(root, {}, {"name", "time", "tests", "failures", "errors"}, {"testsuite"}, false, complaint);
    const TNames problems{"failure", "error", "skipped"};
    int tests = 0, failures = 0, errors = 0;
    for (const pugi::xml_node& suite : root.children("testsuite")) {
        CheckNode(suite, {"name", "tests", "failures", "errors"},
                  {"group", "time", "skipped", "timestamp", "hostname", "id", "package", "file", "log", "url"},
                  {"testsuite", "properties", "testcase", "system-out", "system-err"}, false, complaint);
        int cases = 0, failed = 0, erred = 0, skipped = 0;
        for (const pugi::xml_node& testCase : suite.children("testcase")) {
            ++cases;
            // file and line: what GitLab, GitHub's reporters and Jenkins' JUnit plugin read to
            // place a test in its source.
            CheckNode(testCase, {"name"}, {"time", "classname", "group", "file", "line"},
                      {"skipped", "error", "failure", "rerunFailure", "rerunError", "flakyFailure", "flakyError",
                       "system-out", "system-err"},
                      false, complaint);
            for (const pugi::xml_node& problem : testCase.children())
                if (problems.count(problem.name()))
                    CheckNode(problem, {}, {"type", "message"}, {}, true, complaint);
            failed += testCase.child("failure") ? 1 : 0;
            erred += testCase.child("error") ? 1 : 0;
            skipped += testCase.child("skipped") ? 1 : 0;
        }
        if (!complaint.empty())
            return complaint;
        if (Count(suite, "tests") != cases || Count(suite, "failures") != failed || Count(suite, "errors") != erred ||
            (suite.attribute("skipped") && Count(suite, "skipped") != skipped))
            complaint += "suite \"" + std::string(suite.attribute("name").value()) + "\": counts do not add up\n";
        tests += cases;
        failures += failed;
        errors += erred;
    }
    for (const char* total : {"tests", "failures", "errors"})
        if (root.attribute(total) && Count(root, total) != (total[0] == 't' ? tests : total[0] == 'f' ? failures : errors))
            complaint += std::string("the root's ") + total + " do not add up\n";
    return complaint;
}

} // namespace ReportTestSupport
