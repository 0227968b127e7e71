#pragma once
// A captioned frame drawn as a dialog's group box: the line runs through
// the middle of the caption's height and the caption interrupts it, so the
// controls placed for such a frame sit clear of its top edge. (QGroupBox
// and the styles' group box frames put the caption above the frame and its
// top edge a caption height lower.)

#include <QString>
#include <QWidget>

namespace morvane {

class CQtGroupFrame final : public QWidget {
public:
    CQtGroupFrame(const QString& title, QWidget* parent);
    QString Title() const { return m_title; }
    // Where the caption is drawn, in the frame's coordinates.
    QRect TitleRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};

}  // namespace morvane
