#include "download/read_position.h"

DWORD moveReadPosition(HINTERNET request, DWORD offset)
{
    return InternetSetFilePointer(request, (LONG)offset, NULL, FILE_BEGIN, 0);
}
