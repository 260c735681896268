/* Winelib bridge: lets the Windows build call Debian's native libxvidcore under Wine.
   A development and test aid only; Windows users get xvidcore.dll of the Xvid release. */
#include <windef.h>
#include <xvid.h>

int CDECL bridge_xvid_global(void *handle, int opt, void *param1, void *param2)
{
    return xvid_global(handle, opt, param1, param2);
}

int CDECL bridge_xvid_encore(void *handle, int opt, void *param1, void *param2)
{
    return xvid_encore(handle, opt, param1, param2);
}

int CDECL bridge_xvid_decore(void *handle, int opt, void *param1, void *param2)
{
    return xvid_decore(handle, opt, param1, param2);
}
