#include "cli/cli_ui.h"

#include <iostream>

#include "cli/progress_bar.h"

namespace vexel::cli {

CliUi::CliUi() : m_messages(std::cerr) {}

CliUi::~CliUi() = default;

void CliUi::progress(const std::string&, int done, int total) {
    if (!m_progressEnabled) return;
    if (!m_bar) m_bar = std::make_unique<ProgressBar>(m_messages, true);
    m_bar->update(done, total);
}

void CliUi::endProgress() {
    // Clears the bar's line before the next message.
    m_bar.reset();
}

CliUi::CliUi(std::ostream& messages) : m_messages(messages) {}

std::vector<std::string> CliUi::chooseOpenFiles(const std::string&, const std::string&, bool multiple) {
    if (m_openAnswers.empty()) return {};
    std::vector<std::string> answer = std::move(m_openAnswers.front());
    m_openAnswers.pop_front();
    if (!multiple && answer.size() > 1) answer.resize(1);
    return answer;
}

std::optional<std::string> CliUi::chooseSaveFile(const std::string&, const std::string&, bool) {
    if (m_saveAnswers.empty()) return std::nullopt;
    std::string answer = std::move(m_saveAnswers.front());
    m_saveAnswers.pop_front();
    return answer;
}

int CliUi::chooseReferenceFrame(const std::vector<ReferenceFrameChoice>&, int) {
    // The frame named on the command line is taken as it is: the document
    // says why it cannot be used, which a frame not offered would not.
    if (m_referenceAnswers.empty()) return -1;
    const int answer = m_referenceAnswers.front();
    m_referenceAnswers.pop_front();
    return answer;
}

void CliUi::showMessageBox(const std::string& text) {
    m_lastMessage = text;
    m_messages << text << '\n';
}

SaveChoice CliUi::askSaveBeforeClosing(const std::string& text) {
    m_lastMessage = text;
    return m_saveBeforeClosing;
}

void CliUi::showStatus(const std::string& text) {
    m_lastMessage = text;
    if (m_bar && !m_quiet) m_bar->finish();
    if (!m_quiet) m_messages << text << '\n';
}

}  // namespace vexel::cli
