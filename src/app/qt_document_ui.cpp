#include "app/qt_document_ui.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStatusBar>
#include <QStringList>
#include <QThread>

#include <type_traits>

#include "app/main_frame.h"
#include "app/reference_frame_dlg.h"
#include "view/vexel_view.h"

namespace {

std::string toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

QtDocumentUi::~QtDocumentUi() { ResetBusy(); }

void QtDocumentUi::OnUiThread(const std::function<void()>& call, bool wait) {
    QObject* context = QApplication::instance();
    if (!context || QThread::currentThread() == context->thread()) {
        call();
        return;
    }
    // Calls from one thread to one receiver arrive in the order they were made.
    QMetaObject::invokeMethod(context, call, wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

template <typename Dialog>
auto QtDocumentUi::AskUser(Dialog&& dialog) {
    using Result = std::invoke_result_t<Dialog>;
    Result result{};
    OnUiThread(
        [&] {
            // A question is never asked under the wait cursor, nor behind
            // the progress window of the command that asks it.
            const bool busy = m_busyDepth > 0;
            if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
            QWidget* progress = m_frame ? m_frame->ProgressDialog() : nullptr;
            const bool hide = progress && progress->isVisible();
            if (hide) progress->hide();
            result = dialog();
            if (hide) progress->show();
            if (busy) QApplication::restoreOverrideCursor();
        },
        true);
    return result;
}

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
    return AskUser([&] {
        QFileDialog dialog(m_frame);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        dialog.setNameFilter(ToQtFilter(filter));
        dialog.setDefaultSuffix(ToDefaultSuffix(defaultExtension));
        std::vector<std::string> paths;
        if (dialog.exec() != QDialog::Accepted) return paths;
        for (const QString& file : dialog.selectedFiles()) paths.push_back(toPath(file));
        return paths;
    });
}

std::optional<std::string> QtDocumentUi::chooseSaveFile(const std::string& filter,
                                                        const std::string& defaultExtension, bool promptOverwrite) {
    return AskUser([&]() -> std::optional<std::string> {
        QFileDialog dialog(m_frame);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(ToQtFilter(filter));
        dialog.setDefaultSuffix(ToDefaultSuffix(defaultExtension));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !promptOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return toPath(dialog.selectedFiles().front());
    });
}

int QtDocumentUi::chooseReferenceFrame(const std::vector<ReferenceFrameChoice>& frames, int initialFrame) {
    return AskUser([&] { return CReferenceFrameDlg::Choose(frames, initialFrame, m_frame); });
}

void QtDocumentUi::showMessageBox(const std::string& text) {
    AskUser([&] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vexel"), QString::fromStdString(text),
                        QMessageBox::Ok, m_frame);
        return box.exec();
    });
}

SaveChoice QtDocumentUi::askSaveBeforeClosing(const std::string& text) {
    return AskUser([&] {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Vexel"), QString::fromStdString(text),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_frame);
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
            case QMessageBox::Save: return SaveChoice::Save;
            case QMessageBox::Discard: return SaveChoice::Discard;
            default: return SaveChoice::Cancel;
        }
    });
}

void QtDocumentUi::showStatus(const std::string& text) {
    const QString message = QString::fromStdString(text);
    OnUiThread([this, message] {
        if (m_frame) m_frame->ShowResult(message);
    }, false);
}

void QtDocumentUi::setBusy(bool busy) {
    OnUiThread([this, busy] {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++m_busyDepth;
        } else if (m_busyDepth > 0) {
            QApplication::restoreOverrideCursor();
            --m_busyDepth;
        }
    }, false);
}

void QtDocumentUi::ResetBusy() {
    while (m_busyDepth > 0) setBusy(false);
}

void QtDocumentUi::setTitle(const std::string& title) {
    const QString text = QFile::decodeName(QByteArray::fromStdString(title));
    OnUiThread([this, text] {
        if (m_frame) m_frame->setWindowTitle(text);
    }, false);
}

void QtDocumentUi::updateViews() {
    // The view reads the document while the command waits.
    OnUiThread([this] {
        if (!m_frame) return;
        if (CVexelView* view = m_frame->View()) view->OnUpdate();
        m_frame->UpdateCommandUi();
    }, true);
}

void QtDocumentUi::progress(const std::string& text, int done, int total) {
    const QString label = QString::fromStdString(text);
    OnUiThread([this, label, done, total] {
        if (m_frame) m_frame->ShowProgress(label, done, total);
    }, false);
}
