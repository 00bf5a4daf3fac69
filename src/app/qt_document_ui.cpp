#include "app/qt_document_ui.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>
#include <QStringList>

#include "app/main_frame.h"
#include "app/reference_frame_dlg.h"
#include "view/vexel_view.h"

namespace {

std::string toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

QtDocumentUi::~QtDocumentUi() { ResetBusy(); }

QString QtDocumentUi::ToQtFilter(const std::string& filter) {
    // Pairs of description and patterns, separated by '|', ended by "||".
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        if (description.isEmpty()) break;
        const QString patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        // Qt reads the patterns from the parentheses at the end of the text.
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (description.endsWith(QLatin1Char(')')) && open >= 0)
            description = description.left(open).trimmed();
        filters << (patterns.isEmpty() ? description : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

QString QtDocumentUi::ToDefaultSuffix(const std::string& extension) {
    QString suffix = QString::fromStdString(extension);
    while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    return suffix;
}

std::vector<std::string> QtDocumentUi::chooseOpenFiles(const std::string& filter, const std::string& defaultExtension,
                                                       bool multiple) {
    QFileDialog dialog(m_frame);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilter(ToQtFilter(filter));
    dialog.setDefaultSuffix(ToDefaultSuffix(defaultExtension));
    std::vector<std::string> paths;
    if (dialog.exec() != QDialog::Accepted) return paths;
    for (const QString& file : dialog.selectedFiles()) paths.push_back(toPath(file));
    return paths;
}

std::optional<std::string> QtDocumentUi::chooseSaveFile(const std::string& filter,
                                                        const std::string& defaultExtension, bool promptOverwrite) {
    QFileDialog dialog(m_frame);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(ToQtFilter(filter));
    dialog.setDefaultSuffix(ToDefaultSuffix(defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !promptOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toPath(dialog.selectedFiles().front());
}

int QtDocumentUi::chooseReferenceFrame(const std::vector<std::string>& names, int initialSelection) {
    // The command shows the wait cursor only after the choice.
    return CReferenceFrameDlg::Choose(names, initialSelection, m_frame);
}

void QtDocumentUi::showMessageBox(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vexel"), QString::fromStdString(text), QMessageBox::Ok,
                    m_frame);
    box.exec();
}

SaveChoice QtDocumentUi::askSaveBeforeClosing(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Vexel"), QString::fromStdString(text),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_frame);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Save: return SaveChoice::Save;
        case QMessageBox::Discard: return SaveChoice::Discard;
        default: return SaveChoice::Cancel;
    }
}

void QtDocumentUi::showStatus(const std::string& text) {
    if (m_frame) m_frame->statusBar()->showMessage(QString::fromStdString(text));
}

void QtDocumentUi::setBusy(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_busyDepth;
    } else if (m_busyDepth > 0) {
        QApplication::restoreOverrideCursor();
        --m_busyDepth;
    }
}

void QtDocumentUi::ResetBusy() {
    while (m_busyDepth > 0) setBusy(false);
}

void QtDocumentUi::setTitle(const std::string& title) {
    if (m_frame) m_frame->setWindowTitle(QFile::decodeName(QByteArray::fromStdString(title)));
}

void QtDocumentUi::updateViews() {
    if (!m_frame) return;
    if (CVexelView* view = m_frame->View()) view->OnUpdate();
    m_frame->UpdateCommandUi();
}
