import QtQuick
import QtQuick.VirtualKeyboard
import QtQuick.VirtualKeyboard.Settings

// Qt Virtual Keyboard's panel, as wide as allowed and no higher than allowed: its height
// follows its width in the proportions of its style.
InputPanel {
    id: panel

    property real maximumWidth: 0
    property real maximumHeight: 0
    readonly property var style: keyboard.style

    // Locale names such as en_US; the first is the one shown first.
    function setLanguages(names) {
        let locales = [];
        for (let i = 0; i < names.length; ++i) {
            const name = String(names[i]).trim();
            if (name !== "")
                locales.push(name);
        }
        if (locales.length === 0)
            return;
        VirtualKeyboardSettings.activeLocales = locales;
        VirtualKeyboardSettings.locale = locales[0];
    }

    // A panel whose height changed with every word would resize the client under it each time.
    Component.onCompleted: VirtualKeyboardSettings.wordCandidateList.alwaysVisible = true

    width: style && style.keyboardDesignHeight > 0
           ? Math.min(maximumWidth, maximumHeight * style.keyboardDesignWidth / style.keyboardDesignHeight)
           : maximumWidth
}
