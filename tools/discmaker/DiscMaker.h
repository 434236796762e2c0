// The maker's disc authoring command: pack a voice pack's tree into two discs, and verify them.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

// Raised by the signal handler (Ctrl-C); the command stops, removes what it made and fails.
std::atomic<bool>& CancelRequested();

// Runs one command line (without the program name). out gets the manifest and the summary, err the
// messages and, when terminal is set, the progress bar. Returns the exit code: 0 success, 1 refused or
// failed, 2 a usage error.
int RunDiscMaker(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool terminal);

// "700M", "4K", "1G" (binary multiples) or a plain count of bytes; false on anything else.
bool ParseCapacity(const std::string& text, std::uint64_t& bytes);
