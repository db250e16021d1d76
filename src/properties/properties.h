// The four behaviours behind every camera-setting export (the exports only name the property),
// and the valid values of any property.
#pragma once

#include <windows.h>
#include <propidl.h>

#include "fotex.h"

namespace fotex {

int ReadIntegerProperty(FOTEX_DEVICE device, PROPID id, int* value);
int WriteIntegerProperty(FOTEX_DEVICE device, PROPID id, int value);
int ReadTextProperty(FOTEX_DEVICE device, PROPID id, void* buffer);
int WriteTextProperty(FOTEX_DEVICE device, PROPID id, const char* text);

// GetSettingChoices: the property's access and valid values, from its attributes.
int ReadSettingChoices(FOTEX_DEVICE device, int propertyId, int* access, int* kind, int* nominal, int* values,
                       int capacity, int* count);

}  // namespace fotex
