#pragma once
// Locale-independent number text for the calibration and correspondence
// files and the report: always '.' as the decimal separator, whatever the
// C library's numeric locale says (Qt sets it from the environment).

#include <cstddef>
#include <string>
#include <string_view>

namespace vexel {

// Six decimals in fixed notation, right-aligned in a field of `width`
// characters when the text is shorter (the %lf and %15lf layouts).
std::string formatFixed(double value, int width = 0);
void appendFixed(std::string& out, double value, int width = 0);
// Fixed notation with `decimals` decimals (0 to 17), no padding.
std::string formatDecimals(double value, int decimals);

// Reads text the way formatted input does: a blank in a pattern matches any
// run of white space (also none), "%lf" reads a number after optional white
// space, every other character must match exactly. A failed match leaves the
// position where the failure happened, so the next read starts there.
class TextScanner {
public:
    explicit TextScanner(std::string_view text) : m_text(text) {}

    void skipSpace();
    // Reads one number; false (position unchanged apart from skipped white
    // space) when none starts here.
    bool readNumber(double& out);
    // Reads a word of letters, digits and underscores after optional white
    // space; empty (position unchanged apart from skipped white space) when
    // none starts here.
    std::string readWord();
    // Matches `pattern`; every "%lf" stores into the next entry of `out`.
    // Returns how many numbers were stored before the first mismatch.
    int match(std::string_view pattern, double* out);

    std::size_t position() const { return m_pos; }
    bool atEnd() const { return m_pos >= m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace vexel
