#include "app/reference_frame_dlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CReferenceFrameDlg::CReferenceFrameDlg(const std::vector<std::string>& names, int selected, QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)), m_selected(selected) {
    setWindowTitle(QStringLiteral("Select Reference Frame"));
    setModal(true);

    // Each row shows the file's name first, then its folder, so the names
    // line up however deep the folder; the horizontal scroll bar reaches the
    // end of the longest row and the tooltip holds the path as given.
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSortingEnabled(false);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideNone);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (const std::string& name : names) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(name));
        auto* item = new QListWidgetItem(RowText(path), m_list);
        item->setToolTip(path);
    }
    if (selected >= 0 && selected < m_list->count()) m_list->setCurrentRow(selected);

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

QString CReferenceFrameDlg::RowText(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return path;
    const QString folder = slash == 0 ? QStringLiteral("/") : path.left(slash);
    return path.mid(slash + 1) + QStringLiteral("  \u2014  ") + folder;
}

void CReferenceFrameDlg::accept() {
    const QList<QListWidgetItem*> chosen = m_list->selectedItems();
    m_selected = chosen.isEmpty() ? -1 : m_list->row(chosen.front());
    QDialog::accept();
}

int CReferenceFrameDlg::Choose(const std::vector<std::string>& names, int selected, QWidget* parent) {
    CReferenceFrameDlg dialog(names, selected, parent);
    if (dialog.exec() != QDialog::Accepted) return -1;
    return dialog.SelectedIndex();
}
