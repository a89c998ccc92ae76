// The expression that tells the host for which files to offer the plug-in.
#pragma once

#include <array>
#include <string_view>

namespace detect_string_parts {

inline constexpr std::string_view kExtensions[] = {
    "1C", "ASM", "ASP", "AU3", "AXL", "BAS", "BAT", "C++", "C", "CC", "CODER", "CMD", "CP", "CPP", "CS",
    "CSPROJ", "CSS", "CSX", "CU", "CXX", "DPR", "DPROJ", "DPROJ.LOCAL", "DXL", "FRM", "GROUPPROJ", "H",
    "HH", "HPP", "HTA", "HTM", "HTML", "HXX", "I", "IDL", "II", "INF", "INI", "IPR", "ISS", "JAVA", "JS",
    "JSON", "KML", "LESS", "LPI", "LUA", "MANIFEST", "MSC", "NDL", "NSH", "NSI", "PAS", "PHP", "PHP3",
    "PHP3_FOR_CODER", "PL", "PLS", "PLIST", "PLX", "PM", "PROPERTIES", "PRL", "PY", "PYW", "RC", "RDF",
    "REG", "RESX", "RSS", "SHTML", "SQL", "SVG", "TLH", "TLI", "TVSCONFIG", "TXT", "URL", "USER", "VB",
    "VB5", "VBPROJ", "VBS", "VCPROJ", "VCXPROJ", "VDPROJ", "WBT", "WSDL", "WIXLIB", "WIXMSP", "WIXMST",
    "WIXOBJ", "WIXOUT", "WIXPDB", "WXI", "WXL", "WXS", "XAML", "XML", "XMP", "XSD", "XSL", "XSLT", "XUL",
};
static_assert(std::size(kExtensions) == 104);

inline constexpr std::string_view kOpening = "MULTIMEDIA & (";
inline constexpr std::string_view kTermStart = "EXT=\"";
inline constexpr std::string_view kTermEnd = "\"";
inline constexpr std::string_view kSeparator = "|";
inline constexpr std::string_view kClosing = ")";

constexpr size_t DetectStringLength() {
    size_t length = kOpening.size() + kClosing.size() + (std::size(kExtensions) - 1) * kSeparator.size();
    for (std::string_view extension : kExtensions)
        length += kTermStart.size() + extension.size() + kTermEnd.size();
    return length;
}

// Terminated, so that the host receives it with one copy.
constexpr std::array<char, DetectStringLength() + 1> BuildDetectString() {
    std::array<char, DetectStringLength() + 1> text{};
    size_t at = 0;
    auto append = [&](std::string_view piece) {
        for (char c : piece)
            text[at++] = c;
    };
    append(kOpening);
    for (size_t i = 0; i < std::size(kExtensions); ++i) {
        if (i > 0)
            append(kSeparator);
        append(kTermStart);
        append(kExtensions[i]);
        append(kTermEnd);
    }
    append(kClosing);
    return text;
}

}  // namespace detect_string_parts

inline constexpr auto kDetectString = detect_string_parts::BuildDetectString();
static_assert(kDetectString.size() == 1131, "the host expects 1130 characters and a terminator");
