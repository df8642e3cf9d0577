// Decides whether an entry name from an archive is safe to create inside the
// destination folder on Windows.
#pragma once

#include <stddef.h>
#include <stdint.h>

// 1 when the name (length UTF-16 units, no terminator) is relative and stays
// inside the folder; its '/' separators are then rewritten to '\\'. 0 when the
// name is empty, absolute, has a drive or stream colon, a "." or ".." element,
// an empty element, an element ending in a dot or space, a character Windows
// forbids in file names, or an element that is a device name (CON, NUL, COM1...).
int normalizeEntryName(uint16_t* name, size_t length);
