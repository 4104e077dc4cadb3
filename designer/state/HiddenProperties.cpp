#include "designer/state/HiddenProperties.h"

const QList<HiddenClassProperties>& HiddenPropertyTable() {
    static const QStringList designer = {QStringLiteral("Action"),
                                         QStringLiteral("ActiveControl"),
                                         QStringLiteral("Align"),
                                         QStringLiteral("AlphaBlend"),
                                         QStringLiteral("AlphaBlendValue"),
                                         QStringLiteral("Anchors"),
                                         QStringLiteral("AutoScroll"),
                                         QStringLiteral("AutoSize"),
                                         QStringLiteral("BiDiMode"),
                                         QStringLiteral("BorderIcons"),
                                         QStringLiteral("BorderStyle"),
                                         QStringLiteral("BorderWidth"),
                                         QStringLiteral("ClientHeight"),
                                         QStringLiteral("ClientWidth"),
                                         QStringLiteral("Constraints"),
                                         QStringLiteral("Ctl3D"),
                                         QStringLiteral("Cursor"),
                                         QStringLiteral("DefaultMonitor"),
                                         QStringLiteral("DockSite"),
                                         QStringLiteral("DragKind"),
                                         QStringLiteral("DragMode"),
                                         QStringLiteral("Enabled"),
                                         QStringLiteral("Font"),
                                         QStringLiteral("FormStyle"),
                                         QStringLiteral("HelpContext"),
                                         QStringLiteral("HelpFile"),
                                         QStringLiteral("HelpKeyword"),
                                         QStringLiteral("HelpType"),
                                         QStringLiteral("Hint"),
                                         QStringLiteral("HorzScrollBar"),
                                         QStringLiteral("Icon"),
                                         QStringLiteral("KeyPreview"),
                                         QStringLiteral("Left"),
                                         QStringLiteral("Menu"),
                                         QStringLiteral("ObjectMenuItem"),
                                         QStringLiteral("OldCreateOrder"),
                                         QStringLiteral("ParentBiDiMode"),
                                         QStringLiteral("ParentFont"),
                                         QStringLiteral("PixelsPerInch"),
                                         QStringLiteral("PopupMenu"),
                                         QStringLiteral("Position"),
                                         QStringLiteral("PrintScale"),
                                         QStringLiteral("Scaled"),
                                         QStringLiteral("ScreenSnap"),
                                         QStringLiteral("ShowHint"),
                                         QStringLiteral("SnapBuffer"),
                                         QStringLiteral("Tag"),
                                         QStringLiteral("Top"),
                                         QStringLiteral("TransparentColor"),
                                         QStringLiteral("TransparentColorValue"),
                                         QStringLiteral("UseDockManager"),
                                         QStringLiteral("VertScrollBar"),
                                         QStringLiteral("Visible"),
                                         QStringLiteral("WindowMenu"),
                                         QStringLiteral("WindowState"),
                                         QStringLiteral("Name")};
    static const QStringList text = {QStringLiteral("Tag"),         QStringLiteral("Hint"),
                                     QStringLiteral("HelpContext"), QStringLiteral("HelpKeyword"),
                                     QStringLiteral("HelpType"),    QStringLiteral("Cursor"),
                                     QStringLiteral("Name")};
    static const QStringList picture = {QStringLiteral("Tag"),
                                        QStringLiteral("Hint"),
                                        QStringLiteral("HelpContext"),
                                        QStringLiteral("HelpKeyword"),
                                        QStringLiteral("HelpType"),
                                        QStringLiteral("Cursor"),
                                        QStringLiteral("Center"),
                                        QStringLiteral("Constraints"),
                                        QStringLiteral("DragCursor"),
                                        QStringLiteral("DragMode"),
                                        QStringLiteral("DragKind"),
                                        QStringLiteral("Enabled"),
                                        QStringLiteral("IncrementalDisplay"),
                                        QStringLiteral("ParentShowHint"),
                                        QStringLiteral("PopupMenu"),
                                        QStringLiteral("ShowHint"),
                                        QStringLiteral("Visible"),
                                        QStringLiteral("Align"),
                                        QStringLiteral("Name"),
                                        QStringLiteral("Anchors")};
    // A bubble does not turn; where its body starts follows from dragging its tail. Its own
    // body keeps its text readable: no outline, shadow, plate or contrast choice.
    static const QStringList bubble =
        text + QStringList{QStringLiteral("Angle"),           QStringLiteral("BodyLeft"),
                           QStringLiteral("BodyTop"),         QStringLiteral("Outline"),
                           QStringLiteral("OutlineWidth"),    QStringLiteral("Shadow"),
                           QStringLiteral("ShadowOffset"),    QStringLiteral("Backdrop"),
                           QStringLiteral("BackdropOpacity"), QStringLiteral("BackdropPadding"),
                           QStringLiteral("AutoContrast")};
    static const QList<HiddenClassProperties> table = {
        {QStringLiteral("TDesigner"), designer},  {QStringLiteral("TText"), text},
        {QStringLiteral("TTextTime"), text},      {QStringLiteral("TTextDate"), text},
        {QStringLiteral("TPictureimg"), picture}, {QStringLiteral("TTextBubble"), bubble},
    };
    return table;
}

QStringList HiddenPropertiesOf(const QString& className) {
    for (const HiddenClassProperties& entry : HiddenPropertyTable())
        if (entry.className == className)
            return entry.names;
    return {};
}
