#include <cstdio>

#include "fotex.h"

extern "C" void FOTEX_CALL VexaVersionInfo(char* product, char* file_version, char* architecture) {
    if (product != nullptr) __ms_sprintf(product, "%s", "Fotex 1.3");
    if (file_version != nullptr) __ms_sprintf(file_version, "%s", "1.3.0.0");
#if defined(_WIN64)
    if (architecture != nullptr) __ms_sprintf(architecture, "%s", "x64");
#else
    if (architecture != nullptr) __ms_sprintf(architecture, "%s", "x86");
#endif
}
