import QtQuick
import QtTest
import Kestrix.Vorlane.Core as Core

Item {
    id: root

    readonly property string quickBarID: "QuickBar"
    property double fakeNow: 0

    width: 400
    height: 400

    Component {
        id: hostComponent

        // Stands in for the quick bar's delegate loader.
        Loader {
            property var client: null
            property string name: "Weston Terminal"
            property string icon: ""
            property int pid: 4242
            property string currentRegion: "QuickBar"
            property int executionState: Core.Client.ES_STOPPED

            width: 76.8
            height: 76.8
            source: settings.value("Components/QuickBarElement")
        }
    }

    TestCase {
        id: testCase

        // Keys a test may change, with the values the run starts from.
        readonly property var touchedKeys: ({
                "QuickBarElement/DecorationSizeFactor": 1.0,
                "QuickBarElement/Radius": 10,
                "QuickBarElement/ShowLabel": 1,
                "QuickBarElement/LabelBold": 1,
                "Settings/DisableRegionSelect": 0
            })

        function createElement(properties) {
            const host = createTemporaryObject(hostComponent, root, properties || {});
            verify(host);
            verify(host.item, "the element component loads");
            return host;
        }

        function child(host, name) {
            const found = findChild(host.item, name);
            verify(found, name);
            return found;
        }

        function settingColor(key) {
            return Qt.color(settings.value(key));
        }

        function cleanup() {
            for (const key in touchedKeys)
                settings.setValue(key, touchedKeys[key]);
        }

        function test_decorationGeometry_data() {
            return [
                { tag: "76.8 square, factor 1, radius 10", w: 76.8, h: 76.8, factor: "1", radius: "10",
                    top: 3.84, side: 4.608, bottom: 5.376, corner: 7.68, blur: 7.68 },
                { tag: "radius above 50 clamps to half", w: 76.8, h: 76.8, factor: "1", radius: "80",
                    top: 3.84, side: 4.608, bottom: 5.376, corner: 38.4, blur: 7.68 },
                { tag: "negative radius gives square corners", w: 76.8, h: 76.8, factor: "1", radius: "-5",
                    top: 3.84, side: 4.608, bottom: 5.376, corner: 0, blur: 7.68 },
                { tag: "factor 0 fills the element without blur", w: 76.8, h: 76.8, factor: "0", radius: "10",
                    top: 0, side: 0, bottom: 0, corner: 7.68, blur: 0 },
                { tag: "non-square uses the smaller side", w: 120, h: 60, factor: "2", radius: "10",
                    top: 6, side: 7.2, bottom: 8.4, corner: 6, blur: 12 }
            ];
        }

        function test_decorationGeometry(data) {
            settings.setValue("QuickBarElement/DecorationSizeFactor", data.factor);
            settings.setValue("QuickBarElement/Radius", data.radius);
            const host = createElement({ "width": data.w, "height": data.h });
            const face = child(host, "clientBg");
            const glow = child(host, "dropShadowEffect");
            const shadow = child(host, "dropShadow");
            fuzzyCompare(face.x, data.side, 1e-9);
            fuzzyCompare(face.y, data.top, 1e-9);
            fuzzyCompare(data.w - face.x - face.width, data.side, 1e-9);
            fuzzyCompare(data.h - face.y - face.height, data.bottom, 1e-9);
            fuzzyCompare(face.radius, data.corner, 1e-9);
            fuzzyCompare(shadow.radius, data.corner, 1e-9);
            fuzzyCompare(glow.radius, data.blur, 1e-9);
            fuzzyCompare(glow.x, data.blur / 2, 1e-9);
            fuzzyCompare(glow.width, data.w - data.blur, 1e-9);
            verify(!shadow.visible);
        }

        function test_stateTable_data() {
            const s = Core.Client;
            return [
                { tag: "placed and paused", region: "A", exec: s.ES_PAUSED, state: "ONSCREEN", key: "OnScreenColor", pulse: false },
                { tag: "placed and running", region: "A", exec: s.ES_RUNNING, state: "ONSCREEN", key: "OnScreenColor", pulse: false },
                { tag: "placed and starting", region: "A", exec: s.ES_STARTING, state: "ONSCREEN", key: "OnScreenColor", pulse: false },
                { tag: "minimised running", region: "QuickBar", exec: s.ES_RUNNING, state: "RESUMING", key: "RunningColor", pulse: true },
                { tag: "minimised paused", region: "QuickBar", exec: s.ES_PAUSED, state: "PAUSED", key: "PausedColor", pulse: false },
                { tag: "minimised resuming", region: "QuickBar", exec: s.ES_RESUMING, state: "RESUMING", key: "RunningColor", pulse: true },
                { tag: "minimised starting", region: "QuickBar", exec: s.ES_STARTING, state: "STARTING", key: "PausedColor", pulse: true },
                { tag: "start", region: "QuickBar", exec: s.ES_START, state: "", key: "StoppedColor", pulse: false },
                { tag: "pause", region: "QuickBar", exec: s.ES_PAUSE, state: "", key: "StoppedColor", pulse: false },
                { tag: "pausing", region: "QuickBar", exec: s.ES_PAUSING, state: "", key: "StoppedColor", pulse: false },
                { tag: "resume", region: "QuickBar", exec: s.ES_RESUME, state: "", key: "StoppedColor", pulse: false },
                { tag: "stop", region: "QuickBar", exec: s.ES_STOP, state: "", key: "StoppedColor", pulse: false },
                { tag: "stopping", region: "QuickBar", exec: s.ES_STOPPING, state: "", key: "StoppedColor", pulse: false },
                { tag: "stopped", region: "QuickBar", exec: s.ES_STOPPED, state: "", key: "StoppedColor", pulse: false },
                { tag: "empty region judged by state", region: "", exec: s.ES_PAUSED, state: "PAUSED", key: "PausedColor", pulse: false },
                { tag: "empty region running", region: "", exec: s.ES_RUNNING, state: "RESUMING", key: "RunningColor", pulse: true }
            ];
        }

        function test_stateTable(data) {
            // Start from another state so that the change itself is exercised.
            const host = createElement({ "currentRegion": "QuickBar", "executionState": -1 });
            host.currentRegion = data.region;
            host.executionState = data.exec;
            compare(host.item.state, data.state);
            verify(Qt.colorEqual(child(host, "dropShadow").color, settingColor("QuickBarElement/" + data.key)),
                   "glow colour " + child(host, "dropShadow").color);
            tryCompare(child(host, "shadowPulse"), "running", data.pulse);
        }

        function test_pulseEndsOpaque() {
            const host = createElement({ "executionState": Core.Client.ES_RUNNING });
            const pulse = child(host, "shadowPulse");
            const glow = child(host, "dropShadowEffect");
            verify(pulse.running);
            tryVerify(() => glow.opacity < 0.9, 2000, "the glow fades while pulsing");
            host.currentRegion = "A";
            tryCompare(pulse, "running", false);
            tryCompare(glow, "opacity", 1.0);
        }

        function test_highlightWhilePressed_data() {
            return [
                { tag: "steady", exec: Core.Client.ES_PAUSED },
                { tag: "pulsing", exec: Core.Client.ES_RUNNING }
            ];
        }

        function test_highlightWhilePressed(data) {
            const host = createElement({ "executionState": data.exec });
            const shadow = child(host, "dropShadow");
            const before = shadow.color;
            mousePress(host.item, 30, 30);
            verify(Qt.colorEqual(shadow.color, settingColor("QuickBarElement/HighlightColor")));
            mouseRelease(host.item, 30, 30);
            verify(Qt.colorEqual(shadow.color, before));
        }

        function test_pressLength_data() {
            return [
                { tag: "quick tap", length: 0, disable: 0, click: 1, longPress: 0 },
                { tag: "release at 200 ms", length: 200, disable: 0, click: 1, longPress: 0 },
                { tag: "release at 201 ms", length: 201, disable: 0, click: 0, longPress: 1 },
                { tag: "release at 299 ms", length: 299, disable: 0, click: 0, longPress: 1 },
                { tag: "long press without region selection", length: 5000, disable: "1", click: 1, longPress: 0 },
                { tag: "text 0 keeps region selection", length: 250, disable: "0", click: 0, longPress: 1 }
            ];
        }

        function test_pressLength(data) {
            settings.setValue("Settings/DisableRegionSelect", data.disable);
            const host = createElement();
            const touch = child(host, "maClient");
            const timer = child(host, "longpressTimer");
            const clicks = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "clicked" });
            const longPresses = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "longPressed" });
            root.fakeNow = 1000000;
            touch.clock = { "now": () => root.fakeNow };

            mousePress(host.item, 30, 30);
            compare(timer.running, data.disable != 1, "the long-press timer runs only with region selection");
            root.fakeNow += data.length;
            mouseRelease(host.item, 30, 30);

            compare(clicks.count, data.click);
            if (data.click)
                compare(clicks.signalArguments[0][0], 4242);
            if (data.longPress) {
                verify(timer.running, "the long press is reported by the timer, after the release");
                longPresses.wait();
                compare(longPresses.signalArguments[0][0], 4242);
            } else {
                verify(!timer.running, "no long press can follow");
            }
            compare(longPresses.count, data.longPress);
            compare(clicks.count, data.click);
        }

        function test_holdAndRelease() {
            // Held past 300 ms: the long press comes while the finger is down, the release adds nothing.
            const host = createElement();
            const touch = child(host, "maClient");
            const clicks = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "clicked" });
            const longPresses = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "longPressed" });
            root.fakeNow = 5000;
            touch.clock = { "now": () => root.fakeNow };
            mousePress(host.item, 30, 30);
            longPresses.wait();
            verify(touch.pressed);
            root.fakeNow += 400;
            mouseRelease(host.item, 30, 30);
            compare(longPresses.count, 1);
            compare(clicks.count, 0);
        }

        function test_interruptedPress_data() {
            return [
                { tag: "drag", cancel: false },
                { tag: "cancelled", cancel: true }
            ];
        }

        function test_interruptedPress(data) {
            const host = createElement();
            const touch = child(host, "maClient");
            const timer = child(host, "longpressTimer");
            const clicks = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "clicked" });
            const longPresses = createTemporaryObject(spyComponent, testCase, { "target": host.item, "signalName": "longPressed" });
            mousePress(host.item, 10, 10);
            verify(timer.running);
            if (data.cancel) {
                // Hiding the touch area under a pressed finger cancels the press, as a list taking the pointer over does.
                touch.visible = false;
                verify(!touch.pressed);
                touch.visible = true;
            } else {
                for (let step = 1; step <= 10; ++step)
                    mouseMove(host.item, 10 + 5 * step, 10 + 5 * step);
                verify(touch.dragged);
            }
            verify(!timer.running, "the long-press timer stops");
            mouseRelease(host.item, 60, 60);
            compare(clicks.count, 0);
            compare(longPresses.count, 0);
            // The next press starts clean.
            mouseClick(host.item, 30, 30);
            compare(clicks.count, 1);
        }

        function test_label_data() {
            return [
                { tag: "defaults", show: 1, bold: 1, text: "Weston Terminal", isBold: true },
                { tag: "bold 0 from the file is plain", show: "1", bold: "0", text: "Weston Terminal", isBold: false },
                { tag: "bold 1 from the file", show: "1", bold: "1", text: "Weston Terminal", isBold: true },
                { tag: "label hidden", show: "0", bold: "1", text: "", isBold: true },
                { tag: "label hidden by another value", show: "yes", bold: "1", text: "", isBold: true }
            ];
        }

        function test_label(data) {
            settings.setValue("QuickBarElement/ShowLabel", data.show);
            settings.setValue("QuickBarElement/LabelBold", data.bold);
            const host = createElement();
            const label = child(host, "label");
            const face = child(host, "clientBg");
            const icon = child(host, "iconImage");
            compare(label.text, data.text);
            compare(label.font.bold, data.isBold);
            compare(label.font.pixelSize, 10);
            fuzzyCompare(icon.y, face.radius / 2, 1e-9);
            if (data.text === "")
                fuzzyCompare(icon.y + icon.height, face.height - face.radius / 2, 1e-9);
            else
                fuzzyCompare(icon.y + icon.height, label.y - label.font.pixelSize / 2, 1e-9);
        }

        function test_icon_data() {
            return [
                { tag: "empty", icon: "", expected: settings.value("Settings/DefaultClientIcon") },
                { tag: "Default", icon: "Default", expected: settings.value("Settings/DefaultClientIcon") },
                { tag: "own icon", icon: Qt.resolvedUrl("data/ownIcon.png"), expected: Qt.resolvedUrl("data/ownIcon.png") }
            ];
        }

        function test_icon(data) {
            const host = createElement({ "icon": data.icon });
            compare(String(child(host, "iconImage").source), String(Qt.url(data.expected)));
        }

        function test_defaultIconLoads() {
            const host = createElement();
            tryCompare(child(host, "iconImage"), "status", Image.Ready);
        }

        Component {
            id: spyComponent

            SignalSpy {
            }
        }

        name: "QuickBarElement"
        when: windowShown
    }
}
