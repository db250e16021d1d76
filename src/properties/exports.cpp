// The camera-setting exports, one forwarder each, generated from the property table; and the
// question of a setting's valid values.
#include "properties.h"
#include "fotex.h"
#include "property_table.h"

using namespace fotex;

#define FOTEX_GETTER_FOTEX_KIND_INTEGER(id, getter) \
    extern "C" int FOTEX_CALL getter(FOTEX_DEVICE device, int* value) { return ReadIntegerProperty(device, id, value); }
#define FOTEX_SETTER_FOTEX_KIND_INTEGER(id, setter) \
    extern "C" int FOTEX_CALL setter(FOTEX_DEVICE device, int value) { return WriteIntegerProperty(device, id, value); }
#define FOTEX_GETTER_FOTEX_KIND_READ_ONLY FOTEX_GETTER_FOTEX_KIND_INTEGER
#define FOTEX_SETTER_FOTEX_KIND_READ_ONLY(id, setter)
#define FOTEX_GETTER_FOTEX_KIND_TEXT(id, getter) \
    extern "C" int FOTEX_CALL getter(FOTEX_DEVICE device, void* text) { return ReadTextProperty(device, id, text); }
#define FOTEX_SETTER_FOTEX_KIND_TEXT(id, setter) \
    extern "C" int FOTEX_CALL setter(FOTEX_DEVICE device, const char* text) { return WriteTextProperty(device, id, text); }

#define FOTEX_DEFINE_EXPORTS(kind, id, getter, setter) \
    FOTEX_GETTER_##kind(id, getter)                    \
    FOTEX_SETTER_##kind(id, setter)

FOTEX_PROPERTY_TABLE(FOTEX_DEFINE_EXPORTS)

extern "C" int FOTEX_CALL GetSettingChoices(FOTEX_DEVICE device, int property_id, int* access, int* kind,
                                            int* nominal, int* values, int capacity, int* count) {
    return ReadSettingChoices(device, property_id, access, kind, nominal, values, capacity, count);
}
