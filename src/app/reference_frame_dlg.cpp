#include "app/reference_frame_dlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CReferenceFrameDlg::CReferenceFrameDlg(const std::vector<ReferenceFrameChoice>& frames, int selectedFrame,
                                       QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)), m_selected(selectedFrame) {
    setWindowTitle(QStringLiteral("Select Reference Frame"));
    setModal(true);

    // Each row shows the frame's number, its file's name and points first,
    // then its folder, so the names line up however deep the folder; the
    // horizontal scroll bar reaches the end of the longest row and the
    // tooltip holds the path as given.
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSortingEnabled(false);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideNone);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (const ReferenceFrameChoice& choice : frames) {
        auto* item = new QListWidgetItem(RowText(choice), m_list);
        item->setToolTip(QFile::decodeName(QByteArray::fromStdString(choice.name)));
        m_frames.push_back(choice.frame);
        if (choice.frame == selectedFrame) m_list->setCurrentItem(item);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    resize(480, 160);
}

QString CReferenceFrameDlg::RowText(const ReferenceFrameChoice& choice) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(choice.name));
    const QString points = choice.points < 0    ? QStringLiteral("not searched yet")
                           : choice.points == 1 ? QStringLiteral("1 point")
                                                : QStringLiteral("%1 points").arg(choice.points);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString head = QStringLiteral("%1: %2, %3").arg(choice.frame).arg(slash < 0 ? path : path.mid(slash + 1), points);
    if (slash < 0) return head;
    const QString folder = slash == 0 ? QStringLiteral("/") : path.left(slash);
    return head + QStringLiteral("  \u2014  ") + folder;
}

void CReferenceFrameDlg::accept() {
    const QList<QListWidgetItem*> chosen = m_list->selectedItems();
    const int row = chosen.isEmpty() ? -1 : m_list->row(chosen.front());
    m_selected = row >= 0 && static_cast<std::size_t>(row) < m_frames.size() ? m_frames[static_cast<std::size_t>(row)] : -1;
    QDialog::accept();
}

int CReferenceFrameDlg::Choose(const std::vector<ReferenceFrameChoice>& frames, int selectedFrame, QWidget* parent) {
    CReferenceFrameDlg dialog(frames, selectedFrame, parent);
    if (dialog.exec() != QDialog::Accepted) return -1;
    return dialog.SelectedFrame();
}
