#pragma once
// "Select Reference Frame": lists the frames that can be chosen, in frame
// order, each with its number, its file's name, its points and its folder,
// with the given frame selected; OK returns the chosen frame, Cancel -1.

#include <QDialog>

#include <string>
#include <vector>

#include "document/document_ui.h"

class QListWidget;

class CReferenceFrameDlg : public QDialog {
    Q_OBJECT

public:
    CReferenceFrameDlg(const std::vector<ReferenceFrameChoice>& frames, int selectedFrame, QWidget* parent = nullptr);

    QListWidget* ListBox() const { return m_list; }
    // The chosen frame after OK (-1 when nothing is selected); the initial
    // selection before.
    int SelectedFrame() const { return m_selected; }

    // Shows the dialog modally; the chosen frame on OK, -1 otherwise.
    static int Choose(const std::vector<ReferenceFrameChoice>& frames, int selectedFrame, QWidget* parent = nullptr);
    // "3: frame_001.pgm, 142 points  —  /data/run" for frame 3,
    // "/data/run/frame_001.pgm" with 142 points ("not searched yet" for
    // -1); a name without a folder has no folder part.
    static QString RowText(const ReferenceFrameChoice& choice);
    // Writes the selected row back, then closes.
    void accept() override;

private:
    QListWidget* m_list;
    std::vector<int> m_frames;  // per row
    int m_selected;
};
