#pragma once
// The frame list: a dock listing every frame of the document, one row each,
// with its index, its file name and what its search found: the points, or
// why there are none, and after a calibration the frame's RMS error. The
// current frame's row is selected. A check box per row says whether the
// calibrations use the frame; frames whose fit is far worse than the rest's
// are shown in red. Space flips the current row's check box; the context
// menu goes to the frame, leaves it out or uses it again, or removes it.
// The list only reads the document; choosing a row, flipping a check box
// or removing a frame is handed on as a signal, for the window to run as a
// command.

#include <QDockWidget>
#include <QString>

class CVexelDoc;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

class CFrameListDock : public QDockWidget {
    Q_OBJECT

public:
    enum Column { INDEX_COLUMN = 0, NAME_COLUMN = 1, RESULT_COLUMN = 2 };

    explicit CFrameListDock(CVexelDoc* doc, QWidget* parent = nullptr);

    // Reads the frames anew: rows added or removed to match the frame list,
    // texts, check boxes, colours and the selected row brought up to date.
    void Refresh();
    QTreeWidget* Tree() const { return m_tree; }

    // The result column of frame `frame`: "N points", "not read", "no board
    // found", "markers do not fit the grid" or "not searched yet", then
    // ", RMS E px" when the last calibration used it, ", left out" when
    // the calibrations leave it out, and what is known about its file
    // ("file missing", ...).
    static QString ResultText(const CVexelDoc& doc, int frame);
    // Whether row `row` is shown as a likely bad detection.
    bool RowFlagged(int row) const;

Q_SIGNALS:
    // The user chose the row of `frame`.
    void FrameChosen(int frame);
    // The user flipped the check box of `frame`'s row.
    void FrameUseChanged(int frame, bool used);
    // The user asked for `frame` to leave the list.
    void FrameRemoveRequested(int frame);

public:
    // The context menu of `frame`'s row, as it is shown (the caller owns it).
    QMenu* ContextMenu(int frame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current);
    void OnItemChanged(QTreeWidgetItem* item, int column);

    CVexelDoc* m_doc;
    QTreeWidget* m_tree;
    bool m_refreshing = false;
};
