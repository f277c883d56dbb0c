// The inventory record as a JSON object, schema 1.
#pragma once
#include "common/json_text.h"

struct InventoryRecord;

enum { INVENTORY_SCHEMA = 1 };

// Appends the object, with a line end after it. `tool` is the program's
// caption. Texts are taken as Windows-1252 and written as UTF-8.
void InventoryToJson(const InventoryRecord *record, const char *tool, JsonText *json);
