#pragma once

#include "platform/TUpDown.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TDesigner;

// "Resize image": the open photo's new size in pixels or per cent, optionally proportional.
// The linked side is computed from the whole-number percentage, as the user sees it.
class TfrmResize : public QDialog {
    Q_OBJECT

public:
    explicit TfrmResize(TDesigner* designer, QWidget* parent = nullptr);

    QLineEdit* Edit1; // width, pixels
    QLineEdit* Edit2; // width, per cent
    QLineEdit* Edit3; // height, pixels
    QLineEdit* Edit4; // height, per cent
    TUpDown* UpDown1;
    TUpDown* UpDown2;
    TUpDown* UpDown3;
    TUpDown* UpDown4;
    QCheckBox* CheckBox1;
    QLabel* lblOrgWidth;
    QLabel* lblOrgHeight;
    QPushButton* Button1;
    QPushButton* Button2;

    // Kept for as long as the program runs, as the dialog's own memory.
    static int InitialWidth, InitialHeight, TargetWidth, TargetHeight;

    void Edit1Chng();
    void Edit2Chng();
    void Edit3Chng();
    void Edit4Chng();
    void CheckBox1Click();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    // The field's integer, or the conversion error shown and nothing returned.
    bool fieldValue(QLineEdit* edit, int* value);
    void setField(QLineEdit* edit, int value);
    void linkHeightFromPercent(int percent);
    void linkWidthFromPercent(int percent);

    TDesigner* m_designer;
};
