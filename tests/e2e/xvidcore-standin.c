/* A stand-in for xvidcore.dll that encodes nothing: for the checks of a missing or unusable codec
   and for packaging without the real library. STANDIN_WITHOUT_ENCORE leaves out xvid_encore;
   STANDIN_VERSION sets the version it reports (default 1.3.7). */

#ifndef STANDIN_VERSION
#define STANDIN_VERSION 0x010307
#endif

typedef struct {
    int version;
    int actual_version;
    const char* build;
    unsigned int cpu_flags;
    int num_threads;
} standin_info_t;

__declspec(dllexport) int xvid_global(void* handle, int opt, void* param1, void* param2)
{
    (void)handle;
    (void)param2;
    if (opt == 1 && param1) { /* XVID_GBL_INFO */
        standin_info_t* info = (standin_info_t*)param1;
        info->actual_version = STANDIN_VERSION;
        info->build = "stand-in";
        return 0;
    }
    return -1;
}

#ifndef STANDIN_WITHOUT_ENCORE
__declspec(dllexport) int xvid_encore(void* handle, int opt, void* param1, void* param2)
{
    (void)handle;
    (void)opt;
    (void)param1;
    (void)param2;
    return -1;
}
#endif
