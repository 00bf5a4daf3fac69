#pragma once
// "Select Reference Frame": lists the frame names in frame order with the
// current frame selected; OK returns the chosen row, Cancel -1.

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;

class CReferenceFrameDlg : public QDialog {
    Q_OBJECT

public:
    CReferenceFrameDlg(const std::vector<std::string>& names, int selected, QWidget* parent = nullptr);

    QListWidget* ListBox() const { return m_list; }
    // The chosen row after OK (-1 when nothing is selected); the initial
    // selection before.
    int SelectedIndex() const { return m_selected; }

    // Shows the dialog modally; the chosen row on OK, -1 otherwise.
    static int Choose(const std::vector<std::string>& names, int selected, QWidget* parent = nullptr);
    // "frame_001.pgm  —  /data/run" for "/data/run/frame_001.pgm"; a name
    // without a folder as it is.
    static QString RowText(const QString& path);
    // Writes the selected row back, then closes.
    void accept() override;

private:
    QListWidget* m_list;
    int m_selected;
};
