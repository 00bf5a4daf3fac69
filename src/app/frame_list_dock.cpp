// Core headers first: they use identifiers that Qt defines as macros.
#include "calibration/calibration_quality.h"
#include "document/grid_commands.h"
#include "document/vexel_doc.h"

#include "app/frame_list_dock.h"

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

namespace {

const QColor FLAGGED_TEXT(200, 0, 0);
const QColor LEFT_OUT_TEXT(128, 128, 128);

QString displayName(const std::string& name) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(name));
    const QString file = QFileInfo(path).fileName();
    return file.isEmpty() ? path : file;
}

}  // namespace

CFrameListDock::CFrameListDock(CVexelDoc* doc, QWidget* parent)
    : QDockWidget(QStringLiteral("Frames"), parent), m_doc(doc), m_tree(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("frameListDock"));
    // The list can be moved or floated but not lost: there is no menu item
    // to bring it back.
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    m_tree->setObjectName(QStringLiteral("frameList"));
    m_tree->setColumnCount(3);
    m_tree->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Frame"), QStringLiteral("Result")});
    m_tree->setRootIsDecorated(false);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setAllColumnsShowFocus(true);
    // The name takes the room the result leaves; a long one loses its
    // middle, so that its start and its number stay in sight.
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(INDEX_COLUMN, QHeaderView::ResizeToContents);
    m_tree->header()->setSectionResizeMode(NAME_COLUMN, QHeaderView::Stretch);
    m_tree->header()->setSectionResizeMode(RESULT_COLUMN, QHeaderView::ResizeToContents);
    m_tree->setTextElideMode(Qt::ElideMiddle);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->installEventFilter(this);
    connect(m_tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        QTreeWidgetItem* item = m_tree->itemAt(position);
        if (!item) return;
        QMenu* menu = ContextMenu(m_tree->indexOfTopLevelItem(item));
        menu->exec(m_tree->viewport()->mapToGlobal(position));
        delete menu;
    });
    setWidget(m_tree);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
    connect(m_tree, &QTreeWidget::itemChanged, this, &CFrameListDock::OnItemChanged);
}

QString CFrameListDock::ResultText(const CVexelDoc& doc, int frame) {
    QString text = QString::fromStdString(frameResultText(doc, frame));
    const std::string note = doc.FrameNote(frame);
    if (!note.empty()) text += QStringLiteral(", ") + QString::fromStdString(note);
    return text;
}

bool CFrameListDock::RowFlagged(int row) const {
    QTreeWidgetItem* item = m_tree->topLevelItem(row);
    return item && item->foreground(RESULT_COLUMN).color() == FLAGGED_TEXT;
}

void CFrameListDock::Refresh() {
    if (!m_doc) return;
    m_refreshing = true;
    const QSignalBlocker blocker(m_tree);
    const int count = std::max(m_doc->FrameCount(), 0);
    while (m_tree->topLevelItemCount() > count) delete m_tree->takeTopLevelItem(m_tree->topLevelItemCount() - 1);
    while (m_tree->topLevelItemCount() < count) {
        auto* item = new QTreeWidgetItem(m_tree);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setTextAlignment(INDEX_COLUMN, Qt::AlignRight | Qt::AlignVCenter);
    }

    std::vector<bool> flagged(static_cast<std::size_t>(count), false);
    for (int f : suspectFrames(m_doc->Stats()))
        if (f >= 0 && f < count) flagged[static_cast<std::size_t>(f)] = true;

    const std::vector<std::string> names = m_doc->FrameNames();
    for (int f = 0; f < count; ++f) {
        QTreeWidgetItem* item = m_tree->topLevelItem(f);
        const QString name = static_cast<std::size_t>(f) < names.size() ? displayName(names[f]) : QString();
        const QString path = static_cast<std::size_t>(f) < names.size()
                                 ? QFile::decodeName(QByteArray::fromStdString(names[f]))
                                 : QString();
        const QString index = QString::number(f);
        const QString result = ResultText(*m_doc, f);
        if (item->text(INDEX_COLUMN) != index) item->setText(INDEX_COLUMN, index);
        if (item->text(NAME_COLUMN) != name) item->setText(NAME_COLUMN, name);
        if (item->toolTip(NAME_COLUMN) != path) item->setToolTip(NAME_COLUMN, path);
        if (item->text(RESULT_COLUMN) != result) item->setText(RESULT_COLUMN, result);
        const bool leftOut = m_doc->FrameExcluded(f);
        const Qt::CheckState check = leftOut ? Qt::Unchecked : Qt::Checked;
        if (item->checkState(INDEX_COLUMN) != check) item->setCheckState(INDEX_COLUMN, check);
        const bool red = flagged[static_cast<std::size_t>(f)];
        const QBrush brush = red ? QBrush(FLAGGED_TEXT) : leftOut ? QBrush(LEFT_OUT_TEXT) : QBrush();
        for (int column = 0; column < 3; ++column) {
            if (item->foreground(column) != brush) item->setForeground(column, brush);
            QFont font = item->font(column);
            if (font.italic() != leftOut) {
                font.setItalic(leftOut);
                item->setFont(column, font);
            }
        }
    }

    const int current = m_doc->CurrentFrame();
    QTreeWidgetItem* currentItem = current >= 0 && current < count ? m_tree->topLevelItem(current) : nullptr;
    if (m_tree->currentItem() != currentItem) {
        m_tree->setCurrentItem(currentItem);
        if (currentItem) m_tree->scrollToItem(currentItem);
    }
    if (currentItem && !currentItem->isSelected()) currentItem->setSelected(true);
    m_refreshing = false;
}

void CFrameListDock::OnCurrentItemChanged(QTreeWidgetItem* current) {
    if (m_refreshing || !current) return;
    const int frame = m_tree->indexOfTopLevelItem(current);
    if (frame >= 0) Q_EMIT FrameChosen(frame);
}

void CFrameListDock::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (m_refreshing || !item || column != INDEX_COLUMN) return;
    const int frame = m_tree->indexOfTopLevelItem(item);
    if (frame >= 0) Q_EMIT FrameUseChanged(frame, item->checkState(INDEX_COLUMN) == Qt::Checked);
}

QMenu* CFrameListDock::ContextMenu(int frame) {
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("Go to Frame %1").arg(frame), this, [this, frame] { Q_EMIT FrameChosen(frame); });
    const bool leftOut = m_doc && m_doc->FrameExcluded(frame);
    menu->addAction(leftOut ? QStringLiteral("Use") : QStringLiteral("Leave Out"), this,
                    [this, frame, leftOut] { Q_EMIT FrameUseChanged(frame, leftOut); });
    QAction* remove =
        menu->addAction(QStringLiteral("Remove Frame"), this, [this, frame] { Q_EMIT FrameRemoveRequested(frame); });
    // The frames of a video sequence stay together.
    remove->setEnabled(m_doc && !m_doc->InSequenceMode());
    return menu;
}

bool CFrameListDock::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        if (QTreeWidgetItem* item = m_tree->currentItem()) {
            const int frame = m_tree->indexOfTopLevelItem(item);
            if (frame >= 0) Q_EMIT FrameUseChanged(frame, item->checkState(INDEX_COLUMN) != Qt::Checked);
        }
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}
