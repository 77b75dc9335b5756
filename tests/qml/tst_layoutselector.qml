import QtQuick
import QtTest

Item {
    id: root

    readonly property alias layoutModel: layouts
    property var currentLayout: coremanager.layouts[coremanager.selectedLayoutIndex]

    width: 800
    height: 480

    ListModel {
        id: layouts
    }

    Connections {
        function onSelectedLayoutIndexChanged() {
            root.currentLayout = coremanager.layouts[coremanager.selectedLayoutIndex];
        }

        target: coremanager
    }

    Component {
        id: selectorHost

        // Stands in for the quick bar's layout selector loader; placed away from the edges
        // so that the drop-down has room on every side.
        Loader {
            property string selectorState: "LEFT"
            property real spacing: 9.6

            x: 300
            y: 200
            width: 76.8
            height: 50
            source: settings.value("Components/LayoutSelector")
        }
    }

    Component {
        id: spyComponent

        SignalSpy {
        }
    }

    TestCase {
        id: testCase

        readonly property var touchedKeys: ({
                "LayoutSelector/Color": "#555",
                "QuickBarElement/Color": "#555",
                "LayoutSelector/LabelBold": 1
            })

        function fillLayouts(count) {
            layouts.clear();
            for (let i = 0; i < count; ++i)
                layouts.append({ "id": coremanager.layouts[i].id, "name": coremanager.layouts[i].name });
        }

        function createSelector(properties) {
            const host = createTemporaryObject(selectorHost, root, properties || {});
            verify(host && host.item, "the layout selector loads");
            return host.item;
        }

        function child(item, name) {
            const found = findChild(item, name);
            verify(found, name);
            return found;
        }

        function entry(selector, row) {
            const list = child(selector, "layoutsListView");
            list.forceLayout();
            const delegate = list.itemAtIndex(row);
            verify(delegate, "entry " + row);
            return delegate;
        }

        function init() {
            coremanager.selectedLayoutIndex = 0;
            fillLayouts(3);
        }

        function cleanup() {
            for (const key in touchedKeys)
                settings.setValue(key, touchedKeys[key]);
        }

        function test_geometry() {
            const selector = createSelector();
            const label = child(selector, "label");
            const box = child(selector, "currLayoutBox");
            const value = child(selector, "currLayout");
            fuzzyCompare(selector.radius, 7.5, 1e-9);
            fuzzyCompare(label.x, 2.5, 1e-9);
            fuzzyCompare(label.y, 2.5, 1e-9);
            fuzzyCompare(label.width, 76.8 - 5, 1e-9);
            // Font pixel sizes are whole numbers in Qt: 50 / 4 = 12.5 is rounded to 13.
            compare(label.font.pixelSize, 13);
            fuzzyCompare(box.radius, 3.5, 1e-9);
            fuzzyCompare(box.x, 4, 1e-9);
            fuzzyCompare(box.y, label.y + label.height + 2.5, 1e-9);
            fuzzyCompare(box.y + box.height, 50 - 4, 1e-9);
            compare(value.font.pixelSize, 10);
            compare(value.text, "Three");
            compare(label.text, "Layout");
            verify(label.font.bold);
        }

        function test_gradient_data() {
            return [
                { tag: "second colour unset", color2: undefined, element: "#123456", bottom: "#123456" },
                { tag: "second colour set", color2: "#abcdef", element: "#123456", bottom: "#abcdef" }
            ];
        }

        function test_gradient(data) {
            settings.setValue("QuickBarElement/Color", data.element);
            settings.setValue("LayoutSelector/Color", "#555");
            if (data.color2 !== undefined)
                settings.setValue("LayoutSelector/Color2", data.color2);
            const selector = createSelector();
            verify(Qt.colorEqual(selector.gradient.stops[0].color, "#555"));
            verify(Qt.colorEqual(selector.gradient.stops[1].color, data.bottom));
            verify(Qt.colorEqual(child(selector, "selectorArea").color, "#555"));
        }

        function test_twoLayoutsToggle() {
            fillLayouts(2);
            const selector = createSelector();
            const clicks = createTemporaryObject(spyComponent, testCase, { "target": selector, "signalName": "clicked" });
            const dropDown = child(selector, "selectorArea");
            mouseClick(selector);
            compare(coremanager.selectedLayoutIndex, 1);
            compare(child(selector, "currLayout").text, "Nested");
            verify(!dropDown.visible);
            mouseClick(selector);
            compare(coremanager.selectedLayoutIndex, 0);
            verify(!dropDown.visible);
            compare(clicks.count, 2);
        }

        function test_dropDown() {
            const selector = createSelector();
            const clicks = createTemporaryObject(spyComponent, testCase, { "target": selector, "signalName": "clicked" });
            const dropDown = child(selector, "selectorArea");
            verify(!dropDown.visible && !dropDown.enabled);
            mouseClick(selector);
            verify(dropDown.visible && dropDown.enabled);
            compare(dropDown.height, 90);
            fuzzyCompare(dropDown.width, 1.5 * 76.8, 1e-9);
            mouseClick(selector);
            verify(!dropDown.visible);
            compare(coremanager.selectedLayoutIndex, 0);
            mouseClick(selector);
            mouseClick(entry(selector, 2));
            compare(coremanager.selectedLayoutIndex, 2);
            verify(!dropDown.visible);
            compare(child(selector, "currLayout").text, "Single");
            compare(clicks.count, 4);
            // Outside the bar nothing closes it, but the bar's own call does.
            mouseClick(selector);
            verify(dropDown.visible);
            selector.closeLayoutSelector();
            verify(!dropDown.visible && !dropDown.enabled);
        }

        function test_entryColours_data() {
            return [
                { tag: "first selected", selected: 0 },
                { tag: "last selected elsewhere", selected: 2 }
            ];
        }

        function test_entryColours(data) {
            const selector = createSelector();
            // Whoever changes the selection, the highlight follows it.
            coremanager.selectedLayoutIndex = data.selected;
            const one = Qt.color(settings.value("LayoutSelector/ListColor1"));
            const two = Qt.color(settings.value("LayoutSelector/ListColor2"));
            for (let row = 0; row < 3; ++row) {
                const item = entry(selector, row);
                const text = item.children[0];
                const selected = row === data.selected;
                verify(Qt.colorEqual(item.color, selected ? one : two), "background of " + row);
                verify(Qt.colorEqual(text.color, selected ? two : one), "text of " + row);
                compare(text.text, coremanager.layouts[row].name);
                compare(text.font.pixelSize, 10);
                compare(item.height, 30);
            }
        }

        function test_placement_data() {
            // Selector at (300, 200), 76.8 x 50, spacing 9.6: the drop-down lies 19.2 away.
            return [
                { tag: "LEFT", state: "LEFT", x: 300 + 76.8 + 19.2, bottom: 250 },
                { tag: "RIGHT", state: "RIGHT", right: 300 - 19.2, bottom: 250 },
                { tag: "TOP", state: "TOP", y: 250 + 19.2, right: 376.8 },
                { tag: "BOTTOM", state: "BOTTOM", bottomEdge: 200 - 19.2, right: 376.8 },
                { tag: "unknown edge opens like LEFT", state: "MIDDLE", x: 300 + 76.8 + 19.2, bottom: 250 }
            ];
        }

        function test_placement(data) {
            const selector = createSelector({ "selectorState": data.state });
            mouseClick(selector);
            const dropDown = child(selector, "selectorArea");
            verify(dropDown.visible);
            const r = dropDown.mapToItem(root, 0, 0, dropDown.width, dropDown.height);
            if (data.x !== undefined)
                fuzzyCompare(r.x, data.x, 1e-9);
            if (data.right !== undefined)
                fuzzyCompare(r.x + r.width, data.right, 1e-9);
            if (data.y !== undefined)
                fuzzyCompare(r.y, data.y, 1e-9);
            if (data.bottom !== undefined)
                fuzzyCompare(r.y + r.height, data.bottom, 1e-9);
            if (data.bottomEdge !== undefined)
                fuzzyCompare(r.y + r.height, data.bottomEdge, 1e-9);
            // An entry outside the selector's own rectangle still takes the tap.
            mouseClick(entry(selector, 1));
            compare(coremanager.selectedLayoutIndex, 1);
            verify(!dropDown.visible);
        }

        function test_plainCaption() {
            settings.setValue("LayoutSelector/LabelBold", "0");
            const selector = createSelector();
            verify(!child(selector, "label").font.bold);
            verify(!child(selector, "currLayout").font.bold);
        }

        name: "LayoutSelector"
        when: windowShown
    }
}
