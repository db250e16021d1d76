// The camera settings: one row per property of the root item, in the public header
// (FOTEX_SETTINGS). This one list generates the exports, drives the tests and names the
// settings of the fotex host.
//
// X(kind, id, getter, setter)
//   kind   FOTEX_KIND_INTEGER (VT_I4, read and write), FOTEX_KIND_READ_ONLY (VT_I4, no setter),
//          FOTEX_KIND_TEXT (VT_BSTR)
//   setter FOTEX_NO_SETTER on read-only rows
// Some pairs differ in name on purpose (GetPanPosition / SetPanPos, ...): the exported names are
// the published ABI.
#pragma once

#include "fotex.h"

#define FOTEX_PROPERTY_TABLE(X) FOTEX_SETTINGS(X)
