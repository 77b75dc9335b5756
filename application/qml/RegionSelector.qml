import QtQuick

// The diagram of the current layout's region tree on which the user picks the region for one
// client: every level is a row of equal areas, sub-regions in the lower half of their parent.
Item {
    id: regionSelector

    property var regionModel: root.currentLayout ? root.currentLayout.regions : []
    property Component regionAreaComponent: Qt.createComponent(String(settings.value("Components/RegionSelectorAreaElement")))

    signal regionAreaClicked(string regionId)

    function createRegionView() {
        for (let i = regionAreaView.children.length - 1; i >= 0; --i) {
            const child = regionAreaView.children[i];
            // Unparent at once so that a new diagram never shares the view with the old one.
            child.visible = false;
            child.parent = null;
            child.destroy();
        }
        createRegionArea(regionModel, regionAreaView);
    }

    function createRegionArea(subRegionModel, parentItem) {
        if (!subRegionModel || !parentItem)
            return;
        const count = subRegionModel.length;
        let previous = null;
        for (let i = 0; i < count; ++i) {
            const region = subRegionModel[i];
            const slot = i;
            let area = null;
            if (region && regionAreaComponent && regionAreaComponent.status === Component.Ready) {
                area = regionAreaComponent.createObject(parentItem, {
                        "regionId": region.id,
                        "regionName": region.name,
                        "width": Qt.binding(() => parentItem.width / count),
                        "height": Qt.binding(() => parentItem.height)
                    });
            }
            if (!area) {
                console.warn("Failed to create regionarea!");
                // The slot stays empty; the next area keeps its own place in the row.
                previous = null;
                continue;
            }
            if (area.regionAreaClicked)
                area.regionAreaClicked.connect(regionSelector.regionAreaClicked);
            if (previous)
                area.anchors.left = previous.right;
            else
                area.x = Qt.binding(() => parentItem.width / count * slot);
            if (region.regions && region.regions.length > 0)
                createRegionArea(region.regions, area.subRegionParent);
            previous = area;
        }
    }

    visible: currentProcess >= 0
    enabled: visible

    // The first diagram is built once everything is set up, whatever order bindings run in.
    onRegionModelChanged: {
        if (d.completed)
            createRegionView();
    }
    Component.onCompleted: {
        d.completed = true;
        if (regionAreaComponent && regionAreaComponent.status === Component.Loading)
            regionAreaComponent.statusChanged.connect(createRegionView);
        else if (!regionAreaComponent || regionAreaComponent.status === Component.Error)
            console.warn("RegionSelector: " + (regionAreaComponent ? regionAreaComponent.errorString() : "no area component"));
        createRegionView();
    }

    QtObject {
        id: d

        property bool completed: false
    }

    Rectangle {
        id: regionAreaView

        objectName: "regionAreaView"
        anchors.fill: parent
        anchors.margins: 20
        color: "#77808080"
        border.width: 0
    }
}
