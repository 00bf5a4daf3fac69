#include "cli/cli_ui.h"

#include <iostream>

namespace vexel::cli {

CliUi::CliUi() : m_messages(std::cerr) {}

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

int CliUi::chooseReferenceFrame(const std::vector<std::string>& names, int) {
    if (m_referenceAnswers.empty()) return -1;
    int answer = m_referenceAnswers.front();
    m_referenceAnswers.pop_front();
    return answer >= 0 && static_cast<std::size_t>(answer) < names.size() ? answer : -1;
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
    if (!m_quiet) m_messages << text << '\n';
}

}  // namespace vexel::cli
