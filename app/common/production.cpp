// The production bindings: the one place the core is wired to the platform.
#include "app/common/production.h"

#include "platform/login_name.h"
#include "platform/netmsg.h"

namespace vindrel {

Bindings ProductionBindings()
{
    return Bindings{&SendTo, &GetLoginName};
}

}  // namespace vindrel
