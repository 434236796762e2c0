#include "Encoding.h"

#include <windows.h>

#include <climits>

#include "Texts.h"

namespace {

// Through UTF-16, the only common ground the conversion calls offer. Lengths are explicit, so a zero
// byte inside the text converts like any other character instead of ending it.
std::string Convert(const std::string& text, UINT fromCodePage, UINT toCodePage) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::string();
    }
    const int size = static_cast<int>(text.size());
    const int wideUnits = ::MultiByteToWideChar(fromCodePage, 0, text.data(), size, nullptr, 0);
    if (wideUnits <= 0) {
        return std::string();
    }
    std::wstring wide(static_cast<std::size_t>(wideUnits), L'\0');
    ::MultiByteToWideChar(fromCodePage, 0, text.data(), size, &wide[0], wideUnits);

    const int bytes = ::WideCharToMultiByte(toCodePage, 0, wide.data(), wideUnits, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::string();
    }
    std::string converted(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(toCodePage, 0, wide.data(), wideUnits, &converted[0], bytes, nullptr, nullptr);
    return converted;
}

bool StartsWith(const std::string& text, const char* prefix, std::size_t prefixSize) {
    return text.size() >= prefixSize && text.compare(0, prefixSize, prefix, prefixSize) == 0;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    return Convert(ansi, CP_ACP, CP_UTF8);
}

std::string Utf8ToAnsi(const std::string& utf8) {
    return Convert(utf8, CP_UTF8, CP_ACP);
}

std::string MessageForDisplay(const std::string& engineText) {
    // The volume texts carry the volume's path, which the engine holds in UTF-8 between a Big5 prefix
    // and suffix; every other engine text is Big5 throughout and goes to the box unchanged.
    constexpr std::size_t suffixSize = sizeof(kTextVolumeSuffix) - 1;
    for (const char* prefix : {kTextReadVolumePrefix, kTextBadVolumePrefix}) {
        const std::size_t prefixSize = std::char_traits<char>::length(prefix);
        if (!StartsWith(engineText, prefix, prefixSize) || engineText.size() < prefixSize + suffixSize ||
            engineText.compare(engineText.size() - suffixSize, suffixSize, kTextVolumeSuffix) != 0) {
            continue;
        }
        const std::string path = engineText.substr(prefixSize, engineText.size() - prefixSize - suffixSize);
        return std::string(prefix, prefixSize) + Utf8ToAnsi(path) + kTextVolumeSuffix;
    }
    return engineText;
}
