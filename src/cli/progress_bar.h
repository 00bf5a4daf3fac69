#pragma once
// The one-line progress bar of the long subcommands: frames done of the
// total, frames per second and the time left, redrawn in place with a
// carriage return. Drawn only on a terminal, so logs and pipes stay clean.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

namespace vexel::cli {

// "[#######.............]  12/30 frames   4.2 frames/s   4 s left" for
// `done` of `total` frames after `seconds`; the bar is `barWidth` cells wide.
// The rate and the time left are left out until a frame is done.
inline std::string progressLine(int done, int total, double seconds, int barWidth = 24) {
    total = std::max(total, 0);
    done = std::clamp(done, 0, total);
    const int filled = total > 0 ? static_cast<int>(static_cast<long long>(done) * barWidth / total) : barWidth;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] ";
    char text[96];
    std::snprintf(text, sizeof text, "%d/%d frames", done, total);
    line += text;
    if (done > 0 && seconds > 0.0) {
        const double rate = done / seconds;
        const long left = std::lround((total - done) / rate);
        // The rate is printed by hand so the numeric locale cannot change it.
        const long tenths = std::lround(rate * 10.0);
        std::snprintf(text, sizeof text, "  %ld.%ld frames/s  %ld s left", tenths / 10, tenths % 10, left);
        line += text;
    }
    return line;
}

class ProgressBar {
public:
    // Draws on `out` only when `enabled`; the caller decides (a terminal
    // and no --quiet).
    ProgressBar(std::ostream& out, bool enabled) : m_out(out), m_enabled(enabled) {}
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Standard error is a terminal.
    static bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

    // Redraws at most ten times a second, and always for the last frame.
    void update(int done, int total) {
        if (!m_enabled) return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total && m_drawn && now - m_lastDraw < std::chrono::milliseconds(100)) return;
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        m_out << '\r' << progressLine(done, total, seconds) << "\033[K" << std::flush;
        m_lastDraw = now;
        m_drawn = true;
    }

    // Clears the bar's line so the next text starts on a clean line.
    void finish() {
        if (!m_enabled || !m_drawn) return;
        m_out << "\r\033[K" << std::flush;
        m_drawn = false;
    }

private:
    std::ostream& m_out;
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace vexel::cli
