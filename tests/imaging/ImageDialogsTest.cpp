#include "imaging/dialogs/TfrmAdjustments.h"
#include "imaging/dialogs/TfrmResize.h"
#include "platform/Messages.h"
#include "tests/bricks/BrickTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

// Types a text into a field as the user does: the field's handler runs on key-up.
void type(QLineEdit* edit, const QString& text, int key = Qt::Key_0) {
    edit->setText(text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(edit, &release);
}

struct MessageLog {
    QStringList texts;
    MessageLog() {
        SetMessageHandler([this](MessageKind, const QString& t) { texts << t; });
    }
    ~MessageLog() { SetMessageHandler({}); }
};

QImage solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

} // namespace

class ResizeDialog : public ::testing::Test {
protected:
    SurfaceFixture f{QSize(1000, 750), 2.0};
    TfrmResize dlg{f.designer.get()};
    void SetUp() override { dlg.show(); }
};

TEST_F(ResizeDialog, ShowsTheOriginalSize) {
    EXPECT_EQ(dlg.lblOrgWidth->text(), QStringLiteral("1000"));
    EXPECT_EQ(dlg.lblOrgHeight->text(), QStringLiteral("750"));
    EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("1000"));
    EXPECT_EQ(dlg.Edit3->text(), QStringLiteral("750"));
    EXPECT_TRUE(dlg.CheckBox1->isChecked());
}

TEST_F(ResizeDialog, ProportionalWidthLinksThroughTheWholePercentage) {
    type(dlg.Edit1, QStringLiteral("333"));
    EXPECT_EQ(dlg.Edit2->text(), QStringLiteral("33"));
    EXPECT_EQ(dlg.Edit4->text(), QStringLiteral("33"));
    EXPECT_EQ(dlg.Edit3->text(), QStringLiteral("248")) << "247.5 rounds to the even 248";
    dlg.Button1->click();
    EXPECT_EQ(f.designer->realPicture.size(), QSize(333, 248));
    EXPECT_EQ(f.designer->PreviewSize(), QSize(166, 124)) << "the preview at zoom 2";
    EXPECT_TRUE(f.designer->PhotoModified);
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(ResizeDialog, OkAtOnceKeepsTheSize) {
    const QImage before = f.designer->realPicture;
    dlg.Button1->click();
    EXPECT_EQ(f.designer->realPicture.size(), QSize(1000, 750));
    EXPECT_EQ(f.designer->realPicture, before) << "not resampled onto itself";
    EXPECT_FALSE(f.designer->PhotoModified) << "nothing changed";
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(ResizeDialog, NonProportionalSidesAreIndependentUntilTheBoxIsCheckedAgain) {
    dlg.CheckBox1->click();
    ASSERT_FALSE(dlg.CheckBox1->isChecked());
    type(dlg.Edit2, QStringLiteral("50"));
    EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("500"));
    EXPECT_EQ(dlg.Edit3->text(), QStringLiteral("750"));
    type(dlg.Edit4, QStringLiteral("20"));
    EXPECT_EQ(dlg.Edit3->text(), QStringLiteral("150"));
    EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("500"));
    // Checking the box links the width to the height's percentage.
    dlg.CheckBox1->click();
    EXPECT_EQ(dlg.Edit2->text(), QStringLiteral("20"));
    EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("200"));
    dlg.Button1->click();
    EXPECT_EQ(f.designer->realPicture.size(), QSize(200, 150));
}

TEST_F(ResizeDialog, SpinButtonsStepAndLink) {
    dlg.UpDown2->step(-1);
    EXPECT_EQ(dlg.Edit2->text(), QStringLiteral("99")) << "from the 100 % maximum";
    EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("990"));
    EXPECT_EQ(dlg.Edit3->text(), QStringLiteral("742")) << "742.5 rounds to the even 742";
}

TEST_F(ResizeDialog, TextThatIsNotANumberKeepsTheTargets) {
    MessageLog log;
    type(dlg.Edit1, QStringLiteral("12a"));
    ASSERT_EQ(log.texts.size(), 1);
    EXPECT_EQ(log.texts[0], QStringLiteral("'12a' is not a valid integer value"));
    EXPECT_EQ(TfrmResize::TargetWidth, 1000);
    EXPECT_EQ(TfrmResize::TargetHeight, 750);
}

TEST_F(ResizeDialog, EnterRunsTheHandlerThenOk) {
    type(dlg.Edit3, QStringLiteral("75"), Qt::Key_Return);
    EXPECT_EQ(f.designer->realPicture.size(), QSize(100, 75));
}

TEST_F(ResizeDialog, ZeroSizeIsRefusedAndTheDialogStays) {
    MessageLog log;
    type(dlg.Edit1, QStringLiteral("0"));
    dlg.Button1->click();
    EXPECT_EQ(log.texts.size(), 1);
    EXPECT_EQ(f.designer->realPicture.size(), QSize(1000, 750));
    EXPECT_TRUE(dlg.isVisible());
}

