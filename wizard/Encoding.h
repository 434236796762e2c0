// The wizard's one conversion module: UTF-8 inside the program, the ANSI code page at narrow calls.
#pragma once

#include <string>

// ANSI code page (as narrow calls give it) to UTF-8.
std::string AnsiToUtf8(const std::string& ansi);

// UTF-8 to the ANSI code page; characters the code page lacks become '?'.
std::string Utf8ToAnsi(const std::string& utf8);

// An engine message for a box: its Big5 text kept, the UTF-8 path inside it shown in the ANSI code page.
std::string MessageForDisplay(const std::string& engineText);
