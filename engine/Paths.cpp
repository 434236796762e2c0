#include "Paths.h"

#include <cstdint>

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string JoinPath(const std::string& left, const std::string& right) {
    // Callers always pass the source or install folder as the left side, never an empty one.
    const bool seamHasSeparator = (!left.empty() && IsSeparator(left.back())) ||
                                  (!right.empty() && IsSeparator(right.front()));
    std::string joined;
    joined.reserve(left.size() + 1 + right.size());
    joined += left;
    if (!seamHasSeparator) {
        joined += '\\';
    }
    joined += right;
    return joined;
}

std::size_t FindNextSeparator(const std::string& path, std::size_t start) {
    for (std::size_t i = start; i < path.size(); ++i) {
        if (IsSeparator(path[i])) {
            return i;
        }
    }
    return kNoPosition;
}

std::size_t FindLastSeparator(const std::string& path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            return i - 1;
        }
    }
    return kNoPosition;
}

bool IsValidInstallPath(const std::string& path) {
    if (path.size() < 3 || path.size() > 259) {
        return false;
    }
    const signed char first = static_cast<signed char>(path[0]);
    const bool letter = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
    return letter && path[1] == ':' && IsSeparator(path[2]);
}

std::string NormalizeEntryName(const std::string& name) {
    std::string normalized = name;
    for (char& c : normalized) {
        if (c == '\0') {
            break;
        }
        if (c == '\\') {
            c = '/';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 0x20);
        }
    }
    return normalized;
}

namespace {

// Decodes one UTF-8 sequence at text[i]; malformed input gives U+FFFD for one byte, the way the
// Windows converter replaces what it cannot read.
char32_t DecodeUtf8(const unsigned char* text, std::size_t length, std::size_t& i) {
    const unsigned char lead = text[i];
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t extra = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    std::size_t j = i + 1;
    for (std::size_t k = 0; k < extra; ++k, ++j) {
        if (j >= length || (text[j] & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        value = (value << 6) | (text[j] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i = j;
    return value;
}

}  // namespace

std::u16string ToWidePath(const std::string& path) {
    const auto* text = reinterpret_cast<const unsigned char*>(path.data());
    std::size_t length = 0;
    while (length < path.size() && text[length] != 0) {
        ++length;
    }
    std::u16string wide;
    wide.reserve(length + 1);
    for (std::size_t i = 0; i < length;) {
        const char32_t c = DecodeUtf8(text, length, i);
        if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
        // The terminator needs one unit of the limit too.
        if (wide.size() + 1 > kMaxWidePathUnits) {
            return std::u16string();
        }
    }
    return wide;
}

namespace {

bool IsDotDot(const std::string& component) {
    // Windows drops trailing dots and spaces from a component, so ". ." or "..." name the parent too.
    std::size_t end = component.size();
    while (end > 0 && (component[end - 1] == '.' || component[end - 1] == ' ')) {
        --end;
    }
    const std::string head = component.substr(0, end);
    if (!head.empty()) {
        return false;
    }
    // Only dots and spaces: the parent when it has at least two dots. "." alone stays in place.
    std::size_t dots = 0;
    for (char c : component) {
        dots += (c == '.');
    }
    return dots >= 2;
}

}  // namespace

bool IsSafeEntryName(const std::string& name) {
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = FindNextSeparator(name, start);
        if (end == kNoPosition) {
            end = name.size();
        }
        const std::string component = name.substr(start, end - start);
        if (component.find(':') != std::string::npos || IsDotDot(component)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::string PathIdentityKey(const std::string& path) {
    std::string key;
    key.reserve(path.size());
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = FindNextSeparator(path, start);
        if (end == kNoPosition) {
            end = path.size();
        }
        std::string component = path.substr(start, end - start);
        const bool first = (start == 0);
        if (!first) {
            while (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
                component.pop_back();
            }
        }
        if (first || !component.empty()) {
            if (!first) {
                key += '/';
            }
            for (char c : component) {
                key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
            }
        }
        start = end + 1;
    }
    return key;
}
