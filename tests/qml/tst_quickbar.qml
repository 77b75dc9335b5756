import QtQuick
import QtTest
import Kestrix.Vorlane.Core as Core

Item {
    id: root

    readonly property string quickBarID: "QuickBar"
    readonly property alias surfaceModel: surfaces
    readonly property alias layoutModel: layouts
    property var currentLayout: coremanager.layouts[coremanager.selectedLayoutIndex]

    width: 800
    height: 480

    ListModel {
        id: surfaces
    }

    ListModel {
        id: layouts
    }

    Component {
        id: barHost

        // Stands in for the scene's quick bar loader.
        Loader {
            property bool horizontalFlow: false
            property string position: "LEFT"

            width: 96
            height: 480
            source: settings.value("Components/QuickBar")
        }
    }

    Component {
        id: fakeClient

        // Duck-typed client: what the bar reads of a Client and its Details.
        QtObject {
            property int executionState: Core.Client.ES_RUNNING
            property QtObject details: QtObject {
                property string quickBarElement: "Default"
            }
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
                "Settings/DisableLayoutSelector": 0,
                "Components/LayoutSelector": "qrc:///Kestrix/Vorlane/Application/LayoutSelector.qml",
                "QuickBar/Label": "APPS"
            })

        function fillLayouts(count) {
            layouts.clear();
            for (let i = 0; i < count; ++i)
                layouts.append({ "id": coremanager.layouts[i].id, "name": coremanager.layouts[i].name });
        }

        function addClients(count, elementUrl) {
            for (let i = 0; i < count; ++i) {
                const client = createTemporaryObject(fakeClient, testCase);
                if (elementUrl && i === 0)
                    client.details.quickBarElement = elementUrl;
                surfaces.append({ "pid": 100 + i, "name": "Client " + i, "icon": "", "client": client,
                                  "currentRegion": "QuickBar" });
            }
        }

        function createBar(properties) {
            const host = createTemporaryObject(barHost, root, properties || {});
            verify(host && host.item, "the quick bar loads");
            return host.item;
        }

        function child(bar, name) {
            const found = findChild(bar, name);
            verify(found, name);
            return found;
        }

        function elementAt(bar, row) {
            const list = child(bar, "clientList");
            list.forceLayout();
            const loader = list.itemAtIndex(row);
            verify(loader && loader.item, "element " + row);
            return loader;
        }

        function spies(bar) {
            const result = {};
            for (const name of ["headerClicked", "bodyClicked", "elementClicked", "elementLongPressed"])
                result[name] = createTemporaryObject(spyComponent, testCase, { "target": bar, "signalName": name });
            return result;
        }

        // Scene coordinates of a point of an item, rounded as the pointer delivers them.
        function point(bar, item, x, y) {
            return bar.mapFromItem(item, x, y);
        }

        function init() {
            coremanager.selectedLayoutIndex = 0;
            fillLayouts(3);
            addClients(3);
            testSupport.setDebugMode(false);
        }

        function cleanup() {
            testSupport.setDebugMode(false);
            surfaces.clear();
            for (const key in touchedKeys)
                settings.setValue(key, touchedKeys[key]);
            testSupport.setDebugMode(false);
        }

        function test_verticalGeometry() {
            const bar = createBar();
            const list = child(bar, "clientList");
            const header = child(bar, "header");
            const selector = child(bar, "layoutSelector");
            fuzzyCompare(bar.spacing, 9.6, 1e-9);
            fuzzyCompare(list.x, 9.6, 1e-9);
            fuzzyCompare(list.width, 76.8, 1e-9);
            fuzzyCompare(list.y, header.y + header.height + 4.8, 1e-9);
            fuzzyCompare(list.spacing, 2.4, 1e-9);
            const first = elementAt(bar, 0);
            const second = elementAt(bar, 1);
            fuzzyCompare(first.width, 76.8, 1e-9);
            fuzzyCompare(first.height, 76.8, 1e-9);
            fuzzyCompare(second.y - (first.y + first.height), 2.4, 1e-9);
            // The header keeps its box: spacing plus one line of text.
            fuzzyCompare(header.height, 9.6 + header.implicitHeight, 1e-9);
            // Three layouts: the selector sits spacing above the bottom, the list spacing above it.
            verify(selector.visible && selector.enabled);
            fuzzyCompare(selector.width, 76.8, 1e-9);
            compare(selector.height, 50);
            fuzzyCompare(selector.y + selector.height, 480 - 9.6, 1e-9);
            fuzzyCompare(list.y + list.height, selector.y - 9.6, 1e-9);
            compare(child(bar, "dividerFooter").y, list.y + list.height);
            compare(child(bar, "dividerHeader").y, header.y + header.height);
            compare(child(bar, "ipAddress").text, "");
        }

        function test_layoutSelectorShown_data() {
            return [
                { tag: "one layout", layouts: 1, disable: 0, debug: false, shown: false },
                { tag: "two layouts", layouts: 2, disable: 0, debug: false, shown: true },
                { tag: "disabled", layouts: 3, disable: "1", debug: false, shown: false },
                { tag: "disabled is 0 in the file", layouts: 3, disable: "0", debug: false, shown: true },
                { tag: "one layout in debug mode", layouts: 1, disable: 0, debug: true, shown: false },
                { tag: "shown in debug mode", layouts: 3, disable: 0, debug: true, shown: true }
            ];
        }

        function test_layoutSelectorShown(data) {
            fillLayouts(data.layouts);
            settings.setValue("Settings/DisableLayoutSelector", data.disable);
            testSupport.setDebugMode(data.debug);
            const bar = createBar();
            const list = child(bar, "clientList");
            const selector = child(bar, "layoutSelector");
            const address = child(bar, "ipAddress");
            compare(selector.visible, data.shown);
            compare(selector.enabled, data.shown);
            const floor = data.debug ? address.y : bar.height;
            if (data.debug) {
                // The address is unknown in the test: only the brackets.
                compare(address.text, "[  ]");
                fuzzyCompare(address.y + address.height, bar.height - bar.spacing, 1e-9);
            }
            if (data.shown) {
                fuzzyCompare(selector.y + selector.height, floor - bar.spacing, 1e-9);
                fuzzyCompare(list.y + list.height, selector.y - bar.spacing, 1e-9);
            } else {
                compare(selector.height, 0);
                fuzzyCompare(list.y + list.height, floor, 1e-9);
            }
        }

        function test_horizontalGeometry() {
            testSupport.setDebugMode(true);
            const bar = createBar({ "horizontalFlow": true, "position": "BOTTOM", "width": 800, "height": 57.6 });
            const list = child(bar, "clientList");
            const header = child(bar, "header");
            const selector = child(bar, "layoutSelector");
            const address = child(bar, "ipAddress");
            const s = 5.76;
            compare(bar.state, "HORIZONTAL");
            fuzzyCompare(bar.spacing, s, 1e-9);
            compare(bar.constrainingSize, 57.6);
            compare(list.orientation, ListView.Horizontal);
            compare(header.x, 0);
            fuzzyCompare(header.width, 2 * s + header.implicitWidth, 1e-9);
            fuzzyCompare(list.x, header.x + header.width + s, 1e-9);
            fuzzyCompare(list.y, s, 1e-9);
            fuzzyCompare(list.height, 57.6 - 2 * s, 1e-9);
            const first = elementAt(bar, 0);
            const second = elementAt(bar, 1);
            fuzzyCompare(first.width, list.height, 1e-9);
            fuzzyCompare(first.height, list.height, 1e-9);
            fuzzyCompare(second.x - (first.x + first.width), s / 4, 1e-9);
            // Layout selector at the right end, left of the address in the bottom right corner.
            compare(address.x + address.width, 800);
            fuzzyCompare(address.y + address.height, 57.6 - s, 1e-9);
            fuzzyCompare(selector.x + selector.width, address.x - s, 1e-9);
            compare(selector.width, 100);
            fuzzyCompare(selector.height, 57.6 - 2 * s, 1e-9);
            fuzzyCompare(list.x + list.width, selector.x - s, 1e-9);
            compare(child(bar, "dividerHeader").width, 1);
            compare(child(bar, "dividerHeader").x + 1, header.x + header.width);
            compare(child(bar, "dividerFooter").x, list.x + list.width);
        }

        function test_switchEdges() {
            const host = createTemporaryObject(barHost, root);
            const bar = host.item;
            const names = ["clientList", "header", "headerImage", "dividerHeader", "dividerFooter", "layoutSelector", "ipAddress"];
            const before = names.map(n => { const i = child(bar, n); return [i.x, i.y, i.width, i.height].join(","); });
            host.horizontalFlow = true;
            host.position = "TOP";
            host.width = 800;
            host.height = 57.6;
            compare(child(bar, "clientList").orientation, ListView.Horizontal);
            fuzzyCompare(elementAt(bar, 0).height, child(bar, "clientList").height, 1e-9);
            compare(child(bar, "layoutSelector").item.state, "TOP");
            host.horizontalFlow = false;
            host.position = "LEFT";
            host.width = 96;
            host.height = 480;
            compare(child(bar, "clientList").orientation, ListView.Vertical);
            const after = names.map(n => { const i = child(bar, n); return [i.x, i.y, i.width, i.height].join(","); });
            compare(after, before);
        }

        function test_input_data() {
            return [
                { tag: "tap on an element", target: "element1", signal: "elementClicked", index: 1, closes: true },
                { tag: "long press on an element", target: "element2", hold: true, signal: "elementLongPressed", index: 2, closes: true },
                { tag: "tap between elements", target: "gap", signal: "bodyClicked", closes: true },
                { tag: "tap on the list below the elements", target: "below", signal: "bodyClicked", closes: true },
                { tag: "tap on the header", target: "header", signal: "headerClicked", closes: true },
                { tag: "tap beside the list", target: "margin", signal: "bodyClicked", closes: true },
                // The selector toggles its own drop-down: the bar relays its click without closing it.
                { tag: "tap on the layout selector", target: "selector", signal: "bodyClicked", closes: false, closed: true }
            ];
        }

        function test_input(data) {
            const bar = createBar();
            const list = child(bar, "clientList");
            const selectorItem = child(bar, "layoutSelector").item;
            const dropDown = child(selectorItem, "selectorArea");
            const signals = spies(bar);
            if (!data.closed) {
                mouseClick(selectorItem);
                verify(dropDown.visible, "the drop-down is open before the action");
                compare(signals.bodyClicked.count, 1);
                signals.bodyClicked.clear();
            }

            let p;
            if (data.target === "gap") {
                // An integer pixel row inside the 2.4 px gap between elements 0 and 1.
                const gapTop = bar.mapFromItem(list, 0, elementAt(bar, 0).height).y;
                p = Qt.point(48, Math.floor(gapTop) + 1);
                verify(p.y < gapTop + 2.4);
            } else if (data.target === "below") {
                p = point(bar, list, list.width / 2, list.height - 5);
            } else if (data.target === "header") {
                const header = child(bar, "header");
                p = point(bar, header, header.width / 2, header.height / 2);
            } else if (data.target === "margin") {
                p = point(bar, list, -4, 20);
            } else if (data.target === "selector") {
                p = point(bar, selectorItem, 10, 10);
            } else {
                const element = elementAt(bar, data.index);
                p = point(bar, element, element.width / 2, element.height / 2);
            }

            if (data.hold) {
                mousePress(bar, p.x, p.y);
                signals[data.signal].wait();
                mouseRelease(bar, p.x, p.y);
            } else {
                mouseClick(bar, p.x, p.y);
            }
            for (const name in signals)
                compare(signals[name].count, name === data.signal ? 1 : 0, name);
            if (data.index !== undefined)
                compare(signals[data.signal].signalArguments[0][0], data.index);
            compare(dropDown.visible, !data.closes);

            if (!data.hold) {
                mouseDoubleClickSequence(bar, p.x, p.y);
                compare(signals[data.signal].count, 3, "a double click counts as two clicks");
            }
        }

        function test_executionStateFollowsClient() {
            const bar = createBar();
            const element = elementAt(bar, 0);
            compare(element.item.state, "RESUMING");
            surfaces.get(0).client.executionState = Core.Client.ES_PAUSED;
            compare(element.executionState, Core.Client.ES_PAUSED);
            compare(element.item.state, "PAUSED");
            surfaces.setProperty(0, "currentRegion", "A");
            compare(element.item.state, "ONSCREEN");
        }

        function test_elementNames_data() {
            return [
                { tag: "normal", debug: false, name: "Client 1" },
                { tag: "debug", debug: true, name: "PID: 101 Client 1" }
            ];
        }

        function test_elementNames(data) {
            testSupport.setDebugMode(data.debug);
            const bar = createBar();
            compare(elementAt(bar, 1).name, data.name);
            compare(findChild(elementAt(bar, 1).item, "label").text, data.name);
        }

        function test_ownElementComponent() {
            surfaces.clear();
            addClients(2, Qt.resolvedUrl("data/OwnElement.qml"));
            const bar = createBar();
            const signals = spies(bar);
            compare(elementAt(bar, 0).item.objectName, "ownElement");
            verify(findChild(elementAt(bar, 1).item, "maClient"), "the other client keeps the standard element");
            mouseClick(elementAt(bar, 0).item);
            compare(signals.elementClicked.count, 1);
            compare(signals.elementClicked.signalArguments[0][0], 0);
        }

        function test_brokenLayoutSelector_data() {
            return [
                { tag: "does not load", url: "qrc:///nowhere/LayoutSelector.qml", warning: /LayoutSelector\.qml/ },
                { tag: "no closeLayoutSelector()", url: Qt.resolvedUrl("data/SelectorWithoutClose.qml"), warning: /offers no closeLayoutSelector/ }
            ];
        }

        function test_brokenLayoutSelector(data) {
            settings.setValue("Components/LayoutSelector", data.url);
            ignoreWarning(data.warning);
            const bar = createBar();
            const signals = spies(bar);
            const header = child(bar, "header");
            mouseClick(header);
            mouseClick(elementAt(bar, 0).item);
            mousePress(elementAt(bar, 1).item);
            signals.elementLongPressed.wait();
            mouseRelease(elementAt(bar, 1).item);
            const list = child(bar, "clientList");
            mouseClick(bar, list.x - 4, list.y + 20);
            compare(signals.headerClicked.count, 1);
            compare(signals.elementClicked.count, 1);
            compare(signals.elementLongPressed.count, 1);
            compare(signals.bodyClicked.count, 1);
            const selector = child(bar, "layoutSelector");
            if (selector.item) {
                mouseClick(selector.item);
                compare(signals.bodyClicked.count, 2);
            }
        }

        function test_scrollBars_data() {
            return [
                { tag: "vertical, one client", horizontal: false, clients: 1, v: false, h: false },
                { tag: "vertical, ten clients", horizontal: false, clients: 10, v: true, h: false },
                { tag: "horizontal, one client", horizontal: true, clients: 1, v: false, h: false },
                { tag: "horizontal, twenty clients", horizontal: true, clients: 20, v: false, h: true }
            ];
        }

        function test_scrollBars(data) {
            surfaces.clear();
            addClients(data.clients);
            const bar = data.horizontal
                    ? createBar({ "horizontalFlow": true, "position": "TOP", "width": 800, "height": 57.6 })
                    : createBar();
            // A scroll bar exists only while it is shown, and is loaded in the background.
            const shown = name => {
                const found = findChild(bar, name);
                return !!(found && found.visible);
            };
            tryVerify(() => shown("clientListScrollBarV") === data.v && shown("clientListScrollBarH") === data.h,
                      10000, "scroll bars");
            const v = findChild(bar, "clientListScrollBarV");
            const h = findChild(bar, "clientListScrollBarH");
            if (data.v)
                fuzzyCompare(v.mapToItem(bar, v.width, 0).x, bar.width - bar.spacing / 4, 1e-9);
            const list = child(bar, "clientList");
            // Elements beyond the view would be created in the background, after this test.
            list.cacheBuffer = 0;
            if (data.v) {
                v.increase();
                verify(list.contentY > 0, "the vertical bar scrolls the list");
            }
            if (data.h) {
                h.increase();
                verify(list.contentX > 0, "the horizontal bar scrolls the list");
            }
        }

        function test_emptyLabel() {
            settings.setValue("QuickBar/Label", "");
            const bar = createBar();
            const header = child(bar, "header");
            compare(header.text, "");
            verify(header.implicitHeight > 0, "an empty label still has one line");
            fuzzyCompare(header.height, bar.spacing + header.implicitHeight, 1e-9);
        }

        name: "QuickBar"
        when: windowShown
    }
}
