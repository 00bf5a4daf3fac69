// Core headers first: they use identifiers that Qt defines as macros.
#include "document/calibration_commands.h"
#include "document/vexel_doc.h"

#include "app/vexel_app.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QVBoxLayout>

#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_frame.h"
#include "app/qt_document_ui.h"

namespace {

const char* const RECENT_GROUP = "Recent File List";

// The program's icon: a small checkerboard with one marker spot.
QIcon programIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            if ((row + col) % 2 == 0) p.fillRect(col * 8, row * 8, 8, 8, Qt::black);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(12, 12), 2, 2);
    p.end();
    return QIcon(pixmap);
}

std::string toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

RecentFileList::RecentFileList() = default;

void RecentFileList::Add(const QString& path) {
    m_files.removeAll(path);
    m_files.prepend(path);
    while (m_files.size() > SIZE) m_files.removeLast();
    Save();
}

void RecentFileList::Load() {
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(RECENT_GROUP));
    m_files.clear();
    for (int i = 1; i <= SIZE; ++i) {
        const QString file = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!file.isEmpty()) m_files << file;
    }
    settings.endGroup();
}

void RecentFileList::Save() const {
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(RECENT_GROUP));
    for (int i = 1; i <= SIZE; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_files.size())
            settings.setValue(key, m_files[i - 1]);
        else
            settings.remove(key);
    }
    settings.endGroup();
}

CVexelApp::CVexelApp() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(ORGANISATION));
    QCoreApplication::setApplicationName(QString::fromLatin1(APPLICATION));
    QApplication::setWindowIcon(programIcon());
    m_recentFiles.Load();
}

CVexelApp::~CVexelApp() {
    // The window goes before the document it shows.
    m_frame.reset();
    m_doc.reset();
    m_ui.reset();
}

bool CVexelApp::InitInstance(const QStringList& files, bool show) {
    m_ui = std::make_unique<QtDocumentUi>();
    m_doc = std::make_unique<CVexelDoc>(m_ui.get());
    // The grids are searched on every core, as the batch tool does; the
    // results are the same for any number of threads.
    m_doc->SetExtractionThreads(static_cast<int>(std::thread::hardware_concurrency()));
    // The triangulation's diagnostic lines are dropped; why the grid search
    // gave a frame up goes to standard error.
    m_doc->SetGridStreams(nullptr, &std::cerr);
    m_frame = std::make_unique<CMainFrame>(this, m_doc.get());
    m_ui->SetMainFrame(m_frame.get());
    m_doc->OnNewDocument();
    if (show) m_frame->show();
    ImportFiles(files);
    m_doc->UpdateTitleAndViews();
    return true;
}

void CVexelApp::ImportFiles(const QStringList& files) {
    if (files.isEmpty() || !m_doc) return;
    bool decodes = false;  // a video, or a session that may hold one
    for (const QString& file : files)
        decodes = decodes || vexel::isVideoFileName(toPath(file)) ||
                  QFileInfo(file).suffix().compare(QStringLiteral("vexel"), Qt::CaseInsensitive) == 0;
    const auto import = [&] {
        std::vector<std::string> images;
        auto flushImages = [&] {
            if (!images.empty()) m_doc->ImportImageFiles(images);
            images.clear();
        };
        for (const QString& file : files) {
            const QString suffix = QFileInfo(file).suffix().toLower();
            if (suffix == QStringLiteral("iml")) {
                flushImages();
                m_doc->ImportImageList(toPath(file));
            } else if (suffix == QStringLiteral("vsq")) {
                flushImages();
                m_doc->ImportVsqFile(toPath(file));
            } else if (suffix == QStringLiteral("vexel")) {
                flushImages();
                if (m_doc->ConfirmClose()) m_doc->OpenSessionFile(toPath(file));
            } else if (suffix == QStringLiteral("cal")) {
                flushImages();
                LoadCalibrationFile(*m_doc, toPath(file));
            } else if (vexel::isVideoFileName(toPath(file))) {
                flushImages();
                m_doc->ImportVideoFile(toPath(file));
            } else {
                // Image files, and folders of them.
                images.push_back(toPath(file));
            }
        }
        flushImages();
        m_doc->UpdateTitleAndViews();
    };
    // Decoding a video takes long: off this thread once the window is up.
    if (decodes && m_frame->isVisible())
        m_frame->RunOnWorker(QStringLiteral("Import"), import);
    else
        m_frame->RunGuarded(QStringLiteral("Import"), import);
    m_frame->UpdateCommandUi();
}

void CVexelApp::OnFileNew() {
    if (!m_doc || !m_doc->ConfirmClose()) return;
    m_doc->OnNewDocument();
    m_doc->UpdateTitleAndViews();
}

void CVexelApp::OnAppAbout() {
    QDialog about(m_frame.get());
    about.setWindowTitle(QStringLiteral("About Vexel"));
    auto* icon = new QLabel(&about);
    icon->setPixmap(programIcon().pixmap(32, 32));
    auto* text = new QLabel(QString::fromLatin1(VERSION_LINE), &about);
    auto* ok = new QPushButton(QStringLiteral("OK"), &about);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(&about);
    layout->addLayout(row);
    about.exec();
}
