#pragma once

#include "compositorfixture.h"

#include <QByteArray>
#include <QString>

// A layout "main" of two halves, left and right, of the region area beside the quick bar, with
// the probe placed in the left one.
namespace HalvesLayout {

inline const QByteArray layouts = R"({"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": []}]}
]})";

// Half of the 704x480 region area.
inline const QString leftSize = QStringLiteral("352 480");

// Writes the layout and the probe's entry and makes main the default layout; false when the
// fixture could not write them.
inline bool prepare(CompositorFixture &f)
{
    if (!f.isValid() || !f.writeLayoutFile(QStringLiteral("layouts.json"), layouts)
        || !f.writeClientEntry(QStringLiteral("probe.desktop"), QStringLiteral("Probe"),
                               CompositorFixture::probePath(),
                               QStringLiteral("X-DefaultRegion=main:left\n")))
        return false;
    f.setSetting(QStringLiteral("Settings/DefaultLayout"), QStringLiteral("main"));
    return true;
}

} // namespace HalvesLayout
