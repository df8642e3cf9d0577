#include "entry_name.h"

namespace {

uint16_t upper(uint16_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 32) : c; }

int isForbiddenChar(uint16_t c) {
  return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
         c == '*';
}

// Windows opens a device, not a file, for these names, whatever the folder or
// extension: "aux.txt" inside the folder would still reach the device.
int isDeviceName(const uint16_t* element, size_t length) {
  size_t base = 0;
  while (base < length && element[base] != '.') base++;
  while (base > 0 && element[base - 1] == ' ') base--;
  static const char* const kThreeLetter[] = {"CON", "PRN", "AUX", "NUL"};
  if (base == 3) {
    for (const char* d : kThreeLetter) {
      if (upper(element[0]) == d[0] && upper(element[1]) == d[1] && upper(element[2]) == d[2])
        return 1;
    }
    return 0;
  }
  if (base == 4 && element[3] >= '1' && element[3] <= '9') {
    uint16_t a = upper(element[0]), b = upper(element[1]), c = upper(element[2]);
    return (a == 'C' && b == 'O' && c == 'M') || (a == 'L' && b == 'P' && c == 'T');
  }
  return 0;
}

int isSafeElement(const uint16_t* element, size_t length) {
  if (length == 0) return 0;
  // Windows drops trailing dots and spaces, so ". ." or "..." could act as "..".
  uint16_t last = element[length - 1];
  if (last == '.' || last == ' ') return 0;
  for (size_t i = 0; i < length; i++) {
    if (isForbiddenChar(element[i])) return 0;
  }
  return !isDeviceName(element, length);
}

}  // namespace

int normalizeEntryName(uint16_t* name, size_t length) {
  if (length == 0) return 0;
  size_t start = 0;
  for (size_t i = 0; i <= length; i++) {
    if (i < length && name[i] != '/' && name[i] != '\\') continue;
    if (!isSafeElement(name + start, i - start)) return 0;
    if (i < length) name[i] = '\\';
    start = i + 1;
  }
  return 1;
}
