// Both XML text layers: whatever bytes a name or message holds, the escaped value in
// an attribute, in text content and (UTF-8) in a CDATA section gives a document that a
// strict parser accepts.

#include "report/XmlText.h"

#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void ErrorSink(void*, const char*, ...) {}

void MustParse(const std::string& document)
{
    xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "fuzz.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        std::abort();
    xmlFreeDoc(doc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        xmlSetGenericErrorFunc(nullptr, ErrorSink);
        return true;
    }();
    (void)quiet;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string latin1 = XmlText::EscapeLatin1(text);
    MustParse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r a=\"" + latin1 + "\">" + latin1 + "</r>");
    const std::string utf8 = XmlText::EscapeUtf8(text);
    MustParse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r a=\"" + utf8 + "\">" + utf8 +
              "<![CDATA[" + XmlText::CDataUtf8(text) + "]]></r>");
    return 0;
}
