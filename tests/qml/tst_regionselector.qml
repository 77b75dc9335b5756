import QtQuick
import QtTest

Item {
    id: root

    property var currentLayout: null

    width: 800
    height: 480

    function layoutById(id) {
        for (const layout of coremanager.layouts) {
            if (layout.id === id)
                return layout;
        }
        return null;
    }

    // Catches every click that the selector lets through.
    MouseArea {
        id: below

        anchors.fill: parent
    }

    Component {
        id: selectorHost

        // Stands in for the scene's region selector loader.
        Loader {
            property int currentProcess: 1234

            width: 800
            height: 480
            source: settings.value("Components/RegionSelector")
        }
    }

    Component {
        id: spyComponent

        SignalSpy {
        }
    }

    TestCase {
        id: testCase

        function createSelector(layoutId, properties) {
            root.currentLayout = layoutById(layoutId);
            const host = createTemporaryObject(selectorHost, root, properties || {});
            verify(host && host.item, "the region selector loads");
            return host;
        }

        function view(selector) {
            const found = findChild(selector, "regionAreaView");
            verify(found);
            return found;
        }

        function areas(item) {
            const result = [];
            for (let i = 0; i < item.children.length; ++i)
                result.push(item.children[i]);
            return result;
        }

        function describe(item) {
            return areas(item).map(a => a.regionId + (a.subRegionParent && a.subRegionParent.children.length
                                                       ? "[" + describe(a.subRegionParent) + "]" : "")).join(" ");
        }

        function cleanup() {
            settings.setValue("Components/RegionSelectorAreaElement", "qrc:///Kestrix/Vorlane/Application/RegionArea.qml");
        }

        function test_diagram_data() {
            return [
                { tag: "three top-level regions", layout: "three", tree: "A B C" },
                { tag: "nested regions", layout: "nested", tree: "P[P1 P2] Q" },
                { tag: "one region", layout: "single", tree: "full" }
            ];
        }

        function test_diagram(data) {
            const selector = createSelector(data.layout).item;
            const v = view(selector);
            compare(v.x, 20);
            compare(v.width, 760);
            compare(v.height, 440);
            compare(describe(v), data.tree);
            const top = areas(v);
            for (let i = 0; i < top.length; ++i) {
                fuzzyCompare(top[i].x, i * 760 / top.length, 1e-9);
                fuzzyCompare(top[i].width, 760 / top.length, 1e-9);
                compare(top[i].height, 440);
                compare(top[i].regionName, coremanager.layouts.find(l => l.id === data.layout).regions[i].name);
            }
        }

        function test_clicks_data() {
            // Points in the 800 x 480 selector; the nested layout has P (with P1, P2) and Q.
            return [
                { tag: "upper half of a parent", x: 200, y: 100, id: "P" },
                { tag: "first sub-region", x: 100, y: 400, id: "P1" },
                { tag: "second sub-region", x: 300, y: 400, id: "P2" },
                { tag: "plain region, lower half", x: 600, y: 400, id: "Q" },
                { tag: "outer margin", x: 10, y: 10, id: "" },
                { tag: "margin between areas", x: 400, y: 100, id: "" }
            ];
        }

        function test_clicks(data) {
            const selector = createSelector("nested").item;
            const chosen = createTemporaryObject(spyComponent, testCase, { "target": selector, "signalName": "regionAreaClicked" });
            mouseClick(root, data.x, data.y);
            compare(chosen.count, data.id === "" ? 0 : 1);
            if (data.id !== "")
                compare(chosen.signalArguments[0][0], data.id);
            mouseDoubleClickSequence(root, data.x, data.y);
            compare(chosen.count, data.id === "" ? 0 : 3, "a double click counts as two clicks");
        }

        function test_nestedAreaGeometry() {
            const v = view(createSelector("nested").item);
            const parent = areas(v)[0];
            verify(parent.hasSubRegions);
            verify(!areas(v)[1].hasSubRegions);
            const subs = areas(parent.subRegionParent);
            compare(subs.length, 2);
            // Half of the parent's face (its 5 px margins removed), split in two.
            fuzzyCompare(parent.subRegionParent.height, (440 - 10) / 2, 1e-9);
            fuzzyCompare(subs[0].width, (380 - 10) / 2, 1e-9);
            fuzzyCompare(subs[1].x, subs[0].width, 1e-9);
            compare(findChild(parent, "labelZone").height, (440 - 10) / 2);
        }

        function test_layoutChangeReplacesAreas() {
            const selector = createSelector("nested").item;
            const v = view(selector);
            const old = areas(v);
            root.currentLayout = layoutById("three");
            compare(describe(v), "A B C");
            for (const area of old)
                verify(areas(v).indexOf(area) < 0);
            root.currentLayout = layoutById("single");
            compare(describe(v), "full");
            tryVerify(() => old.every(area => area === null || area.parent === null));
        }

        function test_visibility_data() {
            return [
                { tag: "closed", process: -1, shown: false },
                { tag: "open", process: 4321, shown: true },
                { tag: "process id 0", process: 0, shown: true }
            ];
        }

        function test_visibility(data) {
            const host = createSelector("three", { "currentProcess": data.process });
            const below_ = createTemporaryObject(spyComponent, testCase, { "target": below, "signalName": "clicked" });
            const chosen = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "regionAreaClicked" });
            compare(host.item.visible, data.shown);
            compare(host.item.enabled, data.shown);
            mouseClick(root, 150, 200);
            compare(chosen.count, data.shown ? 1 : 0);
            compare(below_.count, data.shown ? 0 : 1);
            // Opening and closing follow the host.
            host.currentProcess = data.shown ? -1 : 99;
            compare(host.item.visible, !data.shown);
        }

        function test_noRegions() {
            const selector = createSelector("three").item;
            selector.regionModel = [];
            compare(areas(view(selector)).length, 0);
        }

        function test_failedAreas_data() {
            return [
                { tag: "component does not load", url: "qrc:///nowhere/RegionArea.qml", model: null, warnings: 3, tree: "" },
                { tag: "one bad region", url: null, model: "withHole", warnings: 1, tree: "A C" },
                { tag: "area without container or signal", url: Qt.resolvedUrl("data/PlainArea.qml"), model: null, warnings: 0, tree: "A B C" }
            ];
        }

        function test_failedAreas(data) {
            if (data.url)
                settings.setValue("Components/RegionSelectorAreaElement", data.url);
            for (let i = 0; i < data.warnings; ++i)
                ignoreWarning("Failed to create regionarea!");
            if (data.url && data.url.toString().indexOf("nowhere") >= 0)
                ignoreWarning(/RegionSelector: .*nowhere/);
            const selector = createSelector("three").item;
            const v = view(selector);
            if (data.model === "withHole") {
                const regions = root.currentLayout.regions;
                selector.regionModel = [regions[0], null, regions[2]];
            }
            compare(describe(v), data.tree);
            if (data.tree === "A C") {
                // The failed area leaves its slot empty; the others keep theirs.
                fuzzyCompare(areas(v)[0].x, 0, 1e-9);
                fuzzyCompare(areas(v)[1].x, 2 * 760 / 3, 1e-9);
            }
            if (data.tree === "A B C")
                fuzzyCompare(areas(v)[2].x, 2 * 760 / 3, 1e-9);
        }

        name: "RegionSelector"
        when: windowShown
    }
}
