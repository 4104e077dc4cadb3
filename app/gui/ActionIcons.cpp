#include "app/gui/ActionIcons.h"

QIcon ThemedIcon(const QString& themeName, const QString& ownName) {
    const QIcon own(QStringLiteral(":/icons/actions/%1.svg").arg(ownName));
    return QIcon::fromTheme(themeName, own);
}

const QList<ActionIconName>& ActionIconNames() {
    static const QList<ActionIconName> names = {
        {"aOpenImage", "document-open", "open-image"},
        {"aSaveAs", "document-save-as", "save-as"},
        {"aNew", "document-new", "new"},
        {"aOpen", "document-import", "open-pattern"},
        {"aSave", "document-save", "save-pattern"},
        {"aResize", "transform-scale", "resize"},
        {"aRotateCount", "object-rotate-left", "rotate-left"},
        {"aRotateClock", "object-rotate-right", "rotate-right"},
        {"aEffects", "color-management", "effects"},
        {"aCopy", "edit-copy", "edit-copy"},
        {"aCut", "edit-cut", "edit-cut"},
        {"aPaste", "edit-paste", "edit-paste"},
        {"aDuplicate", "edit-duplicate", "duplicate"},
        {"aDelete", "edit-delete", "edit-delete"},
        {"aSelectAll", "edit-select-all", "select-all"},
        {"aBringToFromt", "object-order-front", "front"},
        {"aSendToBack", "object-order-back", "back"},
        {"aUndo", "edit-undo", "edit-undo"},
        {"aRedo", "edit-redo", "edit-redo"},
        {"aZoomin", "zoom-in", "zoom-in"},
        {"aZoomout", "zoom-out", "zoom-out"},
        {"aFittopage", "zoom-fit-best", "zoom-fit"},
        {"aActualsize", "zoom-original", "zoom-original"},
        {"aShowGrid", "view-grid", "grid"},
        {"aSnapToGrid", "snap-to-grid", "snap"},
        {"aInspector", "document-properties", "inspector"},
        {"aExplorer", "folder-pictures", "explorer"},
        {"aAlignLeft", "align-horizontal-left", "align-left"},
        {"aAlignHCentre", "align-horizontal-center", "align-hcentre"},
        {"aAlignRight", "align-horizontal-right", "align-right"},
        {"aAlignTop", "align-vertical-top", "align-top"},
        {"aAlignVCentre", "align-vertical-center", "align-vcentre"},
        {"aAlignBottom", "align-vertical-bottom", "align-bottom"},
    };
    return names;
}
