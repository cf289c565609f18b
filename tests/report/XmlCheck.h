#pragma once
// Reading report text the way its consumers do: xmllint for conformance, pugixml for
// what a reader gets out of a document.

#include "HostProcess.h"

#include <pugixml.hpp>

#include <string>

namespace ReportTestSupport {

// xmllint's complaint about a document; empty when it accepts it.
inline std::string XmllintComplaint(const std::string& document)
{
    if (std::string(WEXEL_XMLLINT).empty())
        return "xmllint was not found when the build was configured (package libxml2-utils)";
    TestSupport::TTempDir dir;
    const std::string path = dir.File("report.xml");
    TestSupport::WriteFile(path, document);
    const auto result = TestSupport::RunProcess({WEXEL_XMLLINT, "--noout", path});
    if (result.ExitCode == 0 && result.Err.empty())
        return {};
    return "exit code " + std::to_string(result.ExitCode) + ": " + result.Err;
}

// Parses without the line-end and attribute-whitespace normalisation, so that values come
// back as the document holds them.
inline pugi::xml_parse_result Parse(pugi::xml_document& doc, const std::string& text,
                                    pugi::xml_encoding encoding)
{
    const unsigned options = pugi::parse_default & ~pugi::parse_eol & ~pugi::parse_wconv_attribute;
    return doc.load_buffer(text.data(), text.size(), options, encoding);
}

// The character data of an element, CDATA sections joined.
inline std::string TextOf(pugi::xml_node node)
{
    std::string text;
    for (pugi::xml_node child : node.children())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    return text;
}

} // namespace ReportTestSupport
