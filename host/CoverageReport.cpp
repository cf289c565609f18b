#include "host/CoverageReport.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace WexelHost::Coverage {

namespace {

std::string Rate(std::size_t hit, std::size_t lines)
{
    double rate = lines == 0 ? 0.0 : static_cast<double>(hit) / static_cast<double>(lines);
    char text[32];
    // to_chars writes a point in every locale, as the XML format wants.
    auto end = std::to_chars(text, text + sizeof text, rate, std::chars_format::fixed, 4).ptr;
    return std::string(text, end);
}

std::string XmlAttr(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default:
            // Other control characters cannot be written in XML 1.0 at all.
            if (static_cast<unsigned char>(c) < 0x20)
                out += '?';
            else
                out += c;
        }
    }
    return out;
}

std::string DirOf(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The longest directory that holds every file ("/" at worst).
std::string CommonDir(const std::vector<TFileCoverage>& files)
{
    if (files.empty())
        return "/";
    std::string common = DirOf(files.front().Path);
    for (const auto& file : files) {
        const std::string dir = DirOf(file.Path);
        while (!common.empty() &&
               !(dir.compare(0, common.size(), common) == 0 &&
                 (dir.size() == common.size() || dir[common.size()] == '/')))
            common = DirOf(common);
    }
    return common.empty() ? std::string("/") : common;
}

std::string Relative(const std::string& path, const std::string& base)
{
    if (base == "/")
        return path.substr(1);
    return path.substr(base.size() + 1);
}

std::string Grouped(std::size_t value)
{
    std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::size_t HitCount(const TFileCoverage& file)
{
    return static_cast<std::size_t>(std::count_if(file.Lines.begin(), file.Lines.end(),
                                                  [](const auto& line) { return line.second > 0; }));
}

} // namespace

TSummary Summarize(const std::vector<TFileCoverage>& files)
{
    TSummary summary;
    summary.Files = files.size();
    for (const auto& file : files) {
        summary.Lines += file.Lines.size();
        summary.Hit += HitCount(file);
    }
    return summary;
}

std::string LcovText(const std::vector<TFileCoverage>& files)
{
    std::string out;
    for (const auto& file : files) {
        out += "TN:\nSF:" + file.Path + "\n";
        for (const auto& [line, hits] : file.Lines)
            out += "DA:" + std::to_string(line) + "," + std::to_string(hits) + "\n";
        out += "LF:" + std::to_string(file.Lines.size()) + "\n";
        out += "LH:" + std::to_string(HitCount(file)) + "\n";
        out += "end_of_record\n";
    }
    return out;
}

std::string CoberturaText(const std::vector<TFileCoverage>& files, std::int64_t timestamp)
{
    const TSummary total = Summarize(files);
    const std::string base = CommonDir(files);
    std::map<std::string, std::vector<const TFileCoverage*>> packages;
    for (const auto& file : files) {
        std::string dir = DirOf(Relative(file.Path, base));
        packages[dir.empty() ? std::string(".") : dir].push_back(&file);
    }

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE coverage SYSTEM \"http://cobertura.sourceforge.net/xml/coverage-04.dtd\">\n";
    out += "<coverage line-rate=\"" + Rate(total.Hit, total.Lines) + "\" branch-rate=\"0\" lines-covered=\"" +
           std::to_string(total.Hit) + "\" lines-valid=\"" + std::to_string(total.Lines) +
           "\" branches-covered=\"0\" branches-valid=\"0\" complexity=\"0\" version=\"1.9\" timestamp=\"" +
           std::to_string(timestamp) + "\">\n";
    out += "  <sources>\n    <source>" + XmlAttr(base) + "</source>\n  </sources>\n  <packages>\n";
    for (const auto& [name, members] : packages) {
        std::vector<TFileCoverage> group;
        for (const auto* file : members)
            group.push_back(*file);
        const TSummary sub = Summarize(group);
        out += "    <package name=\"" + XmlAttr(name) + "\" line-rate=\"" + Rate(sub.Hit, sub.Lines) +
               "\" branch-rate=\"0\" complexity=\"0\">\n      <classes>\n";
        for (const auto* file : members) {
            const std::string relative = Relative(file->Path, base);
            const auto slash = relative.rfind('/');
            const std::string className = slash == std::string::npos ? relative : relative.substr(slash + 1);
            out += "        <class name=\"" + XmlAttr(className) + "\" filename=\"" + XmlAttr(relative) +
                   "\" line-rate=\"" + Rate(HitCount(*file), file->Lines.size()) +
                   "\" branch-rate=\"0\" complexity=\"0\">\n          <methods/>\n          <lines>\n";
            for (const auto& [line, hits] : file->Lines)
                out += "            <line number=\"" + std::to_string(line) + "\" hits=\"" +
                       std::to_string(hits) + "\"/>\n";
            out += "          </lines>\n        </class>\n";
        }
        out += "      </classes>\n    </package>\n";
    }
    out += "  </packages>\n</coverage>\n";
    return out;
}

bool WantsCobertura(const std::string& fileName)
{
    if (fileName.size() < 4)
        return false;
    std::string ext = fileName.substr(fileName.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return ext == ".xml";
}

std::string SummaryLine(const TSummary& summary, const std::string& fileName)
{
    // Tenths of a percent, rounded down in integers so that no float rounding lifts 99.96 to 100.
    const std::size_t tenths = summary.Lines == 0 ? 0 : summary.Hit * 1000 / summary.Lines;
    return "Coverage: " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "% of " +
           Grouped(summary.Lines) + (summary.Lines == 1 ? " line" : " lines") + " in " +
           Grouped(summary.Files) + (summary.Files == 1 ? " file" : " files") + " (" + fileName + ")";
}

} // namespace WexelHost::Coverage
