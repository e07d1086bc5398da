#include "imaging/TiffWarnings.h"

#include <cstdarg>
#include <mutex>

#include <dlfcn.h>

namespace {

// libtiff's TIFFErrorHandler and the setters that install one (tiffio.h).
using TiffHandler = void (*)(const char* module, const char* format, va_list arguments);
using TiffHandlerSetter = TiffHandler (*)(TiffHandler);

void quietOnce()
{
    // Qt's TIFF reader and Pictavo's strip decoder share the process's one
    // libtiff. Opening it by its name gives that instance whether or not it is
    // loaded yet, and the handle is kept so that the handlers stay.
    void* library = nullptr;
    for (const char* name : {"libtiff.so.6", "libtiff.so.5"}) {
        library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (library != nullptr)
            break;
    }
    if (library == nullptr)
        return;
    // No handler at all: libtiff then says nothing.
    for (const char* setter : {"TIFFSetWarningHandler", "TIFFSetErrorHandler"}) {
        if (void* symbol = dlsym(library, setter))
            reinterpret_cast<TiffHandlerSetter>(symbol)(nullptr);
    }
}

} // namespace

void quietTiffLibrary()
{
    static std::once_flag once;
    std::call_once(once, quietOnce);
}
