#include "client.h"
#include "details.h"
#include "device.h"
#include "layout.h"
#include "manager.h"
#include "region.h"

#include <QtQml/qqml.h>

namespace Vorlane::Core {
namespace {

// Registers Kestrix.Vorlane.Core when the library is loaded, so that programs linking it can
// import the module without a QML plug-in.
struct ModuleRegistration
{
    ModuleRegistration()
    {
        const char *uri = "Kestrix.Vorlane.Core";
        qmlRegisterType<Client>(uri, 1, 0, "Client");
        qmlRegisterType<Details>(uri, 1, 0, "Details");
        qmlRegisterType<Device>(uri, 1, 0, "Device");
        qmlRegisterType<Layout>(uri, 1, 0, "Layout");
        qmlRegisterUncreatableType<Manager>(uri, 1, 0, "Manager",
                                            QStringLiteral("Core Backend class"));
        qmlRegisterType<Region>(uri, 1, 0, "Region");
        qmlRegisterModule(uri, 1, 0);
    }
};

const ModuleRegistration registration;

} // namespace
} // namespace Vorlane::Core
