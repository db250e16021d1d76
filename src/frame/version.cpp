#include <cstdio>

#include "fotex.h"
#include "fotex_version.h"

extern "C" void FOTEX_CALL VexaVersionInfo(char* product, char* file_version, char* architecture) {
    if (product != nullptr) __ms_sprintf(product, "%s", FOTEX_VERSION_PRODUCT);
    if (file_version != nullptr) __ms_sprintf(file_version, "%s", FOTEX_VERSION_FILE);
#if defined(_WIN64)
    if (architecture != nullptr) __ms_sprintf(architecture, "%s", "x64");
#else
    if (architecture != nullptr) __ms_sprintf(architecture, "%s", "x86");
#endif
}

extern "C" int FOTEX_CALL GetFotexApiLevel(void) { return FOTEX_API_LEVEL; }
