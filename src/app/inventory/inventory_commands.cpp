// The inventory's commands: what a look at the module may send it.
#include "app/inventory/inventory.h"

#include "module_interface.h"

// One name per line between the braces, each a command of
// module_interface.h: the Wine test reads them from here.
const ModuleCommand *const inventoryCommands[INVENTORY_COMMAND_COUNT] = {
    &cmdModelProbe,
    &cmdUpdateModeProbe,
    &cmdVersionQuery,
    &cmdVersionQuery2,
    &cmdVersionQueryOld,
    &cmdUpdateStateQuery,
    &cmdPinQuery,
};
