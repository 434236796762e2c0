// Path rules. Paths are UTF-8 byte strings; both '/' and '\' separate.
#pragma once

#include <cstddef>
#include <string>

inline constexpr std::size_t kNoPosition = std::string::npos;

// The most UTF-16 units a converted path may take, its terminating zero included.
inline constexpr std::size_t kMaxWidePathUnits = 40960;

bool IsSeparator(char c);

// Left followed by right, with one backslash between them unless the seam already has a separator.
// The left side must not be empty.
std::string JoinPath(const std::string& left, const std::string& right);

std::size_t FindNextSeparator(const std::string& path, std::size_t start);
std::size_t FindLastSeparator(const std::string& path);

// 3 to 259 bytes, an ASCII letter, a colon, then a separator. Nothing after the third byte is examined.
bool IsValidInstallPath(const std::string& path);

// Backslashes become slashes and A-Z become a-z, up to the first zero byte. For comparison only.
std::string NormalizeEntryName(const std::string& name);

// UTF-16 form of the path up to its first zero byte, zero-terminated, at most kMaxWidePathUnits units
// in all. A path that does not fit gives an empty result, so the file call that takes it fails.
// Each call uses storage of its own: safe on any thread.
std::u16string ToWidePath(const std::string& path);

// Whether a volume entry name stays inside the folder it is joined to: no component that Windows
// reads as ".." (trailing dots and spaces are dropped by the file system) and no colon, which would
// name a drive or an alternate data stream.
bool IsSafeEntryName(const std::string& name);

// A key under which two spellings of one Windows path compare equal: ASCII case folded, '/' for
// '\', runs of separators and "." components collapsed, trailing dots and spaces of each component
// dropped. Used to tell whether a run already created a path it is about to replace.
std::string PathIdentityKey(const std::string& path);
