#pragma once
// Resource ids of the program, one header per folder that owns them, and one for the commands.
// Strings, commands, dialogs, menus, icons, bitmaps and data resources are each one id space
// across the headers; control ids are one space per dialog. tools/idcheck fails the tests on
// two names with one value in one space and on a string id no string table defines. A name
// ending in _BASE is an offset (base + n) and may share the value of a real id.
#include "ids_core.h"
#include "ids_framework.h"
#include "ids_config.h"
#include "ids_reader.h"
#include "ids_transfer.h"
#include "ids_app.h"
#include "ids_pages.h"
#include "ids_commands.h"
