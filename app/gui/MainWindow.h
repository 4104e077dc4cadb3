#pragma once

#include <QMainWindow>

class TDesigner;
class QScrollArea;

// The main window: opens a photo onto the design surface, places text and picture bricks and
// saves the captioned photo. The full palette, inspector and pattern commands build on it.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    TDesigner* designer() const { return m_designer; }
    bool openImage(const QString& fileName);
    void aGroupExecute();

private:
    void aOpenImageExecute();
    void aSaveAsExecute();
    void aOpenPatternExecute();
    void aSavePatternExecute();
    void aAddTextExecute();
    void aAddPictureExecute();
    void fitToWindow();
    void rotate(int degrees);
    void updateActions();

    TDesigner* m_designer;
    QScrollArea* m_scroll;
    QList<QAction*> m_needImage;
};
