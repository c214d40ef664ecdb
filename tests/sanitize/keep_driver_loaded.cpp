// Preloaded into the processes of make test-sanitize: keeps Mesa's software driver (swrast_dri.so)
// mapped when EGL lets it go at shut-down. The driver keeps a little memory until exit; once the
// driver is unloaded LeakSanitizer can neither reach that memory nor name the module that held
// it, so the report could not be told from a leak of ours. Kept mapped, that memory stays
// reachable, and anything the driver does leak is reported with its frames in swrast_dri.so,
// which lsan.supp suppresses by name. Every other library unloads as usual.

#include <cstring>

#include <dlfcn.h>
#include <link.h>

extern "C" int dlclose(void* handle)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && std::strstr(map->l_name, "swrast_dri"))
        return 0;
    using Close = int (*)(void*);
    static const Close realClose = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "dlclose"));
    return realClose ? realClose(handle) : -1;
}