class AdjustmentsDialog : public ::testing::Test {
protected:
    SurfaceFixture f{QSize(40, 30), 1.0};
    void setPhoto(QColor c) {
        f.designer->realPicture = solid(40, 30, c);
        f.designer->UpdatePreview();
    }
    QColor pixelAfter(std::function<void(TfrmAdjustments&)> move) {
        TfrmAdjustments dlg(f.designer.get());
        move(dlg);
        dlg.btnAcceptClick();
        return f.designer->realPicture.pixelColor(5, 5);
    }
};

TEST_F(AdjustmentsDialog, UntouchedAcceptChangesNothing) {
    const QImage before = f.designer->realPicture.copy();
    TfrmAdjustments dlg(f.designer.get());
    EXPECT_EQ(dlg.lblSat->text(), QStringLiteral("0"));
    EXPECT_EQ(dlg.lblBrig->text(), QStringLiteral("0"));
    EXPECT_EQ(dlg.lblContrast->text(), QStringLiteral("0"));
    dlg.btnAccept->click();
    EXPECT_EQ(f.designer->realPicture, before);
    EXPECT_FALSE(f.designer->PhotoModified) << "no pixel changed";
    EXPECT_FALSE(f.designer->PictureEdited);
}

TEST_F(AdjustmentsDialog, CancelChangesNothing) {
    const QImage before = f.designer->realPicture.copy();
    TfrmAdjustments dlg(f.designer.get());
    dlg.trbarBrightness->setValue(80);
    dlg.btnCancel->click();
    EXPECT_EQ(f.designer->realPicture, before);
    EXPECT_FALSE(f.designer->PhotoModified);
    EXPECT_FALSE(f.designer->PictureEdited);
}

TEST_F(AdjustmentsDialog, AcceptMarksThePictureEdited) {
    EXPECT_FALSE(f.designer->PictureEdited);
    TfrmAdjustments dlg(f.designer.get());
    dlg.trbarBrightness->setValue(80);
    dlg.btnAccept->click();
    EXPECT_TRUE(f.designer->PictureEdited); // the file's own blocks no longer show it
    EXPECT_TRUE(f.designer->PhotoModified);
}

TEST_F(AdjustmentsDialog, SaturationZeroTurnsRedGrey) {
    setPhoto(QColor(255, 0, 0));
    const QColor c = pixelAfter([](TfrmAdjustments& d) { d.trbarSaturation->setValue(0); });
    EXPECT_NEAR(c.red(), 76, 1); // 0.299 x 255
    EXPECT_EQ(c.red(), c.green());
    EXPECT_EQ(c.green(), c.blue());
}

TEST_F(AdjustmentsDialog, BrightnessExtremes) {
    setPhoto(QColor(30, 120, 220));
    EXPECT_EQ(pixelAfter([](TfrmAdjustments& d) { d.trbarBrightness->setValue(100); }),
              QColor(Qt::white));
    setPhoto(QColor(30, 120, 220));
    EXPECT_EQ(pixelAfter([](TfrmAdjustments& d) { d.trbarBrightness->setValue(-100); }),
              QColor(Qt::black));
}

TEST_F(AdjustmentsDialog, ContrastAboutTheMiddle) {
    setPhoto(QColor(0, 64, 191));
    const QColor flat = pixelAfter([](TfrmAdjustments& d) { d.trbarContrast->setValue(0); });
    EXPECT_NEAR(flat.red(), 128, 1);
    EXPECT_NEAR(flat.blue(), 128, 1);
    setPhoto(QColor(0, 64, 191)); // 0.25 and 0.75 on the green and blue channels
    const QColor steep = pixelAfter([](TfrmAdjustments& d) { d.trbarContrast->setValue(200); });
    EXPECT_EQ(steep.red(), 0);
    EXPECT_NEAR(steep.green(), 0, 1);
    EXPECT_NEAR(steep.blue(), 255, 1);
}

TEST_F(AdjustmentsDialog, SaturationActsBeforeBrightnessBeforeContrast) {
    setPhoto(QColor(0, 0, 0));
    TfrmAdjustments dlg(f.designer.get());
    dlg.trbarBrightness->setValue(50);
    dlg.trbarContrast->setValue(200);
    EXPECT_EQ(dlg.lblBrig->text(), QStringLiteral("0.5"));
    EXPECT_EQ(dlg.lblContrast->text(), QStringLiteral("2"));
    // 2 x (0 + 0.5) - 0.5 = 0.5
    EXPECT_NEAR(dlg.PreviewImage().pixelColor(1, 1).red(), 128, 1);
    dlg.btnAcceptClick();
    EXPECT_NEAR(f.designer->realPicture.pixelColor(0, 0).green(), 128, 1);
}

TEST_F(AdjustmentsDialog, PreviewIsAThumbnailThatFitsThePanel) {
    SurfaceFixture big(QSize(2000, 1000), 1.0);
    TfrmAdjustments dlg(big.designer.get());
    EXPECT_EQ(dlg.PreviewImage().size(), QSize(624, 312));
}
