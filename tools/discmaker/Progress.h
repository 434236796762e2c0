// A progress bar on the terminal; silent when the output goes elsewhere (a log, a pipe, a test).
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

class Progress {
public:
    Progress(std::ostream& stream, bool enabled) : stream_(stream), enabled_(enabled) {}
    ~Progress() { End(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Begin(const std::string& task, std::uint64_t total);
    void Add(std::uint64_t bytes);
    void SetPercent(int percent);
    // Clears the bar's line, so that messages that follow start on a clean line.
    void End();

private:
    void Draw(int percent);

    std::ostream& stream_;
    bool enabled_;
    bool shown_ = false;
    std::string task_;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
};
