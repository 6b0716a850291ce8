#include "platform/library.h"

#include <dlfcn.h>

namespace kuvona {

LibraryFunction loadLibraryFunction(const std::string& directory, const std::string& fileName,
                                    const std::string& functionName)
{
    void* handle = dlopen((directory + "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    void* symbol = dlsym(handle, functionName.c_str());
    if (!symbol) {
        dlclose(handle);
        return nullptr;
    }
    return reinterpret_cast<LibraryFunction>(symbol);
}

} // namespace kuvona
