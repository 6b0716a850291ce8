// A stand-in for the outside skin library: records that its detach function was called.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void SkinH_Detach()
{
    if (const char* marker = std::getenv("KUVONA_SKIN_MARKER"))
        if (FILE* f = std::fopen(marker, "w"))
            std::fclose(f);
}
