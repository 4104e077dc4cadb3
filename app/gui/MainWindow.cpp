#include "app/gui/MainWindow.h"

#include "batch/window/TfrmGroup.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/dialogs/TfrmAdjustments.h"
#include "imaging/dialogs/TfrmResize.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/file/PatternFile.h"
#include "platform/Errors.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollArea>
#include <QStatusBar>
#include <cmath>

namespace {
const char* const kImageFilter = "Images (*.jpg *.jpeg *.gif *.bmp);;All files (*)";
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_designer(new TDesigner), m_scroll(new QScrollArea(this)) {
    setWindowTitle(QStringLiteral("Captiomark %1").arg(QApplication::applicationVersion()));
    m_scroll->setWidget(m_designer);
    m_scroll->setWidgetResizable(false);
    m_scroll->setAlignment(Qt::AlignCenter);
    setCentralWidget(m_scroll);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open Image..."), this, &MainWindow::aOpenImageExecute);
    open->setShortcut(QKeySequence::Open);
    QAction* saveAs = file->addAction(tr("Save Image &As..."), this, &MainWindow::aSaveAsExecute);
    saveAs->setShortcut(QKeySequence::SaveAs);
    file->addSeparator();
    QAction* openPattern =
        file->addAction(tr("Open &Pattern..."), this, &MainWindow::aOpenPatternExecute);
    QAction* savePattern =
        file->addAction(tr("Save Pa&ttern As..."), this, &MainWindow::aSavePatternExecute);
    file->addSeparator();
    file->addAction(tr("&Batch Processing..."), this, &MainWindow::aGroupExecute);
    file->addSeparator();
    file->addAction(tr("E&xit"), this, &QWidget::close)->setShortcut(QKeySequence::Quit);

    QMenu* image = menuBar()->addMenu(tr("&Image"));
    QAction* left = image->addAction(tr("Rotate &Left"), this, [this] { rotate(-90); });
    QAction* right = image->addAction(tr("Rotate &Right"), this, [this] { rotate(90); });
    image->addSeparator();
    QAction* resample = image->addAction(tr("Re&size..."), this, [this] {
        TfrmResize dialog(m_designer, this);
        if (dialog.exec() == QDialog::Accepted)
            fitToWindow();
    });
    QAction* effects = image->addAction(tr("&Effects..."), this, [this] {
        TfrmAdjustments dialog(
            m_designer, [this] { fitToWindow(); }, this);
        dialog.exec();
    });

    QMenu* bricks = menuBar()->addMenu(tr("&Bricks"));
    QAction* text = bricks->addAction(tr("Add &Text"), this, &MainWindow::aAddTextExecute);
    QAction* picture =
        bricks->addAction(tr("Add &Picture..."), this, &MainWindow::aAddPictureExecute);
    m_needImage = {saveAs, text, picture, left, right, resample, effects, openPattern, savePattern};
    updateActions();
    resize(1000, 720);
}

void MainWindow::updateActions() {
    const bool hasImage = !m_designer->realPicture.isNull();
    for (QAction* a : m_needImage)
        a->setEnabled(hasImage);
}

bool MainWindow::openImage(const QString& fileName) {
    try {
        m_designer->OpenImage(fileName, 1.0);
    } catch (const Exception& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
        return false;
    }
    fitToWindow();
    updateActions();
    statusBar()->showMessage(QStringLiteral("%1  %2 x %3")
                                 .arg(QFileInfo(fileName).fileName())
                                 .arg(m_designer->realPicture.width())
                                 .arg(m_designer->realPicture.height()));
    return true;
}

void MainWindow::fitToWindow() {
    const QSize full = m_designer->realPicture.size();
    const QSize room = m_scroll->viewport()->size() - QSize(8, 8);
    if (full.isEmpty() || room.isEmpty())
        return;
    const double ratio =
        std::max({1.0, double(full.width()) / room.width(), double(full.height()) / room.height()});
    m_designer->ZoomRatio = ratio;
    m_designer->UpdatePreview();
    m_designer->resize(m_designer->Picture.size());
}

void MainWindow::rotate(int degrees) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A failure (out of memory) travels on to the application's handler; the cursor comes back.
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    RotateBitmap(m_designer->realPicture, qRgb(255, 255, 255), degrees);
    m_designer->PictureEdited = true;
    m_designer->Modified = true;
    fitToWindow();
}

void MainWindow::aOpenImageExecute() {
    const QString name = QFileDialog::getOpenFileName(this, tr("Open Image"), QString(),
                                                      QString::fromLatin1(kImageFilter));
    if (!name.isEmpty())
        openImage(name);
}

void MainWindow::aSaveAsExecute() {
    const QString name = QFileDialog::getSaveFileName(
        this, tr("Save Image As"), m_designer->FileName, QString::fromLatin1(kImageFilter));
    if (name.isEmpty())
        return;
    try {
        RenderAndSave(*m_designer, m_designer->FileName, {.newName = name});
        statusBar()->showMessage(tr("Saved %1").arg(name));
    } catch (const Exception& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}

namespace {
const char* const kPatternFilter = "Patterns (*.xml)";
}

void MainWindow::aOpenPatternExecute() {
    const QString name = QFileDialog::getOpenFileName(this, tr("Open Pattern"), QString(),
                                                      QString::fromLatin1(kPatternFilter));
    if (name.isEmpty())
        return;
    ClearBricks(*m_designer);
    try {
        ReadPattern(name, *m_designer);
    } catch (const Exception& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}

void MainWindow::aSavePatternExecute() {
    QString name = QFileDialog::getSaveFileName(this, tr("Save Pattern"), QString(),
                                                QString::fromLatin1(kPatternFilter));
    if (name.isEmpty())
        return;
    if (!name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
        name += QLatin1String(".xml");
    try {
        WritePattern(name, *m_designer);
    } catch (const Exception& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}

void MainWindow::aGroupExecute() {
    TfrmGroup group(m_designer, this);
    group.exec();
}

void MainWindow::aAddTextExecute() {
    auto* t = new TText(m_designer->Panel1);
    m_designer->AddComponent(t);
    t->setCaption(QStringLiteral("Type text here"));
    t->SetBounds(m_designer->Picture.width() / 8, m_designer->Picture.height() / 8, t->Width(),
                 t->Height());
    t->FullLeft = m_designer->FullFromPreview(t->Left());
    t->FullTop = m_designer->FullFromPreview(t->Top());
    t->FitToText();
    t->show();
    m_designer->Modified = true;
}

void MainWindow::aAddPictureExecute() {
    const QString name = QFileDialog::getOpenFileName(
        this, tr("Picture"), QString(), tr("Pictures (*.png *.jpg *.jpeg *.gif *.bmp *.ico)"));
    if (name.isEmpty())
        return;
    try {
        const LoadedGraphic g = LoadGraphicFile(name);
        auto* p = new TPictureimg(m_designer->Panel1);
        m_designer->AddComponent(p);
        p->Picture()->setGraphic({g.className, g.data, g.image});
        p->SetBounds(m_designer->Picture.width() / 2, m_designer->Picture.height() / 2, 105, 105);
        p->FullLeft = m_designer->FullFromPreview(p->Left());
        p->FullTop = m_designer->FullFromPreview(p->Top());
        p->FullWidth = m_designer->FullFromPreview(p->Width());
        p->FullHeight = m_designer->FullFromPreview(p->Height());
        p->show();
        m_designer->Modified = true;
    } catch (const Exception& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
}
