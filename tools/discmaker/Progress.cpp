#include "Progress.h"

void Progress::Begin(const std::string& task, std::uint64_t total) {
    task_ = task;
    total_ = total;
    done_ = 0;
    lastPercent_ = -1;
    Draw(0);
}

void Progress::Add(std::uint64_t bytes) {
    done_ += bytes;
    if (!enabled_) {
        return;
    }
    const int percent = total_ == 0 ? 100 : static_cast<int>(done_ * 100 / total_);
    SetPercent(percent > 100 ? 100 : percent);
}

void Progress::SetPercent(int percent) {
    if (!enabled_ || percent == lastPercent_) {
        return;
    }
    // At most ten redraws a second, however fast the bytes come.
    const auto now = std::chrono::steady_clock::now();
    if (percent != 100 && now - lastDraw_ < std::chrono::milliseconds(100)) {
        return;
    }
    Draw(percent);
}

void Progress::Draw(int percent) {
    if (!enabled_) {
        return;
    }
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar = "\r" + task_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] ";
    if (percent < 100) {
        bar += ' ';
    }
    if (percent < 10) {
        bar += ' ';
    }
    bar += std::to_string(percent) + "%";
    stream_ << bar << std::flush;
    shown_ = true;
    lastPercent_ = percent;
    lastDraw_ = std::chrono::steady_clock::now();
}

void Progress::End() {
    if (enabled_ && shown_) {
        stream_ << "\r\033[K" << std::flush;
        shown_ = false;
    }
}
